#include "compilation/FormatoCompilation.h"
#include "comune/Errori.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace sonora;

namespace {
const QString Nul(QChar(0));
}

TEST(FormatoCompilation, SelectionBecomesCrLfLinesWithAFinalLineEnd)
{
    EXPECT_EQ(formato::daSelezione("/Musica" + Nul + "uno.wav" + Nul + "due.mid"),
              QByteArray("/Musica\r\nuno.wav\r\ndue.mid\r\n"));
    // One file: its full path alone. Cancel: one empty line.
    EXPECT_EQ(formato::daSelezione("/Musica/uno.wav"), QByteArray("/Musica/uno.wav\r\n"));
    EXPECT_EQ(formato::daSelezione(""), QByteArray("\r\n"));
    // UTF-8, no byte-order mark.
    EXPECT_EQ(formato::daSelezione("/Città" + Nul + "perché.wav"),
              QByteArray("/Citt\xC3\xA0\r\nperch\xC3\xA9.wav\r\n"));
}

TEST(FormatoCompilation, NamesWithLineEndsAreRefusedNotSplit)
{
    EXPECT_THROW(formato::daSelezione("/m" + Nul + "due\nrighe.wav" + Nul + "b.wav"), AppError);
    EXPECT_THROW(formato::daSelezione("/m\r" + Nul + "a.wav"), AppError);
}

TEST(FormatoCompilation, ReadsFolderAndSongsAndRefusesBinaryOrOversizedContent)
{
    const formato::Contenuto c = formato::leggi("/m\r\na.wav\r\nb.wav\r\n", "x.cmp");
    EXPECT_EQ(c.cartella, "/m");
    EXPECT_EQ(c.canzoni, QStringList({"a.wav", "b.wav"}));
    EXPECT_TRUE(formato::leggi("", "x.cmp").cartella.isEmpty());
    EXPECT_THROW(formato::leggi(QByteArray("/m\r\na\0b\r\n", 9), "x.cmp"), FileError);
    const QByteArray many = "/m\n" + QByteArray("s\n").repeated(32768);
    EXPECT_THROW(formato::leggi(many, "x.cmp"), FileError);
    EXPECT_EQ(formato::leggi(many.chopped(2), "x.cmp").canzoni.size(), 32767);
}

TEST(FormatoCompilation, DecodesUtf8AndFallsBackToWindows1252)
{
    EXPECT_EQ(formato::decodifica("perch\xC3\xA9"), QString("perché"));
    EXPECT_EQ(formato::decodifica("\xEF\xBB\xBF" "abc"), QString("abc"));
    // "perché €" as an older file would have it.
    EXPECT_EQ(formato::decodifica("perch\xE9 \x80"), QString("perché €"));
    // Bytes Windows-1252 leaves undefined still decode, to C1 controls.
    EXPECT_EQ(formato::decodifica("a\x81").at(1).unicode(), 0x81);
}

TEST(FormatoCompilation, AnyLineEndEndsALine)
{
    using L = QStringList;
    EXPECT_EQ(formato::righe("a\r\nb\r\n"), L({"a", "b"}));
    EXPECT_EQ(formato::righe("a\r\nb"), L({"a", "b"}));
    EXPECT_EQ(formato::righe("a\nb\n"), L({"a", "b"}));
    EXPECT_EQ(formato::righe("a\rb\r"), L({"a", "b"}));
    EXPECT_EQ(formato::righe("a\r\nb\r\n\r\n"), L({"a", "b", ""}));
    EXPECT_EQ(formato::righe("\r\n"), L({""}));
    EXPECT_EQ(formato::righe(""), L());
    EXPECT_EQ(formato::righe("a\n\rb"), L({"a", "", "b"}));
}
