#include "comune/Protocollo.h"

#include <QDataStream>
#include <QIODevice>

#include <ctime>

namespace sonora::protocollo {
namespace {

class Scrittura {
public:
    template <typename Kind>
    explicit Scrittura(Kind kind)
        : out_(&bytes_, QIODevice::WriteOnly)
    {
        out_.setVersion(QDataStream::Qt_6_0);
        out_ << quint8(kind);
    }
    template <typename T>
    Scrittura& operator<<(const T& value)
    {
        out_ << value;
        return *this;
    }
    QByteArray bytes() const { return bytes_; }

private:
    QByteArray bytes_;
    QDataStream out_;
};

class Lettura {
public:
    explicit Lettura(const QByteArray& bytes)
        : in_(bytes)
    {
        in_.setVersion(QDataStream::Qt_6_0);
        in_ >> tipo_;
    }
    quint8 tipo() const { return tipo_; }
    template <typename T>
    Lettura& operator>>(T& value)
    {
        in_ >> value;
        return *this;
    }
    // Every field was there, and nothing after them.
    bool intera() const { return in_.status() == QDataStream::Ok && in_.atEnd(); }

private:
    QDataStream in_;
    quint8 tipo_ = 0xff;
};

enum class Campi { Nessuno, Brano, Posto, Formato };

// What follows a request's kind: nothing, a song (its path and kind) or a
// place; empty for a byte that is no request. A kind added to Richiesta must
// be placed here.
std::optional<Campi> campi(quint8 tipo)
{
    switch (Richiesta(tipo)) {
    case Richiesta::Apri:
    case Richiesta::Prepara:
        return Campi::Brano;
    case Richiesta::FotogrammaLibero:
        return Campi::Posto;
    case Richiesta::Formato:
        return Campi::Formato;
    case Richiesta::Avvia:
    case Richiesta::Chiudi:
    case Richiesta::Suona:
    case Richiesta::Ferma:
    case Richiesta::FotogrammaVisto:
        return Campi::Nessuno;
    }
    return std::nullopt;
}

std::optional<MediaKind> genere(quint8 valore)
{
    if (valore > quint8(MediaKind::Video))
        return std::nullopt;
    return MediaKind(valore);
}

std::optional<Messaggio> leggiStato(Lettura& in)
{
    Stato s;
    quint8 stato = 0xff;
    in >> s.richieste >> stato >> s.durataMs >> s.posizioneMs >> s.quandoNs;
    if (stato > quint8(MediaState::Ended) || s.durataMs < -1 || s.durataMs > kTempoMassimoMs || s.posizioneMs < 0
        || s.posizioneMs > kTempoMassimoMs || s.quandoNs < 0)
        return std::nullopt;
    s.stato = MediaState(stato);
    return s;
}

std::optional<Messaggio> leggiFotogramma(Lettura& in)
{
    Fotogramma f;
    in >> f.brano >> f.titolo >> f.display >> f.misura >> f.posto;
    // The program reads the place as far as the size says: never beyond it.
    if (f.titolo.size() > kTestoMassimo || !misuraValida(f.display) || !misuraValida(f.misura)
        || f.posto >= kPostiFotogramma)
        return std::nullopt;
    return f;
}

} // namespace

bool misuraValida(QSize s)
{
    const auto lato = [](int n) { return n >= 1 && n <= kLatoMassimo; };
    return lato(s.width()) && lato(s.height());
}

bool portaBrano(Richiesta tipo)
{
    return campi(quint8(tipo)) == Campi::Brano;
}

bool cambiaStato(Richiesta tipo)
{
    switch (tipo) {
    case Richiesta::Apri:
    case Richiesta::Chiudi:
    case Richiesta::Suona:
    case Richiesta::Ferma:
        return true;
    default:
        return false;
    }
}

QByteArray scrivi(const Domanda& d)
{
    Scrittura out(d.tipo);
    switch (campi(quint8(d.tipo)).value_or(Campi::Nessuno)) {
    case Campi::Brano:
        out << d.percorso << quint8(d.genere);
        break;
    case Campi::Posto:
        out << d.posto;
        break;
    case Campi::Formato:
        out << d.formato.rate << quint8(d.formato.channels) << d.formato.mask;
        break;
    case Campi::Nessuno:
        break;
    }
    return out.bytes();
}

QByteArray scrivi(const Messaggio& messaggio)
{
    struct Visita {
        QByteArray operator()(const Risposta& r) const
        {
            return (Scrittura(Notizia::Risposta) << r.richiesta << r.errore).bytes();
        }
        QByteArray operator()(const Stato& s) const
        {
            return (Scrittura(Notizia::Stato) << s.richieste << quint8(s.stato) << s.durataMs << s.posizioneMs
                                              << s.quandoNs)
                .bytes();
        }
        QByteArray operator()(Vivo) const { return Scrittura(Notizia::Vivo).bytes(); }
        QByteArray operator()(Pronto) const { return Scrittura(Notizia::Pronto).bytes(); }
        QByteArray operator()(const Confinato& c) const
        {
            return (Scrittura(Notizia::Confinato) << c.landlock << c.seccomp << c.mancanze).bytes();
        }
        QByteArray operator()(const Fotogramma& f) const
        {
            return (Scrittura(Notizia::Fotogramma) << f.brano << f.titolo << f.display << f.misura << f.posto).bytes();
        }
    };
    return std::visit(Visita{}, messaggio);
}

std::optional<Domanda> leggiDomanda(const QByteArray& bytes, bool conFile)
{
    Lettura in(bytes);
    const auto c = campi(in.tipo());
    if (!c || conFile != (*c == Campi::Brano))
        return std::nullopt;
    Domanda d;
    d.tipo = Richiesta(in.tipo());
    if (*c == Campi::Brano) {
        quint8 valore = 0xff;
        in >> d.percorso >> valore;
        const auto g = genere(valore);
        if (!g || d.percorso.isEmpty() || d.percorso.size() > kTestoMassimo)
            return std::nullopt;
        d.genere = *g;
    } else if (*c == Campi::Posto) {
        in >> d.posto;
        if (d.posto >= kPostiFotogramma)
            return std::nullopt;
    } else if (*c == Campi::Formato) {
        quint8 channels = 0;
        in >> d.formato.rate >> channels >> d.formato.mask;
        d.formato.channels = channels;
        if (!d.formato.valid())
            return std::nullopt;
    }
    if (!in.intera())
        return std::nullopt;
    return d;
}

std::optional<Messaggio> leggiMessaggio(const QByteArray& bytes)
{
    Lettura in(bytes);
    std::optional<Messaggio> m;
    switch (Notizia(in.tipo())) {
    case Notizia::Risposta: {
        Risposta r;
        in >> r.richiesta >> r.errore;
        if (r.errore.size() <= kTestoMassimo)
            m = r;
        break;
    }
    case Notizia::Stato:
        m = leggiStato(in);
        break;
    case Notizia::Vivo:
        m = Vivo{};
        break;
    case Notizia::Pronto:
        m = Pronto{};
        break;
    case Notizia::Fotogramma:
        m = leggiFotogramma(in);
        break;
    case Notizia::Confinato: {
        Confinato c;
        quint8 seccomp = 0xff; // a flag is 0 or 1, nothing else
        in >> c.landlock >> seccomp >> c.mancanze;
        c.seccomp = seccomp == 1;
        if (seccomp <= 1 && c.mancanze.size() <= kTestoMassimo)
            m = c;
        break;
    }
    }
    if (!in.intera())
        return std::nullopt;
    return m;
}

QString rifiutoNonConfinato(const QString& mancanze)
{
    return QStringLiteral("Il componente di riproduzione non riesce a proteggersi su questo sistema (%1) e per "
                          "sicurezza non riproduce nulla. Aggiornare il sistema o reinstallare Sonoraccoltiera.")
        .arg(mancanze.left(kTestoMassimo / 4));
}

} // namespace sonora::protocollo
