#include "comune/Errori.h"

#include <cerrno>
#include <cstring>

namespace sonora {

namespace {
// A multiple selection's text separates names with characters of code 0,
// which a message box cannot show.
QString shown(QString path) { return path.replace(QChar(0), QLatin1Char(' ')); }
} // namespace

FileError::FileError(const QString& path, const QString& reason)
    : AppError(QStringLiteral("Impossibile usare il file «%1»: %2.").arg(shown(path), reason))
    , path_(path)
    , reason_(reason)
{
}

MediaError::MediaError(const QString& path, const QString& reason)
    : AppError(QStringLiteral("Impossibile riprodurre «%1»: %2.").arg(path, reason))
{
}

OverflowError::OverflowError()
    : AppError(QStringLiteral("Overflow: un contatore ha superato il valore massimo consentito (32767)."))
{
}

SubscriptError::SubscriptError(long long index, long long count)
    : AppError(count == 0 ? QStringLiteral("Nessuna canzone: aprire o creare prima una compilation.")
               : index < 0 ? QStringLiteral("Nessuna canzone selezionata: sceglierne una nell'elenco.")
                           : QStringLiteral("Nessuna canzone alla posizione %1: la compilation ne ha %2.")
                                 .arg(index)
                                 .arg(count))
{
}

QString reasonFromErrno(int error)
{
    switch (error) {
    case ENOENT: return QStringLiteral("file o cartella non trovati");
    case EACCES:
    case EPERM: return QStringLiteral("permesso negato");
    case EISDIR: return QStringLiteral("è una cartella, non un file");
    case ENOTDIR: return QStringLiteral("una parte del percorso non è una cartella");
    case ENOSPC: return QStringLiteral("spazio su disco esaurito");
    case EDQUOT: return QStringLiteral("quota disco superata");
    case EROFS: return QStringLiteral("il disco è in sola lettura");
    case ENAMETOOLONG: return QStringLiteral("nome del file troppo lungo");
    case EMFILE:
    case ENFILE: return QStringLiteral("troppi file aperti");
    case EIO: return QStringLiteral("errore di lettura o scrittura sul disco");
    default: return QStringLiteral("errore di sistema (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace sonora
