#include "sim/BoardClock.h"

#include <thread>

namespace sim {

double WallClock::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
}

void WallClock::sleepUntil(double t) {
    const double wait = t - now();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

} // namespace sim
