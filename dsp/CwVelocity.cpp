#include "dsp/CwVelocity.h"

#include "dsp/Blocks.h"
#include "dsp/Decimate.h"
#include "dsp/DynamicRange.h"
#include "dsp/Fft.h"
#include "dsp/Iq.h"
#include "dsp/Window.h"

#include <algorithm>
#include <cmath>

namespace tavrix::dsp {

namespace {
// Rotating left by 513 rather than 512 puts zero frequency one position below the centre;
// the velocity axis is drawn to match.
constexpr std::size_t kRotation = 513;
} // namespace

CwScales ComputeCwScales(std::uint32_t samplesPerSweep, double sweepTimeMs, std::uint32_t sweeps,
                         double centerFrequency) {
    CwScales s;
    const double T = sweepTimeMs * 0.001;
    s.sampleRate = samplesPerSweep / T;
    s.sampleCount = TruncateToInt32(static_cast<double>(sweeps) * samplesPerSweep);
    s.timeoutMs = static_cast<std::int64_t>(s.sampleCount / s.sampleRate * 2000.0 + 1000.0);
    s.decimatedSpacing = kCwDecimation / s.sampleRate;
    s.velocitySpan = s.sampleRate * 0.0078125 * 0.5 * kSpeedOfLight / (2.0 * centerFrequency);
    return s;
}

void CwConditionBlock(ComplexVector& block, bool correctAmplitude) {
    DecimateIQ(block, kCwDecimation);
    std::vector<double> i;
    std::vector<double> q;
    SplitIQ(block, i, q);
    BalanceIQ(i, q);
    for (std::size_t k = 0; k < block.size(); ++k)
        block[k] = Complex(i[k], q[k]);
    if (correctAmplitude)
        CorrectAmplitude(block, static_cast<std::uint32_t>(block.size()), 1);
}

void CwDopplerSpectrum(Span<const Complex> block, bool hamming, std::vector<double>& spectrum) {
    // Only the first 1024 samples enter the transform, but the window spans the whole block.
    ComplexVector bins(kCwSpectrumSize);
    const std::size_t used = std::min(block.size(), kCwSpectrumSize);
    if (hamming) {
        const std::vector<double> w = HammingWindow(static_cast<std::uint32_t>(block.size()));
        for (std::size_t k = 0; k < used; ++k)
            bins[k] = Complex(block[k].real() * w[k], block[k].imag() * w[k]);
    } else {
        std::copy(block.begin(), block.begin() + used, bins.begin());
    }
    Fft(bins);

    spectrum.resize(kCwSpectrumSize);
    constexpr double scale = 1.0 / kCwSpectrumSize;
    for (std::size_t j = 0; j < kCwSpectrumSize; ++j) {
        const Complex& x = bins[(j + kRotation) % kCwSpectrumSize];
        // std::abs scales before squaring, so no intermediate overflows.
        spectrum[j] = 10.0 * std::log10(std::abs(Complex(x.real() * scale, x.imag() * scale)));
    }
}

std::vector<double> CwVelocityAxis(double velocitySpan) {
    std::vector<double> axis(kCwSpectrumSize);
    const double step = 2.0 * velocitySpan / kCwSpectrumSize;
    for (std::size_t j = 0; j < kCwSpectrumSize; ++j)
        axis[j] = j * step - velocitySpan;
    return axis;
}

} // namespace tavrix::dsp
