// Status-bar hints: the pointer over a working control describes it; the
// window's background clears the text; other controls leave it alone.

#include "app/Suggerimenti.h"
#include "app/frmPrincipale.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>

namespace sonora {

void frmPrincipale::Check1_MouseMove() { StatusBar1->showMessage(suggerimento::Check1); }
void frmPrincipale::Check2_MouseMove() { StatusBar1->showMessage(suggerimento::Check2); }
void frmPrincipale::cmdCompilation_MouseMove() { StatusBar1->showMessage(suggerimento::cmdCompilation); }
void frmPrincipale::cmdFine_MouseMove() { StatusBar1->showMessage(suggerimento::cmdFine); }
void frmPrincipale::cmdNuova_MouseMove() { StatusBar1->showMessage(suggerimento::cmdNuova); }
void frmPrincipale::lblNomeCompilation_MouseMove() { StatusBar1->showMessage(suggerimento::lblNomeCompilation); }
void frmPrincipale::List1_MouseMove() { StatusBar1->showMessage(suggerimento::List1); }
void frmPrincipale::ProgressBar1_MouseMove() { StatusBar1->showMessage(suggerimento::ProgressBar1); }
void frmPrincipale::Form_MouseMove() { StatusBar1->clearMessage(); }

// Pressing a mouse button on the list does nothing beyond the list's own
// selection.
void frmPrincipale::List1_MouseDown() {}

bool frmPrincipale::eventFilter(QObject* watched, QEvent* event)
{
    using Handler = void (frmPrincipale::*)();
    Handler handler = nullptr;
    if (event->type() == QEvent::MouseMove) {
        if (watched == Check1) handler = &frmPrincipale::Check1_MouseMove;
        else if (watched == Check2) handler = &frmPrincipale::Check2_MouseMove;
        else if (watched == cmdCompilation) handler = &frmPrincipale::cmdCompilation_MouseMove;
        else if (watched == cmdFine) handler = &frmPrincipale::cmdFine_MouseMove;
        else if (watched == cmdNuova) handler = &frmPrincipale::cmdNuova_MouseMove;
        else if (watched == lblNomeCompilation) handler = &frmPrincipale::lblNomeCompilation_MouseMove;
        else if (watched == List1->viewport()) handler = &frmPrincipale::List1_MouseMove;
        else if (watched == ProgressBar1) handler = &frmPrincipale::ProgressBar1_MouseMove;
        else if (watched == Command1) handler = &frmPrincipale::Command1_MouseMove;
    } else if (event->type() == QEvent::MouseButtonPress && watched == List1->viewport()) {
        handler = &frmPrincipale::List1_MouseDown;
    } else if (event->type() == QEvent::MouseButtonDblClick && watched == Label3) {
        handler = &frmPrincipale::Label3_DblClick;
    }
    if (handler)
        esegui([this, handler] { (this->*handler)(); });
    return QWidget::eventFilter(watched, event);
}

void frmPrincipale::mouseMoveEvent(QMouseEvent* event)
{
    // Moves that a control passed on to the window are not over the
    // background; a hidden control's area is.
    if (!childAt(event->position().toPoint()))
        esegui([this] { Form_MouseMove(); });
    QWidget::mouseMoveEvent(event);
}

} // namespace sonora
