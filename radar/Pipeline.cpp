#include "radar/Pipeline.h"

#include "dsp/BandFilter.h"
#include "dsp/Blocks.h"
#include "dsp/CwVelocity.h"
#include "dsp/DynamicRange.h"
#include "dsp/Iq.h"

#include <algorithm>

namespace tavrix::radar {

namespace {

// Slow-sweep models show a time-scope span set by the sweep time.
constexpr int kFirstSlowSweepModel = 5;
constexpr double kSlowSweepSpans[4] = {0.0008, 0.0018, 0.0038, 0.0098};

TimeScope scopeOf(const SampleBlock& block, double interval) {
    TimeScope scope;
    dsp::SplitIQ(block, scope.i, scope.q);
    scope.interval = interval;
    return scope;
}

// The burst chains' scales all carry the same three figures a read needs.
template <typename Scales>
FrameRequest BurstRequest(std::uint32_t samplesPerSweep, const Scales& scales) {
    FrameRequest r;
    r.samplesPerSweep = samplesPerSweep;
    r.count = scales.sampleCount;
    r.timeoutMs = static_cast<std::uint32_t>(scales.timeoutMs);
    r.sampleRate = scales.sampleRate;
    return r;
}

// Chains that can take a frame in the board's pairs; clutter cancelling needs the whole frame
// converted.
bool TakesPackedFrames(const Settings& s) {
    return ChainFor(s.operatingMode, s.displayMode) == Chain::FmcwRangeVelocity &&
           s.clutter == dsp::ClutterMode::Disabled;
}

} // namespace

Chain ChainFor(int operatingMode, int displayMode) {
    switch (operatingMode) {
    case kFmcwSawtooth:
        if (displayMode == kRangeScope || displayMode == kRangeWaterfall)
            return Chain::FmcwRange;
        if (displayMode >= kVelocityScope && displayMode <= kVelocityWaterfall)
            return Chain::FmcwRangeVelocity;
        return Chain::None;
    case kFsk:
        return Chain::Fsk;
    case kCw:
        return Chain::Cw;
    default:
        return Chain::None;
    }
}

Pipeline::Pipeline() = default;
Pipeline::~Pipeline() = default;

std::optional<FrameRequest> Pipeline::Request(const Settings& s) {
    const std::uint32_t n = s.samplesPerSweep();
    const double t = s.sweepTimeMs();
    switch (ChainFor(s.operatingMode, s.displayMode)) {
    case Chain::FmcwRange: {
        FrameRequest r;
        r.samplesPerSweep = n;
        r.count = static_cast<std::int32_t>(n);
        r.timeoutMs = static_cast<std::uint32_t>(dsp::kRangeSweepTimeoutMs);
        r.sampleRate = s.sampleRate();
        return r;
    }
    case Chain::FmcwRangeVelocity: {
        FrameRequest r = BurstRequest(n, dsp::ComputeFmcwBurstScales(n, t, s.sweepCount));
        r.packed = TakesPackedFrames(s);
        return r;
    }
    case Chain::Cw:
        return BurstRequest(n, dsp::ComputeCwScales(n, t, s.sweepCount, s.centerFrequency()));
    case Chain::Fsk:
        return BurstRequest(n, dsp::ComputeFskScales(n, t, s.sweepCount, s.centerFrequency()));
    case Chain::None:
        break;
    }
    return std::nullopt;
}

bool Pipeline::Process(const Settings& s, SampleBlock& frame, Result& out) {
    out = Result();
    out.chain = ChainFor(s.operatingMode, s.displayMode);
    bool made = false;
    switch (out.chain) {
    case Chain::FmcwRange:
        made = processFmcwRange(s, frame, out);
        break;
    case Chain::FmcwRangeVelocity:
        made = processFmcwRangeVelocity(s, &frame, nullptr, out);
        break;
    case Chain::Cw:
        made = processCw(s, frame, out);
        break;
    case Chain::Fsk:
        // Its detections need the tone spectra, which the result does not keep.
        return processFsk(s, frame, out);
    case Chain::None:
        break;
    }
    return detect(s, made, out);
}

bool Pipeline::Process(const Settings& s, const PackedFrame& packed, SampleBlock& frame,
                       Result& out) {
    if (!packed.bytes)
        return Process(s, frame, out);
    if (!TakesPackedFrames(s)) {
        frame.resize(packed.count);
        if (packed.count > 0)
            ConvertFramePairs(packed.pairs(), packed.count, frame.data());
        return Process(s, frame, out);
    }
    out = Result();
    out.chain = Chain::FmcwRangeVelocity;
    return detect(s, processFmcwRangeVelocity(s, nullptr, &packed, out), out);
}

bool Pipeline::detect(const Settings& s, bool made, Result& out) const {
    if (made && s.detector.enabled)
        out.detections = DetectTargets(out, s, s.detector);
    return made;
}

void Pipeline::cancelClutter(const Settings& s, SampleBlock& frame) {
    // Disabled leaves a pending reset for when a mode is switched on again.
    if (s.clutter == dsp::ClutterMode::Disabled)
        return;
    dsp::CancelDirectClutter(frame, s.clutter, s.clutterAverage, clutterReset, clutterReference,
                             clutterHistory);
}

const dsp::ComplexVector& Pipeline::rangeWeights(std::size_t count) {
    if (weights.size() != count)
        weights = dsp::RangeWeights(count);
    return weights;
}

bool Pipeline::processFmcwRange(const Settings& s, SampleBlock& frame, Result& out) {
    const std::uint32_t n = s.samplesPerSweep();
    const double rmax = s.maxRange();
    cancelClutter(s, frame);
    dsp::ApplyIQCorrections(frame, 1, s.subtractDC, s.correctAmplitude);
    // The time scope shows the sweep cleaned but not yet windowed.
    out.scope = scopeOf(frame, s.sweepTimeMs() / 1000.0 / n);
    if (s.deviceModel >= kFirstSlowSweepModel)
        out.scope->span = kSlowSweepSpans[std::clamp(s.sweepTimeCode, 0, 3)];

    dsp::RangeProfileOptions options;
    options.hammingWindow = s.hammingWindow;
    if (dsp::IsWindowActive(s.rangeWindow, rmax)) {
        rangeFilter.Refresh(s.rangeWindow, rmax);
        options.rangeFilter = rangeFilter.spectrum();
    }
    if (s.rangeWeighting)
        options.rangeWeights = rangeWeights(dsp::kRangeBins);
    out.values.resize(dsp::kRangeBins);
    return profiler.Process(frame, options, out.values);
}

bool Pipeline::processFmcwRangeVelocity(const Settings& s, SampleBlock* frame,
                                        const PackedFrame* packed, Result& out) {
    const double rmax = s.maxRange();
    const double vmax = s.maxVelocity();
    if (frame)
        cancelClutter(s, *frame);

    dsp::RangeVelocityOptions options;
    options.hammingWindow = s.hammingWindow;
    options.subtractDC = s.subtractDC;
    options.correctAmplitude = s.correctAmplitude;
    if (dsp::IsWindowActive(s.rangeWindow, rmax)) {
        rangeFilter.Refresh(s.rangeWindow, rmax);
        options.rangeFilter = rangeFilter.spectrum();
    }
    if (s.rangeWeighting)
        options.rangeWeights = rangeWeights(dsp::kDopplerBins);
    if (dsp::IsWindowActive(s.velocityWindow, vmax)) {
        velocityFilter.Refresh(s.velocityWindow, vmax);
        options.velocityFilter = velocityFilter.spectrum();
    }
    // The map is drawn nearest range first; the velocity waterfall collapses it farthest first.
    const bool map = s.displayMode == kRangeVelocityMap;
    options.rows = map ? dsp::MapRows::NearFirst : dsp::MapRows::FarFirst;
    // The automatic colour range is gathered row by row as the mapper's threads write them.
    const bool autoRange = map && (s.autoMaximum || s.autoMinimum);
    if (autoRange) {
        rowLevels.resize(dsp::kRangeBins);
        options.rowWritten = [this](std::size_t row, dsp::Span<const double> values) {
            rowLevels[row] = dsp::SummarizeLevels(values);
        };
    }
    if (!mapper)
        mapper = std::make_unique<dsp::FmcwRangeVelocityMapper>();
    std::vector<double> values = takeMapValues();
    const std::uint32_t n = s.samplesPerSweep();
    bool mapped = false;
    if (frame) {
        mapped = mapper->Process(*frame, n, s.sweepCount, options, values);
    } else if (packed->count >= std::size_t{n} * s.sweepCount) {
        const std::uint8_t* pairs = packed->pairs();
        mapped = mapper->Process(
            [pairs, n](std::size_t sweep, dsp::Complex* samples) {
                ConvertFramePairs(pairs + std::size_t{4} * n * sweep, n, samples);
            },
            n, s.sweepCount, options, values);
    }
    if (!mapped) {
        ReturnMapValues(std::move(values));
        return false;
    }
    if (map) {
        out.values = std::move(values);
        if (s.autoMaximum)
            out.mapAutoMaximum = dsp::AutoMaximum(dsp::Span<const dsp::LevelSummary>(rowLevels));
        if (s.autoMinimum)
            out.mapAutoMinimum = dsp::AutoMinimum(rowLevels, out.values, dsp::kDopplerBins);
        return true;
    }
    out.values.resize(dsp::kDopplerBins);
    const bool made = dsp::VelocityProfile(values, out.values);
    ReturnMapValues(std::move(values));
    return made;
}

void Pipeline::ReturnMapValues(std::vector<double>&& spent) {
    if (spent.size() != dsp::kMapValues)
        return;
    const std::lock_guard<std::mutex> guard(spareLock);
    spareMapValues = std::move(spent);
}

std::vector<double> Pipeline::takeMapValues() {
    {
        const std::lock_guard<std::mutex> guard(spareLock);
        if (spareMapValues.size() == dsp::kMapValues)
            return std::move(spareMapValues);
    }
    return std::vector<double>(dsp::kMapValues);
}

bool Pipeline::processCw(const Settings& s, SampleBlock& frame, Result& out) {
    const dsp::CwScales scales = dsp::ComputeCwScales(s.samplesPerSweep(), s.sweepTimeMs(),
                                                      s.sweepCount, s.centerFrequency());
    dsp::CwConditionBlock(frame, s.correctAmplitude);
    out.scope = scopeOf(frame, scales.decimatedSpacing);
    dsp::CwDopplerSpectrum(frame, s.hammingWindow, out.values);
    return true;
}

bool Pipeline::processFsk(const Settings& s, SampleBlock& frame, Result& out) {
    const std::uint32_t n = s.samplesPerSweep();
    const dsp::FskScales scales =
        dsp::ComputeFskScales(n, s.sweepTimeMs(), s.sweepCount, s.centerFrequency());
    const double vFSK = scales.velocitySpan;
    const int vMax = static_cast<int>(vFSK);
    const int vLow = s.velocityWindow.low;
    const int vHigh = s.velocityWindow.high;

    // Sliders at their extremes leave the window open: no filter, every velocity searched.
    const bool windowOpen = vHigh == vMax && vLow == -vMax;
    if (!windowOpen) {
        fskVelocityFilter.resize(dsp::kFskSpectrumSize);
        dsp::DesignBandFilter(fskVelocityFilter, vLow * 0.5 / vFSK, vHigh * 0.5 / vFSK);
        out.fskWindow = dsp::FskWindowPositions(vLow, vHigh, vFSK);
    }
    dsp::FskSpectra spectra;
    const dsp::Span<const dsp::Complex> filter =
        windowOpen ? dsp::Span<const dsp::Complex>() : fskVelocityFilter;
    if (!dsp::ComputeFskSpectra(frame, n, s.sweepCount, s.hammingWindow, filter, spectra))
        return false;
    out.fskTarget = dsp::DetectFskTarget(spectra, out.fskWindow, s.fskThreshold, vFSK);
    if (s.detector.enabled)
        out.detections = DetectInFskSpectrum(spectra.combined, DetectionScalesFor(s, Chain::Fsk),
                                             s.detector, &spectra);
    out.values = std::move(spectra.combined);

    // One sweep period, both tones, centred.
    SampleBlock sweep(frame.begin(), frame.begin() + n);
    dsp::SubtractDC(sweep, n, 1);
    out.scope = scopeOf(sweep, s.sweepTimeMs() / 1000.0 / n);
    return true;
}

} // namespace tavrix::radar
