#include "dsp/Blocks.h"

#include <algorithm>
#include <cmath>

namespace tavrix::dsp {

std::size_t WholeBlocks(std::size_t size, std::size_t L, std::size_t B) {
    if (L == 0)
        return 0;
    return std::min<std::size_t>(B, size / L);
}

void SubtractDC(Span<Complex> data, std::uint32_t L, std::uint32_t B) {
    const std::size_t blocks = WholeBlocks(data.size(), L, B);
    for (std::size_t b = 0; b < blocks; ++b) {
        Complex* block = data.data() + b * L;
        double sumRe = 0.0;
        double sumIm = 0.0;
        for (std::uint32_t n = 0; n < L; ++n) {
            sumRe += block[n].real();
            sumIm += block[n].imag();
        }
        const double meanRe = sumRe / static_cast<double>(L);
        const double meanIm = sumIm / static_cast<double>(L);
        for (std::uint32_t n = 0; n < L; ++n)
            block[n] = Complex(block[n].real() - meanRe, block[n].imag() - meanIm);
    }
}

void CorrectAmplitude(Span<Complex> data, std::uint32_t L, std::uint32_t B) {
    const std::size_t blocks = WholeBlocks(data.size(), L, B);
    for (std::size_t b = 0; b < blocks; ++b) {
        Complex* block = data.data() + b * L;
        double peakI = 0.0;
        double peakQ = 0.0;
        for (std::uint32_t n = 0; n < L; ++n) {
            peakI = std::max(peakI, std::fabs(block[n].real()));
            peakQ = std::max(peakQ, std::fabs(block[n].imag()));
        }
        for (std::uint32_t n = 0; n < L; ++n)
            block[n] = Complex(block[n].real() / peakI, block[n].imag() / peakQ);
    }
}

void ApplyIQCorrections(Span<Complex> data, std::uint32_t B, bool subtractDC,
                        bool correctAmplitude) {
    if (B == 0)
        return;
    const auto L = static_cast<std::uint32_t>(std::min<std::size_t>(data.size() / B, UINT32_MAX));
    if (subtractDC)
        SubtractDC(data, L, B);
    if (correctAmplitude)
        CorrectAmplitude(data, L, B);
}

} // namespace tavrix::dsp
