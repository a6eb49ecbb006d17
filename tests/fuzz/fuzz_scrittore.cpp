// Fuzzing the song dialog's selection text turned into a compilation file:
// any selection gives the file or a clear error, and the file reads back as
// the folder and names the selection held.

#include "compilation/FormatoCompilation.h"
#include "comune/Errori.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sonora;
    // Bytes 0xFF stand for the character of code 0 that separates names.
    QByteArray raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString selection = QString::fromUtf8(raw.replace('\xFF', '\0'));
    QByteArray file;
    try {
        file = formato::daSelezione(selection);
    } catch (const AppError&) {
        return 0;
    }
    if (!file.endsWith("\r\n") || selection.startsWith(QChar(0xFEFF)))
        return 0;
    try {
        const formato::Contenuto c = formato::leggi(file, QStringLiteral("prova.cmp"));
        QStringList parts = selection.split(QChar(0));
        const QString folder = parts.takeFirst();
        if (c.cartella != folder || c.canzoni != parts)
            std::abort();
    } catch (const FileError&) {
        // Only an oversized selection may be refused, and it never gets here.
        std::abort();
    }
    return 0;
}
