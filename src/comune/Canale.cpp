#include "comune/Canale.h"

#include <QtEndian>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sonora {
namespace {

// A frame of a large video is a few megabytes; anything much larger is a
// broken stream, not a message.
constexpr quint32 kMessaggioMassimo = 64u << 20;

} // namespace

Canale::Canale(int fd)
    : fd_(fd)
{
}

Canale::~Canale() { chiudi(); }

void Canale::chiudi()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool Canale::invia(const QByteArray& messaggio)
{
    if (fd_ < 0)
        return false;
    uchar lunghezza[4];
    qToLittleEndian(quint32(messaggio.size()), lunghezza);
    const char* parti[2] = {reinterpret_cast<const char*>(lunghezza), messaggio.constData()};
    const size_t misure[2] = {sizeof lunghezza, size_t(messaggio.size())};
    for (int i = 0; i < 2; ++i) {
        for (size_t fatto = 0; fatto < misure[i];) {
            // MSG_NOSIGNAL: a player that died must not take the program with it.
            const ssize_t n = ::send(fd_, parti[i] + fatto, misure[i] - fatto, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, -1);
                continue;
            }
            if (n <= 0) {
                chiudi();
                return false;
            }
            fatto += size_t(n);
        }
    }
    return true;
}

bool Canale::ricevi(int attesaMs)
{
    if (fd_ < 0)
        return false;
    if (attesaMs != 0) {
        pollfd p{fd_, POLLIN, 0};
        int pronto;
        do
            pronto = ::poll(&p, 1, attesaMs);
        while (pronto < 0 && errno == EINTR);
        if (pronto == 0)
            return true;
    }
    if (letto_ > 0) {
        arrivato_.remove(0, letto_);
        letto_ = 0;
    }
    char blocco[64 * 1024];
    for (;;) {
        const ssize_t n = ::recv(fd_, blocco, sizeof blocco, MSG_DONTWAIT);
        if (n > 0) {
            arrivato_.append(blocco, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        chiudi(); // the end of the stream, or a broken one
        return false;
    }
}

std::optional<QByteArray> Canale::prossimo()
{
    const qsizetype disponibile = arrivato_.size() - letto_;
    if (disponibile < 4)
        return std::nullopt;
    const quint32 lunghezza = qFromLittleEndian<quint32>(arrivato_.constData() + letto_);
    if (lunghezza > kMessaggioMassimo) {
        chiudi();
        arrivato_.clear();
        letto_ = 0;
        return std::nullopt;
    }
    if (disponibile - 4 < qsizetype(lunghezza))
        return std::nullopt;
    QByteArray messaggio = arrivato_.mid(letto_ + 4, lunghezza);
    letto_ += 4 + lunghezza;
    return messaggio;
}

} // namespace sonora
