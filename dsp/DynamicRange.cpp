#include "dsp/DynamicRange.h"

#include <cmath>
#include <limits>

namespace tavrix::dsp {

std::int32_t TruncateToInt32(double value) {
    constexpr auto lowest = std::numeric_limits<std::int32_t>::min();
    constexpr auto highest = std::numeric_limits<std::int32_t>::max();
    if (std::isnan(value) || value <= static_cast<double>(lowest))
        return lowest;
    if (value >= static_cast<double>(highest))
        return highest;
    return static_cast<std::int32_t>(value);
}

void MaximumScan::Add(Span<const double> values) {
    // A dead channel gives NaN or infinite dB; a colour range built on them shows nothing.
    // NaN and -inf never compare greater, +inf is held off by the upper bound.
    constexpr double largest = std::numeric_limits<double>::max();
    double max = max_;
    for (const double v : values)
        if (v > max && v <= largest)
            max = v;
    max_ = max;
}

std::optional<double> MaximumScan::Value() const {
    if (max_ == -std::numeric_limits<double>::infinity())
        return std::nullopt;
    return max_;
}

void TruncatedMeanScan::Add(Span<const double> values) {
    for (double v : values) {
        if (!std::isfinite(v))
            continue;
        sum_ = TruncateToInt32(static_cast<double>(sum_) + v);
        ++count_;
    }
}

std::int32_t TruncatedMeanScan::Value() const {
    return count_ > 0 ? static_cast<std::int32_t>(sum_ / count_) : 0;
}

std::optional<std::int32_t> AutoMaximum(Span<const double> values) {
    MaximumScan scan;
    scan.Add(values);
    if (auto max = scan.Value())
        return TruncateToInt32(*max);
    return std::nullopt;
}

std::int32_t AutoMinimum(Span<const double> values) {
    TruncatedMeanScan scan;
    scan.Add(values);
    return scan.Value();
}

} // namespace tavrix::dsp
