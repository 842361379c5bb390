#include "dsp/Peak.h"

#include <algorithm>

namespace tavrix::dsp {

namespace {

template <typename Better>
std::size_t FindFirstBest(Span<const double> values, std::size_t begin, std::size_t end,
                          Better better) {
    end = std::min(end, values.size());
    std::size_t best = begin;
    for (std::size_t i = begin + 1; i < end; ++i)
        if (better(values[i], values[best]))
            best = i;
    return best;
}

} // namespace

std::size_t FindPeak(Span<const double> values, std::size_t begin, std::size_t end) {
    return FindFirstBest(values, begin, end, [](double v, double best) { return v > best; });
}

std::size_t FindTrough(Span<const double> values, std::size_t begin, std::size_t end) {
    return FindFirstBest(values, begin, end, [](double v, double best) { return v < best; });
}

} // namespace tavrix::dsp
