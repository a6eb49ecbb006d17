#pragma once
// The compilation file's text format: the song folder on the first line,
// then one song file name per line; every line ends with CR LF; UTF-8
// without byte-order mark.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sonora::formato {

// Largest compilation file we read: 32767 names of the longest length a file
// system allows fit with room to spare.
inline constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

// The file's bytes for a song dialog's selection text: every character of
// code 0 becomes a line end, and the last line ends with one too. A name
// holding a line end of its own throws AppError.
QByteArray daSelezione(const QString& selection);

// Text from a file's bytes: UTF-8 (a leading byte-order mark is skipped);
// bytes that are not valid UTF-8 are read as Windows-1252, the encoding of
// older files.
QString decodifica(const QByteArray& bytes);

// The lines of a text, each without its line end. CR LF, a lone LF and a
// lone CR all end a line; a last line without line end counts; an empty
// text has no lines.
QStringList righe(const QString& text);

// The most songs a compilation holds: its count is a signed 16-bit number.
inline constexpr qsizetype MaxCanzoni = 32767;

struct Contenuto {
    QString cartella;     // the first line; empty for an empty file
    QStringList canzoni;  // every further line
};

// A compilation file's content from its bytes. Throws FileError naming
// `path` for binary data or more songs than a compilation holds.
Contenuto leggi(const QByteArray& bytes, const QString& path);

} // namespace sonora::formato
