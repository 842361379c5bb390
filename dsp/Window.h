#pragma once

#include "dsp/Types.h"

#include <cstdint>
#include <vector>

namespace tavrix::dsp {

// Hamming window of L points, w[n] = 0.54 - 0.46 cos(2 pi n / (L - 2)). The divisor L - 2
// (not L - 1) is what the chains were tuned with; L = 2 divides by zero and gives NaN.
std::vector<double> HammingWindow(std::uint32_t L);

// Multiplies I and Q of sample n of each of B blocks by window[n]; the blocks are
// window.size() long. Only whole blocks inside the data are touched.
void ApplyWindow(Span<Complex> data, const std::vector<double>& window, std::uint32_t B);

// HammingWindow(L) applied to B blocks of L samples.
void ApplyHammingWindow(Span<Complex> data, std::uint32_t L, std::uint32_t B);

} // namespace tavrix::dsp
