#pragma once
// Whole-file reads and crash-safe writes of small text files.
// Failures throw FileError with the file's path and an Italian reason.

#include <QByteArray>
#include <QString>

namespace sonora::textfiles {

// Reads the whole file. Files larger than `maxBytes` are refused, so a huge
// or wrong file cannot exhaust memory.
QByteArray readAll(const QString& path, qint64 maxBytes);

// Replaces the file's content with `data` as one step: the bytes go to a
// temporary file in the same folder, are flushed to disk, and the temporary
// file is then renamed over the target. A failed or interrupted write leaves
// the previous content intact. An existing file keeps its permissions; a
// symbolic link keeps pointing to the file that receives the new content.
void writeAtomically(const QString& path, const QByteArray& data);

} // namespace sonora::textfiles
