#pragma once

#include "dsp/AlignedVector.h"
#include "dsp/Types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrix::dsp {

class FftPlan;

// FMCW sawtooth range processing: every sweep is zero-filled to 1024 samples and transformed;
// beat frequency is range, so bins 0..512 of the transform are the range profile, bin 512
// lying at the largest range Rmax that the sample rate resolves.

inline constexpr std::size_t kFmcwFftSize = 1024;
inline constexpr std::size_t kRangeBins = 513;
// One sweep is read with a fixed time-out, whatever its length.
inline constexpr std::int64_t kRangeSweepTimeoutMs = 1000;

// Rmax = N c / (4 B), metres.
double FmcwMaxRange(std::uint32_t samplesPerSweep, double bandwidthHz);

// Vmax = c / (4 f0 T): the radial velocity whose Doppler shift is half the sweep rate, m/s.
double FmcwMaxVelocity(double centerFrequency, double sweepTimeMs);

// Range of each of the 513 profile bins as the range scope labels them: k Rmax / 513.
std::vector<double> FmcwRangeAxis(double maxRange);

// Outdoor range weighting: `count` factors (w, w) with w = ((k + 1) / count)^2, which lift far
// echoes against the fall of their power with range. Multiplying a bin by (w, w) scales its
// power by 2 w^2.
ComplexVector RangeWeights(std::size_t count);

// A range or velocity window as its two sliders give it, in whole metres or metres per second.
struct SliderWindow {
    int low = 0;
    int high = 0;
};

// Whole-unit top of a window's slider scale: the maximum truncated toward zero.
int SliderTop(double maximum);

// Keeps low <= high. The slider being moved (the one with keyboard focus) wins: with the
// focus on High, Low comes down to High; otherwise High goes up to Low.
SliderWindow OrderWindow(SliderWindow window, bool highHasFocus);

// A window is active unless it spans the whole scale, 0 to SliderTop(maximum).
bool IsWindowActive(SliderWindow window, double maximum);

// A window's band-pass spectrum, 1024 factors from low·0.5/maximum to high·0.5/maximum cycles
// per sample, designed again only when the window or its scale changes. The scale counts as
// much as the bounds: the same slider values mean another band after the sweep length,
// bandwidth, sweep time or model changed.
class BandFilterCache {
public:
    // Designs the spectrum for `window` on the scale 0..maximum unless it holds that design
    // already; true when it designed.
    bool Refresh(SliderWindow window, double maximum);
    const ComplexVector& spectrum() const { return spectrum_; }

private:
    ComplexVector spectrum_;
    double lowCut_ = 0.0;
    double highCut_ = 0.0;
    double maximum_ = 0.0;
    bool valid_ = false;
};

// Half-open bin range [begin, end) searched for the detection: a zone (zoneMin, zoneMax) in
// metres maps to int(zoneMin / Rmax · 513) .. int(zoneMax / Rmax · 513), held to 0..512 for
// the begin and begin..513 for the end, so that the detected bin always exists.
struct BinRange {
    std::size_t begin = 0;
    std::size_t end = kRangeBins;
};
BinRange DetectionBins(double zoneMin, double zoneMax, double maxRange);

struct RangeProfileOptions {
    bool hammingWindow = true;
    Span<const Complex> rangeFilter;  // 1024 factors, or empty while the range window is open
    Span<const Complex> rangeWeights; // at least 513 factors, or empty when weighting is off
};

// Turns one cleaned sweep into its 513-bin range profile in dB. Keeps its working buffer, the
// Hamming window of the last sweep length and the transform plan between sweeps.
class FmcwRangeProfiler {
public:
    FmcwRangeProfiler();

    // `sweep`: at most 1024 samples after clutter cancellation and I/Q corrections. Applies
    // the Hamming window when asked, zero-fills to 1024, transforms (unnormalised forward DFT),
    // multiplies bin k by the filter and then by the weight when given, and writes
    // 10·log10(re² + im²) of bins 0..512 to db[0..512]. Returns false, touching nothing, when
    // the sweep is longer than 1024, `db` shorter than 513 or a given filter or weighting
    // shorter than stated.
    bool Process(Span<const Complex> sweep, const RangeProfileOptions& options, Span<double> db);

private:
    AlignedVector<Complex> input_;  // the windowed, zero-filled sweep
    AlignedVector<Complex> buffer_; // its transform
    std::vector<double> power_;
    std::vector<double> window_; // each factor twice, for I and Q
    std::size_t windowLength_ = 0;
    const FftPlan* plan_ = nullptr; // cached for the life of the process
};

// Complex product written out: std::complex's operator* tests every product for NaN (to
// recover infinities), a branch that keeps the inner loops from vectorising.
inline Complex Multiply(Complex a, Complex b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

} // namespace tavrix::dsp
