#include "dsp/DynamicRange.h"

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

void MaximumScan::Add(const LevelSummary& summary) {
    max_ = std::max(max_, summary.max);
}

std::optional<double> MaximumScan::Value() const {
    if (max_ == -std::numeric_limits<double>::infinity())
        return std::nullopt;
    return max_;
}

namespace {

constexpr std::size_t kBlock = 64;
// A double sum below 2^31 lies within 2^-22 of the exact one, so it can round onto a whole
// number only from a part (the distance of a value above its floor) this close to 0 or 1.
constexpr double kPartLow = 1.0 / (1 << 20);
constexpr double kPartHigh = 1.0 - kPartLow;
constexpr double kLargestFinite = std::numeric_limits<double>::max();

#ifdef __SSE2__
// Adds a block of values as one at a time would, without a double conversion in the chain of
// additions: a truncated sum s + v is s + floor(v) when that is not negative, else one more
// when v has a part. When the sum cannot change sign within the block (far from zero) the
// floors, or the ceilings, add up all at once. False, adding nothing, when a value is not
// finite, the sum could saturate, or a part lies so close to a whole number that the double
// sum could round onto it.
bool AddBlock(const double* v, std::int32_t& sum) {
    // Two values at a time: finite, largest magnitude, floor and part.
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d zero = _mm_setzero_pd();
    __m128d finite = _mm_castsi128_pd(_mm_set1_epi32(-1));
    __m128d largest = zero;
    for (std::size_t k = 0; k < kBlock; k += 2) {
        const __m128d a = _mm_andnot_pd(sign, _mm_loadu_pd(v + k));
        finite = _mm_and_pd(finite, _mm_cmple_pd(a, _mm_set1_pd(kLargestFinite))); // NaN fails
        largest = _mm_max_pd(largest, a);
    }
    if (_mm_movemask_pd(finite) != 3)
        return false;
    const double big =
        std::max(_mm_cvtsd_f64(largest), _mm_cvtsd_f64(_mm_unpackhi_pd(largest, largest)));
    // Each addition moves the sum by at most big + 1.
    const double reach = static_cast<double>(kBlock) * (big + 1);
    constexpr double top = std::numeric_limits<std::int32_t>::max();
    if (std::abs(static_cast<double>(sum)) + reach >= top)
        return false;

    std::int32_t floors[kBlock];
    std::int32_t parted[kBlock]; // 1 where the value is not whole
    __m128d nearWhole = zero;
    for (std::size_t k = 0; k < kBlock; k += 2) {
        const __m128d x = _mm_loadu_pd(v + k);
        const __m128d truncated = _mm_cvtepi32_pd(_mm_cvttpd_epi32(x));
        const __m128d floor = _mm_sub_pd(truncated, _mm_and_pd(_mm_cmplt_pd(x, truncated), one));
        const __m128d part = _mm_sub_pd(x, floor);
        const __m128d hasPart = _mm_cmpgt_pd(part, zero);
        nearWhole = _mm_or_pd(
            nearWhole, _mm_and_pd(hasPart, _mm_or_pd(_mm_cmplt_pd(part, _mm_set1_pd(kPartLow)),
                                                     _mm_cmpgt_pd(part, _mm_set1_pd(kPartHigh)))));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(floors + k), _mm_cvttpd_epi32(floor));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(parted + k),
                         _mm_cvttpd_epi32(_mm_and_pd(hasPart, one)));
    }
    if (_mm_movemask_pd(nearWhole) != 0)
        return false;

    std::int32_t s = sum;
    if (static_cast<double>(s) >= reach || static_cast<double>(s) <= -reach) {
        const std::int32_t down = s < 0;
        std::int32_t added = 0;
        for (std::size_t k = 0; k < kBlock; ++k)
            added += floors[k] + (parted[k] & -down);
        s += added;
    } else {
        // A negative sum takes the value's ceiling: its floor plus one where it has a part.
        for (std::size_t k = 0; k < kBlock; ++k) {
            const std::int32_t t = s + floors[k];
            s = t + (parted[k] & (t >> 31));
        }
    }
    sum = s;
    return true;
}

#else
// Without SSE2 every value takes the plain way.
bool AddBlock(const double*, std::int32_t&) {
    return false;
}
#endif

// Magnitudes from which a summary gives up its whole sums: floors of 2^8 values below it add
// up within an int32.
constexpr double kSummaryLargest = 1 << 22;

// The summary of one value; a scalar twin of the vector loop below.
void SummarizeOne(double v, LevelSummary& s) {
    if (!std::isfinite(v))
        return;
    ++s.finite;
    s.max = std::max(s.max, v);
    s.largest = std::max(s.largest, std::abs(v));
    const double floor = std::floor(v);
    const double part = v - floor;
    if (part > 0 && (part < kPartLow || part > kPartHigh))
        s.wholeSumsHold = false;
    if (std::abs(v) < kSummaryLargest) {
        s.floorSum += static_cast<std::int64_t>(floor);
        s.parted += part > 0;
    }
}

} // namespace

LevelSummary SummarizeLevels(Span<const double> values) {
    LevelSummary s;
    const double* v = values.data();
    const std::size_t n = values.size();
    std::size_t i = 0;
#ifdef __SSE2__
    // Two values at a time, a non-finite one masked out of every figure; floors add up in
    // int32 lanes for 2^8 values at a time.
    constexpr std::size_t kRun = 256;
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d zero = _mm_setzero_pd();
    const __m128d none = _mm_set1_pd(-std::numeric_limits<double>::infinity());
    __m128d max = none, largest = zero, nearWhole = zero;
    __m128i finite = _mm_setzero_si128(), parted = _mm_setzero_si128();
    for (; i + kRun <= n; i += kRun) {
        __m128i floors = _mm_setzero_si128();
        for (std::size_t k = i; k < i + kRun; k += 2) {
            const __m128d x = _mm_loadu_pd(v + k);
            const __m128d a = _mm_andnot_pd(sign, x);
            const __m128d live = _mm_cmple_pd(a, _mm_set1_pd(kLargestFinite)); // NaN fails
            max = _mm_max_pd(max, _mm_or_pd(_mm_and_pd(live, x), _mm_andnot_pd(live, none)));
            largest = _mm_max_pd(largest, _mm_and_pd(live, a));
            const __m128d truncated = _mm_cvtepi32_pd(_mm_cvttpd_epi32(x));
            const __m128d floor =
                _mm_sub_pd(truncated, _mm_and_pd(_mm_cmplt_pd(x, truncated), one));
            const __m128d part = _mm_sub_pd(x, floor);
            const __m128d hasPart = _mm_and_pd(live, _mm_cmpgt_pd(part, zero));
            nearWhole = _mm_or_pd(
                nearWhole,
                _mm_and_pd(hasPart, _mm_or_pd(_mm_cmplt_pd(part, _mm_set1_pd(kPartLow)),
                                              _mm_cmpgt_pd(part, _mm_set1_pd(kPartHigh)))));
            // 64-bit masks as the two low 32-bit lanes of the converted floors.
            const __m128i liveLanes = _mm_shuffle_epi32(_mm_castpd_si128(live), 0x08);
            floors = _mm_add_epi32(floors, _mm_and_si128(_mm_cvttpd_epi32(floor), liveLanes));
            finite = _mm_sub_epi64(finite, _mm_castpd_si128(live));
            parted = _mm_sub_epi64(parted, _mm_castpd_si128(hasPart));
        }
        std::int32_t lanes[4];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), floors);
        s.floorSum += std::int64_t{lanes[0]} + lanes[1];
    }
    double maxes[2], largests[2];
    std::int64_t finites[2], parts[2];
    _mm_storeu_pd(maxes, max);
    _mm_storeu_pd(largests, largest);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(finites), finite);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(parts), parted);
    s.max = std::max(maxes[0], maxes[1]);
    s.largest = std::max(largests[0], largests[1]);
    s.finite = finites[0] + finites[1];
    s.parted = parts[0] + parts[1];
    s.wholeSumsHold = _mm_movemask_pd(nearWhole) == 0;
#endif
    for (; i < n; ++i)
        SummarizeOne(v[i], s);
    // Floors of values this large did not fit the lanes; the scan takes them one by one.
    if (s.largest >= kSummaryLargest)
        s.wholeSumsHold = false;
    return s;
}

void TruncatedMeanScan::Add(Span<const double> values) {
    const double* v = values.data();
    const std::size_t n = values.size();
    std::size_t i = 0;
    while (i < n) {
        // Blocks keep the chain of dependent additions in integers (a double one costs 4 ns a
        // value on a large map).
        if (n - i >= kBlock && AddBlock(v + i, sum_)) {
            count_ += static_cast<std::int64_t>(kBlock);
            i += kBlock;
            continue;
        }
        // One at a time: the block holds a dead value, a part a hair from a whole number, or
        // a sum near saturation.
        const std::size_t end = std::min(n, i + kBlock);
        for (; i < end; ++i) {
            if (!std::isfinite(v[i]))
                continue;
            sum_ = TruncateToInt32(static_cast<double>(sum_) + v[i]);
            ++count_;
        }
    }
}

void TruncatedMeanScan::Add(const LevelSummary& summary, Span<const double> values) {
    // As in a block: each addition moves the sum by at most largest + 1.
    const double reach = static_cast<double>(summary.finite) * (summary.largest + 1);
    constexpr double top = std::numeric_limits<std::int32_t>::max();
    const double sum = sum_;
    if (!summary.wholeSumsHold || std::abs(sum) + reach >= top || (sum < reach && sum > -reach)) {
        Add(values);
        return;
    }
    // Far from zero: the floors, or for a negative sum the ceilings.
    sum_ += static_cast<std::int32_t>(summary.floorSum + (sum_ < 0 ? summary.parted : 0));
    count_ += summary.finite;
}

std::int32_t TruncatedMeanScan::Value() const {
    return count_ > 0 ? static_cast<std::int32_t>(sum_ / count_) : 0;
}

namespace {

std::optional<std::int32_t> TruncatedValue(const MaximumScan& scan) {
    if (auto max = scan.Value())
        return TruncateToInt32(*max);
    return std::nullopt;
}

} // namespace

std::optional<std::int32_t> AutoMaximum(Span<const double> values) {
    MaximumScan scan;
    scan.Add(values);
    return TruncatedValue(scan);
}

std::int32_t AutoMinimum(Span<const double> values) {
    TruncatedMeanScan scan;
    scan.Add(values);
    return scan.Value();
}

std::optional<std::int32_t> AutoMaximum(Span<const LevelSummary> rows) {
    MaximumScan scan;
    for (const LevelSummary& row : rows)
        scan.Add(row);
    return TruncatedValue(scan);
}

std::int32_t AutoMinimum(Span<const LevelSummary> rows, Span<const double> values,
                         std::size_t columns) {
    TruncatedMeanScan scan;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::size_t at = r * columns;
        scan.Add(rows[r],
                 Span<const double>(values.data() + at, std::min(columns, values.size() - at)));
    }
    return scan.Value();
}

} // namespace tavrix::dsp
