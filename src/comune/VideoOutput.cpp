#include "comune/VideoOutput.h"

#include <cstring>

namespace sonora {
namespace {

template <int R, int G, int B>
void widen(const uchar* from, quint32* to, int width)
{
    for (int x = 0; x < width; ++x, from += 3)
        to[x] = 0xff000000u | quint32(from[R]) << 16 | quint32(from[G]) << 8 | quint32(from[B]);
}

} // namespace

void copyAsXrgb(const Picture& picture, uchar* to)
{
    const int width = picture.size.width();
    const qsizetype row = qsizetype(width) * 4;
    if (picture.layout == PixelLayout::Xrgb32 && picture.stride == row) { // the usual case: one copy of the whole
        std::memcpy(to, picture.bits, size_t(row * picture.size.height()));
        return;
    }
    for (int y = 0; y < picture.size.height(); ++y) {
        const uchar* from = picture.bits + picture.stride * y;
        auto* into = reinterpret_cast<quint32*>(to + row * y);
        switch (picture.layout) {
        case PixelLayout::Xrgb32:
            std::memcpy(into, from, size_t(row));
            break;
        case PixelLayout::Rgb24:
            widen<0, 1, 2>(from, into, width);
            break;
        case PixelLayout::Bgr24:
            widen<2, 1, 0>(from, into, width);
            break;
        }
    }
}

} // namespace sonora
