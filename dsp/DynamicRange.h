#pragma once

#include "dsp/Types.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace tavrix::dsp {

// The automatic dynamic range of the plots: the slider maximum follows the largest dB value,
// the minimum the mean of the finite dB values, both as whole dB truncated toward zero.
// Non-finite values (a dead channel, a zero bin) are left out of both.
// The scans take their values in pieces (a waterfall history may wrap in memory) and give
// the same result as one pass over the pieces in order.

// double to int32 by truncation toward zero, saturating at the int32 limits; NaN gives
// INT32_MIN (what the processor's own conversion yields), which a slider clamps to its
// minimum.
std::int32_t TruncateToInt32(double value);

// What the two scans below need of a run of values, taken where the run is made (while it is
// in the caches, on any thread); joined in order, summaries give what scanning the runs gives.
struct LevelSummary {
    double max = -std::numeric_limits<double>::infinity(); // largest finite value; -inf: none
    double largest = 0.0;                                  // largest magnitude of a finite value
    std::int64_t floorSum = 0;                             // the finite values' floors, added up
    std::int64_t parted = 0;                               // finite values that are not whole
    std::int64_t finite = 0;                               // finite values
    bool wholeSumsHold = true; // false: a value too large, or a part a hair from a whole number
};
LevelSummary SummarizeLevels(Span<const double> values);

// Largest finite value in scan order, replaced only by a strictly greater one. Non-finite
// values count as absent.
class MaximumScan {
public:
    void Add(Span<const double> values);
    void Add(const LevelSummary& summary);
    // Empty when no finite value was seen.
    std::optional<double> Value() const;

private:
    double max_ = -std::numeric_limits<double>::infinity(); // none yet
};

// Mean of the finite values with a running int32 sum truncated after every addition, and
// integer division at the end; 0 when no value was finite.
class TruncatedMeanScan {
public:
    void Add(Span<const double> values);
    // `values`, of which `summary` was taken: where the sum cannot change sign within them
    // it takes the summary's whole sums, else it scans them.
    void Add(const LevelSummary& summary, Span<const double> values);
    std::int32_t Value() const;
    std::int32_t Sum() const { return sum_; }

private:
    std::int32_t sum_ = 0;
    std::int64_t count_ = 0;
};

// Automatic maximum over `values`: the largest finite one, truncated; empty when there is
// none (the slider keeps its value).
std::optional<std::int32_t> AutoMaximum(Span<const double> values);

// Automatic minimum over `values`: the truncated mean of the finite ones.
std::int32_t AutoMinimum(Span<const double> values);

// The same two over rows of `columns` values laid end to end in `values` (the last row may be
// shorter), from the rows' summaries (SummarizeLevels of each row, in order).
std::optional<std::int32_t> AutoMaximum(Span<const LevelSummary> rows);
std::int32_t AutoMinimum(Span<const LevelSummary> rows, Span<const double> values,
                         std::size_t columns);

} // namespace tavrix::dsp
