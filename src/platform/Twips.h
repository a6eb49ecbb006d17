#pragma once
// Window and control geometry is designed in twips: 15 twips per logical
// pixel. Qt scales logical pixels by the screen's device pixel ratio, so the
// same twips give a crisp, correctly proportioned window on a 2x screen.

#include <QRect>

class QWidget;

namespace sonora::twips {

inline constexpr int PerPixel = 15;

int toPixels(int twips);
int fromPixels(int pixels);
QRect toPixels(int left, int top, int width, int height);

// Places `w` at a box given in twips, relative to its parent's client area.
void setGeometry(QWidget* w, int left, int top, int width, int height);

// A control's box in twips.
int left(const QWidget* w);
int top(const QWidget* w);
int width(const QWidget* w);
int height(const QWidget* w);

// A top-level window's outer size in twips, frame and title bar included.
int outerWidth(const QWidget* window);
int outerHeight(const QWidget* window);

} // namespace sonora::twips
