#include "dsp/BandFilter.h"

#include "dsp/Bessel.h"
#include "dsp/Fft.h"

#include <cmath>

namespace tavrix::dsp {

void DesignBandFilter(Span<Complex> spectrum, double fLow, double fHigh) {
    const auto N = static_cast<std::ptrdiff_t>(spectrum.size());
    if (N == 0)
        return;
    const std::ptrdiff_t M = N / 2;
    const double omegaHigh = 2.0 * kPi * fHigh;
    const double omegaLow = 2.0 * kPi * fLow;
    const double i0Beta = BesselI0(kBandFilterBeta);
    for (std::ptrdiff_t i = 0; i < N; ++i) {
        const std::ptrdiff_t n = i - M;
        if (n == 0) {
            spectrum[i] = Complex((omegaHigh - omegaLow) / kPi, 0.0);
            continue;
        }
        const double ratio = static_cast<double>(n) / static_cast<double>(M);
        const double w = BesselI0(kBandFilterBeta * std::sqrt(1.0 - ratio * ratio)) / i0Beta;
        const double nd = static_cast<double>(n);
        const double h = w * (std::sin(omegaHigh * nd) - std::sin(omegaLow * nd)) / (kPi * nd);
        spectrum[i] = Complex(h, 0.0);
    }
    Fft(spectrum);
}

} // namespace tavrix::dsp
