#pragma once
// Whole-file reads and safe saves of small text files.
// Failures throw FileError with the file's path and an Italian reason.

#include <QByteArray>
#include <QString>

namespace sonora::textfiles {

// Reads the whole file. Files larger than `maxBytes` are refused, so a huge
// or wrong file cannot exhaust memory.
QByteArray readAll(const QString& path, qint64 maxBytes);

// Replaces the file's content with `data` through QSaveFile: the bytes go
// to a temporary file in the same folder that is then renamed over the
// target, so a failed write leaves the previous content whole. An existing
// file that may not be written is refused; a symbolic link stays a link and
// its target gets the text; the file keeps its permissions. Where no file
// may be created beside it, a file that may be written is written in place.
void save(const QString& path, const QByteArray& data);

} // namespace sonora::textfiles
