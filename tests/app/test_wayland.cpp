// The window on Wayland, in a compositor of its own (tests/app/wayland.sh):
// it opens with its controls in place, the runaway button runs, the
// dedication windows open and songs play through the program's own player,
// pictures included. Each step says what it saw; with SONORA_SCHERMATE set
// to a folder, the compositor's screen is saved there at each step.

#include "platform/DispositivoRemoto.h"
#include "platform/Twips.h"
#include "support/Disposizione.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "support/WhenModal.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

#include <iostream>

using namespace sonora;
using namespace sonora::test;

namespace {

void visto(const QString& cosa)
{
    std::cout << "seen on Wayland: " << cosa.toStdString() << std::endl;
}

// The compositor's own picture of its screen (weston-screenshooter, which
// weston allows with --debug), saved under the step's name; null when no
// folder was given.
QImage schermata(const QString& passo)
{
    const QString cartella = qEnvironmentVariable("SONORA_SCHERMATE");
    if (cartella.isEmpty())
        return {};
    QDir().mkpath(cartella);
    const QDir dir(cartella);
    for (const QString& vecchia : dir.entryList({"wayland-screenshot-*.png"}))
        QFile::remove(dir.filePath(vecchia));
    QProcess p;
    p.setWorkingDirectory(cartella);
    p.start(QStringLiteral("weston-screenshooter"), {});
    // Our own window must go on answering the compositor meanwhile.
    waitUntil([&] { return p.state() == QProcess::NotRunning; }, 10000);
    const QStringList fatte = dir.entryList({"wayland-screenshot-*.png"});
    if (fatte.size() != 1)
        return {};
    const QString nome = dir.filePath(passo + ".png");
    QFile::remove(nome);
    QFile::rename(dir.filePath(fatte[0]), nome);
    visto(QStringLiteral("the screen saved as %1").arg(nome));
    return QImage(nome).convertToFormat(QImage::Format_RGB32);
}

// Where on `schermo` the picture `finestra` shows, pixel for pixel, found
// from one of its pixels (`ancora`); (-1, -1) when nowhere.
QPoint dove(const QImage& schermo, const QImage& finestra, QPoint ancora)
{
    const QRgb colore = finestra.pixel(ancora);
    for (int y = ancora.y(); y <= schermo.height() - finestra.height() + ancora.y(); ++y) {
        for (int x = ancora.x(); x <= schermo.width() - finestra.width() + ancora.x(); ++x) {
            if (schermo.pixel(x, y) != colore)
                continue;
            const QPoint origine = QPoint(x, y) - ancora;
            if (schermo.copy(QRect(origine, finestra.size())) == finestra)
                return origine;
        }
    }
    return {-1, -1};
}

struct Wayland : ::testing::Test {
    std::unique_ptr<FinestraDiProva> w;

    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("wayland"))
            GTEST_SKIP() << "run by tests/app/wayland.sh, in a Wayland compositor";
        // The player starts now, as the program starts it when the user
        // begins choosing a compilation.
        auto dispositivo = std::make_unique<DispositivoRemoto>(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
        dispositivo->preparaRiproduzione();
        w = std::make_unique<FinestraDiProva>(std::move(dispositivo));
        w->form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w->form.get(), 10000)) << "the compositor never showed the window";
    }
};

} // namespace

TEST_F(Wayland, TheWindowOpensWithEveryControlInPlace)
{
    FinestraDiProva& f = *w;
    EXPECT_EQ(f.form->size(), twips::toPixels(0, 0, 4725, 4680).size());
    for (const ControlloAtteso& row : disposizioneAttesa(f)) {
        SCOPED_TRACE(row.control->objectName().toStdString());
        EXPECT_EQ(boxOf(row.control), row.box);
        EXPECT_EQ(row.control->isHidden(), row.hidden);
        EXPECT_EQ(testoDi(row.control), row.text);
    }
    // What a person sees: the compositor's screen shows the window's own
    // picture, exactly.
    f->Timer1.stop(); // nothing repaints meanwhile
    QCoreApplication::processEvents();
    const QImage finestra = f.form->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint stop = f->cmdFine->geometry().center() - QPoint(0, 8); // the sign's red, above its bar
    EXPECT_GT(qRed(finestra.pixel(stop)), 150) << "the stop sign";
    EXPECT_LT(qGreen(finestra.pixel(stop)), 80) << "the stop sign";
    const QImage schermo = schermata(QStringLiteral("1-finestra"));
    if (!schermo.isNull()) {
        const QPoint origine = dove(schermo, finestra, stop);
        EXPECT_NE(origine, QPoint(-1, -1)) << "the window's picture is not on the compositor's screen";
        visto(QStringLiteral("the compositor's %1x%2 screen shows the window's %3x%4 picture, pixel for pixel, at (%5, %6)")
                  .arg(schermo.width())
                  .arg(schermo.height())
                  .arg(finestra.width())
                  .arg(finestra.height())
                  .arg(origine.x())
                  .arg(origine.y()));
    }
    const QRect g = f.form->geometry(), fg = f.form->frameGeometry();
    visto(QStringLiteral("window exposed, client area %1x%2 px, frame drawn by Qt: left %3 top %4 right %5 bottom %6 px")
              .arg(g.width())
              .arg(g.height())
              .arg(g.left() - fg.left())
              .arg(g.top() - fg.top())
              .arg(fg.right() - g.right())
              .arg(fg.bottom() - g.bottom()));
    visto(QStringLiteral("every control at its design place, hidden ones hidden"));
}

TEST_F(Wayland, TheRunawayButtonRuns)
{
    FinestraDiProva& f = *w;
    f->Timer1.stop();
    QTest::mouseClick(f->Check2, Qt::LeftButton);
    ASSERT_TRUE(f->Command1->isVisible());
    const int x = twips::outerWidth(f.form.get()) - 2775 - 100;
    const int y = twips::outerHeight(f.form.get()) - 375 - 360;
    QStringList posti;
    for (int move = 1; move <= 6; ++move) {
        const QPoint prima = f->Command1->pos();
        QTest::mouseMove(f.form->windowHandle(), f->Command1->geometry().center());
        QCoreApplication::processEvents();
        const QPoint t(twips::left(f->Command1), twips::top(f->Command1));
        posti << QStringLiteral("(%1, %2)").arg(t.x()).arg(t.y());
        if (move < 6) {
            EXPECT_NE(f->Command1->pos(), prima) << "move " << move;
            EXPECT_TRUE(t.x() >= 1 && t.x() <= x && t.y() >= 1 && t.y() <= y) << "move " << move;
        }
        if (move == 1)
            schermata(QStringLiteral("2-pulsante-in-fuga"));
    }
    EXPECT_EQ(QPoint(twips::left(f->Command1), twips::top(f->Command1)), QPoint(1800, 720));
    EXPECT_EQ(f->Command1->text(), "Test di intelligenza: non passato");
    visto(QStringLiteral("the runaway button ran to %1 (twips) and gave up").arg(posti.join(' ')));
}

TEST_F(Wayland, TheDedicationWindowsOpen)
{
    FinestraDiProva& f = *w;
    // The label blinks; once shown, it stays for the double-clicks.
    ASSERT_TRUE(waitUntil([&] { return f->Label3->isVisible(); }, 5000));
    f->Timer1.stop();
    QStringList aperte;
    auto ispeziona = [&](QDialog* d) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(d, 10000)) << d->windowTitle().toStdString();
        aperte << QStringLiteral("\"%1\" %2x%3 px%4")
                      .arg(d->windowTitle())
                      .arg(d->width())
                      .arg(d->height())
                      .arg(d->windowHandle()->isExposed() ? ", exposed" : ", NOT exposed");
        schermata(QStringLiteral("3-") + d->windowTitle().toLower().replace(' ', '-'));
    };
    for (int clic = 1; clic <= 4; ++clic) {
        WhenModal chiudi(ispeziona);
        QTest::mouseDClick(f->Label3, Qt::LeftButton);
    }
    ASSERT_EQ(aperte.size(), 2) << aperte.join(", ").toStdString();
    EXPECT_TRUE(aperte[0].startsWith("\"Da Tof\" 125x204 px, exposed")) << aperte[0].toStdString();
    EXPECT_TRUE(aperte[1].startsWith("\"Da Bremino\" 125x219 px, exposed")) << aperte[1].toStdString();
    const QWindow* attiva = QGuiApplication::focusWindow();
    visto(QStringLiteral("dedication windows opened: %1 (placed by the compositor); the active window now: %2")
              .arg(aperte.join(", "), attiva ? attiva->title() : QStringLiteral("none")));
}

TEST_F(Wayland, SongsPlayAndAVideoShowsItsPictures)
{
    FinestraDiProva& f = *w;
    TempDir dir;
    writeWav(dir.path(), "suono.wav", 400);
    writeAvi(dir.path(), "video.avi", 800);
    f.apri(dir.file("wayland.cmp"), dir.path(), {"suono.wav", "video.avi"});
    ASSERT_TRUE(f.messages->shown.isEmpty());

    QStringList suonate;
    QString video;
    QObject::connect(f->MMControl1, &MMControl::StatusUpdate, [&] {
        const QString nome = QFileInfo(f->MMControl1->fileName()).fileName();
        if (f->MMControl1->songRunning() && !suonate.contains(nome))
            suonate << nome;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (video.isEmpty() && top != f.form.get() && top->isVisible() && top->windowHandle() &&
                top->windowHandle()->isExposed()) {
                video = QStringLiteral("%1x%2 px").arg(top->width()).arg(top->height());
                QTimer::singleShot(0, [] { schermata(QStringLiteral("4-video")); }); // not inside the tick
            }
        }
    });
    QTest::mouseClick(f->MMControl1->playButton(), Qt::LeftButton);
    EXPECT_TRUE(f.messages->shown.isEmpty()) << f.messages->shown.value(0).prompt.toStdString();
    ASSERT_TRUE(waitUntil([&] { return !isTrue(f.lettore->RiproduzioneAttiva) && !f->MMControl1->device().isOpen(); },
                          20000));
    EXPECT_EQ(suonate, QStringList({"suono.wav", "video.avi"}));
    EXPECT_FALSE(video.isEmpty()) << "the video's window never reached the screen";
    visto(QStringLiteral("played in turn: %1; the video's pictures in a window of %2").arg(suonate.join(", "), video));
}
