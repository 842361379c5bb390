#pragma once

// The board's acquisition logic: the FIFO master behind the controller. It takes operating
// words from the endpoint-2 FIFO, runs the sweeps they ask for, and pushes the samples into
// the endpoint-6 FIFO at the sample rate, whether the host reads or not. A full FIFO drops
// further samples, so a read that comes late gets the stale FIFO content first and then the
// stream from the moment it started to drain, after a gap. The samples come from a source:
// the scene's synthesizer, or a test's own.

#include "sim/BoardClock.h"
#include "sim/DeviceModel.h"
#include "sim/SampleSource.h"
#include "sim/Scene.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

class AcquisitionLogic {
public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();
    // The logic's own FIFO in front of the controller's endpoint buffers.
    static constexpr std::size_t kOwnFifoBytes = 2048;

    // Streams what the scene's synthesizer makes of each acquisition.
    AcquisitionLogic(const Scene& scene, std::shared_ptr<BoardClock> clock);
    // Streams from `source`; `seed` varies where in a sweep a new acquisition starts.
    AcquisitionLogic(std::shared_ptr<SampleSource> source, std::shared_ptr<BoardClock> clock,
                     std::uint64_t seed = 1);

    // The controller's FIFOs are set up (or not any more); `ep6Bytes` is the size of the
    // endpoint buffers. Either way the FIFO content is flushed.
    void setFifos(bool ready, std::size_t ep6Bytes);
    bool fifosReady() const { return ready; }

    // Command bytes from endpoint 2: 16-bit words, least significant byte first. Words
    // without 0xA0 in the high byte are ignored; a new word restarts the acquisition.
    void command(const std::uint8_t* bytes, std::size_t length);
    // The words received lately (the last 2048 to 4096 of them), oldest first.
    const std::vector<std::uint16_t>& wordsReceived() const { return received; }
    const std::optional<Acquisition>& acquisition() const { return current; }
    // Set up, and asked for an acquisition the source can deliver.
    bool streaming() const { return ready && current.has_value() && playing; }

    // Host reads. A read that begins settles the FIFO as it is at that moment; until it ends
    // the host drains the FIFO as fast as samples arrive, so nothing is dropped.
    void beginRead();
    void endRead();
    // Bytes the host can have received by board time `t` (counting from what it took).
    std::size_t availableBy(double t);
    // Board time at which `bytes` bytes are available (kNever when nothing streams).
    double readyTime(std::size_t bytes);
    // Takes `length` bytes; at most availableBy(now).
    std::size_t read(std::uint8_t* data, std::size_t length);

    // Fault: samples go out without the frame flag.
    bool dropFrameFlags = false;

private:
    void restart();
    void settle(double t);
    std::uint64_t producedBy(double t) const;
    void produce(std::uint64_t samples);
    std::size_t held() const { return fifo.size() - head; }

    std::shared_ptr<BoardClock> clock;
    std::shared_ptr<SampleSource> source;
    int model;
    bool ready = false;
    bool playing = false;     // the source plays the current acquisition
    std::size_t capacity = 0; // bytes
    std::optional<Acquisition> current;
    std::vector<std::uint16_t> received;
    std::optional<std::uint8_t> halfWord;
    std::vector<std::uint8_t> fifo;   // bytes not yet taken, oldest first, from `head` on
    std::vector<std::uint16_t> words; // scratch for the source
    std::size_t head = 0;             // first untaken byte of `fifo`
    std::uint64_t produced = 0;       // samples of this acquisition pushed or dropped
    int readers = 0;
    std::uint64_t rng;
};

} // namespace sim
