#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace tavrix::record {

// The four lines that open a recording and say how it was taken.
struct RecordingHeader {
    double centerFrequencyHz = 0.0;
    double sweepTimeMs = 0.0;
    std::int32_t samplesPerSweep = 0;
    // Swept bandwidth in FMCW sawtooth, the tone spacing in FSK, 0 in CW.
    double modeValue = 0.0;
};

inline constexpr double kFskToneSpacingHz = 6000000.0;

// Header of a recording made in `operatingMode` (0 FMCW sawtooth, 1 FMCW triangle, 2 FSK,
// 3 CW). FMCW triangle and unknown modes have no header: their files hold only samples.
std::optional<RecordingHeader> headerForMode(unsigned operatingMode, double centerFrequencyHz,
                                             double sweepTimeMs, std::uint32_t samplesPerSweep,
                                             double bandwidthHz);

// The name a recording gives `operatingMode` (0 FMCW sawtooth, 1 FMCW triangle, 2 FSK, 3 CW):
// "fmcw", "fmcw-triangle", "fsk", "cw"; empty for unknown modes.
std::string operatingModeName(unsigned operatingMode);

// Number of samples a recording of `durationSeconds` holds at `sampleRate`: whole sweeps
// covering at least the duration. Empty for durations, rates or sweep sizes that are not
// positive and finite, and for counts too large to be counted exactly.
std::optional<std::int64_t> recordedSampleCount(double durationSeconds, double sampleRate,
                                                std::uint32_t samplesPerSweep);

// "YYYY-MM-DD-hh-mm-ss.dat" in local time; empty if `when` has no local-time representation.
std::string defaultRecordingName(std::time_t when);

} // namespace tavrix::record
