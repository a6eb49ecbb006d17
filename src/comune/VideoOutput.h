#pragma once
// Where the pictures of a video song go: to a window of this process, or
// across to the program from the process that plays.

#include <QSize>
#include <QString>

#include <memory>

namespace sonora {

// One picture: rows of pixels, four bytes each. Each pixel is a native-endian
// 32-bit 0xffRRGGBB (blue first in memory on this little-endian machine), the
// layout the window draws without converting it on every paint. Plain bytes,
// so that the process that plays needs no graphics library; they stay as
// they are for as long as anyone holds `owner`, and are never copied on the
// way to the screen.
struct Picture {
    QSize size;
    qsizetype stride = 0; // bytes from the start of one row to the next
    const uchar* bits = nullptr;
    std::shared_ptr<const void> owner;
    bool isNull() const { return size.isEmpty() || !bits || stride < qsizetype(size.width()) * 4; }
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
