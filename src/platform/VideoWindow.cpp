#include "platform/VideoWindow.h"

#include <QPainter>

namespace sonora {

VideoWindow::VideoWindow(const QString& title, const QSize& videoSize)
    : QWidget(nullptr, Qt::Window)
    , videoSize_(videoSize)
{
    setWindowTitle(title);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent); // every paint covers the whole window
    setFocusPolicy(Qt::NoFocus);
    // The main window tells this one apart from its own dialogs by this mark.
    setProperty("sonoraMediaWindow", true);
    resize(videoSize.isValid() ? videoSize : QSize(320, 240));
}

void VideoWindow::setFrame(const QImage& frame)
{
    frame_ = frame;
    update();
}

void VideoWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (frame_.isNull()) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    // Letterbox: keep the picture's shape whatever size the user gives the window.
    const QSize shown = videoSize_.isValid() ? videoSize_ : frame_.size();
    const QSize fitted = shown.scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    if (target != rect()) {
        const QRegion around = QRegion(rect()).subtracted(QRegion(target));
        for (const QRect& r : around)
            p.fillRect(r, Qt::black);
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != frame_.size());
    p.drawImage(target, frame_);
}

void VideoWindowOutput::showFrame(const QString& title, QSize display, const Picture& picture)
{
    if (picture.isNull())
        return;
    QImage frame;
    if (picture.layout == PixelLayout::Xrgb32) {
        // The image paints the picture's own bytes, and holds them while it needs them.
        using Owner = std::shared_ptr<const void>;
        frame = QImage(picture.bits, picture.size.width(), picture.size.height(), picture.stride,
                       QImage::Format_RGB32, [](void* owner) { delete static_cast<Owner*>(owner); },
                       new Owner(picture.owner));
    } else {
        // Widened once here rather than at every paint.
        frame = QImage(picture.size, QImage::Format_RGB32);
        if (frame.isNull())
            return;
        copyAsXrgb(picture, frame.bits());
    }
    const bool opening = !window_;
    if (opening)
        window_ = std::make_unique<VideoWindow>(title, display);
    window_->setFrame(frame);
    if (opening)
        window_->show();
}

} // namespace sonora
