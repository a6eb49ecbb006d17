// The runaway intelligence-test button and the hidden dedication windows.

#include "diversions/FinestraDedica.h"
#include "platform/Twips.h"
#include "support/FinestraDiProva.h"
#include "support/Wait.h"
#include "support/WhenModal.h"

#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

namespace {

QList<QPoint> moves(FinestraDiProva& w, int events)
{
    QList<QPoint> places;
    for (int i = 0; i < events; ++i) {
        w.Command1_MouseMove();
        places << QPoint(twips::left(w->Command1), twips::top(w->Command1));
    }
    return places;
}

struct Dediche : ::testing::Test {
    FinestraDiProva w;
    QStringList opened; // captions of the dedication windows shown

    void SetUp() override
    {
        w->Timer1.stop();
        w.form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    }
    void doubleClick()
    {
        WhenModal watch([this](QDialog* d) { opened << d->windowTitle(); });
        w.Label3_DblClick();
    }
};

} // namespace

TEST(TestIntelligenza, RunsAwayInTheSameWayInEveryFreshWindowAndGivesUpEveryFifthTime)
{
    FinestraDiProva a, b;
    a->Check2->click();
    EXPECT_FALSE(a->Command1->isHidden());
    EXPECT_FALSE(a->Check2->isChecked());
    const QList<QPoint> first = moves(a, 16);
    EXPECT_EQ(moves(b, 16), first) << "the same sequence on every run";

    const QPoint start(1800, 720);
    const int x = twips::outerWidth(a.form.get()) - 2775 - 100;
    const int y = twips::outerHeight(a.form.get()) - 375 - 360;
    for (int event = 1; event <= 16; ++event) {
        const QPoint p = first[event - 1];
        if (event == 6 || event == 11 || event == 16) {
            EXPECT_EQ(p, start) << "event " << event;
        } else {
            EXPECT_GE(p.x(), 1);
            EXPECT_LE(p.x(), x);
            EXPECT_GE(p.y(), 1);
            EXPECT_LE(p.y(), y);
            EXPECT_NE(p, start);
        }
    }
    EXPECT_EQ(a->Command1->text(), "Test di intelligenza: non passato");
    EXPECT_EQ(a.diversioni->Spostamenti, 1);
    EXPECT_EQ(a.diversioni->LeftIniziale, 1800.0f);
    EXPECT_EQ(a.diversioni->TopIniziale, 720.0f);
}

TEST(TestIntelligenza, CheckBoxFlipsTheButtonAndRestoresItsCaption)
{
    FinestraDiProva w;
    w->Check2->click(); // shown
    moves(w, 6);
    ASSERT_EQ(w->Command1->text(), "Test di intelligenza: non passato");
    const QPoint placed = w->Command1->pos();
    w->Check2->click(); // hidden
    EXPECT_TRUE(w->Command1->isHidden());
    EXPECT_TRUE(w->Check2->isChecked());
    EXPECT_EQ(w->Command1->text(), "Test di intelligenza");
    moves(w, 0);
    w->Check2->click(); // shown again, where it was, the count going on
    EXPECT_FALSE(w->Command1->isHidden());
    EXPECT_EQ(w->Command1->pos(), placed);
    EXPECT_EQ(w.diversioni->Spostamenti, 1);
}

TEST(TestIntelligenza, ThePointerReachesTheButtonWhereverItLandsAndEveryWayOfTickingTheBoxCounts)
{
    FinestraDiProva w;
    w->Timer1.stop();
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));

    // Mouse, Space key and a screen reader's toggle each run the box's handler once.
    QTest::mouseClick(w->Check2, Qt::LeftButton);
    EXPECT_TRUE(w->Command1->isVisible());
    w->Check2->setFocus();
    QTest::keyClick(w->Check2, Qt::Key_Space);
    EXPECT_TRUE(w->Command1->isHidden());
    ASSERT_TRUE(doAccessibleAction(w->Check2, QAccessibleActionInterface::toggleAction()));
    EXPECT_FALSE(w->Check2->isChecked());
    ASSERT_TRUE(w->Command1->isVisible()) << "box and button stay in step";

    // Real pointer moves: the button stays on top of whatever it lands on,
    // so each move over it reaches it, and the sixth gives up.
    bool overList = false;
    for (int move = 1; move <= 6; ++move) {
        const QPoint centre = w->Command1->geometry().center();
        EXPECT_EQ(w.form->childAt(centre), w->Command1) << "move " << move;
        overList = overList || w->Command1->geometry().intersects(w->List1->geometry());
        const QPoint before = w->Command1->pos();
        QTest::mouseMove(w.form->windowHandle(), centre);
        QCoreApplication::processEvents();
        if (move < 6) {
            EXPECT_NE(w->Command1->pos(), before) << "move " << move;
        }
    }
    EXPECT_TRUE(overList) << "the button crossed the song list";
    EXPECT_EQ(w->Command1->text(), "Test di intelligenza: non passato");
}

TEST(TestIntelligenza, ANarrowWindowStillMovesTheButtonWithoutError)
{
    FinestraDiProva w;
    w.form->setFixedSize(100, 20); // narrower than the button: negative ranges
    w->Command1->show();
    for (int i = 0; i < 5; ++i)
        w.Command1_MouseMove();
    EXPECT_LE(twips::left(w->Command1), 1);
    EXPECT_TRUE(w.messages->shown.isEmpty());
}

TEST_F(Dediche, ThirdAndFourthCountedDoubleClicksOpenTheWindowsInTurn)
{
    w->Label3->show();
    doubleClick();
    doubleClick();
    EXPECT_TRUE(opened.isEmpty());
    doubleClick();
    EXPECT_EQ(opened, QStringList({"Da Tof"}));
    EXPECT_EQ(w.diversioni->DoppiClic, 3);
    doubleClick();
    EXPECT_EQ(opened, QStringList({"Da Tof", "Da Bremino"}));
    EXPECT_EQ(w.diversioni->DoppiClic, 0);
    for (int i = 0; i < 3; ++i)
        doubleClick();
    EXPECT_EQ(opened, QStringList({"Da Tof", "Da Bremino", "Da Tof"}));
}

TEST_F(Dediche, HiddenLabelDoesNotCountButTheComparisonsStillRun)
{
    w->Label3->show();
    doubleClick();
    doubleClick();
    w->Label3->hide();
    doubleClick();
    EXPECT_EQ(w.diversioni->DoppiClic, 2);
    EXPECT_TRUE(opened.isEmpty());
    w->Label3->show();
    doubleClick(); // 3: frmTof
    w->Label3->hide();
    doubleClick(); // still 3: frmTof again
    EXPECT_EQ(opened, QStringList({"Da Tof", "Da Tof"}));
    EXPECT_EQ(w.diversioni->DoppiClic, 3);
}

TEST_F(Dediche, WindowsShowTheirTextsExactlyAndAreLoadedAfreshEachTime)
{
    const struct {
        FinestraDedica* window;
        const char* caption;
        int clientHeight;
        QString text;
        int label1Top, label1Height;
        QRect ok;
    } cases[] = {
        {&frmTof::istanza(), "Da Tof", 3060, "A Pimna e Tobrasco\n\rcon tanto amore\n\rda papà.", 1800, 855,
         QRect(360, 2520, 1215, 495)},
        {&frmBremino::istanza(), "Da Bremino", 3285, "Sono fortunato\n\rperché ho due tesori:\n\rVurla e Garlot.",
         1920, 735, QRect(360, 2760, 1215, 495)},
    };
    EXPECT_EQ(cases[0].text.size(), 45);
    EXPECT_EQ(cases[1].text.size(), 54);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption);
        for (int showing = 0; showing < 2; ++showing) {
            const int loadsBefore = c.window->volteCaricata();
            WhenModal watch([&](QDialog* d) {
                EXPECT_EQ(d->windowTitle(), c.caption);
                EXPECT_EQ(twips::width(d), 1875);
                EXPECT_EQ(twips::height(d), c.clientHeight);
                Label* label = c.window->Label1;
                EXPECT_EQ(label->caption(), c.text);
                EXPECT_EQ(label->text().count('\n'), 2) << "three lines on screen";
                EXPECT_EQ(label->x(), 0);
                EXPECT_EQ(twips::width(label), twips::outerWidth(d));
                EXPECT_EQ(twips::top(label), c.label1Top);
                EXPECT_EQ(twips::height(label), c.label1Height);
                EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
                QPushButton* ok = c.window->Command1;
                EXPECT_EQ(ok->text(), "OK");
                EXPECT_EQ(QRect(twips::left(ok), twips::top(ok), twips::width(ok), twips::height(ok)), c.ok);
                // Focus arrives with the window's activation, which may follow its showing.
                EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == ok; }, 2000))
                    << "OK has the focus";
            });
            c.window->Show();
            EXPECT_EQ(c.window->volteCaricata(), loadsBefore + 1);
            EXPECT_EQ(c.window->finestra(), nullptr) << "closing unloads the window";
        }
        const QImage picture = c.window->immagine();
        EXPECT_EQ(picture.size(), QSize(125, 119));
        EXPECT_EQ(picture.format(), QImage::Format_RGB888);
        EXPECT_NE(picture.pixel(62, 59), picture.pixel(0, 0)) << "the picture is drawn, not left blank";
    }
}

TEST_F(Dediche, OpeningOneStopsThePlayingSong)
{
    w.form->activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == w.form.get(); }));
    w->MMControl1->setFileName("/m/a.wav");
    w->MMControl1->setCommand(comando::Open);
    w->MMControl1->setCommand(comando::Play);
    w.lettore->RiproduzioneAttiva = Vero;
    w->Label3->show();
    w.diversioni->DoppiClic = 2;
    bool closedWhileShown = false;
    WhenModal watch([&](QDialog*) {
        waitUntil([&] { return !w.media->open(); }, 2000);
        closedWhileShown = !w.media->open();
    });
    w.Label3_DblClick();
    EXPECT_TRUE(closedWhileShown);
    EXPECT_EQ(w.lettore->RiproduzioneAttiva, Vero) << "deactivation leaves the sequencer's state alone";
}
