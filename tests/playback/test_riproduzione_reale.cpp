// Whole compilations played through the real GStreamer device, on media the
// test makes, into synchronised fake sinks; and the program's end with its
// real player process.

#include "platform/DispositivoRemoto.h"
#include "riproduttore/GstMediaDevice.h"
#include "support/FinestraDiProva.h"
#include "support/GstThreads.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

namespace {

std::unique_ptr<IMediaDevice> realDevice()
{
    // With no ring, songs play in step with the clock and are heard nowhere.
    return std::make_unique<GstMediaDevice>(GstDeviceOptions{});
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

TEST_F(RiproduzioneReale, RipetiLoopsPastABrokenLastSongUntilStopped)
{
    writeWav(dir.path(), "a.wav", 200);
    writeRmi(dir.path(), "b.rmi", 300);
    writeRandom(dir.path(), "rotta.mid", 4096);
    carica({"a.wav", "b.rmi", "rotta.mid"});
    w->Check1->setChecked(true);

    w->MMControl1->clickPlay();
    ASSERT_TRUE(waitUntil([&] { return opened.size() >= 5; }, 15000)) << opened.join(' ').toStdString();
    EXPECT_EQ(opened.mid(0, 5), QStringList({"a.wav", "b.rmi", "a.wav", "b.rmi", "a.wav"}));
    EXPECT_EQ(w.form->printed().value(0), "Ciao ciao");
    EXPECT_TRUE(w.messages->shown.isEmpty());

    w->MMControl1->clickStop();
    EXPECT_FALSE(w->MMControl1->device().isOpen());
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    const int seen = opened.size();
    spin(400);
    EXPECT_EQ(opened.size(), seen) << "nothing plays after stop";
}

TEST_F(RiproduzioneReale, SongsThatCannotOpenArePassedOverAndTheListGoesOn)
{
    writeWav(dir.path(), "buona.wav", 200);
    writeEmpty(dir.path(), "vuota.wav");
    writeRandom(dir.path(), "rumore.mid", 4096);
    writeTruncatedCopy(writeAvi(dir.path(), "intero.avi", 400), dir.path(), "troncata.avi", 700);
    writeWav(dir.path(), "ultima.wav", 200);
    carica({"buona.wav", "vuota.wav", "rumore.mid", "troncata.avi", "mancante.wav", "ultima.wav"});

    // Each one that fails prints "Ciao ciao" and no box holds the list up.
    w->MMControl1->clickPlay();
    ASSERT_TRUE(waitUntil([&] { return finished(); }, 15000)) << opened.join(' ').toStdString();
    EXPECT_EQ(opened, QStringList({"buona.wav", "ultima.wav"}));
    EXPECT_EQ(w.form->printed(), QStringList(4, "Ciao ciao"));
    EXPECT_TRUE(w.messages->shown.isEmpty());
    EXPECT_EQ(w->List1->currentRow(), 0);
}

// With the real player process: the program's end leaves no player behind
// and writes nothing, whichever way the user leaves.
TEST(RiproduzioneConRiproduttore, EsciOrTheCloseBoxWhileASongPlaysLeaveNoPlayerAndWriteNothing)
{
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Esci");
        TempDir dir;
        writeWav(dir.path(), "uno.wav", 5000);
        writeWav(dir.path(), "due.wav", 5000);
        auto* device = new DispositivoRemoto(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
        auto w = std::make_unique<FinestraDiProva>(std::unique_ptr<IMediaDevice>(device));
        w->apri(dir.file("lista.cmp"), dir.path(), {"uno.wav", "due.wav"});
        auto contents = [&] {
            QStringList all;
            for (const QFileInfo& f : QDir(dir.path()).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name))
                all << f.fileName() + " " + TempDir::read(f.filePath()).toBase64();
            return all;
        };
        const QStringList before = contents();
        w->form->show();
        (*w)->MMControl1->clickPlay();
        ASSERT_TRUE(waitUntil([&] { return device->state() == MediaState::Playing; }));
        const qint64 pid = device->riproduttore();
        ASSERT_GT(pid, 0);

        if (closeBox)
            EXPECT_TRUE(w->form->close());
        else
            (*w)->cmdFine->click();
        EXPECT_EQ(w->endRequests, closeBox ? 0 : 1);
        EXPECT_FALSE(device->isOpen());
        w.reset(); // what the program's end does after its event loop
        EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }, 2000))
            << "the player is left behind";
        EXPECT_EQ(contents(), before);
    }
}
