// Whole compilations played through the real GStreamer device, on media the
// test makes, into synchronised fake sinks.

#include "riproduttore/GstMediaDevice.h"
#include "support/FinestraDiProva.h"
#include "support/GstThreads.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QCheckBox>
#include <QListWidget>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

namespace {

std::unique_ptr<IMediaDevice> realDevice()
{
    GstDeviceOptions options;
    options.fakeAudioSink = true;
    return std::make_unique<GstMediaDevice>(options);
}

struct RiproduzioneReale : ::testing::Test {
    TempDir dir;
    FinestraDiProva w{realDevice()};
    QStringList opened; // every song the device opened, in order

    void SetUp() override
    {
        QObject::connect(w->MMControl1, &MMControl::StatusUpdate, [this] {
            const QString name = QFileInfo(w->MMControl1->fileName()).fileName();
            if (w->MMControl1->device().isOpen() && (opened.isEmpty() || opened.last() != name))
                opened << name;
        });
    }

    // A compilation whose list shows `list` in this order.
    void carica(const QStringList& list)
    {
        w.apri(dir.file("reale.cmp"), dir.path(), list);
        ASSERT_TRUE(w.messages->shown.isEmpty());
    }

    bool finished() const { return !isTrue(w.lettore->RiproduzioneAttiva) && !w->MMControl1->device().isOpen(); }
};

} // namespace

TEST_F(RiproduzioneReale, MixedCompilationPlaysToItsEndInOrder)
{
    writeWav(dir.path(), "uno.wav", 300);
    writeWav(dir.path(), "vuota.wav", 0); // a data chunk of 0 bytes: over at once, and the list goes on
    writeMidi(dir.path(), "due.mid", 1, 400);
    writeAvi(dir.path(), "tre.avi", 400);
    carica({"uno.wav", "vuota.wav", "due.mid", "tre.avi"});

    w->MMControl1->clickPlay();
    ASSERT_TRUE(w.messages->shown.isEmpty()) << w.messages->shown.value(0).prompt.toStdString();
    ASSERT_TRUE(waitUntil([&] { return finished(); }, 15000));
    EXPECT_EQ(opened, QStringList({"uno.wav", "vuota.wav", "due.mid", "tre.avi"}));
    EXPECT_EQ(w->List1->currentRow(), 0);
    EXPECT_EQ(w.lettore->IndiceCanzone, 4);
    EXPECT_TRUE(w.form->printed().isEmpty());
}

TEST_F(RiproduzioneReale, RipetiLoopsUntilStopped)
{
    writeWav(dir.path(), "a.wav", 200);
    writeRmi(dir.path(), "b.rmi", 300);
    carica({"a.wav", "b.rmi"});
    w->Check1->setChecked(true);

    w->MMControl1->clickPlay();
    ASSERT_TRUE(waitUntil([&] { return opened.size() >= 5; }, 15000)) << opened.join(' ').toStdString();
    EXPECT_EQ(opened.mid(0, 5), QStringList({"a.wav", "b.rmi", "a.wav", "b.rmi", "a.wav"}));

    w->MMControl1->clickStop();
    EXPECT_FALSE(w->MMControl1->device().isOpen());
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    const int seen = opened.size();
    spin(400);
    EXPECT_EQ(opened.size(), seen) << "nothing plays after stop";
}

TEST_F(RiproduzioneReale, BrokenSongsNeverCrashAndTheNextGoodSongStillPlays)
{
    writeWav(dir.path(), "buona.wav", 200);
    writeEmpty(dir.path(), "vuota.wav");
    writeRandom(dir.path(), "rumore.mid", 4096);
    writeTruncatedCopy(writeAvi(dir.path(), "intero.avi", 400), dir.path(), "troncata.avi", 700);
    writeWav(dir.path(), "ultima.wav", 200);
    carica({"buona.wav", "vuota.wav", "rumore.mid", "troncata.avi", "mancante.wav", "ultima.wav"});

    // In sequence: the good song plays, the broken one fails to open in a
    // tick, which prints "Ciao ciao" and leaves the device closed.
    w->MMControl1->clickPlay();
    ASSERT_TRUE(waitUntil([&] { return !w.form->printed().isEmpty(); }, 10000));
    EXPECT_EQ(w.form->printed(), QStringList({"Ciao ciao"}));
    EXPECT_EQ(w->List1->currentRow(), 1);
    EXPECT_FALSE(w->MMControl1->device().isOpen());

    // Played by hand, each broken song gives a clear message and plays nothing.
    for (int row = 1; row <= 4; ++row) {
        w.messages->shown.clear();
        w->List1->setCurrentRow(row);
        w->MMControl1->clickPlay();
        ASSERT_EQ(w.messages->shown.size(), 1) << "row " << row;
        EXPECT_TRUE(w.messages->shown[0].prompt.contains(w->List1->item(row)->text()));
        EXPECT_FALSE(w->MMControl1->device().isOpen());
    }

    w.messages->shown.clear();
    w->List1->setCurrentRow(5);
    w->MMControl1->clickPlay();
    EXPECT_TRUE(w.messages->shown.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return finished(); }, 10000));
    EXPECT_EQ(opened.last(), "ultima.wav");
}
