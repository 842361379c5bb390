#include "record/RecordingFormat.h"

#include <cmath>

namespace tavrix::record {

std::optional<RecordingHeader> headerForMode(unsigned operatingMode, double centerFrequencyHz,
                                             double sweepTimeMs, std::uint32_t samplesPerSweep,
                                             double bandwidthHz) {
    double modeValue = 0.0;
    switch (operatingMode) {
    case 0:
        modeValue = bandwidthHz;
        break;
    case 2:
        modeValue = kFskToneSpacingHz;
        break;
    case 3:
        modeValue = 0.0;
        break;
    default:
        return std::nullopt;
    }
    return RecordingHeader{centerFrequencyHz, sweepTimeMs,
                           static_cast<std::int32_t>(samplesPerSweep), modeValue};
}

std::string operatingModeName(unsigned operatingMode) {
    static const char* const kNames[] = {"fmcw", "fmcw-triangle", "fsk", "cw"};
    return operatingMode < 4 ? kNames[operatingMode] : "";
}

std::optional<std::int64_t> recordedSampleCount(double durationSeconds, double sampleRate,
                                                std::uint32_t samplesPerSweep) {
    if (samplesPerSweep == 0 || !std::isfinite(durationSeconds) || !std::isfinite(sampleRate) ||
        durationSeconds <= 0.0 || sampleRate <= 0.0)
        return std::nullopt;
    const double sweeps = std::ceil(durationSeconds * sampleRate / samplesPerSweep);
    // Beyond 2^53 the product is no longer an exact integer in a double.
    constexpr double kExactLimit = 9007199254740992.0;
    if (!(sweeps * samplesPerSweep <= kExactLimit))
        return std::nullopt;
    return static_cast<std::int64_t>(sweeps) * samplesPerSweep;
}

std::string defaultRecordingName(std::time_t when) {
    std::tm local{};
    if (!localtime_r(&when, &local))
        return {};
    char name[64];
    const std::size_t length = std::strftime(name, sizeof name, "%Y-%m-%d-%H-%M-%S.dat", &local);
    return std::string(name, length);
}

} // namespace tavrix::record
