#include "ProgrammaVero.h"

#include <algorithm>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace sonora::bench {

ProgrammaVero::ProgrammaVero(const std::string& binary, const std::string& display,
                             std::vector<std::string> environment, const Bersagli& at)
    : display_(display), at_(at)
{
    environment.push_back("DISPLAY=" + display);
    environment.push_back("QT_QPA_PLATFORM=xcb");
    // Off the desktop's bus: its player controls would take the media keys.
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=/dev/null");
    process_ = avvia({{binary}, environment, false, true}); // what it says on stderr, the benchmark says
    const auto ids = aspettaFinestre(display, process_.pid, 1, 20000);
    if (ids.empty()) {
        termina(process_.pid);
        throw std::runtime_error(binary + " shows no window");
    }
    main_ = ids.front();
    x_ = XOpenDisplay(display.c_str());
    if (!x_) {
        termina(process_.pid);
        throw std::runtime_error("cannot open display " + display);
    }
    Window child = 0;
    XTranslateCoordinates(x_, Window(std::stoul(main_)), DefaultRootWindow(x_), 0, 0, &origin_.rx(), &origin_.ry(),
                          &child);
}

ProgrammaVero::~ProgrammaVero()
{
    XCloseDisplay(x_);
    termina(process_.pid);
}

bool ProgrammaVero::apri(const std::string& compilation)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0)
            std::fprintf(stderr, "the compilation %s did not open; once more\n", compilation.c_str());
        const std::vector<std::string> before = finestre(display_, process_.pid);
        clic(display_, main_, at_.apri);
        const auto withDialog = aspettaFinestre(display_, process_.pid, 2);
        if (withDialog.size() < 2)
            continue;
        const std::string dialog = withDialog.back() == main_ ? withDialog.front() : withDialog.back();
        xdotool(display_, {"windowfocus", "--sync", dialog});
        xdotool(display_, {"type", "--delay", "2", compilation});
        xdotool(display_, {"key", "Return"});
        // The dialog goes; a box that shows instead says the compilation
        // did not open. Of the windows that came since the click, a video's
        // own (named after its file) and a button's hint (no name) may stay.
        auto others = [&] {
            std::vector<std::string> out;
            for (const std::string& w : finestre(display_, process_.pid))
                if (const std::string name = xdotool(display_, {"getwindowname", w});
                    std::find(before.begin(), before.end(), w) == before.end() && !name.empty()
                    && !name.ends_with(".avi"))
                    out.push_back(w);
            return out;
        };
        for (const auto deadline = Clock::now() + std::chrono::seconds(3);
             !others().empty() && Clock::now() < deadline;)
            pausa(20);
        pausa(200);
        const auto left = others();
        if (left.empty())
            return true;
        for (const std::string& w : left) {
            std::fprintf(stderr, "  left showing: %s\n", xdotool(display_, {"getwindowname", w}).c_str());
            xdotool(display_, {"key", "--window", w, "Escape"});
        }
        pausa(200);
    }
    return false;
}

Clock::time_point ProgrammaVero::premi(QPoint at)
{
    XTestFakeMotionEvent(x_, DefaultScreen(x_), origin_.x() + at.x(), origin_.y() + at.y(), 0);
    XSync(x_, False);
    pausa(30); // the button sees the pointer arrive before it is pressed
    const auto t = Clock::now();
    XTestFakeButtonEvent(x_, 1, True, 0);
    XTestFakeButtonEvent(x_, 1, False, 0);
    XFlush(x_);
    return t;
}

} // namespace sonora::bench
