#include "dsp/Decibel.h"

#include <algorithm>

namespace tavrix::dsp {

void PowerDb(Span<const Complex> bins, Span<double> db) {
    const std::size_t n = std::min(bins.size(), db.size());
    for (std::size_t k = 0; k < n; ++k)
        db[k] = PowerDb(bins[k]);
}

} // namespace tavrix::dsp
