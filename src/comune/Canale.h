#pragma once
// The program and its player process talk over a stream socket, in messages:
// each a 32-bit length, then that many bytes. Both ends use this class; the
// messages themselves are in Protocollo.h.

#include <QByteArray>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QSocketNotifier;

namespace sonora {

// Cuts the bytes of a stream into its messages, however they arrive.
class Cornici {
public:
    // The longest message is a path or an error of some tens of kilobytes
    // (pictures go by shared memory); anything much longer is a broken
    // stream, not a message.
    static constexpr quint32 kMessaggioMassimo = 1u << 20;

    void aggiungi(const char* dati, qsizetype n);
    // The oldest whole message not yet handed out.
    std::optional<QByteArray> prossimo();
    // A length beyond kMessaggioMassimo came: nothing after it can be trusted.
    bool rotto() const { return rotto_; }

private:
    QByteArray arrivato_;
    qsizetype letto_ = 0; // of arrivato_, already handed out
    bool rotto_ = false;
};

class Canale {
public:
    // Takes over `fd`, one end of a connected stream socket. At most
    // `limiteInUscita` bytes wait to be sent: a peer that leaves more than
    // that unread has stopped reading.
    Canale(int fd, qsizetype limiteInUscita);
    ~Canale();
    Canale(const Canale&) = delete;
    Canale& operator=(const Canale&) = delete;

    // False once the other end has gone, broke the framing or stopped reading.
    bool aperto() const;

    // Sends from the event loop from now on, and calls `leggibile` there when
    // something has arrived or the other end has gone.
    void ascolta(std::function<void()> leggibile);

    // Sends one message. It never waits: what the socket does not take now is
    // sent as the other end reads, from the event loop or ricevi(). False when
    // the other end is gone or would have more than the limit waiting; the
    // channel is then closed. Any thread may send.
    bool invia(const QByteArray& messaggio);
    // Takes in what has arrived, waiting up to `attesaMs` (0: not at all) for
    // the first of it, and meanwhile sends what waits. False when the other
    // end is gone.
    bool ricevi(int attesaMs = 0);
    // The oldest message taken in and not yet handed out.
    std::optional<QByteArray> prossimo();
    // Hangs up; the other end reads the end of the stream.
    void chiudi();

private:
    bool scriviLocked();
    void chiudiLocked();
    void segnalaUscita();

    mutable std::mutex mutex_; // fd_ and the bytes to send
    int fd_;
    qsizetype limite_;
    QByteArray uscita_;
    qsizetype inviato_ = 0; // of uscita_
    Cornici entrata_;
    std::unique_ptr<QSocketNotifier> lettura_;
    std::unique_ptr<QSocketNotifier> scrittura_;
};

} // namespace sonora
