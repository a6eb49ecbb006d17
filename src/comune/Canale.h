#pragma once
// The program and its player process talk over a stream socket, in messages:
// each a 32-bit length, then that many bytes. Both ends use this class; the
// messages themselves are in Protocollo.h.

#include <QByteArray>

#include <optional>

namespace sonora {

class Canale {
public:
    // Takes over `fd`, one end of a connected stream socket.
    explicit Canale(int fd);
    ~Canale();
    Canale(const Canale&) = delete;
    Canale& operator=(const Canale&) = delete;

    int fd() const { return fd_; }
    // False once the other end has gone or broke the framing.
    bool aperto() const { return fd_ >= 0; }

    // Sends one message whole, waiting while the socket is full; false when
    // the other end is gone.
    bool invia(const QByteArray& messaggio);
    // Takes in what has arrived, waiting up to `attesaMs` (0: not at all; -1:
    // for ever) for the first of it. False when the other end is gone.
    bool ricevi(int attesaMs = 0);
    // The oldest message taken in and not yet handed out.
    std::optional<QByteArray> prossimo();
    // Hangs up; the other end reads the end of the stream.
    void chiudi();

private:
    int fd_;
    QByteArray arrivato_;
    qsizetype letto_ = 0; // of arrivato_, already handed out
};

} // namespace sonora
