#include "app/Telecomando.h"

#include "app/frmPrincipale.h"
#include "platform/MMControl.h"

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QToolButton>

#include <limits>

namespace sonora {

QString frmPrincipale::titoloMostrato() const
{
    return lblNomeCompilation->text();
}

namespace {

const QString InterfacciaLettore = QStringLiteral("org.mpris.MediaPlayer2.Player");

// The song's name as the list shows it: the play button joins folder and
// name with one separator, the sequence always adds one; either way the
// name is what follows the folder.
QString nomeCanzone(const QString& percorso, const QString& cartella)
{
    if (!percorso.startsWith(cartella))
        return QFileInfo(percorso).fileName();
    QString nome = percorso.mid(cartella.size());
    if (nome.startsWith(QDir::separator()))
        nome.remove(0, 1);
    return nome;
}

// org.mpris.MediaPlayer2. Quit, SupportedUriSchemes and SupportedMimeTypes
// are there because every player must have them; the program ends only by
// its own exit command and opens nothing it is handed.
class Radice : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

public:
    explicit Radice(Telecomando* t)
        : QDBusAbstractAdaptor(t)
        , t_(t)
    {
    }

    bool CanQuit() const { return false; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Sonoraccoltiera"); }
    QString DesktopEntry() const { return QStringLiteral("sonoraccoltiera"); }
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public slots:
    void Raise() { t_->alza(); }
    void Quit() {}

private:
    Telecomando* t_;
};

// org.mpris.MediaPlayer2.Player. What the program cannot do (next,
// previous, seeking, rate, volume) is there as every player must have it,
// fixed and inert.
class Lettore : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double Rate READ Uno)
    Q_PROPERTY(double MinimumRate READ Uno)
    Q_PROPERTY(double MaximumRate READ Uno)
    Q_PROPERTY(double Volume READ Uno)
    Q_PROPERTY(bool CanGoNext READ No)
    Q_PROPERTY(bool CanGoPrevious READ No)
    Q_PROPERTY(bool CanSeek READ No)
    Q_PROPERTY(bool CanPlay READ Si)
    Q_PROPERTY(bool CanPause READ Si)
    Q_PROPERTY(bool CanControl READ Si)

public:
    explicit Lettore(Telecomando* t)
        : QDBusAbstractAdaptor(t)
        , t_(t)
    {
    }

    QString PlaybackStatus() const { return t_->stato(); }
    QVariantMap Metadata() const { return t_->metadati(); }
    qlonglong Position() const { return t_->posizione(); }
    double Uno() const { return 1.0; }
    bool No() const { return false; }
    bool Si() const { return true; }

public slots:
    void Play() { t_->premiPlay(); }
    void Stop() { t_->premiStop(); }
    // There is no pause: it stops, as the stop button does.
    void Pause() { t_->premiStop(); }
    void PlayPause() { t_->alterna(); }
    void Next() {}
    void Previous() {}
    void Seek([[maybe_unused]] qlonglong Offset) {}
    void SetPosition([[maybe_unused]] const QDBusObjectPath& TrackId, [[maybe_unused]] qlonglong Position) {}
    void OpenUri([[maybe_unused]] const QString& Uri) {}

signals:
    void Seeked(qlonglong position);

private:
    Telecomando* t_;
};

} // namespace

std::unique_ptr<Telecomando> Telecomando::pubblica(frmPrincipale& finestra, QDBusConnection bus)
{
    if (!bus.isConnected())
        return nullptr;
    std::unique_ptr<Telecomando> t(new Telecomando(finestra, bus));
    if (!bus.registerObject(QLatin1String(Percorso), t.get(), QDBusConnection::ExportAdaptors))
        return nullptr;
    const QString nome = QLatin1String(Nome);
    for (const QString& servizio :
         {nome, nome + QStringLiteral(".instance") + QString::number(QCoreApplication::applicationPid())}) {
        if (bus.registerService(servizio)) {
            t->servizio_ = servizio;
            return t;
        }
    }
    return nullptr;
}

Telecomando::Telecomando(frmPrincipale& finestra, QDBusConnection bus)
    : finestra_(finestra)
    , controllo_(finestra.controlloMultimediale())
    , bus_(std::move(bus))
{
    new Radice(this);
    new Lettore(this);
    suonava_ = suona();
    brano_ = branoAperto();
    numeroBrano_ = brano_.percorso.isEmpty() ? 0 : 1;

    // One look after the handler that changed something is over, so the
    // desktop never sees the moment between closing a song and opening the
    // next. The ticks bring a length that became known.
    rinvio_.setSingleShot(true);
    rinvio_.setInterval(0);
    connect(&rinvio_, &QTimer::timeout, this, &Telecomando::aggiorna);
    connect(&controllo_, &MMControl::changed, &rinvio_, qOverload<>(&QTimer::start));
    connect(&controllo_, &MMControl::StatusUpdate, &rinvio_, qOverload<>(&QTimer::start));
}

Telecomando::~Telecomando()
{
    bus_.unregisterObject(QLatin1String(Percorso));
    if (!servizio_.isEmpty())
        bus_.unregisterService(servizio_);
}

void Telecomando::alza()
{
    finestra_.setWindowState(finestra_.windowState() & ~Qt::WindowMinimized);
    finestra_.show();
    finestra_.raise();
    finestra_.activateWindow();
}

void Telecomando::premi(QAbstractButton* bottone)
{
    QTimer::singleShot(0, bottone, [bottone] {
        // While a modal window is open (a dialog, an error box, a
        // dedication) no click reaches the buttons: the handler that
        // opened it is still running.
        if (!QApplication::activeModalWidget())
            bottone->click();
    });
}

void Telecomando::premiPlay()
{
    premi(controllo_.playButton());
}

void Telecomando::premiStop()
{
    premi(controllo_.stopButton());
}

void Telecomando::alterna()
{
    if (suona())
        premiStop();
    else
        premiPlay();
}

bool Telecomando::suona() const
{
    return isTrue(controllo_.playingFlag()) && controllo_.device().isOpen();
}

Telecomando::Brano Telecomando::branoAperto() const
{
    Brano brano;
    if (!controllo_.device().isOpen())
        return brano;
    brano.percorso = controllo_.fileName();
    brano.titolo = nomeCanzone(brano.percorso, finestra_.cartellaCanzoni());
    brano.album = finestra_.titoloMostrato();
    const qint32 lunghezza = controllo_.length();
    if (lunghezza < std::numeric_limits<qint32>::max())
        brano.durataUs = qint64(lunghezza) * 1000;
    return brano;
}

QString Telecomando::stato()
{
    aggiorna();
    return testoStato();
}

QVariantMap Telecomando::metadati()
{
    aggiorna();
    return mappa();
}

QString Telecomando::testoStato() const
{
    return suonava_ ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap Telecomando::mappa() const
{
    QVariantMap m;
    if (brano_.percorso.isEmpty())
        return m;
    m.insert(QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/sonoraccoltiera/brano/%1").arg(numeroBrano_))));
    m.insert(QStringLiteral("xesam:title"), brano_.titolo);
    m.insert(QStringLiteral("xesam:album"), brano_.album);
    if (brano_.durataUs >= 0)
        m.insert(QStringLiteral("mpris:length"), qlonglong(brano_.durataUs));
    return m;
}

qint64 Telecomando::posizione() const
{
    return controllo_.device().isOpen() ? qint64(controllo_.position()) * 1000 : 0;
}

void Telecomando::aggiorna()
{
    rinvio_.stop();
    const bool suona = this->suona();
    const Brano brano = branoAperto();
    if (suona == suonava_ && brano == brano_)
        return;
    QVariantMap cambiate;
    if (suona != suonava_) {
        suonava_ = suona;
        cambiate.insert(QStringLiteral("PlaybackStatus"), testoStato());
    }
    if (!(brano == brano_)) {
        if (brano.percorso != brano_.percorso && !brano.percorso.isEmpty())
            ++numeroBrano_;
        brano_ = brano;
        cambiate.insert(QStringLiteral("Metadata"), mappa());
    }
    QDBusMessage segnale = QDBusMessage::createSignal(QLatin1String(Percorso),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("PropertiesChanged"));
    segnale << InterfacciaLettore << cambiate << QStringList();
    bus_.send(segnale);
}

} // namespace sonora

#include "Telecomando.moc"
