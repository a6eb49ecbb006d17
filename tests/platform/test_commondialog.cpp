#include "platform/CommonDialog.h"
#include "platform/QtFileDialog.h"
#include "support/FakeFileDialog.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <QFileDialog>
#include <QListView>
#include <QSortFilterProxyModel>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace sonora;
using sonora::test::FakeFileDialog;

namespace {

struct Dialog {
    FakeFileDialog* fake;
    CommonDialog dialog;
    Dialog() : fake(new FakeFileDialog), dialog(std::unique_ptr<IFileDialogBackend>(fake)) {}
};

const QString Nul(QChar(0));

} // namespace

TEST(CommonDialog, ResultTextForOneSeveralAndNoFiles)
{
    Dialog d;
    d.dialog.Flags = CommonDialog::AllowMultiselect | CommonDialog::Explorer;
    d.dialog.MaxFileSize = 32000;

    d.fake->pick({"/musica/uno.wav", "/musica/due.mid"});
    d.dialog.FileName = "";
    d.dialog.ShowOpen();
    EXPECT_EQ(d.dialog.FileName, "/musica" + Nul + "uno.wav" + Nul + "due.mid");

    d.fake->pick({"/musica/solo.wav"});
    d.dialog.FileName = "";
    d.dialog.ShowOpen();
    EXPECT_EQ(d.dialog.FileName, "/musica/solo.wav");

    d.fake->cancel();
    d.dialog.FileName = "scritto prima";
    d.dialog.ShowOpen();
    EXPECT_EQ(d.dialog.FileName, "scritto prima");
}

TEST(CommonDialog, SettingsAreStickyAcrossUses)
{
    Dialog d;
    d.dialog.DialogTitle = "Titolo";
    d.dialog.Flags = 0x80200;
    d.dialog.Filter = "A|*.a";
    d.dialog.DefaultExt = ".a";
    d.fake->cancel();
    d.dialog.ShowSave();
    d.dialog.Filter = "B|*.b";
    d.fake->cancel();
    d.dialog.ShowOpen();

    ASSERT_EQ(d.fake->shown.size(), 2);
    const FileDialogRequest& second = d.fake->shown[1];
    EXPECT_EQ(second.mode, FileDialogRequest::Mode::Open);
    EXPECT_EQ(second.title, "Titolo");
    EXPECT_EQ(second.flags, 0x80200);
    EXPECT_EQ(second.filter, "B|*.b");
    EXPECT_EQ(second.defaultExt, ".a");
}

TEST(CommonDialog, SelectionLongerThanTheBufferIsAnErrorNotACutList)
{
    Dialog d;
    d.dialog.Flags = CommonDialog::AllowMultiselect;
    d.dialog.MaxFileSize = 20;
    d.fake->pick({"/m/aaaaaaaa.wav", "/m/bbbbbbbb.wav"}); // "/m" + 2 × 13 = 28 characters
    d.dialog.FileName = "";
    EXPECT_THROW(d.dialog.ShowOpen(), AppError);
    EXPECT_EQ(d.dialog.FileName, "");
}

TEST(CommonDialog, WithoutMultipleSelectionOnlyAPathComesBack)
{
    EXPECT_EQ(CommonDialog::selectionText({"/a/b.cmp"}, false), "/a/b.cmp");
    EXPECT_EQ(CommonDialog::selectionText({"/a/b.wav", "/a/c.wav"}, true), "/a" + Nul + "b.wav" + Nul + "c.wav");
}

TEST(QtFileDialog, FiltersBecomeCaseInsensitiveQtNameFilters)
{
    const QStringList f = QtFileDialog::nameFilters(
        "File MIDI (*.mid;*.rmi)|*.mid;*.rmi|Tutti i file|*.*");
    ASSERT_EQ(f.size(), 2);
    EXPECT_EQ(f[0], "File MIDI (*.mid;*.rmi) (*.[mM][iI][dD] *.[rR][mM][iI])");
    EXPECT_EQ(f[1], "Tutti i file (*)");

    sonora::test::TempDir dir;
    for (const char* name : {"CANZONE.WAV", "altra.wav", "Mista.Wav", "nota.mid", "senza_estensione"})
        dir.write(name, "x");
    const QStringList wav = QtFileDialog::nameFilters("File Wave (*.wav)|*.wav");
    const QString patterns = wav[0].section('(', -1).chopped(1);
    EXPECT_EQ(QDir(dir.path()).entryList(patterns.split(' '), QDir::Files, QDir::Name),
              QStringList({"CANZONE.WAV", "Mista.Wav", "altra.wav"}));
    const QString all = QtFileDialog::nameFilters("Tutti|*.*")[0].section('(', -1).chopped(1);
    EXPECT_EQ(QDir(dir.path()).entryList({all}, QDir::Files).size(), 5);
}

TEST(QtFileDialog, ConfiguresModeTitleAndSuffix)
{
    QFileDialog dialog;
    FileDialogRequest save{FileDialogRequest::Mode::Save, "Sonoraccoltiera - Nuova compilation",
                           "File compilation (*.cmp)|*.cmp|Tutti i file|*.*", "", ".cmp", 0};
    QtFileDialog::configure(dialog, save);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog.windowTitle(), "Sonoraccoltiera - Nuova compilation");
    EXPECT_EQ(dialog.defaultSuffix(), "cmp");
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));

    FileDialogRequest songs{FileDialogRequest::Mode::Open, "", "A|*.wav", "", ".wav", 0x80200};
    QtFileDialog::configure(dialog, songs);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
    songs.flags = 0;
    QtFileDialog::configure(dialog, songs);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
}

TEST(QtFileDialog, RealDialogListsCapitalisedSongsAndReturnsTheSelection)
{
    sonora::test::TempDir dir;
    dir.write("CANZONE.WAV", "x");
    dir.write("nota.txt", "x");
    QFileDialog dialog;
    QtFileDialog::configure(dialog, {FileDialogRequest::Mode::Open, "", "File Wave (*.wav)|*.wav", "", ".wav", 0x80200});
    dialog.setDirectory(dir.path());
    dialog.show();
    auto* view = dialog.findChild<QListView*>("listView");
    ASSERT_NE(view, nullptr);
    auto rows = [&] {
        QStringList names;
        const QModelIndex root = view->rootIndex();
        for (int i = 0; i < view->model()->rowCount(root); ++i)
            names << view->model()->index(i, 0, root).data().toString();
        return names;
    };
    sonora::test::waitUntil([&] { return rows().size() == 1; });
    EXPECT_EQ(rows(), QStringList({"CANZONE.WAV"}));
}
