#include "dsp/DynamicRange.h"

#include <algorithm>
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

namespace {

constexpr std::size_t kBlock = 64;
// A part this close to a whole number can round onto it when added to a sum below 2^31, whose
// spacing of doubles is at most 2^-22.
constexpr double kPartBound = 1.0 - 1.0 / (1 << 20);

// Adds a block of values at once where adding them one at a time could neither change the
// sum's sign nor saturate it: truncation then takes each value's floor (sum above zero) or
// ceiling (below) whatever the sum, so the block adds the sum of those. False, adding nothing,
// when that does not hold, or a value is not finite, or a part lies so close to the next whole
// number that the double sum could round onto it.
bool AddBlock(const double* v, std::int32_t& sum) {
    double largest = 0;
    for (std::size_t k = 0; k < kBlock; ++k) {
        if (!std::isfinite(v[k]))
            return false;
        largest = std::max(largest, std::abs(v[k]));
    }
    // Each addition moves the sum by at most largest + 1.
    const double reach = static_cast<double>(kBlock) * (largest + 1);
    const double s = sum;
    constexpr double top = std::numeric_limits<std::int32_t>::max();
    const bool up = s >= reach && s + reach < top;
    const bool down = s <= -reach && s - reach > -top;
    if (!up && !down)
        return false;
    std::int64_t added = 0;
    double part = 0;
    for (std::size_t k = 0; k < kBlock; ++k) {
        const double truncated = static_cast<double>(static_cast<std::int32_t>(v[k]));
        const double whole = up ? truncated - (v[k] < truncated) : truncated + (v[k] > truncated);
        part = std::max(part, std::abs(v[k] - whole));
        added += static_cast<std::int64_t>(whole);
    }
    if (part >= kPartBound)
        return false;
    sum = static_cast<std::int32_t>(sum + added);
    return true;
}

} // namespace

void TruncatedMeanScan::Add(Span<const double> values) {
    const double* v = values.data();
    const std::size_t n = values.size();
    std::size_t i = 0;
    while (i < n) {
        // Blocks break the chain of dependent additions (4 ns a value on a large map).
        if (n - i >= kBlock && AddBlock(v + i, sum_)) {
            count_ += static_cast<std::int64_t>(kBlock);
            i += kBlock;
            continue;
        }
        // One at a time: a block would not keep the sum's sign, or holds a dead value.
        const std::size_t end = std::min(n, i + kBlock);
        for (; i < end; ++i) {
            if (!std::isfinite(v[i]))
                continue;
            sum_ = TruncateToInt32(static_cast<double>(sum_) + v[i]);
            ++count_;
        }
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
