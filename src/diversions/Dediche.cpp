// Double-clicks on the blinking version label open the hidden dedication
// windows: the third counted one frmTof, the fourth frmBremino.

#include "app/frmPrincipale.h"
#include "diversions/FinestraDedica.h"

#include <QLabel>

namespace sonora {

void frmPrincipale::Label3_DblClick()
{
    if (!Label3->isHidden())
        ++DoppiClic;
    if (DoppiClic == 3)
        frmTof::istanza().Show();
    if (DoppiClic == 4) {
        frmBremino::istanza().Show();
        DoppiClic = 0;
    }
}

} // namespace sonora
