#pragma once
// What the program and its player process say to each other over their
// Channel. The player runs the GStreamer media device in a process of its own,
// so that all of GStreamer goes away with it once the songs stop, and a
// decoder that crashes on a damaged file takes only the player down.
//
// Every message starts with its kind (one byte); its fields follow in
// QDataStream form, with nothing after them. The player tells the program
// what changes without being asked: the open song's state, its length and
// where it is, at every change and every quarter of a second while a song is
// open, which is also how the program knows the player lives. The program
// waits only for what it must know at once: the answer to Apri, Suona and
// Ferma. Pictures come by themselves, tagged with the number of the Apri they
// belong to, so the program can drop those of a song it has left.
//
// Both readers are pure functions of the bytes: neither side trusts the
// other's message to be well formed, and the program does not trust the
// player at all (it decodes files from anywhere).

#include "comune/AudioRing.h"
#include "comune/MediaDevice.h"
#include "comune/Orologio.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>
#include <variant>

namespace sonora::protocollo {

// Program → player.
enum class Richiesta : quint8 {
    Avvia,           // start GStreamer now: a song is coming → Vivo meanwhile, then Pronto
    Apri,            // QString path, quint8 MediaKind, with the song's open file → Risposta
    Prepara,         // QString path, quint8 MediaKind, with the song's open file
    Chiudi,
    Suona,           // → Risposta
    Ferma,           // → Risposta
    FotogrammaVisto,  // the last Fotogramma was taken: the next may come
    FotogrammaLibero, // quint8 place: the program no longer holds the picture in it
    Formato,          // quint32 rate, quint8 channels, quint64 channel mask: what the output takes
};

// Apri and Prepara carry the song's file, open, beside their bytes: the
// player reads what it is handed and opens nothing by name. The path names
// the song in errors and titles only.
bool portaBrano(Richiesta tipo);

// Apri, Chiudi, Suona and Ferma change the song's state. Both ends count
// them: a Stato tells how many the player had read, and a Risposta which one
// it answers, so the program can tell facts it has overtaken from current ones.
bool cambiaStato(Richiesta tipo);

struct Domanda {
    Domanda(Richiesta t = Richiesta::Chiudi, QString p = {}, MediaKind g = MediaKind::Wave, int b = -1)
        : tipo(t)
        , percorso(std::move(p))
        , genere(g)
        , brano(b)
    {
    }
    static Domanda libero(quint8 posto)
    {
        Domanda d(Richiesta::FotogrammaLibero);
        d.posto = posto;
        return d;
    }
    static Domanda inFormato(const ring::Format& formato)
    {
        Domanda d(Richiesta::Formato);
        d.formato = formato;
        return d;
    }
    Richiesta tipo;
    QString percorso;  // Apri, Prepara
    MediaKind genere;  // Apri, Prepara
    int brano = -1;    // Apri, Prepara, to send: the song's open file, not owned (the reader gets it beside)
    quint8 posto = 0;  // FotogrammaLibero
    ring::Format formato; // Formato
};

// Player → program.
enum class Notizia : quint8 {
    Risposta,   // quint64 request answered, QString error (empty: done)
    Stato,      // quint64 requests read, quint8 MediaState, qint64 length in ms (-1: not known),
                // qint64 position in ms, qint64 CLOCK_MONOTONIC ns when that position was true
    Vivo,       // at work on what the program waits for: a start, an open
    Pronto,     // started: the next Apri is quick
    Fotogramma, // quint64 song, QString title, QSize display, QSize picture, quint8 place in the shared
                // memory (SharedMemory.h) whose rows of 0xffRRGGBB it fills, with nothing between them
    Confinato,  // once, first: quint8 Landlock ABI in force (0: none), bool seccomp, QString what is missing
};

struct Risposta {
    quint64 richiesta = 0;
    QString errore;
};

struct Stato {
    quint64 richieste = 0;
    MediaState stato = MediaState::Closed;
    qint64 durataMs = -1;
    qint64 posizioneMs = 0;
    qint64 quandoNs = 0;
};

struct Vivo {};
struct Pronto {};

struct Fotogramma {
    quint64 brano = 0;
    QString titolo;
    QSize display;
    QSize misura;
    quint8 posto = 0;
};

// What the player's confinement got on this kernel: less than all of it is
// no error, only worth knowing.
struct Confinato {
    quint8 landlock = 0;
    bool seccomp = false;
    QString mancanze;
};

// Why a player whose system-call filter could not be loaded plays nothing:
// it would decode files from anywhere unconfined.
QString rifiutoNonConfinato(const QString& mancanze);

using Messaggio = std::variant<Risposta, Stato, Vivo, Pronto, Fotogramma, Confinato>;

// While a song is open the player tells where it is this often, which also
// tells the program that it lives.
constexpr int kHeartbeatMs = 250;

// What a reader accepts: a longer error or title, a larger picture, a time
// beyond this is not something a player says.
constexpr qsizetype kTestoMassimo = 16 * 1024;
constexpr int kLatoMassimo = 8192;
// Places for pictures in the shared memory: one shown, one on its way, one
// being written.
constexpr int kPostiFotogramma = 3;
constexpr qint64 kTempoMassimoMs = qint64(1) << 40;
// A size of a picture, or of its shape on screen, that a reader accepts.
bool misuraValida(QSize s);

QByteArray scrivi(const Domanda& domanda);
QByteArray scrivi(const Messaggio& messaggio);

// Empty for anything but a message written as above, with every field in
// range: a known state, kind and place, a picture no larger than a place.
// A request is refused too when it came with a file (`conFile`) and should
// not, or should and did not.
std::optional<Domanda> leggiDomanda(const QByteArray& bytes, bool conFile);
std::optional<Messaggio> leggiMessaggio(const QByteArray& bytes);

using sonora::orologioNs;

} // namespace sonora::protocollo
