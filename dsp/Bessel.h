#pragma once

namespace tavrix::dsp {

// Modified Bessel function of the first kind, order 0, by the classic polynomial
// approximations (below and from |x| = 3.75). Shapes the Kaiser window of the band filter.
double BesselI0(double x);

} // namespace tavrix::dsp
