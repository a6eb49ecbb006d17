#include "platform/TextFiles.h"

#include "comune/Errori.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonora::textfiles {
namespace {

// Closes a descriptor when it leaves scope.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { int f = fd_; fd_ = -1; return f; }

private:
    int fd_;
};

[[noreturn]] void fail(const QString& path, int error) { throw FileError(path, reasonFromErrno(error)); }

// The path as the system takes it. A character of code 0 would silently cut
// it short (a multiple selection's text is no path), so it is refused.
QByteArray nativePath(const QString& path)
{
    if (path.contains(QChar(0)))
        throw FileError(path, QStringLiteral("il nome non è un percorso valido (sono stati scelti più file?)"));
    return QFile::encodeName(path);
}

mode_t modeForNewFile()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

QByteArray readAll(const QString& path, qint64 maxBytes)
{
    if (path.isEmpty())
        throw FileError(path, QStringLiteral("nome del file vuoto"));
    Fd fd(::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        fail(path, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        fail(path, errno);
    if (S_ISDIR(st.st_mode))
        fail(path, EISDIR);
    if (!S_ISREG(st.st_mode))
        throw FileError(path, QStringLiteral("non è un file normale"));
    if (st.st_size > maxBytes)
        throw FileError(path, QStringLiteral("è troppo grande per essere una compilation (%1 byte, al massimo %2)")
                                  .arg(st.st_size).arg(maxBytes));

    QByteArray data;
    data.reserve(static_cast<qsizetype>(st.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(path, errno);
        }
        if (n == 0)
            break;
        if (data.size() + n > maxBytes) // the file grew while we read it
            throw FileError(path, QStringLiteral("è troppo grande per essere una compilation"));
        data.append(buffer, n);
    }
    return data;
}

void writeAtomically(const QString& path, const QByteArray& data)
{
    if (path.isEmpty())
        throw FileError(path, QStringLiteral("nome del file vuoto"));

    // Write through a symbolic link to the file it names, not over the link.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink() && info.exists())
        target = info.canonicalFilePath();

    const QByteArray native = nativePath(target);
    mode_t mode = modeForNewFile();
    struct stat st {};
    if (::stat(native.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            fail(path, EISDIR);
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        fail(path, errno);
    }

    const QFileInfo targetInfo(target);
    // A short fixed name: the target's own name may already be as long as the
    // file system allows.
    QByteArray temp = nativePath(targetInfo.absolutePath() + QLatin1String("/.sonoraccoltiera-XXXXXX"));
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0)
        fail(path, errno);

    auto discard = [&](int error) {
        ::unlink(temp.constData());
        fail(path, error);
    };

    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            discard(errno);
        }
        p += n;
        left -= n;
    }
    if (::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0)
        discard(errno);
    if (::close(fd.release()) != 0)
        discard(errno);
    if (::rename(temp.constData(), native.constData()) != 0)
        discard(errno);
}

} // namespace sonora::textfiles
