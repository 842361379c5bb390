#pragma once

// What the board's acquisition logic makes of an operating word on one of the device models.

#include "device/DeviceModels.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace sim {

using ::DeviceModel;
using ::deviceModel;
using ::deviceModelIndex;
using ::kDeviceModelCount;

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
