#pragma once
// Runs an action once, just after a window's first paint: for what may wait
// until the user sees the window, and for timing how long that took.

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

namespace sonora {

class DopoIlPrimoDisegno : public QObject {
public:
    DopoIlPrimoDisegno(QWidget* window, std::function<void()> azione)
        : QObject(window)
        , azione_(std::move(azione))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && azione_) {
            watched->removeEventFilter(this);
            // Once the paint is done, not when it begins.
            QTimer::singleShot(0, this, std::exchange(azione_, nullptr));
        }
        return false;
    }

private:
    std::function<void()> azione_;
};

} // namespace sonora
