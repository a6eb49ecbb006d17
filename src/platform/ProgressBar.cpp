#include "platform/ProgressBar.h"

#include <algorithm>
#include <cmath>

namespace sonora {

ProgressBar::ProgressBar(QWidget* parent)
    : QProgressBar(parent)
{
    setTextVisible(false);
    refresh();
}

// One step per pixel of the bar: a value that would not move it changes
// nothing, so a playing song repaints the bar (and tells screen readers)
// only when there is something new to see.
void ProgressBar::resizeEvent(QResizeEvent* event)
{
    QProgressBar::resizeEvent(event);
    setRange(0, std::max(1, width()));
    refresh();
}

void ProgressBar::refresh()
{
    const float fraction = max_ > 0 ? std::clamp(value_ / max_, 0.0f, 1.0f) : 0.0f;
    setValue(static_cast<int>(std::lround(fraction * float(maximum()))));
}

} // namespace sonora
