#pragma once
// The program and its player process talk over a stream socket, in messages:
// each a 32-bit length, then that many bytes. Both ends use this class; the
// messages themselves are in Protocollo.h. A message may carry one open
// file with it (SCM_RIGHTS): the program hands the player its songs so.

#include "comune/OwnedFd.h"

#include <QByteArray>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QSocketNotifier;

namespace sonora {

// Cuts the bytes of a stream into its messages, however they arrive.
class Framer {
public:
    // The longest message is a path or an error of some tens of kilobytes
    // (pictures go by shared memory); anything much longer is a broken
    // stream, not a message.
    static constexpr quint32 kMessaggioMassimo = 1u << 20;

    // `allegato`: a descriptor that came with these bytes. The kernel hands
    // one over with the read that ends with the bytes it was sent with, so
    // it belongs to the last message that starts among them.
    void append(const char* dati, qsizetype n, OwnedFd allegato = {});
    // The oldest whole message not yet handed out, and in `allegato` the
    // descriptor that came with it, if any. A descriptor with no message to
    // belong to, more than one with a message, or one for a caller that
    // takes none breaks the stream.
    std::optional<QByteArray> next(OwnedFd* allegato = nullptr);
    // A length beyond kMessaggioMassimo, or a descriptor out of place, came:
    // nothing after it can be trusted.
    bool broken() const { return rotto_; }

private:
    struct Allegato {
        qint64 inizio; // the bytes it came with, as offsets in the stream
        qint64 fine;
        OwnedFd fd;
    };
    void breakStream();

    QByteArray arrivato_;
    qint64 base_ = 0;     // the stream's offset of arrivato_'s first byte
    qsizetype letto_ = 0; // of arrivato_, already handed out
    std::deque<Allegato> allegati_;
    bool rotto_ = false;
};

// One message as it goes on the stream, length first: for words said before
// a Channel exists (the player's, while its plugin registry is brought up to date).
QByteArray framed(const QByteArray& messaggio);

// Whether a channel takes descriptors from its peer. The program takes none
// from its player: one that sends any has broken the protocol.
enum class Attachments { Refused, Accepted };

class Channel {
public:
    // Takes over `fd`, one end of a connected stream socket. At most
    // `limiteInUscita` bytes wait to be sent: a peer that leaves more than
    // that unread has stopped reading.
    Channel(int fd, qsizetype limiteInUscita, Attachments allegati = Attachments::Refused);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // False once the other end has gone, broke the framing or stopped reading.
    bool isOpen() const;

    // Sends from the event loop from now on, and calls `leggibile` there when
    // something has arrived or the other end has gone.
    void listen(std::function<void()> leggibile);

    // Sends one message. It never waits: what the socket does not take now is
    // sent as the other end reads, from the event loop or receive(). False when
    // the other end is gone or would have more than the limit waiting; the
    // channel is then closed. Any thread may send.
    // With `allegato` (>= 0), a copy of that open file goes with the message.
    bool send(const QByteArray& messaggio, int allegato = -1);
    // Takes in what has arrived, waiting up to `attesaMs` (0: not at all) for
    // the first of it, and meanwhile sends what waits. False when the other
    // end is gone.
    bool receive(int attesaMs = 0);
    // The oldest message taken in and not yet handed out, with the
    // descriptor that came with it (only where descriptors are accepted).
    std::optional<QByteArray> next(OwnedFd* allegato = nullptr);
    // Hangs up; the other end reads the end of the stream.
    void close();

private:
    // A descriptor waiting to go with the bytes [inizio, fine) of uscita_.
    struct InUscita {
        qsizetype inizio;
        qsizetype fine;
        OwnedFd fd;
    };
    bool writeLocked();
    // One read of at most `n` bytes, and the descriptor that came with them.
    qsizetype receiveOne(int fd, char* blocco, qsizetype n);
    void closeLocked();
    void watchWritable();

    mutable std::mutex mutex_; // fd_ and the bytes to send
    int fd_;
    qsizetype limite_;
    QByteArray uscita_;
    qsizetype inviato_ = 0; // of uscita_
    std::deque<InUscita> allegatiInUscita_;
    Attachments allegati_;
    Framer entrata_;
    std::unique_ptr<QSocketNotifier> lettura_;
    std::unique_ptr<QSocketNotifier> scrittura_;
};

} // namespace sonora
