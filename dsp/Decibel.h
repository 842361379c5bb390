#pragma once

#include "dsp/Types.h"

#include <cmath>

namespace tavrix::dsp {

// Power of a spectrum bin in dB relative to raw counts: 10 log10(re^2 + im^2). A zero bin
// gives -infinity.
inline double PowerDb(Complex x) {
    return 10.0 * std::log10(x.real() * x.real() + x.imag() * x.imag());
}

// PowerDb of each bin into `db`, for the bins both hold.
void PowerDb(Span<const Complex> bins, Span<double> db);

} // namespace tavrix::dsp
