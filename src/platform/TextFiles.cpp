#include "platform/TextFiles.h"

#include "comune/Errori.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
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

void save(const QString& path, const QByteArray& data)
{
    if (path.isEmpty())
        throw FileError(path, QStringLiteral("nome del file vuoto"));
    const QByteArray native = nativePath(path);

    QSaveFile file(path);
    // A file that may be written in a folder where nothing may be created is
    // written in place, as a plain write would.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        int error = errno;
        // QSaveFile refuses a folder, and an existing file this user may not
        // write, before any system call fails: give their own reasons.
        struct stat st {};
        if (::stat(native.constData(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                error = EISDIR;
            else if (::access(native.constData(), W_OK) != 0)
                error = errno;
        }
        fail(path, error);
    }
    // A failed write must be caught here: Qt 6.4's commit() does not see a
    // failure of the final flush of its buffer (a full disk) and would put
    // the short temporary file in place.
    if (file.write(data) != data.size() || !file.flush()) {
        const int error = errno;
        file.cancelWriting();
        file.commit();
        fail(path, error);
    }
    if (!file.commit())
        fail(path, errno);
}

} // namespace sonora::textfiles
