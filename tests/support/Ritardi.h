#pragma once
// How late a 10 ms timer fires while it lives: the window's longest stall.

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace sonora::test {

struct Ritardi {
    QTimer timer;
    QElapsedTimer orologio;
    qint64 ultimo = 0;
    qint64 peggiore = 0;
    Ritardi()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 ora = orologio.elapsed();
            peggiore = std::max(peggiore, ora - ultimo - 10);
            ultimo = ora;
        });
        orologio.start();
        timer.start();
    }
};

} // namespace sonora::test
