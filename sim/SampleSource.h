#pragma once

// Where the acquisition logic's samples come from: the scene synthesizer, or a source of a
// test's own (counting samples, say). The logic owns the framing, the FIFO and the pacing; a source
// only says what sample m of an acquisition is, and at what rate the samples come.

#include "sim/DeviceModel.h"

#include <cstdint>
#include <limits>

namespace sim {

class SampleSource {
public:
    static constexpr std::uint64_t kEndless = std::numeric_limits<std::uint64_t>::max();

    virtual ~SampleSource() = default;

    // The device model the board is built as; it decides how operating words decode.
    virtual int deviceModel() const = 0;
    // False when this source has nothing to stream for the acquisition; the board then stays
    // silent.
    virtual bool plays(const Acquisition& acquisition) const = 0;

    // A new acquisition: sample 0 is taken at board time `startTime`, at position
    // `sweepOffset` (0 .. samplesPerSweep - 1) of its sweep. A source whose samples have
    // their own sweep phase may ignore the offset.
    virtual void start(const Acquisition& acquisition, double startTime, int sweepOffset) = 0;
    virtual double startTime() const = 0;
    // Samples per second of board time.
    virtual double sampleRate() const = 0;
    // How many samples the acquisition yields in all; kEndless when it never runs dry.
    virtual std::uint64_t length() const { return kEndless; }

    // Writes samples [first, first + count) as word pairs: Q with the frame flag in bit 15
    // on the first sample of every sweep (when `frameFlags`), then I.
    virtual void generate(std::uint64_t first, std::size_t count, std::uint16_t* words,
                          bool frameFlags) = 0;
};

} // namespace sim
