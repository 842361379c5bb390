#pragma once

#include "dsp/Types.h"

#include <cstdint>

namespace tavrix::dsp {

// Block-wise cleaning of sample data holding B consecutive blocks of L samples (one block
// per sweep). Only whole blocks inside the data are touched: a B or L larger than the data
// allows shortens the work instead of running past its end.

// Number of whole blocks of L samples among the first B blocks of `size` samples.
std::size_t WholeBlocks(std::size_t size, std::size_t L, std::size_t B);

// Removes each block's mean; real and imaginary parts separately.
void SubtractDC(Span<Complex> data, std::uint32_t L, std::uint32_t B);

// Scales each block so that its largest |I| and its largest |Q| become 1. A block whose I
// or Q is all zero gives NaN there (0/0), as IEEE arithmetic has it.
void CorrectAmplitude(Span<Complex> data, std::uint32_t L, std::uint32_t B);

// The stream corrections, in their fixed order: DC removal, then amplitude correction, both
// over B blocks of size / B samples. B = 0 leaves the data as it is.
void ApplyIQCorrections(Span<Complex> data, std::uint32_t B, bool subtractDC,
                        bool correctAmplitude);

} // namespace tavrix::dsp
