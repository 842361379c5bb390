#pragma once

// Time as the emulated board sees it, in seconds. The program runs the board on the wall
// clock so that reads take as long as on real hardware; tests run it on a virtual clock that
// only moves when a read has to wait, so they run at full speed and are repeatable.

#include <atomic>
#include <chrono>

namespace sim {

class BoardClock {
public:
    virtual ~BoardClock() = default;
    virtual double now() const = 0;
    // Returns once now() >= t.
    virtual void sleepUntil(double t) = 0;
};

// Moved by whoever streams from the board, read by whoever shows a position: atomic, so that
// a window may ask while its acquisition thread reads.
class VirtualClock : public BoardClock {
public:
    double now() const override { return t.load(); }
    void sleepUntil(double until) override {
        double seen = t.load();
        while (until > seen && !t.compare_exchange_weak(seen, until)) {
        }
    }
    // Lets time pass without anyone reading (the board's FIFO fills and overflows).
    void advance(double seconds) {
        if (!(seconds > 0))
            return;
        double seen = t.load();
        while (!t.compare_exchange_weak(seen, seen + seconds)) {
        }
    }

private:
    std::atomic<double> t{0};
};

class WallClock : public BoardClock {
public:
    double now() const override;
    void sleepUntil(double t) override;

private:
    std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();
};

} // namespace sim
