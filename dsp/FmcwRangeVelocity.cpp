#include "dsp/FmcwRangeVelocity.h"

#include "dsp/Blocks.h"
#include "dsp/DynamicRange.h"
#include "dsp/FastDecibels.h"
#include "dsp/Fft.h"
#include "dsp/Window.h"

#include <algorithm>
#include <cmath>

namespace tavrix::dsp {

namespace {

// Rows transformed together by one batched plan. A block of 16 rows stays in the
// second-level cache; for the sweeps it also means that each Doppler row receives 16
// neighbouring values (256 bytes) at a time.
constexpr std::size_t kSweepBlock = 16;
constexpr std::size_t kHalfDoppler = kDopplerBins / 2;

} // namespace

FmcwBurstScales ComputeFmcwBurstScales(std::uint32_t samplesPerSweep, double sweepTimeMs,
                                       std::uint32_t sweeps) {
    FmcwBurstScales s;
    const double T = sweepTimeMs * 0.001;
    s.sampleRate = samplesPerSweep / T;
    s.sampleCount = TruncateToInt32(static_cast<double>(sweeps) * samplesPerSweep);
    const double timeout = s.sampleCount / s.sampleRate * 2000.0 + 1000.0;
    // Parameters from the form are always finite; anything else gets the plain second.
    s.timeoutMs =
        std::isfinite(timeout) && timeout < 9.0e18 ? static_cast<std::int64_t>(timeout) : 1000;
    return s;
}

FmcwRangeVelocityMapper::FmcwRangeVelocityMapper()
    : scratch_(kSweepBlock * kFmcwFftSize), sweeps_(kSweepBlock * kFmcwFftSize),
      doppler_(kRangeBins * kDopplerBins), binSums_(kRangeBins), power_(kDopplerBins) {}

void FmcwRangeVelocityMapper::CleanSweep(const Complex* sweep, std::size_t n,
                                         const RangeVelocityOptions& options, Complex* row) const {
    // One pass copies, windows and sums; the window comes before the DC and amplitude
    // corrections in this chain. Two partial sums per part keep the additions from queueing
    // behind one another.
    const double* w = options.hammingWindow ? window_.data() : nullptr;
    double sumRe0 = 0.0, sumRe1 = 0.0, sumIm0 = 0.0, sumIm1 = 0.0;
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const double w0 = w ? w[i] : 1.0, w1 = w ? w[i + 1] : 1.0;
        const double re0 = sweep[i].real() * w0, im0 = sweep[i].imag() * w0;
        const double re1 = sweep[i + 1].real() * w1, im1 = sweep[i + 1].imag() * w1;
        row[i] = Complex(re0, im0);
        row[i + 1] = Complex(re1, im1);
        sumRe0 += re0;
        sumIm0 += im0;
        sumRe1 += re1;
        sumIm1 += im1;
    }
    if (i < n) {
        const double w0 = w ? w[i] : 1.0;
        row[i] = Complex(sweep[i].real() * w0, sweep[i].imag() * w0);
        sumRe0 += row[i].real();
        sumIm0 += row[i].imag();
    }
    if (options.subtractDC) {
        const double meanRe = (sumRe0 + sumRe1) / static_cast<double>(n);
        const double meanIm = (sumIm0 + sumIm1) / static_cast<double>(n);
        for (std::size_t j = 0; j < n; ++j)
            row[j] = Complex(row[j].real() - meanRe, row[j].imag() - meanIm);
    }
    if (options.correctAmplitude)
        CorrectAmplitude(Span<Complex>(row, n), static_cast<std::uint32_t>(n), 1);
}

void FmcwRangeVelocityMapper::TransformSweeps(const Complex* burst, std::size_t first,
                                              std::size_t count, std::size_t n,
                                              const RangeVelocityOptions& options) {
    // Cleaned into the scratch block and transformed from there: out of place, the
    // transform skips the buffering that it does in place.
    for (std::size_t i = 0; i < count; ++i) {
        Complex* row = scratch_.data() + i * kFmcwFftSize;
        CleanSweep(burst + (first + i) * n, n, options, row);
        std::fill(row + n, row + kFmcwFftSize, Complex());
    }
    FftRowsInto(Span<const Complex>(scratch_.data(), count * kFmcwFftSize),
                Span<Complex>(sweeps_.data(), count * kFmcwFftSize), kFmcwFftSize);

    // Scatter range bins 0..512 into the Doppler rows (sweep index = slow-time position),
    // summing each bin over the sweeps on the way for its mean.
    const bool filter = !options.rangeFilter.empty();
    const bool weights = !options.rangeWeights.empty();
    for (std::size_t k = 0; k < kRangeBins; ++k) {
        Complex* out = doppler_.data() + k * kDopplerBins + first;
        const Complex* in = sweeps_.data() + k;
        const Complex f = filter ? options.rangeFilter[k] : Complex(1.0, 0.0);
        const Complex w = weights ? options.rangeWeights[k] : Complex(1.0, 0.0);
        double sumRe = 0.0, sumIm = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            Complex x = in[i * kFmcwFftSize];
            if (filter)
                x = Multiply(x, f);
            if (weights)
                x = Multiply(x, w);
            out[i] = x;
            sumRe += x.real();
            sumIm += x.imag();
        }
        binSums_[k] += Complex(sumRe, sumIm);
    }
}

bool FmcwRangeVelocityMapper::Process(Span<const Complex> burst, std::uint32_t samplesPerSweep,
                                      std::uint32_t sweeps, const RangeVelocityOptions& options,
                                      Span<double> map) {
    const std::size_t n = samplesPerSweep;
    const std::size_t q = sweeps;
    if (n < 1 || n > kFmcwFftSize || q < 1 || q > kMaxSweepCount || burst.size() < n * q ||
        map.size() != kMapValues ||
        (!options.rangeFilter.empty() && options.rangeFilter.size() < kFmcwFftSize) ||
        (!options.rangeWeights.empty() && options.rangeWeights.size() < kRangeBins) ||
        (!options.velocityFilter.empty() && options.velocityFilter.size() < kDopplerBins))
        return false;

    if (options.hammingWindow && windowLength_ != n) {
        window_ = HammingWindow(samplesPerSweep);
        windowLength_ = n;
    }

    // Fast time: every sweep to its range profile, straight into the Doppler rows.
    std::fill(binSums_.begin(), binSums_.end(), Complex());
    for (std::size_t first = 0; first < q; first += kSweepBlock)
        TransformSweeps(burst.data(), first, std::min(kSweepBlock, q - first), n, options);

    // Slow time: every range bin to its Doppler spectrum, then to one row of the map; the
    // bins go through the transform in blocks, like the sweeps.
    const bool velocityFilter = !options.velocityFilter.empty();
    for (std::size_t first = 0; first < kRangeBins; first += kSweepBlock) {
        const std::size_t count = std::min(kSweepBlock, kRangeBins - first);
        for (std::size_t k = first; k < first + count; ++k) {
            Complex* row = doppler_.data() + k * kDopplerBins;
            if (options.subtractDC) {
                // What stands still: the bin's mean over the sweeps.
                const double meanRe = binSums_[k].real() / static_cast<double>(q);
                const double meanIm = binSums_[k].imag() / static_cast<double>(q);
                for (std::size_t s = 0; s < q; ++s)
                    row[s] = Complex(row[s].real() - meanRe, row[s].imag() - meanIm);
            }
            std::fill(row + q, row + kDopplerBins, Complex());
        }
        FftRowsInto(
            Span<const Complex>(doppler_.data() + first * kDopplerBins, count * kDopplerBins),
            Span<Complex>(scratch_.data(), count * kDopplerBins), kDopplerBins);

        for (std::size_t k = first; k < first + count; ++k) {
            const Complex* row = scratch_.data() + (k - first) * kDopplerBins;
            // Doppler bin d goes to column (d + 512) mod 1024: negative velocities first.
            for (std::size_t d = 0; d < kDopplerBins; ++d) {
                Complex x = row[d];
                if (velocityFilter)
                    x = Multiply(x, options.velocityFilter[d]);
                power_[(d + kHalfDoppler) % kDopplerBins] =
                    x.real() * x.real() + x.imag() * x.imag();
            }
            const std::size_t mapRow = options.rows == MapRows::FarFirst ? kRangeBins - 1 - k : k;
            DecibelsFromPower(power_.data(), map.data() + mapRow * kDopplerBins, kDopplerBins);
        }
    }
    return true;
}

bool VelocityProfile(Span<const double> farFirstMap, Span<double> profile) {
    if (farFirstMap.size() != kMapValues || profile.size() < kDopplerBins)
        return false;
    // The scale applies to every range bin alike. Counting the farthest bin in full, as a
    // bare "first row + scaled rest" would, lets that one bin's noise drown the profile.
    constexpr double kScale = 0.0009765625; // 1/1024
    std::fill(profile.begin(), profile.begin() + kDopplerBins, 0.0);
    for (std::size_t r = 0; r < kRangeBins; ++r) {
        const double* row = farFirstMap.data() + r * kDopplerBins;
        for (std::size_t j = 0; j < kDopplerBins; ++j)
            profile[j] += row[j];
    }
    for (std::size_t j = 0; j < kDopplerBins; ++j)
        profile[j] *= kScale;
    profile[kHalfDoppler - 1] = profile[kHalfDoppler];
    return true;
}

} // namespace tavrix::dsp
