#pragma once

#include "dsp/Types.h"

namespace tavrix::dsp {

// Kaiser shape parameter of the band filter, 0.9 pi.
inline constexpr double kBandFilterBeta = 2.827433388230814;

// Overwrites `spectrum` (N = its length) with the frequency response of a band-pass from
// fLow to fHigh (cycles per sample, 0 to 0.5): a Kaiser-windowed ideal band-pass of N real
// taps centred at N / 2, transformed by the unnormalised forward DFT. Being real, it passes
// the mirror band -fHigh..-fLow alike; the centre offset only adds a linear phase.
void DesignBandFilter(Span<Complex> spectrum, double fLow, double fHigh);

} // namespace tavrix::dsp
