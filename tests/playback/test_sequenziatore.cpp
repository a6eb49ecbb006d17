// The sequencer's rules, driven tick by tick with the scriptable device.

#include "support/FinestraDiProva.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QAccessible>
#include <QCheckBox>
#include <QListWidget>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

namespace {

struct Sequenziatore : ::testing::Test {
    TempDir dir;
    FinestraDiProva w;

    // Loads a compilation whose list shows `list`.
    void carica(const QString& folder, const QStringList& list)
    {
        w.apri(dir.file("prova.cmp"), folder, list);
        ASSERT_TRUE(w.messages->shown.isEmpty());
        w.media->calls.clear();
    }

    void play() { w->MMControl1->clickPlay(); }
    void stop() { w->MMControl1->clickStop(); }
    void tick() { w->MMControl1->tick(); }
    void endOfSong() { w.media->state = MediaState::Ended; }
    int current() const { return w->List1->currentRow(); }
    QString playing() const { return w.media->open() ? w.media->openPath : QString(); }
};

} // namespace

TEST_F(Sequenziatore, PlayOpensTheSelectedSongWithTheDeviceOfItsKind)
{
    carica("/m", {"uno.mid", "due.wav", "tre.avi", "quattro.rmi"});
    const QString kinds[] = {"Midi", "Wave", "Video", "Midi"};
    for (int i = 0; i < 4; ++i) {
        w->List1->setCurrentRow(i);
        w.media->calls.clear();
        play();
        EXPECT_EQ(w.media->calls,
                  QStringList({"close", "open " + kinds[i] + " /m/" + w->List1->item(i)->text(), "play"}))
            << "the handler closes and opens; the control then plays";
        EXPECT_EQ(w.lettore->RiproduzioneAttiva, Vero);
        EXPECT_EQ(w->MMControl1->playingFlag(), Vero);
        EXPECT_EQ(w->MMControl1->idleFlag(), Falso);
        EXPECT_EQ(w->ProgressBar1->maximum(), 1000);
    }
}

TEST_F(Sequenziatore, MixedCompilationPlaysInOrderToItsEnd)
{
    carica("/m", {"a.wav", "b.mid", "c.avi"});
    EXPECT_EQ(w.media->hints, QStringList({"Midi /m/b.mid", "Wave /m/a.wav"}))
        << "the first MIDI song's instruments load, then the song play starts with gets ready";
    play();
    w.media->position = 400ms;
    tick();
    EXPECT_EQ(w.lettore->IndiceCanzone, 1);
    EXPECT_EQ(w->ProgressBar1->value(), 400);
    EXPECT_EQ(w.media->hints.last(), "Midi /m/b.mid") << "what follows is got ready while a song plays";

    endOfSong();
    tick(); // opens the next song, does not start it yet
    EXPECT_EQ(current(), 1);
    EXPECT_EQ(w.lettore->IndiceCanzone, 2);
    EXPECT_EQ(playing(), "/m/b.mid");
    EXPECT_EQ(w.media->openKind, "Midi");
    EXPECT_FALSE(w.media->playing());
    tick();
    EXPECT_TRUE(w.media->playing());

    endOfSong();
    tick();
    EXPECT_EQ(playing(), "/m/c.avi");
    EXPECT_EQ(w.media->openKind, "Video");
    tick();
    EXPECT_TRUE(w.media->playing());
    EXPECT_EQ(w.media->hints.last(), "Video /m/c.avi") << "nothing follows the last song without Ripeti";

    endOfSong();
    tick(); // end of the list
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    EXPECT_EQ(w.lettore->IndiceCanzone, 3);
    EXPECT_FALSE(w.media->open());
    EXPECT_EQ(w->MMControl1->idleFlag(), Vero);
    EXPECT_EQ(w->MMControl1->playingFlag(), Falso);
    EXPECT_EQ(w->ProgressBar1->value(), 1000) << "the bar keeps its last value";
}

TEST_F(Sequenziatore, TheProgressBarSpeaksMillisecondsAndRepaintsOnlyWhenItMoves)
{
    carica("/m", {"lunga.wav", "vuota.wav", "dopo.wav"});
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override { count += e->type() == QEvent::Paint; return false; }
    } paints;
    w->ProgressBar1->installEventFilter(&paints);
    QAccessibleValueInterface* bar = QAccessible::queryAccessibleInterface(w->ProgressBar1)->valueInterface();

    w.media->durationOnOpen = 180s;
    QTest::mouseClick(w->MMControl1->playButton(), Qt::LeftButton);
    EXPECT_EQ(bar->maximumValue().toInt(), 180000);
    QCoreApplication::processEvents();
    paints.count = 0;
    for (int ms = 0; ms < 180000; ms += 100) {
        w.media->position = std::chrono::milliseconds(ms);
        tick();
        QCoreApplication::processEvents();
        ASSERT_EQ(bar->currentValue().toInt(), ms);
    }
    // 1800 ticks, one paint per pixel the bar grew at the most.
    EXPECT_GE(paints.count, w->ProgressBar1->width() / 2);
    EXPECT_LE(paints.count, w->ProgressBar1->width() + 2);

    // A song of length 0: an empty bar that stays still, not a busy one.
    w.media->durationOnOpen = 0ms;
    endOfSong();
    tick();
    EXPECT_EQ(w.media->openPath, "/m/vuota.wav");
    EXPECT_EQ(bar->maximumValue().toInt(), 0);
    EXPECT_EQ(bar->currentValue().toInt(), 0);
    spin(50);
    paints.count = 0;
    spin(300);
    EXPECT_EQ(paints.count, 0);
}

TEST_F(Sequenziatore, RipetiStartsTheListAgainWithDoubledSeparatorForAFolderEndingInOne)
{
    carica("/m/", {"a.wav", "b.wav"});
    EXPECT_EQ(w.media->hints, QStringList({"Wave /m/a.wav"})) << "the song play starts with, as play opens it";
    w->Check1->setChecked(true);
    w->List1->setCurrentRow(1);
    play();
    EXPECT_EQ(w.media->openPath, "/m/b.wav") << "the play handler adds no second separator";
    tick();
    EXPECT_EQ(w.media->hints.last(), "Wave /m//a.wav") << "with Ripeti the first song follows the last";
    endOfSong();
    tick();
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Vero);
    EXPECT_EQ(playing(), "/m//a.wav") << "the sequencer's own opens always add one";
    tick();
    EXPECT_TRUE(w.media->playing());
    endOfSong();
    tick();
    EXPECT_EQ(playing(), "/m//b.wav");
}

TEST_F(Sequenziatore, OneSongFinishesOrRepeatsForever)
{
    carica("/m", {"solo.wav"});
    play();
    tick();
    endOfSong();
    tick();
    EXPECT_FALSE(w.media->open());
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    EXPECT_EQ(w.lettore->IndiceCanzone, 1);

    w->Check1->setChecked(true);
    play();
    for (int round = 0; round < 3; ++round) {
        tick();
        EXPECT_TRUE(w.media->playing());
        endOfSong();
        tick();
        EXPECT_EQ(playing(), "/m/solo.wav");
        EXPECT_FALSE(w.media->playing());
        EXPECT_EQ(w.lettore->RiproduzioneAttiva, Vero);
    }
}

TEST_F(Sequenziatore, ZeroLengthSongsEndAtOnceAndStepsFourAndFiveShareATick)
{
    carica("/m", {"a.wav", "b.wav"});
    play();
    tick();
    w.media->durationOnOpen = 0ms;
    endOfSong();
    tick(); // step 4 opens b (length 0), step 5 sees it at its end: finished
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    EXPECT_FALSE(w.media->open());
    EXPECT_TRUE(w.media->calls.contains("open Wave /m/b.wav"));
}

TEST_F(Sequenziatore, ChangingTheSelectionWhilePlayingChangesWhatFollows)
{
    carica("/m", {"a.wav", "b.wav", "c.wav", "d.wav"});
    play();
    tick();
    w->List1->setCurrentRow(2);
    tick();
    EXPECT_EQ(w.lettore->IndiceCanzone, 3);
    EXPECT_EQ(playing(), "/m/a.wav") << "the song goes on";
    endOfSong();
    tick();
    EXPECT_EQ(playing(), "/m/d.wav");

    // Selecting the last entry makes the end of the playing song the end.
    carica("/m", {"a.wav", "b.wav", "c.wav"});
    play();
    tick();
    w->List1->setCurrentRow(2);
    endOfSong();
    tick();
    EXPECT_FALSE(w.media->open());
    EXPECT_EQ(current(), 0);
}

TEST_F(Sequenziatore, StopClosesAndPlayAgainRestartsTheSelectedSong)
{
    carica("/m", {"a.wav", "b.wav", "c.wav"});
    w->List1->setCurrentRow(1);
    play();
    tick();
    w.media->position = 500ms;
    stop();
    EXPECT_FALSE(w.media->open());
    EXPECT_EQ(w.lettore->IndiceCanzone, 3);
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    EXPECT_EQ(w->MMControl1->playingFlag(), Falso);
    EXPECT_EQ(w->MMControl1->idleFlag(), Vero);
    EXPECT_EQ(current(), 1);

    play();
    tick();
    EXPECT_EQ(playing(), "/m/b.wav");
    EXPECT_EQ(w.media->position, 0ms);
    w.media->position = 300ms;
    w.media->calls.clear();
    play(); // while playing: closed, opened again from the beginning
    EXPECT_EQ(w.media->calls, QStringList({"close", "open Wave /m/b.wav", "play"}));
    EXPECT_EQ(w.media->position, 0ms);
}

TEST_F(Sequenziatore, UnknownExtensionsOpenButNeverStart)
{
    carica("/m", {"a.wav", "b.mp3"});
    play();
    tick();
    endOfSong();
    tick();
    EXPECT_EQ(playing(), "/m/b.mp3");
    EXPECT_EQ(w.media->openKind, "Wave") << "the device type stays as it was";
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_FALSE(w.media->playing());
    EXPECT_EQ(playing(), "/m/b.mp3");
}

TEST_F(Sequenziatore, CapitalExtensionsPlayAndStartAlsoInSequence)
{
    carica("/m", {"A.WAV", "B.MID"});
    play();
    EXPECT_EQ(w.media->openKind, "Wave");
    tick();
    EXPECT_TRUE(w.media->playing());
    endOfSong();
    tick();
    EXPECT_EQ(w.media->openKind, "Midi");
    tick();
    EXPECT_TRUE(w.media->playing());
}

TEST_F(Sequenziatore, PlayWithoutCompilationOrWithAMissingSongShowsAnErrorAndPlaysNothing)
{
    w.lettore->RiproduzioneAttiva = Falso;
    play();
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_EQ(w.messages->shown[0].title, "Sonoraccoltiera");
    EXPECT_TRUE(w.messages->shown[0].prompt.contains("compilation"));
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Vero) << "set before the lookup failed";
    EXPECT_EQ(w.media->calls, QStringList({"close"}));

    w.messages->shown.clear();
    carica("/m", {"manca.wav", "b.wav"});
    w.media->failingPaths << "/m/manca.wav";
    play();
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_TRUE(w.messages->shown[0].prompt.contains("/m/manca.wav"));
    EXPECT_FALSE(w.media->open());
    EXPECT_FALSE(w.media->playing());
}

TEST_F(Sequenziatore, ADeviceThatFailsToPlayOrStopIsExplainedAndTheProgramGoesOn)
{
    carica("/m", {"a.wav", "b.wav"});
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    w.media->playFails = true;
    w.media->stopFails = true;
    QTest::mouseClick(w->MMControl1->playButton(), Qt::LeftButton);
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_EQ(w.messages->shown[0].prompt, "Impossibile riprodurre «/m/a.wav»: la riproduzione non parte.");
    QTest::mouseClick(w->MMControl1->stopButton(), Qt::LeftButton);
    ASSERT_EQ(w.messages->shown.size(), 2);
    EXPECT_EQ(w.messages->shown[1].prompt, "Il componente di riproduzione si è interrotto.");
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso) << "the stop handler ran before the device failed";

    // The same buttons work again once the device does.
    w.media->playFails = false;
    w.media->stopFails = false;
    QTest::mouseClick(w->MMControl1->playButton(), Qt::LeftButton);
    EXPECT_TRUE(w.media->playing());
    EXPECT_EQ(w.messages->shown.size(), 2);
}

TEST_F(Sequenziatore, ASongThatCannotOpenInSequenceIsPassedOverAfterCiaoCiao)
{
    carica("/m", {"a.wav", "manca.wav", "c.wav", "rotta.wav"});
    w.media->failingPaths << "/m/manca.wav" << "/m/rotta.wav";
    play();
    tick();
    endOfSong();
    tick();
    EXPECT_TRUE(w.messages->shown.isEmpty()) << "tick failures show nothing";
    EXPECT_EQ(w.form->printed(), QStringList({"Ciao ciao"}));
    EXPECT_EQ(current(), 1);
    EXPECT_EQ(w.lettore->IndiceCanzone, 2) << "the steps before the failure stay done";
    EXPECT_FALSE(w.media->open());
    tick(); // the closed device reads as a song at its end
    EXPECT_EQ(playing(), "/m/c.wav");
    tick();
    EXPECT_TRUE(w.media->playing());

    // The last entry fails as well: the list ends at the next tick.
    endOfSong();
    tick();
    EXPECT_EQ(current(), 3);
    tick();
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    EXPECT_EQ(w.form->printed(), QStringList({"Ciao ciao", "Ciao ciao"}));

    // With "Ripeti" it starts again from the first entry.
    w->Check1->setChecked(true);
    w->List1->setCurrentRow(2);
    play();
    tick();
    endOfSong();
    tick();
    tick();
    EXPECT_EQ(playing(), "/m/a.wav");
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Vero);

    // Every song gone while the first plays: one round in which none opens,
    // and the list ends instead of going round for ever.
    w.media->failingPaths << "/m/a.wav" << "/m/c.wav";
    tick();
    endOfSong();
    w.media->calls.clear();
    for (int i = 0; i < 50 && isTrue(w.lettore->RiproduzioneAttiva); ++i)
        tick();
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Falso);
    EXPECT_FALSE(w.media->open());
    EXPECT_EQ(w.media->calls.filter("open").join(", "),
              "open Wave /m/manca.wav, open Wave /m/c.wav, open Wave /m/rotta.wav, open Wave /m/a.wav, "
              "open Wave /m/manca.wav, open Wave /m/c.wav, open Wave /m/rotta.wav");

    EXPECT_EQ(w.form->printed().size(), 2 + 1 + 6) << "a Ciao ciao for every next song that failed; "
                                                      "the repeat's own open raises no Done";
    w.MMControl1_Done(MMControl::NotifyFailure);
    w.MMControl1_Done(MMControl::NotifySuccessful);
    EXPECT_EQ(w.form->printed().size(), 2 + 1 + 6 + 1);
}

TEST_F(Sequenziatore, TheSongPlayedIsTheEntryTheUserSeesSelected)
{
    carica("/m", {"a.wav", "b.wav", "c.wav"});
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    QListWidget* list = w->List1;
    auto entry = [&](int row) { return list->visualItemRect(list->item(row)).center(); };

    // Ctrl+click deselects the chosen entry: play has no song to play.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, entry(0));
    ASSERT_TRUE(list->selectedItems().isEmpty());
    play();
    ASSERT_EQ(w.messages->shown.size(), 1);
    EXPECT_FALSE(w.media->open());

    // The last entry plays and the user deselects it: its end is not a dead
    // end that leaves the device open for ever; with nothing selected the
    // sequence goes on from the first entry.
    w.messages->shown.clear();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, entry(2));
    play();
    tick();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, entry(2));
    ASSERT_TRUE(list->selectedItems().isEmpty());
    endOfSong();
    tick();
    EXPECT_EQ(playing(), "/m/a.wav");
    EXPECT_TRUE(list->item(0)->isSelected());
    EXPECT_TRUE(w.messages->shown.isEmpty());
}
