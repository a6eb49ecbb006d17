#include "platform/Twips.h"

#include <QWidget>
#include <cmath>

namespace sonora::twips {

int toPixels(int twips) { return static_cast<int>(std::lround(twips / double(PerPixel))); }
int fromPixels(int pixels) { return pixels * PerPixel; }

QRect toPixels(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

void setGeometry(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(toPixels(left, top, width, height));
}

int left(const QWidget* w) { return fromPixels(w->x()); }
int top(const QWidget* w) { return fromPixels(w->y()); }
int width(const QWidget* w) { return fromPixels(w->width()); }
int height(const QWidget* w) { return fromPixels(w->height()); }

int outerWidth(const QWidget* window) { return fromPixels(window->frameGeometry().width()); }
int outerHeight(const QWidget* window) { return fromPixels(window->frameGeometry().height()); }

} // namespace sonora::twips
