#include "radar/RecordingOverview.h"

#include "dsp/CwVelocity.h"
#include "dsp/Fsk.h"
#include "radar/Pipeline.h"
#include "radar/RecordingSettings.h"

#include <algorithm>
#include <cmath>

namespace tavrix::radar {

namespace {

// The settings the matching waterfall would run with, and its axis. Nothing is band-limited
// and nothing is detected; clutter cancellation would compare frames far apart, so it is off.
struct OverviewMode {
    Settings settings;
    double binFirst = 0.0;
    double binLast = 0.0;
    const char* axisTitle = "";
};

OverviewMode ModeFor(Settings s) {
    OverviewMode mode;
    s.displayMode = s.operatingMode == kFmcwSawtooth ? kRangeWaterfall : kVelocityWaterfall;
    s.clutter = dsp::ClutterMode::Disabled;
    s.detector.enabled = false;
    OpenWindows(s);
    switch (s.operatingMode) {
    case kCw: {
        const double v = dsp::ComputeCwScales(s.samplesPerSweep(), s.sweepTimeMs(), s.sweepCount,
                                              s.centerFrequency())
                             .velocitySpan;
        mode = {s, -v, v, "Radial Velocity (meters per Second)"};
        break;
    }
    case kFsk: {
        const double v = dsp::ComputeFskScales(s.samplesPerSweep(), s.sweepTimeMs(), s.sweepCount,
                                               s.centerFrequency())
                             .velocitySpan;
        mode = {s, -v, v, "Radial Velocity (meters per second)"};
        break;
    }
    default:
        mode = {s, 0.0, s.maxRange(), "Range (meters)"};
        break;
    }
    return mode;
}

} // namespace

std::optional<OverviewImage> BuildOverview(record::RecordingCursor& recording,
                                           std::uint32_t maxColumns,
                                           const OverviewProgress& progress, std::string& error) {
    const std::string& path = recording.path();
    const auto fail = [&error](std::string why) -> std::optional<OverviewImage> {
        error = std::move(why);
        return std::nullopt;
    };
    const auto goOn = [&progress](double fraction) { return !progress || progress(fraction); };

    if (!recording.header())
        return fail(path + " has no header, so the settings it was made with are unknown");
    std::string why;
    const std::optional<Settings> made = SettingsOfRecording(*recording.header(), &why);
    if (!made)
        return fail(path + ": " + why);
    const OverviewMode mode = ModeFor(*made);
    const Settings& s = mode.settings;
    const std::optional<FrameRequest> request = Pipeline::Request(s);
    if (!request || request->count <= 0)
        return fail(path + ": no processing serves the mode it was recorded in");

    const std::uint64_t total = recording.sampleCount();
    const auto frameSamples = static_cast<std::uint64_t>(request->count);
    const std::uint64_t sweep = s.samplesPerSweep();
    const std::uint64_t frames = total / frameSamples;
    if (frames == 0)
        return fail(path + " holds " + std::to_string(total) +
                    " samples, fewer than one frame of " + std::to_string(frameSamples));
    const auto columns =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::max(maxColumns, 1u), frames));
    const std::uint64_t sweeps = total / sweep;
    const std::uint64_t lastStartSweep = (total - frameSamples) / sweep;

    OverviewImage image;
    image.columns = columns;
    image.totalSeconds = static_cast<double>(total) / s.sampleRate();
    image.binFirst = mode.binFirst;
    image.binLast = mode.binLast;
    image.axisTitle = mode.axisTitle;

    Pipeline pipeline;
    SampleBlock frame;
    Result result;
    if (!goOn(0.0))
        return fail("the overview of " + path + " was cancelled");
    for (std::uint32_t c = 0; c < columns; ++c) {
        // The sweep nearest c / columns of the way through, held where a whole frame fits.
        const auto startSweep = std::min(static_cast<std::uint64_t>(std::llround(
                                             static_cast<long double>(c) * sweeps / columns)),
                                         lastStartSweep);
        const std::uint64_t first = startSweep * sweep;
        if (!recording.read(first, frameSamples, frame))
            return fail(recording.error().empty()
                            ? path + ": sample " + std::to_string(first) + " could not be read"
                            : recording.error());
        if (frame.size() != frameSamples)
            return fail(path + " ended before sample " + std::to_string(first + frameSamples));
        pipeline.ResetClutter();
        if (!pipeline.Process(s, frame, result) || result.values.empty())
            return fail(path + ": the frame at sample " + std::to_string(first) +
                        " could not be processed");
        if (c == 0) {
            image.bins = static_cast<std::uint32_t>(result.values.size());
            image.values.reserve(std::size_t{columns} * image.bins);
        } else if (result.values.size() != image.bins) {
            return fail(path + ": the frame at sample " + std::to_string(first) +
                        " gave a column of another size");
        }
        image.values.insert(image.values.end(), result.values.begin(), result.values.end());
        if (!goOn(static_cast<double>(c + 1) / columns))
            return fail("the overview of " + path + " was cancelled");
    }
    return image;
}

} // namespace tavrix::radar
