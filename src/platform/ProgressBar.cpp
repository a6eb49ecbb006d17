#include "platform/ProgressBar.h"

#include <QStyleOptionProgressBar>
#include <QStylePainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace sonora {
namespace {

// Whole milliseconds; what lies beyond Qt's range is its nearest end.
int milliseconds(float value)
{
    if (!(value > 0)) // NaN too
        return 0;
    if (value >= 2147483648.0f)
        return INT_MAX;
    return int(std::lround(value));
}

} // namespace

ProgressBar::ProgressBar(QWidget* parent)
    : QProgressBar(parent)
{
    setTextVisible(false);
    setRange(0, 100);
    setValue(0);
}

void ProgressBar::setMax(float max)
{
    const int length = milliseconds(max);
    // Qt would empty a bar whose value lies beyond its new maximum (value -1).
    if (value() > length)
        setValue(length);
    setMaximum(length);
}

// A playing song moves the value at every tick; the bar is painted again
// only when its drawn length changes by a pixel.
void ProgressBar::setVal(float value)
{
    setValue(std::min(milliseconds(value), maximum()));
    if (drawnLength() != drawn_)
        update();
}

int ProgressBar::drawnLength() const
{
    return maximum() > 0 ? int(qint64(value()) * width() / maximum()) : 0;
}

void ProgressBar::paintEvent(QPaintEvent* event)
{
    drawn_ = drawnLength();
    if (maximum() > 0) {
        QProgressBar::paintEvent(event);
        return;
    }
    // A range of 0 to 0 is Qt's busy bar; this one is empty instead.
    QStylePainter painter(this);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    option.maximum = 1;
    option.progress = 0;
    painter.drawControl(QStyle::CE_ProgressBar, option);
}

} // namespace sonora
