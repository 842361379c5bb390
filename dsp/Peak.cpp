#include "dsp/Peak.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tavrix::dsp {

namespace {

// The largest of `count` values, NaNs passed over; values[0] is not a NaN. The processor's
// max(x, best) is x > best ? x : best, the scalar rule, so any order of the lanes gives the
// same value.
double LargestPassingNaNs(const double* values, std::size_t count) {
    std::size_t i = 0;
    double best = values[0];
#ifdef __SSE2__
    __m128d a = _mm_set1_pd(best), b = a, c = a, d = a;
    for (; i + 8 <= count; i += 8) {
        a = _mm_max_pd(_mm_loadu_pd(values + i), a);
        b = _mm_max_pd(_mm_loadu_pd(values + i + 2), b);
        c = _mm_max_pd(_mm_loadu_pd(values + i + 4), c);
        d = _mm_max_pd(_mm_loadu_pd(values + i + 6), d);
    }
    a = _mm_max_pd(_mm_max_pd(a, b), _mm_max_pd(c, d));
    double lanes[2];
    _mm_storeu_pd(lanes, a);
    best = std::max(lanes[0], lanes[1]);
#endif
    for (; i < count; ++i)
        best = values[i] > best ? values[i] : best;
    return best;
}

} // namespace

std::size_t FindPeak(Span<const double> values, std::size_t begin, std::size_t end) {
    end = std::min(end, values.size());
    if (begin >= end || std::isnan(values[begin]))
        return begin;
    // The largest value first, then where it first stands: two passes that vectorise, where
    // keeping the index on the way is one chain of dependent comparisons (three times as
    // long over 1024 values).
    const double* v = values.data() + begin;
    const double largest = LargestPassingNaNs(v, end - begin);
    std::size_t i = 0;
    while (!(v[i] == largest))
        ++i;
    return begin + i;
}

std::size_t FindTrough(Span<const double> values, std::size_t begin, std::size_t end) {
    end = std::min(end, values.size());
    std::size_t best = begin;
    for (std::size_t i = begin + 1; i < end; ++i)
        if (values[i] < values[best])
            best = i;
    return best;
}

} // namespace tavrix::dsp
