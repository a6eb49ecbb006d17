#include "comune/Canale.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QtEndian>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace sonora {
namespace {

// Read at one go before the event loop has its turn again: a peer that
// writes without end must not hold the caller.
constexpr qsizetype kLetturaPerVolta = 4 << 20;

bool ancora(ssize_t n) { return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR); }

} // namespace

void Cornici::aggiungi(const char* dati, qsizetype n)
{
    if (rotto_)
        return;
    if (letto_ > 0) {
        arrivato_.remove(0, letto_);
        letto_ = 0;
    }
    arrivato_.append(dati, n);
}

std::optional<QByteArray> Cornici::prossimo()
{
    const qsizetype disponibile = arrivato_.size() - letto_;
    if (rotto_ || disponibile < 4)
        return std::nullopt;
    const quint32 lunghezza = qFromLittleEndian<quint32>(arrivato_.constData() + letto_);
    if (lunghezza > kMessaggioMassimo) {
        rotto_ = true;
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

Canale::Canale(int fd, qsizetype limiteInUscita)
    : fd_(fd)
    , limite_(limiteInUscita)
{
}

Canale::~Canale()
{
    std::lock_guard lock(mutex_);
    chiudiLocked();
}

bool Canale::aperto() const
{
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

void Canale::ascolta(std::function<void()> leggibile)
{
    std::lock_guard lock(mutex_);
    if (fd_ < 0)
        return;
    lettura_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(lettura_.get(), &QSocketNotifier::activated, lettura_.get(), leggibile);
    scrittura_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    scrittura_->setEnabled(inviato_ < uscita_.size());
    QObject::connect(scrittura_.get(), &QSocketNotifier::activated, scrittura_.get(), [this, leggibile] {
        bool rotto;
        {
            std::lock_guard lock(mutex_);
            rotto = !scriviLocked();
            if (rotto)
                chiudiLocked();
            else if (scrittura_ && inviato_ == uscita_.size())
                scrittura_->setEnabled(false);
        }
        if (rotto)
            leggibile(); // the owner learns that the other end is gone
    });
}

void Canale::segnalaUscita()
{
    if (!scrittura_)
        return;
    if (QThread::currentThread() == scrittura_->thread())
        scrittura_->setEnabled(true);
    else
        QMetaObject::invokeMethod(scrittura_.get(), [n = scrittura_.get()] { n->setEnabled(true); },
                                  Qt::QueuedConnection);
}

bool Canale::invia(const QByteArray& messaggio)
{
    std::lock_guard lock(mutex_);
    if (fd_ < 0)
        return false;
    const qsizetype inAttesa = uscita_.size() - inviato_;
    if (inAttesa + 4 + messaggio.size() > limite_) {
        chiudiLocked();
        return false;
    }
    uchar lunghezza[4];
    qToLittleEndian(quint32(messaggio.size()), lunghezza);
    qsizetype fatto = 0;
    if (inAttesa == 0) {
        // Nothing before it: straight to the socket, without a copy.
        iovec parti[2] = {{lunghezza, sizeof lunghezza},
                          {const_cast<char*>(messaggio.constData()), size_t(messaggio.size())}};
        msghdr m{};
        m.msg_iov = parti;
        m.msg_iovlen = 2;
        // MSG_NOSIGNAL: a peer that died must not take this process with it.
        ssize_t n;
        do
            n = ::sendmsg(fd_, &m, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        if (n < 0 && !ancora(n)) {
            chiudiLocked();
            return false;
        }
        fatto = std::max<ssize_t>(n, 0);
        if (fatto == 4 + messaggio.size())
            return true;
        uscita_.clear();
        inviato_ = 0;
    }
    if (fatto < 4)
        uscita_.append(reinterpret_cast<const char*>(lunghezza) + fatto, 4 - fatto);
    uscita_.append(messaggio.constData() + std::max<qsizetype>(fatto - 4, 0),
                   messaggio.size() - std::max<qsizetype>(fatto - 4, 0));
    segnalaUscita();
    return true;
}

bool Canale::scriviLocked()
{
    while (fd_ >= 0 && inviato_ < uscita_.size()) {
        const ssize_t n =
            ::send(fd_, uscita_.constData() + inviato_, size_t(uscita_.size() - inviato_), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (ancora(n)) {
            if (errno == EINTR)
                continue;
            return true;
        }
        if (n <= 0)
            return false;
        inviato_ += n;
    }
    if (inviato_ == uscita_.size()) {
        uscita_.clear();
        inviato_ = 0;
    }
    return fd_ >= 0;
}

bool Canale::ricevi(int attesaMs)
{
    QElapsedTimer attesa;
    attesa.start();
    char blocco[64 * 1024];
    for (;;) {
        int fd;
        bool daInviare;
        {
            std::lock_guard lock(mutex_);
            if (fd_ >= 0 && !scriviLocked())
                chiudiLocked();
            fd = fd_;
            daInviare = inviato_ < uscita_.size();
        }
        if (fd < 0)
            return false;
        qsizetype preso = 0;
        while (preso < kLetturaPerVolta) {
            const ssize_t n = ::recv(fd, blocco, sizeof blocco, MSG_DONTWAIT);
            if (n > 0) {
                entrata_.aggiungi(blocco, n);
                preso += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (ancora(n))
                break;
            chiudi(); // the end of the stream, or a broken one
            return false;
        }
        const qint64 resta = attesaMs - attesa.elapsed();
        if (preso > 0 || resta <= 0)
            return true;
        pollfd p{fd, short(POLLIN | (daInviare ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, int(resta)) < 0 && errno != EINTR)
            return true;
    }
}

std::optional<QByteArray> Canale::prossimo()
{
    auto m = entrata_.prossimo();
    if (entrata_.rotto())
        chiudi();
    return m;
}

void Canale::chiudi()
{
    std::lock_guard lock(mutex_);
    chiudiLocked();
}

void Canale::chiudiLocked()
{
    // Only the thread of the event loop touches the notifiers; another
    // thread leaves the closing to it.
    const bool suoFilo = !lettura_ || QThread::currentThread() == lettura_->thread();
    if (!suoFilo) {
        if (fd_ >= 0)
            ::shutdown(fd_, SHUT_RDWR); // the loop reads the end and closes
        return;
    }
    if (lettura_)
        lettura_->setEnabled(false);
    if (scrittura_)
        scrittura_->setEnabled(false);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    uscita_.clear();
    inviato_ = 0;
}

} // namespace sonora
