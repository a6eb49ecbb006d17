#include "platform/ProgressBar.h"

#include <algorithm>
#include <cmath>

namespace sonora {
namespace {
constexpr int Steps = 10000;
}

ProgressBar::ProgressBar(QWidget* parent)
    : QProgressBar(parent)
{
    setRange(0, Steps);
    setTextVisible(false);
    refresh();
}

void ProgressBar::refresh()
{
    const float fraction = max_ > 0 ? std::clamp(value_ / max_, 0.0f, 1.0f) : 0.0f;
    setValue(static_cast<int>(std::lround(fraction * Steps)));
}

} // namespace sonora
