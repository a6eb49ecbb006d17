// The caption scrolls behind its fixed prefix, and the version label blinks.

#include "app/frmPrincipale.h"

#include <QLabel>

namespace sonora {
namespace {
const QString Prefix = QStringLiteral("Sonoraccoltiera - ");
}

void frmPrincipale::Timer1_Timer()
{
    // The caption itself is the marquee's state: read back, rotated, written.
    const QString c = windowTitle();
    const qsizetype n = c.size() - Prefix.size();
    if (n >= 1) {
        QString t = c.right(n);
        t = t.mid(1) + t.at(0);
        setWindowTitle(Prefix + t);
    }
    ++Scatti;
    if (Scatti == 5) {
        Label3->setVisible(Label3->isHidden());
        Scatti = 0;
    }
}

} // namespace sonora
