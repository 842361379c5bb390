#include "radar/Detection.h"

#include "dsp/Cfar.h"
#include "dsp/CwVelocity.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "radar/Pipeline.h"
#include "radar/Settings.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace tavrix::radar {
namespace {

// Bins of a 1024-point transform per independent cell when `transformed` samples fill it.
std::size_t BinsPerCell(std::size_t transformed) {
    if (transformed == 0 || transformed >= dsp::kFmcwFftSize)
        return 1;
    return dsp::kFmcwFftSize / transformed;
}

dsp::CfarParams ParamsFor(const DetectorSettings& d, std::size_t rowBins, std::size_t columnBins) {
    dsp::CfarParams p;
    p.variant = d.variant == DetectorSettings::OS ? dsp::CfarVariant::OrderedStatistic
                                                  : dsp::CfarVariant::CellAveraging;
    p.region = d.cross ? dsp::CfarRegion::Cross : dsp::CfarRegion::Window;
    const auto guard = static_cast<std::size_t>(std::max(d.guard, 0));
    const auto training = static_cast<std::size_t>(std::max(d.training, 0));
    p.guard = {guard, guard};
    p.training = {training, training};
    p.stride = {rowBins, columnBins};
    p.pfa = d.pfa;
    p.thresholdDb = d.thresholdDb;
    return p;
}

Detection FromCell(const dsp::CfarDetection& cell, dsp::Span<const double> values,
                   std::size_t columns) {
    Detection d;
    d.snr_db = cell.snrDb;
    d.level_db = values[cell.row * columns + cell.column];
    d.row = cell.row;
    d.column = cell.column;
    return d;
}

std::vector<Detection> Strongest(std::vector<Detection> found) {
    std::stable_sort(found.begin(), found.end(),
                     [](const Detection& a, const Detection& b) { return a.snr_db > b.snr_db; });
    return found;
}

// The detector on the runs of `scales` of a rows x columns block of values (one row: a profile
// or spectrum), each run on its own, the cells numbered as in the whole block.
std::vector<dsp::CfarDetection> DetectOnRuns(dsp::Span<const double> values, std::size_t rows,
                                             std::size_t columns, const dsp::CfarParams& params,
                                             const DetectionScales& scales) {
    const std::size_t r0 = std::min(scales.rows.begin, rows);
    const std::size_t r1 = std::clamp(scales.rows.end, r0, rows);
    std::vector<dsp::CfarDetection> found;
    std::vector<double> cut;
    for (const DetectionScales::Run& run : scales.columns) {
        const std::size_t c0 = std::min(run.begin, columns);
        const std::size_t c1 = std::clamp(run.end, c0, columns);
        if (r0 == r1 || c0 == c1)
            continue;
        std::vector<dsp::CfarDetection> cells;
        if (rows == 1) {
            cells = dsp::Cfar1D(values.subspan(c0, c1 - c0), params);
        } else if (c0 == 0 && c1 == columns) {
            cells = dsp::Cfar2D(values.subspan(r0 * columns, (r1 - r0) * columns), r1 - r0, columns,
                                params);
        } else {
            // A few rows of columns copied out cost less than the detection they spare.
            cut.resize((r1 - r0) * (c1 - c0));
            for (std::size_t r = r0; r < r1; ++r)
                std::copy(values.begin() + r * columns + c0, values.begin() + r * columns + c1,
                          cut.begin() + (r - r0) * (c1 - c0));
            cells = dsp::Cfar2D(cut, r1 - r0, c1 - c0, params);
        }
        for (dsp::CfarDetection& cell : cells) {
            cell.row += r0;
            cell.column += c0;
            found.push_back(cell);
        }
    }
    return found;
}

// The detector on a velocity spectrum whose values are `dbPerPowerDb` times dB of power.
std::vector<dsp::CfarDetection> DetectOnSpectrum(dsp::Span<const double> values,
                                                 double dbPerPowerDb, const DetectionScales& scales,
                                                 const DetectorSettings& detector) {
    std::vector<double> power(values.begin(), values.end());
    for (double& v : power)
        v /= dbPerPowerDb;
    return DetectOnRuns(power, 1, power.size(), ParamsFor(detector, 1, scales.velocityBinsPerCell),
                        scales);
}

// The range window's bins where it is active.
DetectionScales::Run RangeRun(const Settings& s) {
    const double rmax = s.maxRange();
    if (!dsp::IsWindowActive(s.rangeWindow, rmax))
        return {};
    const dsp::BinRange bins = dsp::DetectionBins(s.rangeWindow.low, s.rangeWindow.high, rmax);
    return {bins.begin, bins.end};
}

// The map's columns of speeds from low to high on either side of zero (column 512), where the
// velocity window is active; one run when it reaches down to zero.
std::vector<DetectionScales::Run> VelocityRuns(const Settings& s) {
    const double vmax = s.maxVelocity();
    if (!dsp::IsWindowActive(s.velocityWindow, vmax) || !(vmax > 0.0))
        return {DetectionScales::Run{}};
    constexpr double kStill = dsp::kDopplerBins / 2;
    const double low = std::clamp(std::ceil(s.velocityWindow.low / vmax * kStill), 0.0, kStill);
    const double high = std::clamp(std::floor(s.velocityWindow.high / vmax * kStill), 0.0, kStill);
    if (high < low)
        return {};
    const auto column = [](double c) { return static_cast<std::size_t>(c); };
    if (low == 0.0)
        return {{column(kStill - high), column(kStill + high + 1)}};
    return {{column(kStill - high), column(kStill - low + 1)},
            {column(kStill + low), column(kStill + high + 1)}};
}

} // namespace

bool operator==(const DetectorSettings& a, const DetectorSettings& b) {
    return a.enabled == b.enabled && a.variant == b.variant && a.guard == b.guard &&
           a.training == b.training && a.pfa == b.pfa && a.thresholdDb == b.thresholdDb &&
           a.cross == b.cross;
}

DetectionScales DetectionScalesFor(const Settings& s, Chain chain) {
    DetectionScales scales;
    const std::uint32_t n = s.samplesPerSweep();
    const std::size_t windowed = s.hammingWindow ? 2 : 1;
    switch (chain) {
    case Chain::FmcwRange:
        scales.maxRange = s.maxRange();
        scales.rangeBinsPerCell = windowed * BinsPerCell(n);
        scales.columns = {RangeRun(s)};
        break;
    case Chain::FmcwRangeVelocity:
        // The map weights each sweep, not the sweeps of a range bin.
        scales.maxRange = s.maxRange();
        scales.velocitySpan = s.maxVelocity();
        scales.rangeBinsPerCell = windowed * BinsPerCell(n);
        scales.velocityBinsPerCell = BinsPerCell(s.sweepCount);
        scales.rows = RangeRun(s);
        scales.columns = VelocityRuns(s);
        break;
    case Chain::Cw: {
        const dsp::CwScales cw =
            dsp::ComputeCwScales(n, s.sweepTimeMs(), s.sweepCount, s.centerFrequency());
        scales.velocitySpan = cw.velocitySpan;
        // The decimated block is what the spectrum transforms.
        scales.velocityBinsPerCell =
            windowed * BinsPerCell(static_cast<std::size_t>(cw.sampleCount / dsp::kCwDecimation));
        break;
    }
    case Chain::Fsk: {
        const double vFSK =
            dsp::ComputeFskScales(n, s.sweepTimeMs(), s.sweepCount, s.centerFrequency())
                .velocitySpan;
        scales.velocitySpan = vFSK;
        scales.velocityBinsPerCell = windowed * BinsPerCell(s.sweepCount);
        // Open as the pipeline takes it: both sliders at their extremes.
        const int top = static_cast<int>(vFSK);
        if (s.velocityWindow.low != -top || s.velocityWindow.high != top) {
            const dsp::FskWindow w =
                dsp::FskWindowPositions(s.velocityWindow.low, s.velocityWindow.high, vFSK);
            scales.columns = {{w.lo, w.hi}};
        }
        break;
    }
    case Chain::None:
        break;
    }
    return scales;
}

std::vector<Detection> DetectInRangeProfile(dsp::Span<const double> profileDb,
                                            const DetectionScales& scales,
                                            const DetectorSettings& detector) {
    if (profileDb.size() != dsp::kRangeBins)
        return {};
    const std::vector<double> range = dsp::FmcwRangeAxis(scales.maxRange);
    std::vector<Detection> found;
    for (const dsp::CfarDetection& cell :
         DetectOnRuns(profileDb, 1, dsp::kRangeBins,
                      ParamsFor(detector, 1, scales.rangeBinsPerCell), scales)) {
        Detection d = FromCell(cell, profileDb, dsp::kRangeBins);
        d.range_m = range[cell.column];
        found.push_back(d);
    }
    return Strongest(std::move(found));
}

std::vector<Detection> DetectInRangeVelocityMap(dsp::Span<const double> mapDb,
                                                const DetectionScales& scales,
                                                const DetectorSettings& detector) {
    if (mapDb.size() != dsp::kMapValues)
        return {};
    const std::vector<double> range = dsp::FmcwRangeAxis(scales.maxRange);
    constexpr double kStill = dsp::kDopplerBins / 2;
    std::vector<Detection> found;
    for (const dsp::CfarDetection& cell : DetectOnRuns(
             mapDb, dsp::kRangeBins, dsp::kDopplerBins,
             ParamsFor(detector, scales.rangeBinsPerCell, scales.velocityBinsPerCell), scales)) {
        Detection d = FromCell(cell, mapDb, dsp::kDopplerBins);
        d.range_m = range[cell.row];
        d.velocity_mps = (static_cast<double>(cell.column) - kStill) / kStill * scales.velocitySpan;
        found.push_back(d);
    }
    return Strongest(std::move(found));
}

std::vector<Detection> DetectInCwSpectrum(dsp::Span<const double> spectrumDb,
                                          const DetectionScales& scales,
                                          const DetectorSettings& detector) {
    if (spectrumDb.size() != dsp::kCwSpectrumSize)
        return {};
    const std::vector<double> velocity = dsp::CwVelocityAxis(scales.velocitySpan);
    std::vector<Detection> found;
    for (const dsp::CfarDetection& cell : DetectOnSpectrum(spectrumDb, 0.5, scales, detector)) {
        Detection d = FromCell(cell, spectrumDb, dsp::kCwSpectrumSize);
        d.velocity_mps = velocity[cell.column];
        found.push_back(d);
    }
    return Strongest(std::move(found));
}

std::vector<Detection> DetectInFskSpectrum(dsp::Span<const double> combinedDb,
                                           const DetectionScales& scales,
                                           const DetectorSettings& detector,
                                           const dsp::FskSpectra* spectra) {
    constexpr std::size_t n = dsp::kFskSpectrumSize;
    if (combinedDb.size() != n)
        return {};
    const bool phases = spectra && spectra->toneA.size() == n && spectra->toneB.size() == n;
    std::vector<Detection> found;
    for (const dsp::CfarDetection& cell : DetectOnSpectrum(combinedDb, 2.0, scales, detector)) {
        Detection d = FromCell(cell, combinedDb, n);
        d.velocity_mps = dsp::FskVelocityAt(cell.column, scales.velocitySpan);
        if (phases) {
            // As the single FSK target: the transform bin of the display position, and the
            // line's own turn between the tone-A and tone-B samples taken out.
            const std::size_t bin = (cell.column + n / 2) % n;
            d.range_m = dsp::FskRangeFromPhase(std::arg(spectra->toneA[bin]) -
                                               std::arg(spectra->toneB[bin]) +
                                               dsp::FskLineAdvance(cell.column, spectra->toneLag));
        }
        found.push_back(d);
    }
    return Strongest(std::move(found));
}

std::vector<Detection> DetectTargets(const Result& result, const Settings& s,
                                     const DetectorSettings& detector) {
    if (!detector.enabled)
        return {};
    const DetectionScales scales = DetectionScalesFor(s, result.chain);
    switch (result.chain) {
    case Chain::FmcwRange:
        return DetectInRangeProfile(result.values, scales, detector);
    case Chain::FmcwRangeVelocity:
        if (s.displayMode != kRangeVelocityMap)
            return {};
        return DetectInRangeVelocityMap(result.values, scales, detector);
    case Chain::Cw:
        return DetectInCwSpectrum(result.values, scales, detector);
    case Chain::Fsk:
        return DetectInFskSpectrum(result.values, scales, detector);
    case Chain::None:
        break;
    }
    return {};
}

} // namespace tavrix::radar
