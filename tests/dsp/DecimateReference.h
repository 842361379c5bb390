#pragma once

// The decimator as first written, kept as the plain reference that the tests hold the
// one-pass decimator against and that the benchmarks time beside it: every halving in turn, a
// running sum over the whole stage, the mean removed, every second sample kept.

#include "dsp/Blocks.h"
#include "dsp/Decimate.h"
#include "dsp/Types.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace tavrix::test {

inline void PlainDecimate(dsp::ComplexVector& data, std::int32_t factor) {
    const int stages = dsp::DecimationStages(factor);
    if (stages <= 0)
        return;
    dsp::ComplexVector work = data;
    dsp::ComplexVector out(data.size());
    for (int stage = 0; stage < stages; ++stage) {
        const std::size_t L = out.size();
        for (std::size_t i = 2; i < L; ++i)
            out[i] = out[i - 1] + work[i] - work[i - 2];
        dsp::SubtractDC(out, static_cast<std::uint32_t>(L), 1);
        const std::size_t half = L / 2;
        for (std::size_t j = 0; j < half; ++j)
            out[j] = out[2 * j];
        out.resize(half);
        if (stage + 1 < stages)
            std::copy(out.begin(), out.end(), work.begin());
    }
    data = std::move(out);
}

} // namespace tavrix::test
