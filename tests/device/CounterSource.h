#pragma once

// A sample source for the emulated board whose samples count up: sample m of an acquisition
// carries m in the 15 bits of Q and the 16 bits of I, so a lost, repeated or reordered
// sample shows at once. Sweep starts carry the frame flag, unless a test tweaks the words.

#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "sim/SampleSource.h"

#include <complex>
#include <cstdint>
#include <functional>

class CounterSource : public sim::SampleSource {
public:
    // The number a delivered sample carries.
    static std::uint64_t number(const std::complex<double>& sample) {
        return static_cast<std::uint64_t>(sample.real()) << 15 |
               static_cast<std::uint64_t>(sample.imag());
    }

    int sweepOffset = 0;            // position of sample 0 in its sweep
    std::uint64_t total = kEndless; // the source runs dry after this many samples
    // Called on every sample's Q and I words (Q with its flag) before they go out.
    std::function<void(std::uint64_t m, std::uint16_t& q, std::uint16_t& i)> tweak;

    int samplesPerSweep() const { return acquisition.samplesPerSweep; }

    int deviceModel() const override { return 0; }
    bool plays(const sim::Acquisition&) const override { return true; }
    void start(const sim::Acquisition& a, double startTime, int) override {
        acquisition = a;
        t0 = startTime;
    }
    double startTime() const override { return t0; }
    double sampleRate() const override { return acquisition.sampleRate(); }
    std::uint64_t length() const override { return total; }
    void generate(std::uint64_t first, std::size_t count, std::uint16_t* words,
                  bool frameFlags) override {
        const auto n = static_cast<std::uint64_t>(acquisition.samplesPerSweep);
        for (std::uint64_t m = first; m < first + count; ++m) {
            auto q = static_cast<std::uint16_t>(m & 0x7FFF);
            auto i = static_cast<std::uint16_t>(m >> 15 & 0xFFFF);
            if (frameFlags && (m + static_cast<std::uint64_t>(sweepOffset)) % n == 0)
                q |= 0x8000;
            if (tweak)
                tweak(m, q, i);
            *words++ = q;
            *words++ = i;
        }
    }

private:
    sim::Acquisition acquisition;
    double t0 = 0;
};

// The program's activation of the one board there is, its command block `word` sent.
inline bool ActivateBoard(RadarDevice& radar, std::uint16_t word) {
    const CommandBlockBytes block = CommandBlock(word);
    return radar.EnumerateDevices() == 1 && radar.SetInterface() &&
           (radar.outEndpoint = radar.FindEndpoint(kCommandEndpoint)) > 0 &&
           (radar.inEndpoint = radar.FindEndpoint(kSampleEndpoint)) > 0 &&
           LoadControllerProgram(radar, ControllerProgramText()) &&
           radar.WriteBlock(block.data(), 2048) == 2048;
}
