#include "dsp/Fsk.h"

#include "dsp/Blocks.h"
#include "dsp/Decibel.h"
#include "dsp/DynamicRange.h"
#include "dsp/Fft.h"
#include "dsp/Peak.h"
#include "dsp/Window.h"

#include <algorithm>
#include <cmath>

namespace tavrix::dsp {

namespace {
// 4 pi x 6 MHz: phase difference per metre of range is 4 pi df / c.
constexpr double kRangePhaseDivisor = 75398223.68615504;
constexpr std::size_t kHalf = kFskSpectrumSize / 2;
} // namespace

FskScales ComputeFskScales(std::uint32_t samplesPerSweep, double sweepTimeMs, std::uint32_t sweeps,
                           double centerFrequency) {
    FskScales s;
    const double T = sweepTimeMs * 0.001;
    s.sampleRate = samplesPerSweep / T;
    s.sampleCount = TruncateToInt32(static_cast<double>(sweeps) * samplesPerSweep);
    s.timeoutMs = static_cast<std::int64_t>(s.sampleCount / s.sampleRate * 2000.0 + 1000.0);
    s.velocitySpan = 1.0 / T * 0.5 * kSpeedOfLight / (2.0 * centerFrequency);
    s.toneBOffset = static_cast<std::int32_t>(samplesPerSweep * 0.5 + 5.0);
    return s;
}

bool ComputeFskSpectra(Span<const Complex> block, std::uint32_t samplesPerSweep,
                       std::uint32_t sweeps, bool hamming, Span<const Complex> velocityFilter,
                       FskSpectra& out) {
    if (sweeps < 1 || sweeps > kFskSpectrumSize)
        return false;
    if (!velocityFilter.empty() && velocityFilter.size() != kFskSpectrumSize)
        return false;
    const auto h = static_cast<std::size_t>(samplesPerSweep * 0.5 + 5.0);
    const std::size_t last =
        std::size_t{sweeps - 1} * samplesPerSweep + std::max(kFskToneAOffset, h);
    if (last >= block.size())
        return false;

    out.toneLag = static_cast<double>(h - kFskToneAOffset) / samplesPerSweep;
    out.toneA.assign(kFskSpectrumSize, Complex());
    out.toneB.assign(kFskSpectrumSize, Complex());
    std::size_t s = 0;
    for (std::uint32_t k = 0; k < sweeps; ++k) {
        out.toneA[k] = block[s + kFskToneAOffset];
        out.toneB[k] = block[s + h];
        s += samplesPerSweep;
    }
    // The mean is taken over the filled entries only; the zero tail stays zero.
    for (ComplexVector* tone : {&out.toneA, &out.toneB}) {
        SubtractDC(*tone, sweeps, 1);
        if (hamming)
            ApplyHammingWindow(*tone, sweeps, 1);
        Fft(*tone);
    }

    out.combined.resize(kFskSpectrumSize);
    constexpr double scale = 1.0 / kFskSpectrumSize;
    for (std::size_t i = 0; i < kFskSpectrumSize; ++i) {
        Complex y = out.toneA[i] * out.toneB[i];
        if (!velocityFilter.empty())
            y *= velocityFilter[i];
        out.combined[(i + kHalf) % kFskSpectrumSize] =
            PowerDb(Complex(y.real() * scale, y.imag() * scale));
    }
    out.combined[kHalf] = out.combined[kHalf + 1];
    return true;
}

FskWindow FskWindowPositions(double low, double high, double velocitySpan) {
    const auto position = [velocitySpan](double v) -> std::size_t {
        const double p = (v + velocitySpan) / (2.0 * velocitySpan) * kFskSpectrumSize;
        if (!(p > 0.0))
            return 0;
        return p >= kFskSpectrumSize ? kFskSpectrumSize : static_cast<std::size_t>(p);
    };
    FskWindow w;
    w.lo = std::min(position(low), kFskSpectrumSize - 1);
    w.hi = std::max(position(high), w.lo);
    return w;
}

FskTarget DetectFskTarget(const FskSpectra& spectra, FskWindow window, double thresholdDb,
                          double velocitySpan) {
    FskTarget t;
    const std::vector<double>& S = spectra.combined;
    if (S.size() != kFskSpectrumSize || spectra.toneA.size() != kFskSpectrumSize ||
        spectra.toneB.size() != kFskSpectrumSize)
        return t;
    const std::size_t lo = std::min(window.lo, kFskSpectrumSize - 1);
    const std::size_t hi = std::min(window.hi, kFskSpectrumSize);
    t.peak = FindPeak(S, lo, hi);
    t.trough = FindTrough(S, lo, hi);
    t.peakDb = S[t.peak];
    t.detected = t.peakDb > thresholdDb;
    if (t.detected) {
        const std::size_t bin = (t.peak + kHalf) % kFskSpectrumSize;
        // B's phase has run on with the Doppler line between the two samples; added back
        // before wrapping, so a correction across the wrap lands on the other side of it.
        t.range = FskRangeFromPhase(std::arg(spectra.toneA[bin]) - std::arg(spectra.toneB[bin]) +
                                    FskLineAdvance(t.peak, spectra.toneLag));
        t.velocity = FskVelocityAt(t.peak, velocitySpan);
    }
    return t;
}

double FskRangeFromPhase(double phaseDifference) {
    const double twoPi = 2.0 * kPi;
    const double wrapped = phaseDifference - twoPi * std::floor(phaseDifference / twoPi);
    return wrapped * kSpeedOfLight / kRangePhaseDivisor;
}

double FskLineAdvance(std::size_t position, double lag) {
    const double cyclesPerSweep =
        (static_cast<double>(position) - static_cast<double>(kHalf)) / kFskSpectrumSize;
    return 2.0 * kPi * cyclesPerSweep * lag;
}

double FskVelocityAt(std::size_t position, double velocitySpan) {
    return (2.0 * velocitySpan / (kFskSpectrumSize - 1)) * static_cast<std::int32_t>(position) -
           velocitySpan;
}

std::vector<double> FskVelocityAxis(double velocitySpan) {
    std::vector<double> axis(kFskSpectrumSize);
    for (std::size_t j = 0; j < kFskSpectrumSize; ++j)
        axis[j] = FskVelocityAt(j, velocitySpan);
    return axis;
}

std::size_t FskTrackPosition(double range) {
    const double p = range / kFskRangeSpan * kFskSpectrumSize;
    if (!(p > 0.0))
        return 0;
    return std::min(kFskSpectrumSize - 1, static_cast<std::size_t>(std::min(p, 1.0e9)));
}

void FlattenOutsideWindow(std::vector<double>& spectrum, FskWindow window, std::size_t trough) {
    if (trough >= spectrum.size())
        return;
    const double floor = spectrum[trough];
    const std::size_t lo = std::min(window.lo, spectrum.size());
    const std::size_t hi = std::min(std::max(window.hi, lo), spectrum.size());
    std::fill(spectrum.begin(), spectrum.begin() + lo, floor);
    std::fill(spectrum.begin() + hi, spectrum.end(), floor);
}

} // namespace tavrix::dsp
