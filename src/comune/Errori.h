#pragma once
// Errors of Sonoraccoltiera. Every failure that ends a handler is an AppError
// whose message is the Italian text the user reads in the error box.

#include <QString>
#include <stdexcept>

namespace sonora {

class AppError : public std::runtime_error {
public:
    explicit AppError(const QString& message)
        : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// A file that cannot be created, read, written or understood.
class FileError : public AppError {
public:
    FileError(const QString& path, const QString& reason);
    const QString& path() const { return path_; }
    const QString& reason() const { return reason_; }

private:
    QString path_;
    QString reason_;
};

// A song that the media device cannot open or play.
class MediaError : public AppError {
public:
    MediaError(const QString& path, const QString& reason);
    explicit MediaError(const QString& message) : AppError(message) {}
};

// A 16-bit counter or index left its range.
class OverflowError : public AppError {
public:
    OverflowError();
};

// An index outside the song array.
class SubscriptError : public AppError {
public:
    SubscriptError(long long index, long long count);
};

// The Italian reason for a failed system call (errno value).
QString reasonFromErrno(int error);

} // namespace sonora
