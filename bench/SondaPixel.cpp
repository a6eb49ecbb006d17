#include "SondaPixel.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace sonora::bench {
namespace {

void pausa(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

} // namespace

SondaPixel::SondaPixel(const std::string& display, unsigned long window)
    : window_(window)
{
    x_ = XOpenDisplay(display.c_str());
    if (!x_)
        throw std::runtime_error("cannot open display " + display);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    thread_ = std::thread([this] { osserva(); });
}

SondaPixel::~SondaPixel()
{
    stop_ = true;
    thread_.join();
    XCloseDisplay(x_);
}

void SondaPixel::osserva()
{
    bool bright = false;
    XWindowAttributes a{};
    bool known = false; // the window's size, read again after a failed reading
    while (!stop_) {
        if (!known && (!XGetWindowAttributes(x_, window_, &a) || a.map_state != IsViewable)) {
            pausa(5);
            continue;
        }
        known = true;
        const auto asked = Clock::now();
        XImage* image = XGetImage(x_, window_, a.width / 2 - 2, a.height / 2 - 2, 4, 4, AllPlanes, ZPixmap);
        const auto answered = Clock::now();
        if (!image) {
            known = false;
            pausa(5);
            continue;
        }
        const unsigned long pixel = XGetPixel(image, 2, 2);
        XDestroyImage(image);
        ++readings_;
        const bool now = (pixel >> 8 & 0xff) > 128; // green, in the 24-bit visual
        if (now && !bright) {
            std::lock_guard lock(mutex_);
            onsets_.push_back(asked + (answered - asked) / 2);
        }
        bright = now;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

} // namespace sonora::bench
