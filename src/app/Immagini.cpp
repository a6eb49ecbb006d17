#include "app/Immagini.h"

#include <QPixmap>

#include <cstring>

namespace sonora::immagini {
namespace {

QImage comeImmagine(const Disegno& d)
{
    return QImage(reinterpret_cast<const uchar*>(d.pixel), d.larghezza, d.altezza, d.larghezza * 4,
                  QImage::Format_ARGB32_Premultiplied);
}

} // namespace

QIcon icona(const char* nome)
{
    QIcon icon;
    for (int i = 0; i < numeroDisegni; ++i) {
        if (std::strcmp(disegni[i].nome, nome) == 0)
            icon.addPixmap(QPixmap::fromImage(comeImmagine(disegni[i])));
    }
    return icon;
}

QImage immagine(const char* nome, QSize size)
{
    for (int i = 0; i < numeroDisegni; ++i) {
        const Disegno& d = disegni[i];
        if (std::strcmp(d.nome, nome) == 0 && QSize(d.larghezza, d.altezza) == size)
            return comeImmagine(d);
    }
    return {};
}

} // namespace sonora::immagini
