#pragma once
// The real program, started as a user starts it on a private X server and
// driven as a person would: "Apri", the compilation's path typed into the
// file dialog, play and stop clicked. Any build's program works the same,
// whatever its window code is, so two builds are measured alike. Where to
// click is read from this build's window classes; the window's layout is
// not what builds are compared on.

#include "Processo.h"
#include "support/FinestraDiProva.h"

#include <QApplication>
#include <QPushButton>
#include <QToolButton>

#include <cstdio>

// Xlib's display; its header is kept out, as its macros (None, Status…)
// clash with ordinary names.
struct _XDisplay;

namespace sonora::bench {

inline void pausa(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Runs xdotool with `args` on `display`; its first line of output.
inline std::string xdotool(const std::string& display, std::vector<std::string> args)
{
    args.insert(args.begin(), "xdotool");
    const std::string out = uscitaDi({args, {"DISPLAY=" + display}});
    return out.substr(0, out.find('\n'));
}

// Visible windows of a process, oldest first; of any process when `pid` is 0
// (not every program names its process on its windows).
inline std::vector<std::string> finestre(const std::string& display, pid_t pid = 0)
{
    std::vector<std::string> args{"xdotool", "search", "--onlyvisible"};
    if (pid)
        args.insert(args.end(), {"--pid", std::to_string(pid)});
    else
        args.insert(args.end(), {"--name", ".*"});
    std::istringstream lines(uscitaDi({args, {"DISPLAY=" + display}}));
    std::vector<std::string> ids;
    for (std::string id; std::getline(lines, id);)
        ids.push_back(id);
    return ids;
}

inline std::vector<std::string> aspettaFinestre(const std::string& display, pid_t pid, size_t count,
                                                int timeoutMs = 5000)
{
    for (const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs); Clock::now() < deadline;) {
        auto ids = finestre(display, pid);
        if (ids.size() >= count)
            return ids;
        pausa(20);
    }
    return {};
}

inline void clic(const std::string& display, const std::string& window, QPoint at)
{
    xdotool(display, {"mousemove", "--window", window, std::to_string(at.x()), std::to_string(at.y()), "click", "1"});
}

// Where a person clicks in the main window, from the window's own layout
// (needs a QApplication in this process).
struct Bersagli {
    QPoint apri, play, stop;
};

inline Bersagli bersagli()
{
    sonora::test::FinestraDiProva w;
    w.form->show(); // lays the buttons out
    QApplication::processEvents();
    auto centre = [&](QWidget* b) { return b->mapTo(w.form.get(), b->rect().center()); };
    return {centre(w->cmdCompilation), centre(w->MMControl1->playButton()), centre(w->MMControl1->stopButton())};
}

// A compilation file: the folder, then its songs with the first and last
// swapped, as the reader swaps them back.
inline std::string scriviCompilazione(const std::string& path, const std::string& folder,
                                      std::vector<std::string> songs)
{
    if (songs.size() > 1)
        std::swap(songs.front(), songs.back());
    std::ofstream out(path);
    out << folder << "\r\n";
    for (const std::string& s : songs)
        out << s << "\r\n";
    return path;
}

class ProgrammaVero {
public:
    // `binary` on `display`, with `environment` (the sound server's); throws
    // when its window does not show.
    ProgrammaVero(const std::string& binary, const std::string& display, std::vector<std::string> environment,
                  const Bersagli& at);
    ~ProgrammaVero();
    ProgrammaVero(const ProgrammaVero&) = delete;
    ProgrammaVero& operator=(const ProgrammaVero&) = delete;

    pid_t pid() const { return process_.pid; }
    const std::string& finestra() const { return main_; }

    // "Apri", and `compilation` chosen in the file dialog: the player starts
    // then. Tried twice; false when it did not open (no dialog, or a box
    // instead of the list: a name typed wrong).
    bool apri(const std::string& compilation);

    // Clicks play through the X server's test extension, without a helper
    // process between: the instant returned is when the press was sent.
    Clock::time_point play() { return premi(at_.play); }
    Clock::time_point stop() { return premi(at_.stop); }

    // True once the program runs no other process (its player has gone at rest).
    bool aRiposo() const { return famiglia(process_.pid).size() == 1; }

private:
    Clock::time_point premi(QPoint at);

    std::string display_;
    Bersagli at_;
    Figlio process_;
    std::string main_;
    ::_XDisplay* x_ = nullptr;
    QPoint origin_;
};

} // namespace sonora::bench
