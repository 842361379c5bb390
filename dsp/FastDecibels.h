#pragma once

#include <complex>
#include <cstddef>

namespace tavrix::dsp {

// db[i] = 10·log10(power[i]) for n values. A branch-free kernel that the compiler keeps in
// SIMD registers: a dB map of half a million bins would otherwise spend more time in the
// scalar log10 than in its FFTs. Agrees with 10·std::log10 to a few ulp; 0 gives −inf,
// +inf and NaN pass through, negative input gives NaN. `power` and `db` may be the same array.
void DecibelsFromPower(const double* power, double* db, std::size_t n);

// db[i] = 10·log10(re² + im²) of n complex values.
void DecibelsFromSpectrum(const std::complex<double>* x, double* db, std::size_t n);

} // namespace tavrix::dsp
