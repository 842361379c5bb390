#include "radar/Settings.h"

#include "device/DeviceModels.h"
#include "device/OperatingWord.h"
#include "dsp/FmcwRange.h"
#include "dsp/Fsk.h"

#include <algorithm>

namespace tavrix::radar {

namespace {
int code(int value) {
    return std::clamp(value, 0, 3);
}
} // namespace

std::uint32_t Settings::samplesPerSweep() const {
    return 128u << code(sampleWindowCode);
}

double Settings::sweepTimeMs() const {
    return SweepTimeSeconds(::deviceModel(deviceModel), code(sweepTimeCode)) * 1000.0;
}

double Settings::bandwidthHz() const {
    return ::deviceModel(deviceModel).bandwidthHz[static_cast<std::size_t>(code(bandwidthChoice))];
}

std::uint32_t Settings::bandwidthCode() const {
    return static_cast<std::uint32_t>((code(bandwidthChoice) + 1) % 4);
}

double Settings::centerFrequency() const {
    return CentreFrequency(::deviceModel(deviceModel), operatingMode, bandwidthHz());
}

std::uint16_t Settings::operatingWord() const {
    return OperatingWord(code(sweepTimeCode), static_cast<int>(bandwidthCode()),
                         code(sampleWindowCode), code(operatingMode));
}

double Settings::sampleRate() const {
    return samplesPerSweep() / (sweepTimeMs() / 1000.0);
}

double Settings::maxRange() const {
    return dsp::FmcwMaxRange(samplesPerSweep(), bandwidthHz());
}

double Settings::maxVelocity() const {
    return dsp::FmcwMaxVelocity(centerFrequency(), sweepTimeMs());
}

void OpenWindows(Settings& s) {
    s.rangeWindow = {0, dsp::SliderTop(s.maxRange())};
    if (s.operatingMode == kFsk) {
        const int top = static_cast<int>(dsp::ComputeFskScales(s.samplesPerSweep(), s.sweepTimeMs(),
                                                               s.sweepCount, s.centerFrequency())
                                             .velocitySpan);
        s.velocityWindow = {-top, top};
    } else {
        s.velocityWindow = {0, dsp::SliderTop(s.maxVelocity())};
    }
}

bool SameFrames(const Settings& a, const Settings& b) {
    return a.operatingMode == b.operatingMode && a.displayMode == b.displayMode &&
           a.deviceModel == b.deviceModel && a.sweepTimeCode == b.sweepTimeCode &&
           a.bandwidthChoice == b.bandwidthChoice && a.sampleWindowCode == b.sampleWindowCode &&
           a.sweepCount == b.sweepCount;
}

bool operator==(const Settings& a, const Settings& b) {
    const auto same = [](dsp::SliderWindow x, dsp::SliderWindow y) {
        return x.low == y.low && x.high == y.high;
    };
    return a.operatingMode == b.operatingMode && a.displayMode == b.displayMode &&
           a.deviceModel == b.deviceModel && a.sweepTimeCode == b.sweepTimeCode &&
           a.bandwidthChoice == b.bandwidthChoice && a.sampleWindowCode == b.sampleWindowCode &&
           a.subtractDC == b.subtractDC && a.correctAmplitude == b.correctAmplitude &&
           a.hammingWindow == b.hammingWindow && a.rangeWeighting == b.rangeWeighting &&
           a.clutter == b.clutter && a.clutterAverage == b.clutterAverage &&
           same(a.rangeWindow, b.rangeWindow) && same(a.velocityWindow, b.velocityWindow) &&
           a.sweepCount == b.sweepCount && a.fskThreshold == b.fskThreshold &&
           a.detector == b.detector && a.autoMaximum == b.autoMaximum &&
           a.autoMinimum == b.autoMinimum;
}

} // namespace tavrix::radar
