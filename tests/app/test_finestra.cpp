// The main window as the user finds it: controls, order, hints, marquee,
// blinking label and its life cycle.

#include "app/Aspetto.h"
#include "platform/Twips.h"
#include "support/Disposizione.h"
#include "support/FinestraDiProva.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

namespace {

const QString StartCaption = QStringLiteral("Sonoraccoltiera - Riservato ai lettori di Zefiral      ");

struct Finestra : ::testing::Test {
    FinestraDiProva w;

    void moveOver(QWidget* target)
    {
        const QPoint p = target->mapTo(w.form.get(), target->rect().center());
        QTest::mouseMove(w.form->windowHandle(), p);
        QCoreApplication::processEvents();
    }
    void moveTo(QPoint p)
    {
        QTest::mouseMove(w.form->windowHandle(), p);
        QCoreApplication::processEvents();
    }
};

} // namespace

TEST_F(Finestra, StartsWithEveryControlInPlace)
{
    EXPECT_EQ(w.form->windowTitle(), StartCaption);
    EXPECT_EQ(w.form->windowTitle().size(), 55);
    EXPECT_EQ(twips::width(w.form.get()), 4725);
    EXPECT_EQ(twips::height(w.form.get()), 4680);
    EXPECT_EQ(w.form->minimumSize(), w.form->maximumSize()) << "not resizable";
    EXPECT_FALSE(w.form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.form->windowFlags() & Qt::WindowCloseButtonHint);
    // Every picture is drawn in, sharp on dense screens too.
    for (const QIcon& icon : {w.form->windowIcon(), w->cmdFine->icon(), w->cmdNuova->icon(), w->cmdCompilation->icon()})
        EXPECT_EQ(icon.pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));

    for (const ControlloAtteso& row : disposizioneAttesa(w)) {
        SCOPED_TRACE(row.control->objectName().toStdString());
        EXPECT_EQ(boxOf(row.control), row.box);
        EXPECT_EQ(row.control->isHidden(), row.hidden);
        EXPECT_EQ(testoDi(row.control), row.text);
    }
    EXPECT_TRUE(w->Check2->isChecked());
    EXPECT_FALSE(w->Check1->isChecked());
    EXPECT_EQ(w->List1->count(), 0);
    EXPECT_EQ(w->StatusBar1->currentMessage(), "");
    EXPECT_TRUE(w->Timer1.isActive());
    EXPECT_EQ(w->Timer1.interval(), 150);
    EXPECT_EQ(w->Label3->font().pointSizeF(), 9.75);
    EXPECT_TRUE(w->Label3->font().bold());
    EXPECT_EQ(w.form->font().pointSizeF(), 8.25);
    for (QPushButton* b : {w->cmdNuova, w->cmdCompilation, w->cmdFine})
        EXPECT_EQ(b->accessibleName(), b->toolTip());
    EXPECT_EQ(w->cmdNuova->toolTip(), "Nuova");
    EXPECT_EQ(w->cmdCompilation->toolTip(), "Apri");
    EXPECT_EQ(w->cmdFine->toolTip(), "Esci");
    EXPECT_EQ(w->cmdFine->accessibleDescription(), "Esce dal programma");

    // A screen reader announces a window named by its caption, and its
    // picture buttons' press does what a click does.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(w.form.get());
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), StartCaption);
    ASSERT_TRUE(doAccessibleAction(w->cmdCompilation, QAccessibleActionInterface::pressAction()));
    EXPECT_EQ(w.dialog->shown.size(), 1) << "Apri shows the open dialog";
    // Before any song the progress bar reads 0 in 0 to 100.
    QAccessibleValueInterface* bar = QAccessible::queryAccessibleInterface(w->ProgressBar1)->valueInterface();
    EXPECT_EQ(bar->minimumValue().toInt(), 0);
    EXPECT_EQ(bar->maximumValue().toInt(), 100);
    EXPECT_EQ(bar->currentValue().toInt(), 0);
}

TEST_F(Finestra, PrintedTextStaysOnlyUntilTheWindowIsDrawnAfresh)
{
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    const QRect corner(0, 0, 80, 40);
    const QImage blank = w.form->grab(corner).toImage();
    auto ciao = [&](int times) {
        for (int i = 0; i < times; ++i)
            w.MMControl1_Done(MMControl::NotifyFailure);
    };

    ciao(2);
    EXPECT_EQ(w.form->printed(), QStringList({"Ciao ciao", "Ciao ciao"}));
    EXPECT_NE(w.form->grab(corner).toImage(), blank) << "painting again keeps it";

    // Minimised and restored: drawn afresh, without the text.
    w.form->hide();
    w.form->show();
    EXPECT_TRUE(waitUntil([&] { return w.form->printed().isEmpty(); }));
    EXPECT_EQ(w.form->grab(corner).toImage(), blank);

    // Covered, then uncovered: the same.
    ciao(1);
    EXPECT_EQ(w.form->printed(), QStringList({"Ciao ciao"}));
    QExposeEvent uncovered(QRegion(0, 0, 100, 100));
    QCoreApplication::sendEvent(w.form->windowHandle(), &uncovered);
    EXPECT_TRUE(w.form->printed().isEmpty());
    EXPECT_EQ(w.form->grab(corner).toImage(), blank);

    // Never more than fits on the window, however much is printed.
    ciao(1000);
    EXPECT_LE(w.form->printed().size(), w.form->height() / w.form->fontMetrics().height());
}

TEST_F(Finestra, EveryCaptionFitsItsBox)
{
    for (QWidget* c : {static_cast<QWidget*>(w->Check1), static_cast<QWidget*>(w->Check2),
                       static_cast<QWidget*>(w->Command1), static_cast<QWidget*>(w->Label1),
                       static_cast<QWidget*>(w->Label2), static_cast<QWidget*>(w->Label3),
                       static_cast<QWidget*>(w->lblNomeCompilation)}) {
        SCOPED_TRACE(c->objectName().toStdString());
        EXPECT_LE(c->sizeHint().width(), c->width());
    }
}

TEST_F(Finestra, FocusStartsOnThePlayButtonAndTabFollowsTheDesignOrder)
{
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    w.form->activateWindow();
    waitUntil([&] { return QApplication::focusWidget() != nullptr; });
    EXPECT_EQ(QApplication::focusWidget(), w->MMControl1->playButton());

    w->Command1->show(); // shown controls take part; hidden ones are skipped
    QList<QWidget*> order;
    for (int i = 0; i < 9; ++i) {
        order << QApplication::focusWidget();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    const QList<QWidget*> expected = {w->MMControl1->playButton(), w->MMControl1->stopButton(), w->cmdCompilation,
                                      w->cmdNuova, w->List1, w->cmdFine, w->Check1, w->Command1, w->Check2};
    EXPECT_EQ(order, expected);
}

TEST_F(Finestra, HintsFollowThePointerAlsoWhileASongPlays)
{
    // A compilation is open, its list full, and its first song plays.
    TempDir dir;
    w.apri(dir.file("lista.cmp"), dir.path(), {"a.wav", "b.wav", "c.wav"});
    w.media->durationOnOpen = 3600s;
    w->MMControl1->clickPlay();
    ASSERT_TRUE(w.media->playing());
    w.media->position = 1234ms;
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    ASSERT_TRUE(waitUntil([&] { return w->ProgressBar1->value() == 1234; })) << "the song ticks";
    const struct {
        QWidget* control;
        const char* hint;
    } hints[] = {
        {w->Check1, "Ripete automaticamente la lista delle canzoni"},
        {w->Check2, "Disattiva il test di intelligenza"},
        {w->cmdCompilation, "Apre una compilation esistente"},
        {w->cmdFine, "Esce dal programma"},
        {w->cmdNuova, "Crea una nuova compilation"},
        {w->lblNomeCompilation, "Titolo della compilation aperta"},
        {w->List1, "Elenco delle canzoni contenute nella compilation"},
        {w->ProgressBar1, "Progresso della canzone"},
    };
    for (const auto& h : hints) {
        moveTo(QPoint(2, 2)); // background
        EXPECT_EQ(w->StatusBar1->currentMessage(), "");
        moveOver(h.control);
        EXPECT_EQ(w->StatusBar1->currentMessage(), h.hint);
        // Controls without a hint leave it as it was.
        for (QWidget* quiet : {static_cast<QWidget*>(w->Label1), static_cast<QWidget*>(w->Label2),
                               static_cast<QWidget*>(w->MMControl1->playButton()),
                               static_cast<QWidget*>(w->StatusBar1)}) {
            moveOver(quiet);
            EXPECT_EQ(w->StatusBar1->currentMessage(), h.hint) << quiet->objectName().toStdString();
        }
    }
    // The hidden runaway button's area is background.
    moveOver(w->List1);
    moveTo(w->Command1->geometry().center());
    EXPECT_EQ(w->StatusBar1->currentMessage(), "");
    EXPECT_TRUE(w.media->playing());
}

TEST_F(Finestra, MarqueeScrollsBehindThePrefixAndComesBackAfter37Ticks)
{
    w->Timer1.stop();
    w.Timer1_Timer();
    EXPECT_EQ(w.form->windowTitle(), "Sonoraccoltiera - iservato ai lettori di Zefiral      R");
    w.Timer1_Timer();
    EXPECT_EQ(w.form->windowTitle(), "Sonoraccoltiera - servato ai lettori di Zefiral      Ri");
    for (int i = 2; i < 37; ++i) {
        w.Timer1_Timer();
        ASSERT_EQ(w.form->windowTitle().size(), 55);
        ASSERT_TRUE(w.form->windowTitle().startsWith("Sonoraccoltiera - "));
    }
    EXPECT_EQ(w.form->windowTitle(), StartCaption);

    w.form->setWindowTitle("Breve");
    w.Timer1_Timer();
    EXPECT_EQ(w.form->windowTitle(), "Breve");
}

TEST_F(Finestra, VersionLabelBlinksEveryFifthTick)
{
    w->Timer1.stop();
    auto ticks = [&](int n) {
        for (int i = 0; i < n; ++i)
            w.Timer1_Timer();
    };
    ticks(4);
    EXPECT_TRUE(w->Label3->isHidden());
    ticks(1);
    EXPECT_FALSE(w->Label3->isHidden());
    EXPECT_EQ(w.titolo->Scatti, 0);
    ticks(4);
    EXPECT_FALSE(w->Label3->isHidden());
    ticks(1);
    EXPECT_TRUE(w->Label3->isHidden());
}

TEST_F(Finestra, OnlyOurOwnWindowsDeactivateItAndStopTheSong)
{
    TempDir dir;
    w.apri(dir.file("lista.cmp"), dir.path(), {"a.wav", "b.wav"});
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    w.form->activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == w.form.get(); }));
    w->MMControl1->clickPlay();
    w.media->calls.clear();

    QWidget dialog(nullptr, Qt::Dialog); // a file dialog or message box
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &dialog; }));
    dialog.hide();

    // Another application takes over: no window of ours has the focus.
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(w.form.get(), &deactivate);
    emit qApp->focusWindowChanged(nullptr);
    QApplicationStateChangeEvent inactive(Qt::ApplicationInactive);
    QApplication::sendEvent(qApp, &inactive);
    spin(250);
    EXPECT_TRUE(w.media->playing());
    EXPECT_FALSE(w.media->calls.contains("close"));

    w.form->activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == w.form.get(); }));
    QWidget dedication(nullptr, Qt::Dialog);
    dedication.setProperty(aspetto::DeactivatesMain, true);
    dedication.show();
    dedication.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &dedication; }));
    EXPECT_EQ(w.media->calls.filter("close"), QStringList({"close"}));
    EXPECT_FALSE(w.media->open());
}

TEST_F(Finestra, CloseBoxAndEscCloseTheDevice)
{
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    w.media->calls.clear();
    QTest::keyClick(w.form.get(), Qt::Key_Escape);
    EXPECT_EQ(w.media->calls, QStringList({"close"}));
    EXPECT_EQ(w.endRequests, 1);

    w.media->calls.clear();
    EXPECT_TRUE(w.form->close());
    EXPECT_EQ(w.media->calls, QStringList({"close"}));
}
