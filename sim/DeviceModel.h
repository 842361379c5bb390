#pragma once

// The radar front-ends the board can be built as. They differ in carrier frequency and in
// the swept bandwidth and sweep time each code of the operating word selects.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace sim {

struct DeviceModel {
    const char* name;
    double carrierHz;
    // Bandwidth of the first to fourth choice, Hz (codes 1, 2, 3, 0 select them).
    std::array<double, 4> bandwidthHz;
    // Sweep time of sweep-time codes 0 and 1, seconds (codes 2 and 3 are 4 ms and 10 ms).
    std::array<double, 2> shortSweepS;
    // FMCW sweeps start at the carrier instead of being centred on it.
    bool sweepStartsAtCarrier;
};

constexpr int kDeviceModelCount = 8;

// Model by index 0..7; an index outside that range gives model 0.
const DeviceModel& deviceModel(int index);
// Index of the model with that (case-sensitive) name, or nullopt.
std::optional<int> deviceModelIndex(const std::string& name);

enum class Mode { FmcwSawtooth = 0, FmcwTriangle = 1, Fsk = 2, Cw = 3 };

// What the acquisition logic makes of an operating word on a given model.
struct Acquisition {
    std::uint16_t word = 0;
    Mode mode = Mode::FmcwSawtooth;
    double sweepTimeS = 0;   // sweep period
    double bandwidthHz = 0;  // swept bandwidth (FMCW)
    int samplesPerSweep = 0; // samples per sweep period
    double sampleRate() const { return samplesPerSweep / sweepTimeS; }
};

// Decodes a word; nullopt unless its high byte is 0xA0.
std::optional<Acquisition> decodeOperatingWord(std::uint16_t word, int modelIndex);

} // namespace sim
