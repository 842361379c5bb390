#pragma once

#include "dsp/Types.h"

namespace tavrix::dsp {

// Index of the first largest value in [begin, end): a later equal value does not replace it,
// and a NaN wins only where it comes first. The range is clipped to the values; an empty
// range yields `begin` (callers that index with the result check it against the size).
std::size_t FindPeak(Span<const double> values, std::size_t begin, std::size_t end);

// Index of the first smallest value in [begin, end), by the same rules.
std::size_t FindTrough(Span<const double> values, std::size_t begin, std::size_t end);

} // namespace tavrix::dsp
