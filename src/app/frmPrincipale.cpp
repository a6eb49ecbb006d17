#include "app/frmPrincipale.h"

#include "platform/ErrorBoundary.h"
#include "platform/Twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

void sonoraInitAssets();

namespace sonora {
namespace {

// A freely licensed sans-serif whose metrics let every caption fit its box.
const QString FontFamily = QStringLiteral("Liberation Sans");
constexpr qreal FontPoints = 8.25;

const QString Caption = QStringLiteral("Sonoraccoltiera - Riservato ai lettori di Zefiral      ");

QPushButton* pictureButton(QWidget* parent, const QString& picture, const QString& tip, QSize iconSize)
{
    auto* b = new QPushButton(parent);
    b->setIcon(QIcon(picture));
    b->setIconSize(iconSize);
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    b->setAutoDefault(false);
    return b;
}

} // namespace

frmPrincipale::frmPrincipale(Servizi servizi, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , CommonDialog1(std::move(servizi.dialogo))
    , servizi_(std::move(servizi))
{
    sonoraInitAssets();
    setObjectName(QStringLiteral("frmPrincipale"));
    setWindowTitle(Caption);
    setWindowIcon(QIcon(QStringLiteral(":/assets/altoparlante.svg")));
    setFixedSize(twips::toPixels(4725), twips::toPixels(4680));
    QFont font(FontFamily);
    font.setPointSizeF(FontPoints);
    setFont(font);
    creaControlli();
    collegaEventi();
    Form_Load();
}

frmPrincipale::~frmPrincipale() = default;

void frmPrincipale::creaControlli()
{
    // Created in the window's design order; the focus order is set below.
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setUniformItemSizes(true);
    twips::setGeometry(List1, 120, 1200, 4455, 1650);

    cmdNuova = pictureButton(this, QStringLiteral(":/assets/pagina.svg"), QStringLiteral("Nuova"), QSize(16, 16));
    cmdNuova->setObjectName(QStringLiteral("cmdNuova"));
    twips::setGeometry(cmdNuova, 4200, 240, 375, 375);

    cmdCompilation = pictureButton(this, QStringLiteral(":/assets/cartella.svg"), QStringLiteral("Apri"), QSize(16, 16));
    cmdCompilation->setObjectName(QStringLiteral("cmdCompilation"));
    twips::setGeometry(cmdCompilation, 3720, 240, 375, 375);

    Check1 = new QCheckBox(QStringLiteral("Ripeti"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    twips::setGeometry(Check1, 120, 2880, 855, 255);

    ProgressBar1 = new ProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    twips::setGeometry(ProgressBar1, 120, 3360, 4455, 255);

    cmdFine = pictureButton(this, QStringLiteral(":/assets/stop.svg"), QStringLiteral("Esci"), QSize(28, 28));
    cmdFine->setObjectName(QStringLiteral("cmdFine"));
    twips::setGeometry(cmdFine, 3840, 3720, 735, 495);

    MMControl1 = new MMControl(std::move(servizi_.dispositivo), this);
    MMControl1->setObjectName(QStringLiteral("MMControl1"));
    twips::setGeometry(MMControl1, 120, 3720, 810, 495);

    Label2 = new QLabel(QStringLiteral("Canzoni:"), this);
    twips::setGeometry(Label2, 120, 960, 1215, 255);

    lblNomeCompilation = new QLabel(QStringLiteral("- Nessuna -"), this);
    lblNomeCompilation->setObjectName(QStringLiteral("lblNomeCompilation"));
    lblNomeCompilation->setTextFormat(Qt::PlainText); // titles are file names, never markup
    lblNomeCompilation->setFrameStyle(QFrame::Box | QFrame::Plain);
    twips::setGeometry(lblNomeCompilation, 120, 360, 3495, 255);

    Label1 = new QLabel(QStringLiteral("Titolo della compilation:"), this);
    twips::setGeometry(Label1, 120, 120, 1935, 255);

    setTabOrder(MMControl1, cmdCompilation);
    setTabOrder(cmdCompilation, cmdNuova);
    setTabOrder(cmdNuova, List1);
    setTabOrder(List1, cmdFine);
    setTabOrder(cmdFine, Check1);
}

void frmPrincipale::collegaEventi()
{
    auto on = [this](void (frmPrincipale::*handler)()) {
        return [this, handler] { esegui([this, handler] { (this->*handler)(); }); };
    };
    connect(cmdNuova, &QPushButton::clicked, this, on(&frmPrincipale::cmdNuova_Click));
    connect(cmdCompilation, &QPushButton::clicked, this, on(&frmPrincipale::cmdCompilation_Click));
    connect(cmdFine, &QPushButton::clicked, this, on(&frmPrincipale::cmdFine_Click));

    connect(MMControl1, &MMControl::PlayClick, this,
            [this](Intero& cancel) { esegui([&] { MMControl1_PlayClick(cancel); }); });
    connect(MMControl1, &MMControl::StopClick, this,
            [this](Intero& cancel) { esegui([&] { MMControl1_StopClick(cancel); }); });
    connect(MMControl1, &MMControl::StatusUpdate, this, on(&frmPrincipale::MMControl1_StatusUpdate));
    connect(MMControl1, &MMControl::Done, this,
            [this](Intero code) { esegui([&] { MMControl1_Done(code); }); });
}

void frmPrincipale::Print(const QString& text)
{
    printed_ << text;
    update();
}

void frmPrincipale::paintEvent(QPaintEvent*)
{
    // Printed lines start at the top left corner, one below the other, in
    // the window's font, beneath the controls.
    if (printed_.isEmpty())
        return;
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics fm(font());
    int y = fm.ascent();
    for (const QString& line : printed_) {
        p.drawText(0, y, line);
        y += fm.height();
        if (y - fm.ascent() > height())
            break;
    }
}

void frmPrincipale::esegui(const std::function<void()>& handler)
{
    runHandler(*servizi_.messaggi, handler);
}

void frmPrincipale::Form_Load()
{
    InizializzaLettore();
}

void frmPrincipale::Form_Unload(Intero& /*cancel*/)
{
    MMControl1->setCommand(QStringLiteral("Close"));
}

void frmPrincipale::closeEvent(QCloseEvent* event)
{
    Intero cancel = 0;
    esegui([&] { Form_Unload(cancel); });
    event->accept(); // the window always closes, and with it the program
}

} // namespace sonora
