// Real file-system faults while creating, opening and rewriting
// compilations: each gives a clear Italian message naming the file and the
// reason, no compilation is left half-written, and the program goes on.

#include "platform/TextFiles.h"
#include "support/FinestraDiProva.h"
#include "support/TempDir.h"
#include "support/Tmpfs.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sonora;
using namespace sonora::test;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

struct GuastiFile : ::testing::Test {
    FinestraDiProva w;

    // The one error box the last command showed.
    QString error()
    {
        EXPECT_EQ(w.messages->shown.size(), 1);
        const QString text = w.messages->shown.value(0).prompt;
        w.messages->shown.clear();
        return text;
    }

    // Opening a good compilation still works.
    void stillWorks(const TempDir& dir)
    {
        const QString good = dir.write("buona.cmp", "/m\r\na.wav\r\nb.wav\r\n");
        w.dialog->pick({good});
        w->cmdCompilation->click();
        EXPECT_TRUE(w.messages->shown.isEmpty());
        EXPECT_EQ(w->List1->count(), 2);
    }
};

// The same on a small RAM disk, where the disk itself can fail.
struct GuastiDisco : GuastiFile {
    Tmpfs disk{64 * 1024};

    void SetUp() override
    {
        if (!disk.mounted())
            GTEST_SKIP() << "cannot mount a small file system here";
    }
};

} // namespace

TEST_F(GuastiDisco, FullDiskLeavesTheCompilationAsItWas)
{
    // A compilation without songs: opening it asks for songs and rewrites it.
    const QString path = disk.file("senza canzoni.cmp");
    writeFile(path, "/vecchia cartella\r\n");
    // Fill the disk.
    QFile filler(disk.file("riempitivo"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();

    QStringList songs;
    for (int i = 0; i < 200; ++i)
        songs << QStringLiteral("/musica/canzone numero %1.wav").arg(i);
    w.dialog->pick({path});
    w.dialog->pick(songs);
    w->cmdCompilation->click();

    ASSERT_EQ(w.messages->shown.size(), 2);
    EXPECT_EQ(w.messages->shown[0].prompt, "Errore! È necessario selezionare almeno due file.");
    const QString text = w.messages->shown[1].prompt;
    EXPECT_TRUE(text.contains(path)) << text.toStdString();
    EXPECT_TRUE(text.contains("spazio su disco esaurito")) << text.toStdString();
    EXPECT_EQ(readFile(path), QByteArray("/vecchia cartella\r\n"));
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "no temporary file left";
    w.messages->shown.clear();
    TempDir other;
    stillWorks(other);
}

TEST_F(GuastiDisco, ReadOnlyDiskRefusesNewCompilationsButStillOpensOldOnes)
{
    const QString old = disk.file("vecchia.cmp");
    writeFile(old, "/m\r\nuno.wav\r\ndue.wav\r\n");
    ASSERT_TRUE(disk.makeReadOnly());

    w.dialog->pick({disk.file("nuova.cmp")});
    w->cmdNuova->click();
    const QString text = error();
    EXPECT_TRUE(text.contains(disk.file("nuova.cmp")));
    EXPECT_TRUE(text.contains("sola lettura"));
    EXPECT_EQ(w->lblNomeCompilation->text(), "- Nessuna -") << "nothing was created";

    w.dialog->pick({old});
    w->cmdCompilation->click();
    EXPECT_TRUE(w.messages->shown.isEmpty());
    EXPECT_EQ(w->List1->count(), 2);
}

TEST_F(GuastiFile, ADirectoryWhereTheCompilationWasIsNamedAsSuch)
{
    TempDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("mix.cmp"));
    w.dialog->pick({dir.file("mix.cmp")});
    w->cmdCompilation->click();
    const QString text = error();
    EXPECT_TRUE(text.contains(dir.file("mix.cmp")));
    EXPECT_TRUE(text.contains("è una cartella"));

    // "Nuova" over it: the save dialog would not offer it, but a typed name can.
    w.dialog->pick({dir.file("mix.cmp")});
    w->cmdNuova->click();
    EXPECT_TRUE(error().contains("è una cartella"));
    EXPECT_TRUE(QFileInfo(dir.file("mix.cmp")).isDir());
    stillWorks(dir);
}

TEST_F(GuastiFile, MissingFolderOrFileIsNamed)
{
    TempDir dir;
    w.dialog->pick({dir.file("sparita/mix.cmp")});
    w->cmdNuova->click();
    QString text = error();
    EXPECT_TRUE(text.contains(dir.file("sparita/mix.cmp")));
    EXPECT_TRUE(text.contains("non trovati"));

    w.dialog->pick({dir.file("nessuna.cmp")});
    w->cmdCompilation->click();
    EXPECT_TRUE(error().contains("non trovati"));
    stillWorks(dir);
}

TEST_F(GuastiFile, HugeOrBinaryFilesAreRefusedBeforeTheyAreRead)
{
    TempDir dir;
    const QString huge = dir.file("enorme.cmp");
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(2) * 1024 * 1024 * 1024)); // sparse: takes no disk
    }
    w.dialog->pick({huge});
    w->cmdCompilation->click();
    EXPECT_TRUE(error().contains("troppo grande"));
    stillWorks(dir);
}

// Root may read and write every file: the permission cases run in a child
// process that became an ordinary user, on a window made before the fork.
TEST_F(GuastiFile, AsAnOrdinaryUserWhatMayNotBeWrittenIsRefusedAndWhatMayIsSaved)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become an ordinary user";
    constexpr uid_t Nobody = 65534;
    TempDir dir;
    auto setMode = [](const QString& path, mode_t mode) { ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0); };
    setMode(dir.path(), 0755);
    const QString secret = dir.write("segreta.cmp", "/m\r\na.wav\r\nb.wav\r\n");
    setMode(secret, 0600);
    // The user's own read-only compilation, in a folder the user may write.
    ASSERT_TRUE(QDir(dir.path()).mkdir("aperta"));
    setMode(dir.file("aperta"), 0777);
    const QString readOnly = dir.write("aperta/sola lettura.cmp", "/m\r\nuno.wav\r\ndue.wav\r\n");
    ASSERT_EQ(::chown(QFile::encodeName(readOnly).constData(), Nobody, Nobody), 0);
    setMode(readOnly, 0444);
    // A compilation without songs that anyone may write, in a folder where
    // nothing may be created.
    ASSERT_TRUE(QDir(dir.path()).mkdir("chiusa"));
    const QString inLocked = dir.write("chiusa/senza canzoni.cmp", "/m\r\n");
    setMode(inLocked, 0666);
    setMode(dir.file("chiusa"), 0555);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0
            || ::setresuid(Nobody, Nobody, Nobody) != 0)
            ::_exit(100);
        auto refused = [&](QPushButton* command, const QString& path) {
            w.messages->shown.clear();
            w.dialog->pick({path});
            command->click();
            return w.messages->shown.size() == 1 && w.messages->shown[0].prompt.contains(path)
                && w.messages->shown[0].prompt.contains("permesso negato");
        };
        int code = 0;
        if (!refused(w->cmdCompilation, secret))
            code |= 1;
        if (!refused(w->cmdNuova, readOnly))
            code |= 2;
        w.messages->shown.clear();
        w.dialog->pick({inLocked});
        w.dialog->pick({"/musica/a.wav", "/musica/b.wav"});
        w->cmdCompilation->click();
        if (w.messages->shown.size() != 1 || w->List1->count() != 2)
            code |= 4;
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: unreadable file, 2: read-only file, 4: file in a locked folder";
    EXPECT_EQ(readFile(readOnly), QByteArray("/m\r\nuno.wav\r\ndue.wav\r\n"));
    EXPECT_EQ(readFile(inLocked), QByteArray("/musica\r\na.wav\r\nb.wav\r\n"));
    setMode(dir.file("chiusa"), 0755);
}
