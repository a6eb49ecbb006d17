// Fuzzing the compilation reader: any bytes, read as a .cmp file, give a
// compilation or a clear error, never a crash; what was read writes back and
// reads again to the same compilation.

#include "compilation/FormatoCompilation.h"
#include "comune/Errori.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sonora;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    formato::Contenuto c;
    try {
        c = formato::leggi(bytes, QStringLiteral("prova.cmp"));
    } catch (const AppError&) {
        return 0;
    }
    if (c.canzoni.size() > formato::MaxCanzoni)
        std::abort();
    QString selection = c.cartella;
    for (const QString& s : c.canzoni) {
        if (s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n')) || s.contains(QChar(0)))
            std::abort();
        selection += QChar(0) + s;
    }
    // A folder line starting with a byte-order mark character cannot survive
    // a rewrite (a leading mark is taken as the file's); no real folder does.
    if (selection.size() > 32767 || c.cartella.startsWith(QChar(0xFEFF)))
        return 0;
    try {
        const formato::Contenuto again = formato::leggi(formato::daSelezione(selection), QStringLiteral("prova.cmp"));
        // One line without songs reads back as itself.
        if (again.cartella != c.cartella || again.canzoni != c.canzoni)
            std::abort();
    } catch (const AppError&) {
        std::abort();
    }
    return 0;
}
