#include "dsp/Decimate.h"

#include "dsp/Blocks.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavrix::dsp {

int DecimationStages(std::int32_t factor) {
    // ln of 0 or of a negative factor is not a number of halvings; such factors leave the
    // data alone, as factor 1 does.
    if (factor < 1)
        return 0;
    return static_cast<int>(
        std::floor(std::log(static_cast<double>(factor)) / std::log(2.0) + 0.5));
}

void DecimateIQ(ComplexVector& data, std::int32_t factor) {
    const int stages = DecimationStages(factor);
    if (stages <= 0)
        return;
    ComplexVector work = data;
    ComplexVector out(data.size());
    for (int stage = 0; stage < stages; ++stage) {
        const std::size_t L = out.size();
        // out[0] and out[1] carry over from the previous stage; the running sum differs from
        // the sum of two neighbours only by a constant, which the mean removal takes away.
        for (std::size_t i = 2; i < L; ++i)
            out[i] = out[i - 1] + work[i] - work[i - 2];
        SubtractDC(out, static_cast<std::uint32_t>(L), 1);
        const std::size_t half = L / 2;
        for (std::size_t j = 0; j < half; ++j)
            out[j] = out[2 * j];
        out.resize(half);
        if (stage + 1 < stages)
            std::copy(out.begin(), out.end(), work.begin());
    }
    data = std::move(out);
}

} // namespace tavrix::dsp
