#include "platform/MessageBox.h"
#include "support/FinestraDiProva.h"
#include "support/TempDir.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

namespace {

const QString NoSong = QStringLiteral("Errore! È necessario selezionare almeno due file.");

QStringList listEntries(const QListWidget* list)
{
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

struct Comandi : ::testing::Test {
    TempDir dir;
    FinestraDiProva w;

    QString song(const QString& name) const { return dir.path() + "/" + name; }

    // "Nuova", saving as `name`, then picking `songs` from the temp folder.
    void nuova(const QString& name, const QStringList& songs)
    {
        w.dialog->pick({dir.file(name)});
        QStringList paths;
        for (const QString& s : songs)
            paths << song(s);
        w.dialog->pick(paths);
        w->cmdNuova->click();
    }

    void apri(const QString& path)
    {
        w.dialog->pick({path});
        w->cmdCompilation->click();
    }

    void expectNoErrors() const
    {
        for (const ShownMessage& m : w.messages->shown)
            ADD_FAILURE() << "unexpected message: " << m.prompt.toStdString();
    }
};

} // namespace

TEST_F(Comandi, NuovaWritesTheExactFileAndLoadsItFirstAndLastSwapped)
{
    nuova("Estate 97.cmp", {"uno.wav", "due.mid"});
    expectNoErrors();
    EXPECT_EQ(TempDir::read(dir.file("Estate 97.cmp")),
              (dir.path() + "\r\nuno.wav\r\ndue.mid\r\n").toUtf8());
    EXPECT_EQ(w.compilation->CartellaCanzoni, dir.path());
    EXPECT_EQ(w.compilation->Canzoni, QStringList({"due.mid", "uno.wav"}));
    EXPECT_EQ(w.compilation->UltimaCanzone, 1);
    EXPECT_EQ(listEntries(w->List1), QStringList({"due.mid", "uno.wav"}));
    EXPECT_EQ(w->List1->currentRow(), 0);
    EXPECT_EQ(w->MMControl1->idleFlag(), Vero);
    EXPECT_EQ(w->lblNomeCompilation->text(), "Estate 97");
    EXPECT_EQ(w.compilation->FileCompilation, dir.file("Estate 97.cmp"));

    // The dialogs were asked exactly as the commands set them.
    ASSERT_EQ(w.dialog->shown.size(), 2);
    const FileDialogRequest& save = w.dialog->shown[0];
    EXPECT_EQ(save.mode, FileDialogRequest::Mode::Save);
    EXPECT_EQ(save.title, "Sonoraccoltiera - Nuova compilation");
    EXPECT_EQ(save.filter, "File compilation (*.cmp)|*.cmp|Tutti i file|*.*");
    EXPECT_EQ(save.defaultExt, ".cmp");
    const FileDialogRequest& songs = w.dialog->shown[1];
    EXPECT_EQ(songs.mode, FileDialogRequest::Mode::Open);
    EXPECT_EQ(songs.title, "Sonoraccoltiera - Nuova compilation");
    EXPECT_EQ(songs.flags, 524800);
    EXPECT_EQ(songs.filter,
              "File Wave (*.wav)|*.wav|File MIDI (*.mid;*.rmi)|*.mid;*.rmi|File video (*.avi)|*.avi|Tutti i file|*.*");
    EXPECT_EQ(songs.defaultExt, ".wav");
    EXPECT_EQ(w->CommonDialog1.MaxFileSize, 32000);
}

TEST_F(Comandi, FourSongsShowLastMiddleFirstAndTheFileKeepsDialogOrder)
{
    nuova("mix.cmp", {"a", "b", "c", "d"});
    EXPECT_EQ(listEntries(w->List1), QStringList({"d", "b", "c", "a"}));
    EXPECT_EQ(TempDir::read(dir.file("mix.cmp")), (dir.path() + "\r\na\r\nb\r\nc\r\nd\r\n").toUtf8());
}

TEST_F(Comandi, TitleChangesBeforeTheSongDialogOpens)
{
    QString titleWhenSongDialogShown;
    w.dialog->onShow([&](const FileDialogRequest& r) {
        if (r.flags & CommonDialog::AllowMultiselect)
            titleWhenSongDialogShown = w->lblNomeCompilation->text();
    });
    nuova("Inverno.cmp", {"a.wav", "b.wav"});
    EXPECT_EQ(titleWhenSongDialogShown, "Inverno");
    // The new file existed, empty, while the song dialog was open.
}

TEST_F(Comandi, CancelledNuovaOrApriLeavesTheEmptyStateAndTheOldTitle)
{
    nuova("Primo.cmp", {"a.wav", "b.wav"});
    w.lettore->RiproduzioneAttiva = Vero;
    w.lettore->IndiceCanzone = 2;
    for (QPushButton* button : {w->cmdNuova, w->cmdCompilation}) {
        w.media->calls.clear();
        w.dialog->cancel();
        button->click();
        EXPECT_EQ(w->List1->count(), 0);
        EXPECT_TRUE(w.compilation->Canzoni.isEmpty());
        EXPECT_EQ(w.compilation->UltimaCanzone, 0);
        EXPECT_TRUE(w.compilation->CartellaCanzoni.isEmpty());
        EXPECT_TRUE(w.compilation->FileCompilation.isEmpty());
        EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
        EXPECT_EQ(w.lettore->IndiceCanzone, 0);
        EXPECT_EQ(w.media->calls, QStringList({"close"}));
        EXPECT_EQ(w->lblNomeCompilation->text(), "Primo");
    }
    expectNoErrors();
}

TEST_F(Comandi, ApriLoadsHandMadeFilesOfAnyLineEndAndEncodingUnchanged)
{
    struct Case {
        const char* bytes;
        QStringList list;
        const char* folder;
    };
    const Case cases[] = {
        {"/m\r\nsolo.wav\r\n", {"solo.wav"}, "/m"},             // one song, no message
        {"/m/\r\na.wav\r\nb.wav", {"b.wav", "a.wav"}, "/m/"},    // no final line end; folder kept as read
        {"/m\r\na.wav\r\nb.wav\r\n\r\n", {"", "b.wav", "a.wav"}, "/m"}, // trailing empty line is a song
        {"/m\na.wav\nb.wav\n", {"b.wav", "a.wav"}, "/m"},        // LF only
        {"/m\ra.wav\rb.wav\r", {"b.wav", "a.wav"}, "/m"},        // CR only
        {"/Citt\xE0\r\nperch\xE9.wav\r\nb.wav\r\n", {"b.wav", "perché.wav"}, "/Città"}, // Windows-1252
    };
    for (const Case& c : cases) {
        const QString path = dir.write("prova.cmp", c.bytes);
        apri(path);
        EXPECT_EQ(listEntries(w->List1), c.list) << c.bytes;
        EXPECT_EQ(w.compilation->CartellaCanzoni, QString(c.folder));
        EXPECT_EQ(w->List1->currentRow(), 0);
        EXPECT_EQ(w->lblNomeCompilation->text(), "prova");
        EXPECT_EQ(TempDir::read(path), QByteArray(c.bytes)) << "a file with songs is never rewritten";
    }
    expectNoErrors();
}

TEST_F(Comandi, FileWithoutSongsAsksAgainUntilSongsAreChosen)
{
    for (const QByteArray& bytes : {QByteArray("/m\r\n"), QByteArray("\r\n"), QByteArray()}) {
        const QString path = dir.write("vuota.cmp", bytes);
        w.messages->shown.clear();
        w.dialog->pick({path});                  // "Apri"
        w.dialog->pick({song("solo.wav")});      // one file: still no song
        w.dialog->pick({song("x.wav"), song("y.wav")});
        QString titleDuringLoop;
        w.messages->onShow = [&](const ShownMessage&) { titleDuringLoop = w->lblNomeCompilation->text(); };
        w->lblNomeCompilation->setText("prima");
        w->cmdCompilation->click();

        ASSERT_EQ(w.messages->shown.size(), 2);
        for (const ShownMessage& m : w.messages->shown) {
            EXPECT_EQ(m.prompt, NoSong);
            EXPECT_EQ(m.title, "Sonoraccoltiera");
            EXPECT_EQ(m.style, 0);
        }
        EXPECT_EQ(titleDuringLoop, "prima") << "the title is shown after the songs are loaded";
        EXPECT_EQ(listEntries(w->List1), QStringList({"y.wav", "x.wav"}));
        EXPECT_EQ(w->lblNomeCompilation->text(), "vuota");
        EXPECT_EQ(TempDir::read(path), (dir.path() + "\r\nx.wav\r\ny.wav\r\n").toUtf8());
        EXPECT_EQ(w.dialog->pending(), 0);
    }
}

TEST_F(Comandi, CancellingTheSongChoiceEndsTheCommandAndWritesNothing)
{
    // "Apri" with "Tutti i file" on a text file that is no compilation.
    const QByteArray note = "pane, latte, uova\r\n";
    const QString path = dir.write("spesa.txt", note);
    w->lblNomeCompilation->setText("prima");
    w.dialog->pick({path});
    w.dialog->cancel();
    w->cmdCompilation->click();
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_EQ(w.messages->shown[0].prompt, NoSong);
    EXPECT_EQ(TempDir::read(path), note);
    EXPECT_EQ(w->List1->count(), 0);
    EXPECT_TRUE(w.compilation->FileCompilation.isEmpty());
    EXPECT_TRUE(w.compilation->CartellaCanzoni.isEmpty());
    EXPECT_EQ(w->lblNomeCompilation->text(), "prima");

    // "Nuova", then cancel: the empty file made first stays, and no box.
    w.messages->shown.clear();
    w.dialog->pick({dir.file("nuova.cmp")});
    w.dialog->cancel();
    w->cmdNuova->click();
    expectNoErrors();
    EXPECT_TRUE(QFileInfo::exists(dir.file("nuova.cmp")));
    EXPECT_EQ(TempDir::read(dir.file("nuova.cmp")), QByteArray());
    EXPECT_EQ(w->List1->count(), 0);
    EXPECT_TRUE(w.compilation->FileCompilation.isEmpty());
    EXPECT_EQ(w->lblNomeCompilation->text(), "nuova");
    EXPECT_EQ(w.dialog->pending(), 0);
}

TEST_F(Comandi, TooManySongsIsAClearErrorAndNothingIsWritten)
{
    QByteArray ok = "/m\r\n";
    for (int i = 0; i < 32767; ++i)
        ok += "s" + QByteArray::number(i) + ".wav\r\n";
    apri(dir.write("max.cmp", ok));
    expectNoErrors();
    EXPECT_EQ(w->List1->count(), 32767);
    EXPECT_EQ(w.compilation->UltimaCanzone, 32766);

    const QByteArray tooMany = ok + "una di troppo.wav\r\n";
    const QString path = dir.write("troppe.cmp", tooMany);
    apri(path);
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_TRUE(w.messages->shown[0].prompt.contains("32767"));
    EXPECT_TRUE(w.messages->shown[0].prompt.contains(path));
    EXPECT_EQ(w.messages->shown[0].style, MsgBoxStyle::Critical);
    EXPECT_EQ(w->List1->count(), 0);
    EXPECT_EQ(TempDir::read(path), tooMany);
}

TEST_F(Comandi, UnreadableInputGivesAClearErrorNamingTheFile)
{
    nuova("canzoni.cmp", {"a.wav", "b.wav"});
    // After a song choice the open dialog keeps multiple selection: picking
    // two compilations yields a name that is no path.
    w.dialog->pick({dir.file("uno.cmp"), dir.file("due.cmp")});
    w->cmdCompilation->click();
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_TRUE(w.messages->shown[0].prompt.contains("non è un percorso valido"));
    EXPECT_EQ(w.messages->shown[0].title, "Sonoraccoltiera");

    w.messages->shown.clear();
    apri(dir.write("binario.cmp", QByteArray("/m\r\na\0b.wav\r\n", 13)));
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_TRUE(w.messages->shown[0].prompt.contains("binari"));
    EXPECT_EQ(w->List1->count(), 0);

    w.messages->shown.clear();
    apri(dir.path());
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_TRUE(w.messages->shown[0].prompt.contains("cartella"));
    // The window still works after every error.
    apri(dir.file("canzoni.cmp"));
    EXPECT_EQ(w->List1->count(), 2);
}

TEST_F(Comandi, TitleIsTheNameWithoutItsLastFourCharacters)
{
    const struct {
        const char* file;
        const char* title;
    } cases[] = {{"Mix.cmp", "Mix"}, {"Canzoni.txt", "Canzoni"}, {"a.b", "a.b"}, {"abcd", ""}};
    for (const auto& c : cases) {
        nuova(c.file, {"a.wav", "b.wav"});
        EXPECT_EQ(w->lblNomeCompilation->text(), QString(c.title)) << c.file;
    }
}

TEST_F(Comandi, StartsWithNoCompilationAndThePlayerArmed)
{
    EXPECT_EQ(w->lblNomeCompilation->text(), "- Nessuna -");
    EXPECT_EQ(w->List1->count(), 0);
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Vero);
    EXPECT_EQ(w->MMControl1->startupFlagA(), Vero);
    EXPECT_EQ(w->MMControl1->nextSongFlag(), Falso);
    EXPECT_EQ(w->MMControl1->startupFlagB(), Falso);
}
