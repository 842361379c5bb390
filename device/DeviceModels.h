#pragma once

// The radar front-ends a board can be built as: the one table of them. They differ in carrier
// frequency and in the swept bandwidth and sweep time each code of the operating word selects.

#include <array>
#include <optional>
#include <string>

struct DeviceModel {
    const char* name;
    double carrierHz;
    // Bandwidth of the first to fourth choice, Hz (operating-word codes 1, 2, 3, 0 select them).
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

// Sweep period of sweep-time code 0..3 on `model`, seconds (codes outside give code 0's).
double SweepTimeSeconds(const DeviceModel& model, int code);

// Where the transmitter is centred in operating mode `mode` (0 FMCW sawtooth, 1 FMCW
// triangle, 2 FSK, 3 CW): models that sweep upwards from their carrier are centred half a
// bandwidth above it while sweeping.
double CentreFrequency(const DeviceModel& model, int mode, double bandwidthHz);
