#include "dsp/BandFilter.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tavrix::dsp;

// The transforms themselves are held against plain FFTW by the chains' reference comparisons.
TEST(DesignBandFilter, PassesTheBandAndItsMirrorAndStopsElsewhere) {
    const double fLow = 0.125, fHigh = 0.25; // edges on bins 128 and 256
    ComplexVector spectrum(1024);
    DesignBandFilter(spectrum, fLow, fHigh);
    for (std::size_t k = 0; k < 1024; ++k) {
        const double f = k < 512 ? k / 1024.0 : (1024.0 - k) / 1024.0; // |frequency|
        const double gain = std::abs(spectrum[k]);
        if (f > fLow + 0.01 && f < fHigh - 0.01) {
            EXPECT_NEAR(gain, 1.0, 0.01) << "bin " << k;
        } else if (f < fLow - 0.01 || f > fHigh + 0.01) {
            EXPECT_LT(gain, 0.01) << "bin " << k;
        }
    }
    EXPECT_NEAR(std::abs(spectrum[128]), 0.5, 0.1);
    EXPECT_NEAR(std::abs(spectrum[1024 - 256]), 0.5, 0.1);

    // Sliders on one value pass nothing.
    DesignBandFilter(spectrum, 0.25, 0.25);
    for (const Complex& x : spectrum)
        EXPECT_EQ(std::abs(x), 0.0);
}
