#include "comune/Errori.h"
#include "platform/TextFiles.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace sonora;
using sonora::test::TempDir;

namespace {

QString reasonOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const FileError& e) {
        EXPECT_TRUE(e.message().contains(e.path())) << e.message().toStdString();
        return e.reason();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(TextFiles, ReadRefusesMissingDirectoriesAndOversizedFilesClearly)
{
    TempDir dir;
    EXPECT_EQ(reasonOf([&] { textfiles::readAll(dir.file("nessuno.cmp"), 100); }),
              QStringLiteral("file o cartella non trovati"));
    EXPECT_EQ(reasonOf([&] { textfiles::readAll(dir.path(), 100); }),
              QStringLiteral("è una cartella, non un file"));
    const QString big = dir.write("grande.cmp", QByteArray(101, 'x'));
    EXPECT_TRUE(reasonOf([&] { textfiles::readAll(big, 100); }).startsWith(QStringLiteral("è troppo grande")));
    EXPECT_EQ(textfiles::readAll(dir.write("ok.cmp", "abc"), 100), QByteArray("abc"));
}

TEST(TextFiles, SaveReplacesContentAndKeepsPermissions)
{
    TempDir dir;
    const QString path = dir.write("mix.cmp", "vecchio contenuto, più lungo del nuovo");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    textfiles::save(path, "nuovo");
    EXPECT_EQ(TempDir::read(path), QByteArray("nuovo"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(TextFiles, SaveThroughASymlinkUpdatesTheLinkedFileAndKeepsTheLink)
{
    TempDir dir;
    const QString real = dir.write("vero.cmp", "a");
    const QString link = dir.file("collegamento.cmp");
    ASSERT_TRUE(QFile::link(real, link));
    textfiles::save(link, "b");
    EXPECT_EQ(TempDir::read(real), QByteArray("b"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

TEST(TextFiles, SaveOverADirectoryOrIntoAMissingFolderFails)
{
    TempDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("cartella.cmp"));
    EXPECT_EQ(reasonOf([&] { textfiles::save(dir.file("cartella.cmp"), "x"); }),
              QStringLiteral("è una cartella, non un file"));
    EXPECT_EQ(reasonOf([&] { textfiles::save(dir.file("manca/mix.cmp"), "x"); }),
              QStringLiteral("file o cartella non trovati"));
}
