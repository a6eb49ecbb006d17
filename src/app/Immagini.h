#pragma once
// The program's pictures, drawn from assets/*.svg when the program is built
// at each size they are shown, and compiled in as pixels.

#include <QIcon>
#include <QImage>

namespace sonora::immagini {

struct Disegno {
    const char* nome;
    int larghezza;
    int altezza;
    const quint32* pixel; // premultiplied ARGB, row by row
};
extern const Disegno disegni[];
extern const int numeroDisegni;

// Picture `nome` at every size it was drawn at; the icon picks the one that fits.
QIcon icona(const char* nome);

// Picture `nome` as drawn at `size`, sharing the compiled-in pixels; a null
// image if it was not drawn at that size.
QImage immagine(const char* nome, QSize size);

} // namespace sonora::immagini
