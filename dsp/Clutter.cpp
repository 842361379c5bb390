#include "dsp/Clutter.h"

#include <algorithm>
#include <iterator>

namespace tavrix::dsp {

namespace {

void SubtractReference(Span<Complex> data, bool& reset, ComplexVector& reference) {
    if (reset || reference.size() != data.size()) {
        reference.assign(data.begin(), data.end());
        reset = false;
    }
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] -= reference[i];
}

void SubtractMovingAverage(Span<Complex> data, int averageCount, bool& reset,
                           ComplexVector& reference, std::deque<ComplexVector>& history) {
    if (reset || (!history.empty() && history.front().size() != data.size())) {
        // Released, not just emptied: a reference block of a long burst is megabytes.
        ComplexVector().swap(reference);
        history.clear();
        reset = false;
    }
    history.emplace_front(data.begin(), data.end());
    const std::size_t keep = static_cast<std::size_t>(std::max(averageCount, 1));
    while (history.size() > keep)
        history.pop_back();

    // Summed block by block (newest first) to stay in cache on long bursts.
    ComplexVector sum = history.front();
    for (auto block = std::next(history.begin()); block != history.end(); ++block)
        for (std::size_t i = 0; i < sum.size(); ++i)
            sum[i] += (*block)[i];
    const double count = static_cast<double>(history.size());
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] -= sum[i] / count;
}

} // namespace

void CancelDirectClutter(Span<Complex> data, ClutterMode mode, int averageCount, bool& reset,
                         ComplexVector& reference, std::deque<ComplexVector>& history) {
    switch (mode) {
    case ClutterMode::Disabled:
        return;
    case ClutterMode::Reference:
        SubtractReference(data, reset, reference);
        return;
    case ClutterMode::MovingAverage:
        SubtractMovingAverage(data, averageCount, reset, reference, history);
        return;
    }
}

} // namespace tavrix::dsp
