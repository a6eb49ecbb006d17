// The intelligence test: a button that runs away from the pointer and, after
// five escapes, goes back where it started and declares the test failed.

#include "app/frmPrincipale.h"
#include "platform/Twips.h"

#include <QPushButton>
#include <cmath>

namespace sonora {

void frmPrincipale::Command1_MouseMove()
{
    if (Spostamenti == 0) {
        LeftIniziale = static_cast<float>(twips::left(Command1));
        TopIniziale = static_cast<float>(twips::top(Command1));
    }
    // The window's outer size, frame included, read afresh each time.
    const float x = static_cast<float>(twips::outerWidth(this)) - static_cast<float>(twips::width(Command1)) - 100.0f;
    const float y = static_cast<float>(twips::outerHeight(this)) - static_cast<float>(twips::height(Command1)) - 360.0f;
    const float r1 = Casuale();
    const float nuovoLeft = std::floor(x * r1 + 1.0f);
    const float r2 = Casuale();
    const float nuovoTop = std::floor(y * r2 + 1.0f);
    Command1->move(twips::toPixels(static_cast<int>(nuovoLeft)), twips::toPixels(static_cast<int>(nuovoTop)));

    if (Spostamenti == 5) {
        Command1->move(Command1->x(), twips::toPixels(static_cast<int>(TopIniziale)));
        Command1->move(twips::toPixels(static_cast<int>(LeftIniziale)), Command1->y());
        Command1->setText(QStringLiteral("Test di intelligenza: non passato"));
        Spostamenti = 0;
    }
    ++Spostamenti;
}

void frmPrincipale::Check2_Click()
{
    // The button's own visibility flips; the box's tick is not read.
    Command1->setVisible(Command1->isHidden());
    Command1->setText(QStringLiteral("Test di intelligenza"));
}

} // namespace sonora
