#include "app/frmPrincipale.h"

#include "app/Aspetto.h"
#include "app/Immagini.h"
#include "app/Suggerimenti.h"
#include "platform/ErrorBoundary.h"
#include "platform/Twips.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QToolButton>
#include <QWindow>

namespace sonora {
namespace {

constexpr qreal VersionFontPoints = 9.75;

const QString Caption = QStringLiteral("Sonoraccoltiera - Riservato ai lettori di Zefiral      ");

template <class W>
W* place(W* w, const char* name, int left, int top, int width, int height)
{
    w->setObjectName(QLatin1String(name));
    twips::setGeometry(w, left, top, width, height);
    return w;
}

QPushButton* pictureButton(QWidget* parent, const char* picture, const QString& tip,
                           const QString& hint, QSize iconSize)
{
    auto* b = new QPushButton(parent);
    b->setIcon(immagini::icona(picture));
    b->setIconSize(iconSize);
    b->setToolTip(tip);
    // Screen readers name the picture buttons by their tool tips and
    // describe them with their status-bar hints.
    b->setAccessibleName(tip);
    b->setAccessibleDescription(hint);
    b->setAutoDefault(false);
    return b;
}

// A thin rule sets the status line apart even while it is empty. Drawn by
// hand: a style sheet would bring in Qt's whole style-sheet engine, and
// restyle the bar through it, for one line.
class BarraDiStato : public QStatusBar {
public:
    using QStatusBar::QStatusBar;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QStatusBar::paintEvent(event);
        QPainter p(this);
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(0, 0, width() - 1, 0);
    }
};

// Qt announces a plain top-level widget as a "filler"; screen readers must
// hear the program's window as a window, named by its caption.
QAccessibleInterface* finestraAccessibile(const QString& className, QObject* object)
{
    if (className == QLatin1String(frmPrincipale::staticMetaObject.className()) && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

frmPrincipale::frmPrincipale(Servizi servizi, QWidget* parent)
    : QWidget(parent, aspetto::cornice(Qt::Window))
    , ControlliPrincipale(std::move(servizi.dialogo))
    , terminaApplicazione_(std::move(servizi.terminaApplicazione))
    , messaggi_(std::move(servizi.messaggi))
{
    static const bool accessibile = (QAccessible::installFactory(finestraAccessibile), true);
    Q_UNUSED(accessibile);
    setObjectName(QStringLiteral("frmPrincipale"));
    setWindowTitle(Caption);
    setWindowIcon(immagini::icona("altoparlante"));
    setFont(aspetto::carattere());
    // The client area at its design position; the window system may still
    // place the window elsewhere.
    setGeometry(twips::toPixels(4890, 3255, 4725, 4680));
    setFixedSize(size());
    setMouseTracking(true);
    testoStampato_ = new TestoStampato(this);

    creaControlli(std::move(servizi.dispositivo));
    impostaOrdineTab();
    collegaEventi();
    Form_Load();
    Timer1.start();
}

frmPrincipale::~frmPrincipale() = default;

void frmPrincipale::creaControlli(std::unique_ptr<IMediaDevice> dispositivo)
{
    Check2 = place(new QCheckBox(QStringLiteral("Disattiva test di intelligenza"), this), "Check2", 2040, 2880, 2415, 255);
    Check2->setChecked(true);

    Command1 = place(new QPushButton(QStringLiteral("Test di intelligenza"), this), "Command1", 1800, 720, 2775, 375);
    Command1->setAutoDefault(false);
    Command1->setVisible(false);

    StatusBar1 = place(new BarraDiStato(this), "StatusBar1", 0, 4425, 4725, 255);
    StatusBar1->setSizeGripEnabled(false);

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(150);

    ProgressBar1 = place(new ProgressBar(this), "ProgressBar1", 120, 3360, 4455, 255);
    ProgressBar1->setAccessibleName(suggerimento::ProgressBar1);

    Check1 = place(new QCheckBox(QStringLiteral("Ripeti"), this), "Check1", 120, 2880, 855, 255);

    cmdFine = place(pictureButton(this, "stop", QStringLiteral("Esci"),
                                  suggerimento::cmdFine, QSize(28, 28)),
                    "cmdFine", 3840, 3720, 735, 495);

    List1 = place(new QListWidget(this), "List1", 120, 1200, 4455, 1650);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setUniformItemSizes(true);
    List1->setAccessibleName(QStringLiteral("Canzoni"));

    cmdNuova = place(pictureButton(this, "pagina", QStringLiteral("Nuova"),
                                   suggerimento::cmdNuova, QSize(16, 16)),
                     "cmdNuova", 4200, 240, 375, 375);

    cmdCompilation = place(pictureButton(this, "cartella", QStringLiteral("Apri"),
                                         suggerimento::cmdCompilation, QSize(16, 16)),
                           "cmdCompilation", 3720, 240, 375, 375);

    // Its buttons' own actions go through this window's error boundary too,
    // whoever presses them.
    MMControl1 = place(new MMControl(std::move(dispositivo), [this](const std::function<void()>& h) { esegui(h); }, this),
                       "MMControl1", 120, 3720, 810, 495);

    Label3 = place(new QLabel(QStringLiteral("Versione beta 2"), this), "Label3", 1560, 3840, 1815, 255);
    QFont bold = font();
    bold.setPointSizeF(VersionFontPoints);
    bold.setBold(true);
    Label3->setFont(bold);
    Label3->setVisible(false);

    Label2 = place(new QLabel(QStringLiteral("Canzoni:"), this), "Label2", 120, 960, 1215, 255);

    lblNomeCompilation = place(new QLabel(QStringLiteral("- Nessuna -"), this), "lblNomeCompilation", 120, 360, 3495, 255);
    lblNomeCompilation->setTextFormat(Qt::PlainText); // titles are file names, never markup
    lblNomeCompilation->setFrameStyle(QFrame::Box | QFrame::Plain);

    Label1 = place(new QLabel(QStringLiteral("Titolo della compilation:"), this), "Label1", 120, 120, 1935, 255);

    for (QLabel* label : {Label1, Label2, Label3})
        label->setTextFormat(Qt::PlainText);

    // The runaway button may land anywhere, over any other control: it must
    // stay on top there, or it vanishes under them and the pointer never
    // reaches it again.
    Command1->raise();
}

void frmPrincipale::impostaOrdineTab()
{
    // Focusable controls in their keyboard order; hidden ones are skipped.
    const QList<QWidget*> order = {MMControl1->playButton(), MMControl1->stopButton(), cmdCompilation,
                                   cmdNuova, List1, cmdFine, Check1, Command1, Check2};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void frmPrincipale::collegaEventi()
{
    auto on = [this](void (frmPrincipale::*handler)()) {
        return [this, handler] { esegui([this, handler] { (this->*handler)(); }); };
    };
    connect(cmdNuova, &QPushButton::clicked, this, on(&frmPrincipale::cmdNuova_Click));
    connect(cmdCompilation, &QPushButton::clicked, this, on(&frmPrincipale::cmdCompilation_Click));
    connect(cmdFine, &QPushButton::clicked, this, on(&frmPrincipale::cmdFine_Click));
    // Every flip of the tick, by mouse, key or screen reader, runs the handler once.
    connect(Check2, &QCheckBox::toggled, this, on(&frmPrincipale::Check2_Click));
    connect(&Timer1, &QTimer::timeout, this, on(&frmPrincipale::Timer1_Timer));

    connect(MMControl1, &MMControl::PlayClick, this,
            [this](Intero& cancel) { esegui([&] { MMControl1_PlayClick(cancel); }); });
    connect(MMControl1, &MMControl::StopClick, this,
            [this](Intero& cancel) { esegui([&] { MMControl1_StopClick(cancel); }); });
    connect(MMControl1, &MMControl::StatusUpdate, this, on(&frmPrincipale::MMControl1_StatusUpdate));
    connect(MMControl1, &MMControl::Done, this,
            [this](Intero code) { esegui([&] { MMControl1_Done(code); }); });

    // Esc answers the exit button, like a dialog's cancel key.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, cmdFine, &QPushButton::click);

    // Pointer moves are reported without a pressed button, so hints follow
    // the pointer; Command1, Label3 and List1 have handlers of their own.
    const QList<QWidget*> watched = {Check1, Check2, cmdCompilation, cmdFine, cmdNuova, lblNomeCompilation,
                                     List1->viewport(), ProgressBar1, Command1, Label3};
    for (QWidget* w : watched) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }

    connect(qApp, &QGuiApplication::focusWindowChanged, this, &frmPrincipale::finestraAttivata);
}

void frmPrincipale::esegui(const std::function<void()>& handler)
{
    runHandler(*messaggi_, handler);
}

void frmPrincipale::Form_Load()
{
    InizializzaLettore();
}

void frmPrincipale::Form_Deactivate()
{
    MMControl1->setCommand(comando::Close);
}

void frmPrincipale::Form_Unload(Intero& /*cancel*/)
{
    MMControl1->setCommand(comando::Close);
}

void frmPrincipale::finestraAttivata(QWindow* window)
{
    // Only another window of ours that takes over from this one counts:
    // dialogs and message boxes, the video window and other programs do not.
    if (!window || window == windowHandle())
        return;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->windowHandle() == window && top->property(aspetto::DeactivatesMain).toBool()) {
            esegui([this] { Form_Deactivate(); });
            return;
        }
    }
}

void frmPrincipale::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        // The keyboard focus starts on the first focusable control in order.
        MMControl1->playButton()->setFocus(Qt::OtherFocusReason);
    }
}

void frmPrincipale::closeEvent(QCloseEvent* event)
{
    Intero cancel = 0;
    esegui([&] { Form_Unload(cancel); });
    event->accept(); // the window always closes, and with it the program
}

void frmPrincipale::paintEvent(QPaintEvent*)
{
    // Printed lines lie beneath the controls.
    if (testoStampato_->lines().isEmpty())
        return;
    QPainter p(this);
    testoStampato_->paint(p);
}

} // namespace sonora
