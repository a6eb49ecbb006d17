// The commands "Nuova", "Apri" and "Esci" and the procedures behind them.

#include "app/frmPrincipale.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>

namespace sonora {
namespace {

const QString CompilationFilter = QStringLiteral("File compilation (*.cmp)|*.cmp|Tutti i file|*.*");

} // namespace

void frmPrincipale::cmdNuova_Click()
{
    AzzeraCompilation();
    NuovaCompilation();
}

void frmPrincipale::cmdCompilation_Click()
{
    AzzeraCompilation();
    CommonDialog1.Filter = CompilationFilter;
    CommonDialog1.FileName = QString();
    CommonDialog1.DefaultExt = QStringLiteral(".cmp");
    CommonDialog1.ShowOpen();
    FileCompilation = CommonDialog1.FileName;
    if (FileCompilation.isEmpty())
        return;
    CaricaCompilation();
    if (FileCompilation.isEmpty()) // the renewed song choice was cancelled
        return;
    MostraTitolo();
}

void frmPrincipale::cmdFine_Click()
{
    MMControl1->setCommand(comando::Close);
    terminaApplicazione_();
}

void frmPrincipale::NuovaCompilation()
{
    CommonDialog1.DialogTitle = QStringLiteral("Sonoraccoltiera - Nuova compilation");
    CommonDialog1.Filter = CompilationFilter;
    CommonDialog1.FileName = QString();
    CommonDialog1.DefaultExt = QStringLiteral(".cmp");
    CommonDialog1.ShowSave();
    FileCompilation = CommonDialog1.FileName;
    if (!FileCompilation.isEmpty())
        CreaFileCompilation();
}

void frmPrincipale::AzzeraCompilation()
{
    List1->clear();
    Canzoni.clear();
    UltimaCanzone = 0;
    CartellaCanzoni.clear();
    FileCompilation.clear();
    RiproduzioneAttiva = Falso;
    MMControl1->setCommand(comando::CloseAll);
    IndiceCanzone = 0;
}

void frmPrincipale::MostraTitolo()
{
    const Intero length = FileCompilation.size();
    const QChar separator = QDir::separator();
    // The name after the last separator; a path without one is all name.
    QString titolo = FileCompilation;
    for (Intero i = 0; i < length; ++i) {
        if (FileCompilation.at(i.valore()) == separator)
            titolo = FileCompilation.mid(i.valore() + 1);
    }
    // Drop the extension, that is the last four characters whatever they
    // are; a name too short for that is shown as it is.
    if (titolo.size() >= 4)
        titolo.chop(4);
    lblNomeCompilation->setText(titolo);
}

void frmPrincipale::PreparaLettura()
{
    MMControl1->setIdleFlag(Vero);
    List1->setCurrentRow(0);
    PreparaInizio();
}

} // namespace sonora
