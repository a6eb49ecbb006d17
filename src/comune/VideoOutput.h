#pragma once
// Where the pictures of a video song go: to a window of this process, or
// across to the program from the process that plays.

#include <QByteArray>
#include <QSize>
#include <QString>

namespace sonora {

// One picture: rows of pixels, four bytes each, with nothing between rows.
// Each pixel is a native-endian 32-bit 0xffRRGGBB (blue first in memory on
// this little-endian machine), the layout the window draws without converting
// it on every paint. Plain bytes, so that the process that plays needs no
// graphics library.
struct Picture {
    QSize size;
    QByteArray xrgb;
    bool isNull() const { return size.isEmpty(); }
    // The bytes are whole for the size: a picture from elsewhere is checked.
    bool isWhole() const { return !isNull() && xrgb.size() == qsizetype(size.width()) * 4 * size.height(); }
};

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
