#include "dsp/Window.h"

#include "dsp/Blocks.h"

#include <cmath>

namespace tavrix::dsp {

std::vector<double> HammingWindow(std::uint32_t L) {
    std::vector<double> w(L);
    const double divisor = static_cast<double>(L) - 2.0;
    for (std::uint32_t n = 0; n < L; ++n)
        w[n] = 0.54 - 0.46 * std::cos(2.0 * kPi * n / divisor);
    return w;
}

void ApplyWindow(Span<Complex> data, const std::vector<double>& window, std::uint32_t B) {
    const std::size_t L = window.size();
    const std::size_t blocks = WholeBlocks(data.size(), L, B);
    for (std::size_t b = 0; b < blocks; ++b) {
        Complex* block = data.data() + b * L;
        for (std::size_t n = 0; n < L; ++n)
            block[n] = Complex(block[n].real() * window[n], block[n].imag() * window[n]);
    }
}

void ApplyHammingWindow(Span<Complex> data, std::uint32_t L, std::uint32_t B) {
    if (WholeBlocks(data.size(), L, B) == 0)
        return;
    // The cosines cost ten times the weighting itself; chains keep one L for many cycles.
    thread_local std::vector<double> window;
    if (window.size() != L)
        window = HammingWindow(L);
    ApplyWindow(data, window, B);
}

} // namespace tavrix::dsp
