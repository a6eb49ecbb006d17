#pragma once
// Watches a window from outside and, just after its first paint, prints
// "first-paint <steady clock in ns>" and ends the program: how the start-up
// benchmark times a program from its spawning to its first paint.

#include "app/PrimoDisegno.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

namespace sonora::bench {

inline void riferisciPrimoDisegno(QWidget* window)
{
    new DopoIlPrimoDisegno(window, [] {
        const auto ns = std::chrono::steady_clock::now().time_since_epoch().count();
        std::printf("first-paint %lld\n", static_cast<long long>(ns));
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
}

} // namespace sonora::bench
