#include "compilation/FormatoCompilation.h"

#include "comune/Errori.h"
#include "platform/Vb16.h"

#include <QStringDecoder>
#include <array>

namespace sonora::formato {
namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");

// Windows-1252 for bytes 0x80 to 0x9F; the five bytes it leaves undefined map
// to the C1 control characters of the same value, as Windows itself does.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString fromWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b <= 0x9F) ? QChar(Cp1252High[b - 0x80]) : QChar(b);
    }
    return text;
}

} // namespace

QByteArray daSelezione(const QString& selection)
{
    // The selection's length is a 16-bit count; the dialog's buffer keeps it
    // well below that.
    const Intero length = selection.size();
    // A name holding a line end would come back as two songs: refuse it
    // rather than write a compilation that reads back wrong.
    for (const QString& part : selection.split(QChar(0))) {
        if (part.contains(QLatin1Char('\r')) || part.contains(QLatin1Char('\n'))) {
            QString shown = part;
            shown.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
            throw AppError(QStringLiteral("Il nome «%1» contiene un ritorno a capo e non può stare in una "
                                          "compilation: rinominare il file e sceglierlo di nuovo.")
                               .arg(shown));
        }
    }
    QString text;
    text.reserve(length.valore() + 64);
    for (Intero i = 0; i < length; ++i) {
        const QChar c = selection.at(i.valore());
        if (c.unicode() == 0)
            text += QLatin1String("\r\n");
        else
            text += c;
    }
    return text.toUtf8() + LineEnd;
}

QString decodifica(const QByteArray& bytes)
{
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError())
        return text;
    return fromWindows1252(bytes);
}

QStringList righe(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << text.mid(start, i - start);
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

Contenuto leggi(const QByteArray& bytes, const QString& path)
{
    // Text never holds a character of code 0; a file that does is no
    // compilation, whatever else it may be.
    if (bytes.contains('\0'))
        throw FileError(path, QStringLiteral("non è una compilation: contiene dati binari"));
    QStringList lines = righe(decodifica(bytes));
    Contenuto c;
    if (lines.isEmpty())
        return c;
    c.cartella = lines.takeFirst();
    if (lines.size() > MaxCanzoni)
        throw FileError(path, QStringLiteral("contiene %1 canzoni, più delle %2 consentite").arg(lines.size()).arg(MaxCanzoni));
    c.canzoni = std::move(lines);
    return c;
}

} // namespace sonora::formato
