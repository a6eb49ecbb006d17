#pragma once
// What the program and its player process say to each other over their
// Canale. The player runs the GStreamer media device in a process of its own,
// so that all of GStreamer goes away with it once the songs stop, and a
// decoder that crashes on a damaged file takes only the player down.
//
// Every message starts with its kind (one byte); the rest is QDataStream.
// Only the program asks; each Apri, Suona, Ferma and Stato gets one Risposta,
// in order. Finito and Fotogramma come by themselves, tagged with the number
// of the Apri they belong to, so the program can drop those of a song it has
// left.

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

namespace sonora::riproduttore {

// Program → player.
enum class Richiesta : quint8 {
    Avvia,           // start GStreamer now: a song is coming
    Apri,            // QString path, quint8 MediaKind → Risposta
    Prepara,         // QString path, quint8 MediaKind
    Chiudi,
    Suona,           // → Risposta
    Ferma,           // → Risposta
    Stato,           // → Risposta
    FotogrammaVisto, // the last Fotogramma was taken: the next may come
};

// Player → program.
enum class Notizia : quint8 {
    // QString error (empty: done), then the device's state after it:
    // quint8 MediaState, qint64 duration in ms (-1: not known), qint64 position in ms.
    Risposta,
    Finito,     // quint64 song
    Fotogramma, // quint64 song, QString title, QSize display, QSize picture, QByteArray RGBX rows
};

// One message of kind `kind` with `fields` after it.
template <typename Kind, typename... Fields>
QByteArray messaggio(Kind kind, const Fields&... fields)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << quint8(kind);
    if constexpr (sizeof...(Fields) > 0)
        (out << ... << fields);
    return bytes;
}

// Reads a message: its kind first, then its fields in order.
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
    T campo()
    {
        T value{};
        in_ >> value;
        return value;
    }
    // False if the message was shorter than its fields.
    bool integra() const { return in_.status() == QDataStream::Ok; }

private:
    QDataStream in_;
    quint8 tipo_ = 0xff;
};

} // namespace sonora::riproduttore
