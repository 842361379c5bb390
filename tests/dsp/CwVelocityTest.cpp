#include "dsp/CwVelocity.h"
#include "dsp/Peak.h"
#include "dsp/Window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

using namespace tavrix::dsp;

TEST(CwVelocity, SpectrumPeaksAtTheTargetVelocityWithTheImageSuppressed) {
    const CwScales s = ComputeCwScales(1024, 1.0, 128, 24e9);
    EXPECT_NEAR(s.velocitySpan, 24.98270483, 1e-8);
    const std::vector<double> axis = CwVelocityAxis(s.velocitySpan);
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> noise(-10.0, 10.0);
    for (double v : {7.3, -11.9}) {
        SCOPED_TRACE(v);
        // Raw counts at half the converter ranges, Q with a gain and phase error.
        const double fd = 2.0 * v * 24e9 / 299792458.0;
        ComplexVector block(static_cast<std::size_t>(s.sampleCount));
        for (std::size_t k = 0; k < block.size(); ++k) {
            const double phase = 2.0 * kPi * fd * static_cast<double>(k) / s.sampleRate;
            block[k] = Complex(32768.0 + 8000.0 * std::cos(phase) + noise(random),
                               16384.0 + 0.8 * 8000.0 * std::sin(phase + 0.15) + noise(random));
        }
        CwConditionBlock(block, false);
        std::vector<double> S;
        CwDopplerSpectrum(block, true, S);
        ASSERT_EQ(S.size(), 1024u);
        const std::size_t p = FindPeak(S, 0, S.size());
        // Within one position, plus the half by which the line falls between bins.
        EXPECT_NEAR(axis[p], v, 1.5 * (axis[1] - axis[0]));
        // Unbalanced, the gain and phase error would leave a mirror line about 10 below.
        const std::size_t mirror = FindPeak(S, 1023 - p - 3, 1023 - p + 4);
        EXPECT_LT(S[mirror], S[p] - 25.0);
    }
}

TEST(CwVelocity, TenLogOfTheMagnitudeZeroFrequencyAt511AndAWindowOverTheWholeBlock) {
    std::vector<double> S;
    for (const auto& [bin, position] :
         {std::pair{10, 521u}, {-10, 501u}, {512, 1023u}, {0, 511u}}) {
        ComplexVector x(1024); // amplitude 4 on a whole bin
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] = std::polar(4.0, 2.0 * kPi * bin * static_cast<double>(n) / 1024.0);
        CwDopplerSpectrum(x, false, S);
        EXPECT_EQ(FindPeak(S, 0, 1024), position) << bin;
    }
    EXPECT_NEAR(S[511], 10.0 * std::log10(4.0), 1e-9);

    // 8192 decimated samples: the first 1024 are transformed, under the 8192-point window.
    const std::vector<double> w = HammingWindow(8192);
    const double sum = std::accumulate(w.begin(), w.begin() + 1024, 0.0);
    CwDopplerSpectrum(ComplexVector(8192, Complex(1.0, 0.0)), true, S);
    EXPECT_NEAR(S[511], 10.0 * std::log10(sum / 1024.0), 1e-9);
    // Blocks too short for one decimated sample (128 raw samples) still give a whole spectrum.
    ComplexVector block(127, Complex(100.0, 50.0));
    CwConditionBlock(block, true);
    CwDopplerSpectrum(block, true, S);
    EXPECT_EQ(S.size(), 1024u);
}
