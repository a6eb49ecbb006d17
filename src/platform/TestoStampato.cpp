#include "platform/TestoStampato.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace sonora {

TestoStampato::TestoStampato(QWidget* window)
    : QObject(window)
    , window_(window)
{
    window_->installEventFilter(this);
}

int TestoStampato::lineHeight() const
{
    return window_->fontMetrics().height();
}

void TestoStampato::print(const QString& text)
{
    const int height = lineHeight();
    if (position_ < window_->height()) {
        if (lines_.isEmpty())
            top_ = position_;
        lines_ << text;
        window_->update(0, position_, window_->width(), height);
    }
    // Below the window's bottom nothing more shows, however much is printed.
    position_ = std::min(position_ + height, window_->height());
}

void TestoStampato::paint(QPainter& painter) const
{
    painter.setPen(window_->palette().color(QPalette::WindowText));
    painter.setFont(window_->font());
    const int height = lineHeight();
    const int ascent = window_->fontMetrics().ascent();
    for (qsizetype i = 0; i < lines_.size(); ++i)
        painter.drawText(0, top_ + int(i) * height + ascent, lines_[i]);
}

bool TestoStampato::eventFilter(QObject* watched, QEvent* event)
{
    // The window system's window exists once the widget is about to show.
    if (watched == window_ && event->type() == QEvent::Show && window_->windowHandle() != watched_) {
        watched_ = window_->windowHandle();
        watched_->installEventFilter(this);
    } else if (watched == watched_ && event->type() == QEvent::Expose && !lines_.isEmpty()) {
        // Exposed, or hidden, by the window system: the surface is drawn
        // afresh, without the text.
        lines_.clear();
        window_->update();
    }
    return false;
}

} // namespace sonora
