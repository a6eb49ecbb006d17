#pragma once
// Where the pictures of a video song go: to a window of this process, or
// across to the program from the process that plays.

#include <QImage>
#include <QSize>
#include <QString>

namespace sonora {

class IVideoOutput {
public:
    virtual ~IVideoOutput() = default;
    // The open song's newest picture. The first one of a song opens its window,
    // titled `title`, with room for a picture of `display` (its shape on screen).
    virtual void showFrame(const QString& title, QSize display, const QImage& frame) = 0;
    // The song closed: its window goes.
    virtual void closeWindow() = 0;
};

} // namespace sonora
