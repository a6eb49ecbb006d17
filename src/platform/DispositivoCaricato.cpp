#include "platform/DispositivoCaricato.h"

#include "platform/Errori.h"

#include <QCoreApplication>
#include <QDir>

namespace sonora {
namespace {

using Crea = IMediaDevice* (*)(bool);
using Avvia = void (*)();

} // namespace

DispositivoCaricato::DispositivoCaricato(QString modulo, bool uscitaDiProva)
    : libreria_(std::move(modulo))
    , uscitaDiProva_(uscitaDiProva)
{
}

// The library stays loaded: its threads and GStreamer outlive any device.
DispositivoCaricato::~DispositivoCaricato() = default;

QString DispositivoCaricato::moduloPredefinito()
{
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../lib/sonoraccoltiera/sonora_riproduttore.so"));
}

IMediaDevice& DispositivoCaricato::caricato()
{
    if (interno_)
        return *interno_;
    const auto crea = libreria_.load() ? reinterpret_cast<Crea>(libreria_.resolve("sonora_crea_dispositivo")) : nullptr;
    if (!crea)
        throw MediaError(QStringLiteral("Il componente di riproduzione non si carica (%1): %2. Reinstallare "
                                        "Sonoraccoltiera.")
                             .arg(QDir::toNativeSeparators(libreria_.fileName()), libreria_.errorString()));
    interno_.reset(crea(uscitaDiProva_));
    interno_->onEnded = [this] {
        if (onEnded)
            onEnded();
    };
    return *interno_;
}

void DispositivoCaricato::preparaRiproduzione()
{
    try {
        caricato();
        if (const auto avvia = reinterpret_cast<Avvia>(libreria_.resolve("sonora_avvia_gstreamer")))
            avvia();
    } catch (const std::exception&) {
    }
}

void DispositivoCaricato::open(const QString& path, MediaKind kind) { caricato().open(path, kind); }

void DispositivoCaricato::prepare(const QString& path, MediaKind kind)
{
    if (interno_)
        interno_->prepare(path, kind);
}

void DispositivoCaricato::close()
{
    if (interno_)
        interno_->close();
}

void DispositivoCaricato::play()
{
    if (!interno_)
        throw MediaError(QStringLiteral("Nessun brano aperto: aprire un brano prima di riprodurlo."));
    interno_->play();
}

void DispositivoCaricato::stop()
{
    if (interno_)
        interno_->stop();
}

MediaState DispositivoCaricato::state() const { return interno_ ? interno_->state() : MediaState::Closed; }

std::optional<IMediaDevice::Duration> DispositivoCaricato::duration() const
{
    return interno_ ? interno_->duration() : std::nullopt;
}

IMediaDevice::Duration DispositivoCaricato::position() const
{
    return interno_ ? interno_->position() : Duration{0};
}

} // namespace sonora
