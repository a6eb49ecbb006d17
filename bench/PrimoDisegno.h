#pragma once
// Watches a window from outside and, just after its first paint, prints
// "first-paint <steady clock in ns>" and ends the program: how the start-up
// benchmark times a program from its spawning to its first paint.

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>

namespace sonora::bench {

class PrimoDisegno : public QObject {
public:
    explicit PrimoDisegno(QWidget* window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Once the paint is done, not when it begins.
            QTimer::singleShot(0, this, [] {
                const auto ns = std::chrono::steady_clock::now().time_since_epoch().count();
                std::printf("first-paint %lld\n", static_cast<long long>(ns));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }
};

} // namespace sonora::bench
