// Creating, writing and reading the compilation file.

#include "app/frmPrincipale.h"
#include "compilation/FormatoCompilation.h"
#include "platform/ErrorBoundary.h"
#include "platform/TextFiles.h"

#include <QListWidget>

namespace sonora {
namespace {

const QString MediaFilter = QStringLiteral(
    "File Wave (*.wav)|*.wav|File MIDI (*.mid;*.rmi)|*.mid;*.rmi|File video (*.avi)|*.avi|Tutti i file|*.*");
const QString NoSongMessage = QStringLiteral("Errore! È necessario selezionare almeno due file.");

} // namespace

void frmPrincipale::CreaFileCompilation()
{
    textfiles::save(FileCompilation, QByteArray());
    MostraTitolo();
    ScegliCanzoni();
}

void frmPrincipale::ScegliCanzoni()
{
    if (ScriviSceltaCanzoni())
        CaricaCompilation();
}

// The song dialog, then the file written from its selection. Cancel ends
// the command: nothing is written, so a file opened by mistake stays as it
// was, and no compilation is left open.
bool frmPrincipale::ScriviSceltaCanzoni()
{
    CommonDialog1.Flags = CommonDialog::AllowMultiselect | CommonDialog::Explorer;
    CommonDialog1.MaxFileSize = 32000;
    CommonDialog1.Filter = MediaFilter;
    CommonDialog1.FileName = QString();
    CommonDialog1.DefaultExt = QStringLiteral(".wav");
    CommonDialog1.ShowOpen();
    if (CommonDialog1.FileName.isEmpty()) {
        CartellaCanzoni.clear();
        FileCompilation.clear();
        return false;
    }
    textfiles::save(FileCompilation, formato::daSelezione(CommonDialog1.FileName));
    return true;
}

void frmPrincipale::CaricaCompilation()
{
    // A file without songs brings the message and the song dialog back until
    // the choice yields songs or is cancelled; a loop rather than recursion
    // keeps a patient user from exhausting the stack.
    for (;;) {
        const formato::Contenuto contenuto =
            formato::leggi(textfiles::readAll(FileCompilation, formato::MaxFileBytes), FileCompilation);
        CartellaCanzoni = contenuto.cartella;
        for (const QString& canzone : contenuto.canzoni) {
            Canzoni.append(canzone);
            ++UltimaCanzone;
        }

        if (UltimaCanzone != 0)
            break;
        messaggi().MsgBox(NoSongMessage, MsgBoxStyle::OkOnly, ApplicationTitle);
        if (!ScriviSceltaCanzoni())
            return;
    }

    UltimaCanzone = UltimaCanzone - 1;
    ScambiaPrimaUltima();
    List1->addItems(Canzoni.mid(0, UltimaCanzone.valore() + 1));
    PreparaLettura();
}

void frmPrincipale::ScambiaPrimaUltima()
{
    const QString primo = Canzoni.at(0);
    const QString ultimo = Canzoni.at(UltimaCanzone.valore());
    Canzoni[0] = ultimo;
    Canzoni[UltimaCanzone.valore()] = primo;
}

} // namespace sonora
