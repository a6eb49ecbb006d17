#include "comune/AperturaBrano.h"

#include "comune/Errori.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace sonora {
namespace {

// `cartella`: the error came from looking the name up, not from opening the file.
[[noreturn]] void nonSiApre(const QString& path, int errore, bool cartella)
{
    if (errore == ENOENT)
        throw MediaError(path, QStringLiteral("file non trovato: controllare che esista ancora e che il percorso sia "
                                              "giusto"));
    if ((errore == EACCES || errore == EPERM) && cartella)
        throw MediaError(path, QStringLiteral("permesso negato: non si può entrare nella cartella del file"));
    if (errore == EACCES || errore == EPERM)
        throw MediaError(path, QStringLiteral("permesso negato: il file non si può leggere; controllarne i permessi"));
    throw MediaError(path, reasonFromErrno(errore));
}

} // namespace

void verificaBrano(const struct stat& st, const QString& path)
{
    if (S_ISDIR(st.st_mode))
        throw MediaError(path, QStringLiteral("è una cartella, non un file: scegliere un file WAV, MIDI o AVI"));
    if (!S_ISREG(st.st_mode))
        throw MediaError(path, QStringLiteral("non è un file normale (forse una pipe o un dispositivo): "
                                              "scegliere un file WAV, MIDI o AVI"));
    if (st.st_size == 0)
        throw MediaError(path, QStringLiteral("il file è vuoto: forse la copia non è andata a buon fine"));
}

OwnedFd apriBrano(const QString& path)
{
    // A character of code 0 would cut the name short: no such file exists.
    if (path.isEmpty() || path.contains(QChar(0)))
        throw MediaError(path, QStringLiteral("nessun file indicato: scegliere un brano"));
    const QByteArray nome = QFile::encodeName(path);
    // Looked at before it is opened: opening a device may itself do something.
    struct stat st {};
    if (::stat(nome.constData(), &st) != 0)
        nonSiApre(path, errno, true);
    verificaBrano(st, path);
    // Not blocking, should it have become a FIFO meanwhile; checked again once open.
    OwnedFd fd(::open(nome.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd)
        nonSiApre(path, errno, false);
    if (::fstat(fd.get(), &st) != 0)
        nonSiApre(path, errno, false);
    verificaBrano(st, path);
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace sonora
