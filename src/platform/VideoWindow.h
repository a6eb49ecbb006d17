#pragma once
// The window that shows the picture of a video song.

#include "comune/VideoOutput.h"

#include <QImage>
#include <QWidget>

#include <memory>

namespace sonora {

class VideoWindow : public QWidget {
    Q_OBJECT
public:
    // A top-level window titled `title` with room for a picture of `videoSize`.
    // It never takes the focus from the main window when it appears.
    VideoWindow(const QString& title, const QSize& videoSize);

    // Shows `frame` (any size: it is scaled, keeping its shape) from the next paint.
    void setFrame(const QImage& frame);
    const QImage& frame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage frame_;
    QSize videoSize_;
};

// Shows each song's pictures in a VideoWindow of its own.
class VideoWindowOutput : public IVideoOutput {
public:
    void showFrame(const QString& title, QSize display, const Picture& picture) override;
    void closeWindow() override { window_.reset(); }
    // The open song's window; null when it has shown no picture.
    QWidget* window() const { return window_.get(); }

private:
    std::unique_ptr<VideoWindow> window_;
};

} // namespace sonora
