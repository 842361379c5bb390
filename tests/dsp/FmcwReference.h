#pragma once

// Plain, step-by-step versions of the FMCW chains: fresh FFTW plans every call, the
// transposed-output batched plan for the fast-time transforms, std::complex products and
// std::log10. The tests hold the fast cores against them; the benchmarks time both.

#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Types.h"

#include <vector>

namespace tavrix::test {

std::vector<double> ReferenceRangeProfile(dsp::ComplexVector sweep,
                                          const dsp::RangeProfileOptions& options);

// Q·N samples of `burst` in, 513 x 1024 dB values out, rows in the options' order.
std::vector<double> ReferenceRangeVelocityMap(dsp::ComplexVector burst,
                                              std::uint32_t samplesPerSweep, std::uint32_t sweeps,
                                              const dsp::RangeVelocityOptions& options);

} // namespace tavrix::test
