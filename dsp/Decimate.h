#pragma once

#include "dsp/Types.h"

#include <cstdint>

namespace tavrix::dsp {

// Number of halvings DecimateIQ makes for `factor`: log2 of it rounded to nearest (3 -> 2,
// 5 -> 2, 6 -> 3); 0 for factors below 2, including 0 and negative ones.
int DecimationStages(std::int32_t factor);

// Lowers the sample rate by the power of two nearest to `factor`. Each stage sums
// neighbouring samples (a two-sample running sum), removes the mean and keeps every second
// sample, so `data` ends with size / 2^K samples (K = DecimationStages(factor)).
void DecimateIQ(ComplexVector& data, std::int32_t factor);

} // namespace tavrix::dsp
