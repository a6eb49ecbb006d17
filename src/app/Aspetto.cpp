#include "app/Aspetto.h"

namespace sonora::aspetto {

QFont carattere()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    return font;
}

Qt::WindowFlags cornice(Qt::WindowType kind)
{
    return kind | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint;
}

} // namespace sonora::aspetto
