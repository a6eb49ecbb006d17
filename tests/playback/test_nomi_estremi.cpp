// Songs with awkward names in a very deep folder, one of them a link to a
// song elsewhere: chosen, written, read back and played through the real
// player process like any other.

#include "platform/DispositivoRemoto.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

TEST(NomiEstremi, AwkwardNamesInADeepFolderAreWrittenReadAndPlayed)
{
    TempDir root;
    // A folder path of about 3,600 characters, each part at the longest a
    // name may be (255 bytes).
    QString folder = root.path();
    while (folder.size() < 3600) {
        folder += "/" + QString(250, QChar('c'));
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    const QStringList names = {
        "con spazi e accenti àèéìòù.wav",
        "virgolette \"doppie\" e 'singole'.mid",
        "cancelletto # percento %20 domanda ?.wav",
        "barra\\rovescia e due punti: e stella *.rmi",
        QString(247, QChar(0x00E8)).left(120) + ".wav", // 120 × 2 UTF-8 bytes + ".wav": 244 bytes
        QString(251, QChar('n')) + ".wav",               // 255 bytes: the longest name
        "collegamento.wav",                              // a link to a song in another folder
    };
    writeWav(root.path(), "altrove.wav", 250);
    ASSERT_TRUE(QFile::link(root.path() + "/altrove.wav", folder + "/collegamento.wav"));
    for (const QString& n : names) {
        if (n == "collegamento.wav")
            continue;
        if (n.endsWith(".mid"))
            writeMidi(folder, n, 0, 250);
        else if (n.endsWith(".rmi"))
            writeRmi(folder, n, 250);
        else
            writeWav(folder, n, 250);
    }

    FinestraDiProva w(std::make_unique<DispositivoRemoto>(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true));
    QStringList paths;
    for (const QString& n : names)
        paths << folder + "/" + n;
    const QString cmp = folder + "/" + QString(200, QChar('t')) + " #1.cmp";
    w.dialog->pick({cmp});
    w.dialog->pick(paths);
    w->cmdNuova->click();
    ASSERT_TRUE(w.messages->shown.isEmpty()) << w.messages->shown.value(0).prompt.toStdString();
    EXPECT_EQ(w->lblNomeCompilation->text(), QString(200, QChar('t')) + " #1");
    ASSERT_EQ(w->List1->count(), names.size());
    EXPECT_EQ(w.compilation->CartellaCanzoni, folder);

    // Played from the first entry to the last, in list order.
    QStringList played;
    QObject::connect(w->MMControl1, &MMControl::StatusUpdate, [&] {
        const QString name = w->MMControl1->fileName().section('/', -1);
        if (w->MMControl1->device().isOpen() && (played.isEmpty() || played.last() != name))
            played << name;
    });
    w->MMControl1->clickPlay();
    ASSERT_TRUE(w.messages->shown.isEmpty()) << w.messages->shown.value(0).prompt.toStdString();
    ASSERT_TRUE(waitUntil([&] { return !isTrue(w.lettore->RiproduzioneAttiva); }, 20000)) << played.join(" | ").toStdString();
    QStringList expected;
    for (int i = 0; i < w->List1->count(); ++i)
        expected << w->List1->item(i)->text();
    EXPECT_EQ(played, expected);
    EXPECT_TRUE(w.form->printed().isEmpty());

    // A name with a line end cannot be stored: it is refused, not split.
    const QString broken = folder + "/due\nrighe.wav";
    writeWav(folder, "due\nrighe.wav", 50);
    w.dialog->pick({cmp});
    w.dialog->pick({broken, paths[0]});
    w->cmdNuova->click();
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_TRUE(w.messages->shown[0].prompt.contains("ritorno a capo"));
}
