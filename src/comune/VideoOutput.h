#pragma once
// Where the pictures of a video song go: to a window of this process, or
// across to the program from the process that plays.

#include <QSize>
#include <QString>

#include <memory>

namespace sonora {

// How the pixels of a picture lie in memory. Xrgb32: a native-endian 32-bit
// 0xffRRGGBB each (blue first in memory on this little-endian machine), the
// layout the window draws without converting it on every paint. The others,
// three bytes each, are what decoders of old uncompressed and Cinepak video
// give: they are widened on the one copy a picture needs anyway, not by a
// converter of their own.
enum class PixelLayout { Xrgb32, Rgb24, Bgr24 };

// One picture: rows of pixels. Plain bytes, so that the process that plays
// needs no graphics library; they stay as they are for as long as anyone
// holds `owner`.
struct Picture {
    QSize size;
    PixelLayout layout = PixelLayout::Xrgb32;
    qsizetype stride = 0; // bytes from the start of one row to the next
    const uchar* bits = nullptr;
    std::shared_ptr<const void> owner;
    int bytesPerPixel() const { return layout == PixelLayout::Xrgb32 ? 4 : 3; }
    bool isNull() const { return size.isEmpty() || !bits || stride < qsizetype(size.width()) * bytesPerPixel(); }
};

// Copies `picture` into `to` as Xrgb32 rows with nothing between them.
void copyAsXrgb(const Picture& picture, uchar* to);

class IVideoOutput {
public:
    virtual ~IVideoOutput() = default;
    // The open song's newest picture. The first one of a song opens its window,
    // titled `title`, with room for a picture of `display` (its shape on screen).
    virtual void showFrame(const QString& title, QSize display, const Picture& picture) = 0;
    // The song closed: its window goes.
    virtual void closeWindow() = 0;
};

} // namespace sonora
