#include "dsp/FmcwRange.h"

#include "dsp/BandFilter.h"
#include "dsp/DynamicRange.h"
#include "dsp/FastDecibels.h"
#include "dsp/Fft.h"
#include "dsp/Window.h"

#include <algorithm>
#include <cmath>

namespace tavrix::dsp {

namespace {

__attribute__((always_inline)) inline void MultiplyLoop(const double* a, const double* b,
                                                        double* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = a[i] * b[i];
}

__attribute__((target("avx2"))) void MultiplyAvx2(const double* a, const double* b, double* out,
                                                  std::size_t n) {
    MultiplyLoop(a, b, out, n);
}

void MultiplyPlain(const double* a, const double* b, double* out, std::size_t n) {
    MultiplyLoop(a, b, out, n);
}

// out[i] = a[i] · b[i], four at a time where the processor has the registers for it. Chosen
// at the first call rather than by an ifunc, whose resolver would run before a sanitizer's
// runtime is up.
void MultiplyInto(const double* a, const double* b, double* out, std::size_t n) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    (avx2 ? MultiplyAvx2 : MultiplyPlain)(a, b, out, n);
}

} // namespace

double FmcwMaxRange(std::uint32_t samplesPerSweep, double bandwidthHz) {
    return samplesPerSweep * kSpeedOfLight / (4.0 * bandwidthHz);
}

double FmcwMaxVelocity(double centerFrequency, double sweepTimeMs) {
    return kSpeedOfLight / (4.0 * centerFrequency * (sweepTimeMs * 0.001));
}

std::vector<double> FmcwRangeAxis(double maxRange) {
    std::vector<double> axis(kRangeBins);
    for (std::size_t k = 0; k < kRangeBins; ++k)
        axis[k] = static_cast<double>(k) * maxRange / static_cast<double>(kRangeBins);
    return axis;
}

ComplexVector RangeWeights(std::size_t count) {
    ComplexVector weights(count);
    for (std::size_t k = 0; k < count; ++k) {
        const double ratio = static_cast<double>(k + 1) / static_cast<double>(count);
        const double w = ratio * ratio;
        weights[k] = Complex(w, w);
    }
    return weights;
}

int SliderTop(double maximum) {
    return TruncateToInt32(maximum);
}

SliderWindow OrderWindow(SliderWindow window, bool highHasFocus) {
    if (window.low > window.high) {
        if (highHasFocus)
            window.low = window.high;
        else
            window.high = window.low;
    }
    return window;
}

bool IsWindowActive(SliderWindow window, double maximum) {
    return !(window.high == SliderTop(maximum) && window.low == 0);
}

bool BandFilterCache::Refresh(SliderWindow window, double maximum) {
    if (valid_ && window.low == lowCut_ && window.high == highCut_ && maximum == maximum_)
        return false;
    lowCut_ = window.low;
    highCut_ = window.high;
    maximum_ = maximum;
    valid_ = true;
    spectrum_.resize(kFmcwFftSize);
    DesignBandFilter(spectrum_, window.low * 0.5 / maximum, window.high * 0.5 / maximum);
    return true;
}

BinRange DetectionBins(double zoneMin, double zoneMax, double maxRange) {
    const auto bin = [maxRange](double metres) {
        const double position = metres / maxRange * static_cast<double>(kRangeBins);
        // Out-of-scale or non-finite zones fall back to the profile's ends.
        if (!(position > 0.0))
            return std::size_t{0};
        if (!(position < static_cast<double>(kRangeBins)))
            return kRangeBins;
        return static_cast<std::size_t>(position);
    };
    BinRange range;
    range.begin = std::min(bin(zoneMin), kRangeBins - 1);
    range.end = std::max(bin(zoneMax), range.begin);
    return range;
}

FmcwRangeProfiler::FmcwRangeProfiler()
    : input_(kFmcwFftSize), buffer_(kFmcwFftSize), power_(kRangeBins) {}

bool FmcwRangeProfiler::Process(Span<const Complex> sweep, const RangeProfileOptions& options,
                                Span<double> db) {
    const std::size_t n = sweep.size();
    const bool filter = !options.rangeFilter.empty();
    const bool weights = !options.rangeWeights.empty();
    if (n > kFmcwFftSize || db.size() < kRangeBins ||
        (filter && options.rangeFilter.size() < kFmcwFftSize) ||
        (weights && options.rangeWeights.size() < kRangeBins))
        return false;

    // The window is applied on the way into the transform's input; the transform goes from
    // there into the working buffer. Each factor is stored twice, once for I and once for Q,
    // so that windowing is a plain product of two arrays of doubles, which vectorises.
    double* in = reinterpret_cast<double*>(input_.data());
    if (options.hammingWindow) {
        if (windowLength_ != n) {
            const std::vector<double> w = HammingWindow(static_cast<std::uint32_t>(n));
            window_.resize(2 * n);
            for (std::size_t i = 0; i < n; ++i)
                window_[2 * i] = window_[2 * i + 1] = w[i];
            windowLength_ = n;
        }
        MultiplyInto(reinterpret_cast<const double*>(sweep.data()), window_.data(), in, 2 * n);
    } else {
        std::copy(sweep.begin(), sweep.end(), input_.begin());
    }
    std::fill(input_.begin() + n, input_.end(), Complex());
    // The buffers never move, so their plan is looked up once.
    if (!plan_)
        plan_ = &FftPlanCache::Instance().Plan(
            FftLayoutFor(input_.data(), buffer_.data(), kFmcwFftSize, 1, FftDirection::Forward));
    plan_->Execute(input_.data(), buffer_.data());

    if (!filter && !weights) {
        DecibelsFromSpectrum(buffer_.data(), db.data(), kRangeBins);
        return true;
    }
    for (std::size_t k = 0; k < kRangeBins; ++k) {
        Complex x = buffer_[k];
        if (filter)
            x = Multiply(x, options.rangeFilter[k]);
        if (weights)
            x = Multiply(x, options.rangeWeights[k]);
        power_[k] = x.real() * x.real() + x.imag() * x.imag();
    }
    DecibelsFromPower(power_.data(), db.data(), kRangeBins);
    return true;
}

} // namespace tavrix::dsp
