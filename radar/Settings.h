#pragma once

// Everything the processing needs to know about what the user chose, as one value: the
// window builds it from its controls, the pipeline reads nothing else. The figures that follow
// from the choices (operating word, sample rate, scales) are computed here and nowhere else.

#include "dsp/Clutter.h"
#include "dsp/FmcwRange.h"
#include "radar/Detection.h"

#include <cstdint>

namespace tavrix::radar {

enum OperatingMode : int { kFmcwSawtooth = 0, kFmcwTriangle = 1, kFsk = 2, kCw = 3 };
enum DisplayMode : int {
    kRangeScope = 1,
    kVelocityScope = 2,
    kRangeVelocityMap = 3,
    kVelocityWaterfall = 4,
    kRangeWaterfall = 5,
};

struct Settings {
    int operatingMode = kFmcwSawtooth;
    int displayMode = kRangeScope;
    int deviceModel = 0;      // index into the device-model table
    int sweepTimeCode = 0;    // 0..3
    int bandwidthChoice = 0;  // position 0..3 in the model's bandwidth list
    int sampleWindowCode = 0; // 0..3: 128 << code samples per sweep

    // Stream filtering.
    bool subtractDC = true;
    bool correctAmplitude = false;
    bool hammingWindow = true;
    bool rangeWeighting = false;
    dsp::ClutterMode clutter = dsp::ClutterMode::Disabled;
    int clutterAverage = 2;
    // Windows in whole metres and metres per second, as their sliders give them.
    dsp::SliderWindow rangeWindow;
    dsp::SliderWindow velocityWindow;
    std::uint32_t sweepCount = 64; // sweeps per burst (map, CW, FSK)
    double fskThreshold = 8.0;     // dB
    DetectorSettings detector;     // every target of a frame, beside the single peak
    // The map's automatic colour range is worked out only for the ends whose "Auto" is on.
    bool autoMaximum = true;
    bool autoMinimum = true;

    std::uint32_t samplesPerSweep() const;
    double sweepTimeMs() const;
    double bandwidthHz() const;
    // Code of the bandwidth choice in the operating word: 1, 2, 3, 0.
    std::uint32_t bandwidthCode() const;
    // Carrier, or the centre of the sweep for models that sweep upwards from it.
    double centerFrequency() const;
    std::uint16_t operatingWord() const;
    // Samples per second: samples per sweep over the sweep time.
    double sampleRate() const;
    double maxRange() const;    // FMCW Rmax, m
    double maxVelocity() const; // FMCW Vmax, m/s
};

bool operator==(const Settings& a, const Settings& b);

// Frames of `a` and `b` have the same chain, size and scales (the axes they are drawn on);
// they may differ in filtering, windows and detection.
bool SameFrames(const Settings& a, const Settings& b);

// Both windows over their whole scale for the settings' mode, as the window's sliders start
// (no band filter, every bin searched).
void OpenWindows(Settings& s);
inline bool operator!=(const Settings& a, const Settings& b) {
    return !(a == b);
}

} // namespace tavrix::radar
