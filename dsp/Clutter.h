#pragma once

#include "dsp/Types.h"

#include <deque>

namespace tavrix::dsp {

enum class ClutterMode {
    Disabled,
    // Subtracts the first block seen after a reset, kept until the next reset.
    Reference,
    // Subtracts the mean of the newest blocks, the current one included.
    MovingAverage,
};

// Removes the direct leakage and static echoes from a block, in place.
//
// `reset` asks for a fresh start: it is carried out (and cleared) by the next call in an
// active mode; Disabled leaves it pending. `reference` holds the Reference mode's block,
// `history` the MovingAverage blocks, newest first. `averageCount` (normally 2 to 64) is
// read at every call: lowering it drops the oldest blocks at once; values below 1 count
// as 1. Stored blocks of another length than `data` no longer describe the stream, so
// they are replaced as by a reset rather than read past their end.
void CancelDirectClutter(Span<Complex> data, ClutterMode mode, int averageCount, bool& reset,
                         ComplexVector& reference, std::deque<ComplexVector>& history);

} // namespace tavrix::dsp
