#include "radar/RecordingSettings.h"

#include "device/DeviceModels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tavrix::radar {

namespace {

// Header values are printed with six decimals; frequencies and times that a board can have
// survive that exactly, so a tight relative tolerance only absorbs the parsing.
bool same(double a, double b) {
    return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b));
}

std::string number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

const char* modeName(int mode) {
    switch (mode) {
    case kFsk:
        return "FSK";
    case kCw:
        return "CW";
    default:
        return "FMCW sawtooth";
    }
}

} // namespace

std::optional<Settings> SettingsOfRecording(const record::RecordingHeader& header,
                                            std::string* why) {
    auto refuse = [why](const std::string& reason) -> std::optional<Settings> {
        if (why)
            *why = reason;
        return std::nullopt;
    };

    Settings s;
    s.sampleWindowCode = -1;
    for (int code = 0; code < 4; ++code)
        if (header.samplesPerSweep == 128 << code)
            s.sampleWindowCode = code;
    if (s.sampleWindowCode < 0)
        return refuse("the samples per sweep (line 3) are " +
                      std::to_string(header.samplesPerSweep) +
                      ", but the board takes 128, 256, 512 or 1024");

    double bandwidth = 0;
    if (same(header.modeValue, record::kFskToneSpacingHz)) {
        s.operatingMode = kFsk;
    } else if (header.modeValue == 0) {
        s.operatingMode = kCw;
    } else {
        s.operatingMode = kFmcwSawtooth;
        bandwidth = header.modeValue;
    }
    const bool sweeps = s.operatingMode == kFmcwSawtooth;

    struct Fit {
        int model, bandwidthChoice;
    };
    std::vector<Fit> fits;
    bool bandwidthExists = false;
    for (int m = 0; m < kDeviceModelCount; ++m) {
        const DeviceModel& model = deviceModel(m);
        if (!sweeps) {
            if (same(CentreFrequency(model, s.operatingMode, 0), header.centerFrequencyHz))
                fits.push_back({m, 0});
            continue;
        }
        for (int c = 0; c < 4; ++c) {
            if (!same(model.bandwidthHz[static_cast<std::size_t>(c)], bandwidth))
                continue;
            bandwidthExists = true;
            if (same(CentreFrequency(model, s.operatingMode, bandwidth), header.centerFrequencyHz))
                fits.push_back({m, c});
        }
    }
    if (sweeps && !bandwidthExists)
        return refuse("line 4 holds " + number(bandwidth) +
                      ", which is no device model's swept bandwidth, nor the FSK tone spacing "
                      "6000000, nor 0 (CW)");
    if (fits.empty()) {
        std::string reason = "no device model has the centre frequency " +
                             number(header.centerFrequencyHz) + " Hz (line 1) in " +
                             modeName(s.operatingMode);
        if (sweeps)
            reason += " with a swept bandwidth of " + number(bandwidth / 1e6) + " MHz";
        return refuse(reason);
    }

    std::string offering;
    for (const Fit& fit : fits) {
        const DeviceModel& model = deviceModel(fit.model);
        for (int code = 0; code < 4; ++code) {
            if (same(SweepTimeSeconds(model, code) * 1e3, header.sweepTimeMs)) {
                s.deviceModel = fit.model;
                s.bandwidthChoice = fit.bandwidthChoice;
                s.sweepTimeCode = code;
                s.displayMode = sweeps ? kRangeScope : kVelocityScope;
                return s;
            }
        }
        if (offering.find(model.name) == std::string::npos)
            offering += std::string(offering.empty() ? "" : ", ") + model.name;
    }
    return refuse("the sweep time " + number(header.sweepTimeMs) +
                  " ms (line 2) is not one that the device model fitting the other lines (" +
                  offering + ") offers");
}

} // namespace tavrix::radar
