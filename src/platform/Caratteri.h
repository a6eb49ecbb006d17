#pragma once

#include <thread>

namespace sonora {

// Reading the system's font configuration is most of what a window with text
// costs at start-up, some milliseconds of fontconfig parsing its files. It
// needs nothing from Qt, so it runs on a thread of its own from the first
// line of main() while Qt starts, and the window waits for it before its
// first text.
class CaratteriInAnticipo {
public:
    CaratteriInAnticipo();
    ~CaratteriInAnticipo();
    CaratteriInAnticipo(const CaratteriInAnticipo&) = delete;
    CaratteriInAnticipo& operator=(const CaratteriInAnticipo&) = delete;

    // Returns once the configuration is loaded; Qt then finds it ready
    // instead of loading a second copy.
    void attendi();

private:
    std::thread lettura_;
};

} // namespace sonora
