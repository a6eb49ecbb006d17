#include "comune/Channel.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QtEndian>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <vector>

namespace sonora {
namespace {

// Read at one go before the event loop has its turn again: a peer that
// writes without end must not hold the caller.
constexpr qsizetype kLetturaPerVolta = 4 << 20;

bool ancora(ssize_t n) { return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR); }

// Room for more descriptors than a message may carry, so that the extra
// ones are seen (and closed) rather than dropped by the kernel unseen.
constexpr int kAllegatiVisti = 4;
// Descriptors that may wait for the rest of their messages.
constexpr size_t kAllegatiInAttesa = 16;

// One sendmsg of up to two pieces, with `allegato` (if >= 0) going along.
// MSG_NOSIGNAL: a peer that died must not take this process with it.
ssize_t manda(int fd, const char* a, size_t na, const char* b, size_t nb, int allegato)
{
    iovec parti[2] = {{const_cast<char*>(a), na}, {const_cast<char*>(b), nb}};
    msghdr m{};
    m.msg_iov = parti;
    m.msg_iovlen = nb > 0 ? 2 : 1;
    alignas(cmsghdr) char controllo[CMSG_SPACE(sizeof(int))] = {};
    if (allegato >= 0) {
        m.msg_control = controllo;
        m.msg_controllen = sizeof controllo;
        cmsghdr* c = CMSG_FIRSTHDR(&m);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &allegato, sizeof(int));
    }
    ssize_t n;
    do
        n = ::sendmsg(fd, &m, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    return n;
}

} // namespace

void Framer::append(const char* dati, qsizetype n, OwnedFd allegato)
{
    if (rotto_)
        return;
    if (letto_ > 0) {
        arrivato_.remove(0, letto_);
        base_ += letto_;
        letto_ = 0;
    }
    const qint64 inizio = base_ + arrivato_.size();
    arrivato_.append(dati, n);
    if (allegato) {
        // Messages that carry one are small and come whole: descriptors
        // piling up belong to no message anyone would send.
        if (n <= 0 || allegati_.size() >= kAllegatiInAttesa)
            return breakStream();
        allegati_.push_back({inizio, inizio + n, std::move(allegato)});
    }
}

void Framer::breakStream()
{
    rotto_ = true;
    arrivato_.clear();
    letto_ = 0;
    allegati_.clear(); // closes them
}

std::optional<QByteArray> Framer::next(OwnedFd* allegato)
{
    const qsizetype disponibile = arrivato_.size() - letto_;
    if (rotto_ || disponibile < 4)
        return std::nullopt;
    const quint32 lunghezza = qFromLittleEndian<quint32>(arrivato_.constData() + letto_);
    if (lunghezza > kMessaggioMassimo) {
        breakStream();
        return std::nullopt;
    }
    if (disponibile - 4 < qsizetype(lunghezza))
        return std::nullopt;
    // The descriptors whose bytes end within this message are its own: one
    // at most, and only if the message starts among those bytes.
    const qint64 inizio = base_ + letto_;
    const qint64 fine = inizio + 4 + lunghezza;
    OwnedFd suo;
    while (!allegati_.empty() && allegati_.front().fine <= fine) {
        Allegato& a = allegati_.front();
        if (suo || a.inizio > inizio || !allegato) {
            breakStream();
            return std::nullopt;
        }
        suo = std::move(a.fd);
        allegati_.pop_front();
    }
    QByteArray messaggio = arrivato_.mid(letto_ + 4, lunghezza);
    letto_ += 4 + lunghezza;
    if (allegato)
        *allegato = std::move(suo);
    return messaggio;
}

Channel::Channel(int fd, qsizetype limiteInUscita, Attachments allegati)
    : fd_(fd)
    , limite_(limiteInUscita)
    , allegati_(allegati)
{
}

Channel::~Channel()
{
    std::lock_guard lock(mutex_);
    closeLocked();
}

bool Channel::isOpen() const
{
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

void Channel::listen(std::function<void()> leggibile)
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
            rotto = !writeLocked();
            if (rotto)
                closeLocked();
            else if (scrittura_ && inviato_ == uscita_.size())
                scrittura_->setEnabled(false);
        }
        if (rotto)
            leggibile(); // the owner learns that the other end is gone
    });
}

void Channel::watchWritable()
{
    if (!scrittura_)
        return;
    if (QThread::currentThread() == scrittura_->thread())
        scrittura_->setEnabled(true);
    else
        QMetaObject::invokeMethod(scrittura_.get(), [n = scrittura_.get()] { n->setEnabled(true); },
                                  Qt::QueuedConnection);
}

namespace {

// What goes before each message on the stream: its length.
std::array<char, 4> lengthOf(const QByteArray& messaggio)
{
    std::array<char, 4> out;
    qToLittleEndian(quint32(messaggio.size()), out.data());
    return out;
}

} // namespace

QByteArray framed(const QByteArray& messaggio)
{
    const auto lunghezza = lengthOf(messaggio);
    return QByteArray(lunghezza.data(), qsizetype(lunghezza.size())) + messaggio;
}

bool Channel::send(const QByteArray& messaggio, int allegato)
{
    std::lock_guard lock(mutex_);
    if (fd_ < 0)
        return false;
    const qsizetype inAttesa = uscita_.size() - inviato_;
    if (inAttesa + 4 + messaggio.size() > limite_) {
        closeLocked();
        return false;
    }
    const auto lunghezza = lengthOf(messaggio);
    qsizetype fatto = 0;
    if (inAttesa == 0) {
        // Nothing before it: straight to the socket, without a copy. The
        // descriptor goes with the first bytes that go.
        const ssize_t n = manda(fd_, lunghezza.data(), lunghezza.size(), messaggio.constData(),
                                size_t(messaggio.size()), allegato);
        if (n < 0 && !ancora(n)) {
            closeLocked();
            return false;
        }
        fatto = std::max<ssize_t>(n, 0);
        if (fatto == 4 + messaggio.size())
            return true;
        uscita_.clear();
        inviato_ = 0;
        if (fatto > 0)
            allegato = -1;
    }
    const qsizetype inizio = uscita_.size();
    if (fatto < 4)
        uscita_.append(lunghezza.data() + fatto, qsizetype(lunghezza.size()) - fatto);
    uscita_.append(messaggio.constData() + std::max<qsizetype>(fatto - 4, 0),
                   messaggio.size() - std::max<qsizetype>(fatto - 4, 0));
    if (allegato >= 0) {
        // Kept open until it is sent: the caller may close its own meanwhile.
        OwnedFd copia(::fcntl(allegato, F_DUPFD_CLOEXEC, 0));
        if (!copia) {
            uscita_.truncate(inizio);
            return false;
        }
        allegatiInUscita_.push_back({inizio, uscita_.size(), std::move(copia)});
    }
    watchWritable();
    return true;
}

bool Channel::writeLocked()
{
    while (fd_ >= 0 && inviato_ < uscita_.size()) {
        // A message with a descriptor goes in sends of its own, so that the
        // descriptor arrives with its message's first bytes and no other's.
        qsizetype fino = uscita_.size();
        int allegato = -1;
        if (!allegatiInUscita_.empty()) {
            const InUscita& a = allegatiInUscita_.front();
            fino = a.inizio == inviato_ ? a.fine : a.inizio;
            allegato = a.inizio == inviato_ ? a.fd.get() : -1;
        }
        const ssize_t n = manda(fd_, uscita_.constData() + inviato_, size_t(fino - inviato_), nullptr, 0, allegato);
        if (ancora(n))
            return true;
        if (n <= 0)
            return false;
        inviato_ += n;
        if (allegato >= 0)
            allegatiInUscita_.pop_front();
    }
    if (inviato_ == uscita_.size()) {
        uscita_.clear();
        inviato_ = 0;
    }
    return fd_ >= 0;
}

bool Channel::receive(int attesaMs)
{
    QElapsedTimer attesa;
    attesa.start();
    char blocco[64 * 1024];
    for (;;) {
        int fd;
        bool daInviare;
        {
            std::lock_guard lock(mutex_);
            if (fd_ >= 0 && !writeLocked())
                closeLocked();
            fd = fd_;
            daInviare = inviato_ < uscita_.size();
        }
        if (fd < 0)
            return false;
        qsizetype preso = 0;
        while (preso < kLetturaPerVolta) {
            const qsizetype n = receiveOne(fd, blocco, sizeof blocco);
            if (n > 0) {
                preso += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (ancora(n))
                break;
            close(); // the end of the stream, or a broken one
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

qsizetype Channel::receiveOne(int fd, char* blocco, qsizetype n)
{
    iovec parte{blocco, size_t(n)};
    alignas(cmsghdr) char controllo[CMSG_SPACE(sizeof(int) * kAllegatiVisti)];
    msghdr m{};
    m.msg_iov = &parte;
    m.msg_iovlen = 1;
    m.msg_control = controllo;
    m.msg_controllen = sizeof controllo;
    const ssize_t letti = ::recvmsg(fd, &m, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (letti < 0)
        return letti;
    // Whatever came is owned here at once, so that nothing leaks on any way out.
    std::vector<OwnedFd> arrivati;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t quanti = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < quanti; ++i) {
            int a;
            std::memcpy(&a, CMSG_DATA(c) + i * sizeof(int), sizeof a);
            arrivati.emplace_back(a);
        }
    }
    // More than one at a time, one with no bytes, or any for a channel that
    // takes none: not what this peer may send, and the stream is broken.
    const bool troppi = arrivati.size() > 1 || (m.msg_flags & MSG_CTRUNC);
    if (troppi || (!arrivati.empty() && (letti == 0 || allegati_ == Attachments::Refused))) {
        errno = EPROTO;
        return -1;
    }
    if (letti > 0)
        entrata_.append(blocco, letti, arrivati.empty() ? OwnedFd() : std::move(arrivati.front()));
    return letti;
}

std::optional<QByteArray> Channel::next(OwnedFd* allegato)
{
    auto m = entrata_.next(allegato);
    if (entrata_.broken())
        close();
    return m;
}

void Channel::close()
{
    std::lock_guard lock(mutex_);
    closeLocked();
}

void Channel::closeLocked()
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
    allegatiInUscita_.clear();
}

} // namespace sonora
