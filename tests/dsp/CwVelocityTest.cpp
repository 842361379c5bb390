#include "dsp/CwVelocity.h"
#include "dsp/Peak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace tavrix::dsp;

namespace {

// Raw counts of a CW return at radial velocity v: offsets of half the converter ranges, Q
// with a gain and phase error, and a little noise.
ComplexVector CwBlock(const CwScales& s, double centerFrequency, double v) {
    const double fd = 2.0 * v * centerFrequency / 299792458.0;
    ComplexVector block(static_cast<std::size_t>(s.sampleCount));
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> uniform(-10.0, 10.0);
    auto noise = [&] { return uniform(random); };
    for (std::size_t k = 0; k < block.size(); ++k) {
        const double phase = 2.0 * kPi * fd * static_cast<double>(k) / s.sampleRate;
        block[k] = Complex(32768.0 + 8000.0 * std::cos(phase) + noise(),
                           16384.0 + 0.8 * 8000.0 * std::sin(phase + 0.15) + noise());
    }
    return block;
}

} // namespace

TEST(CwVelocity, WorkedNumbers) {
    const CwScales s = ComputeCwScales(1024, 1.0, 128, 24e9);
    EXPECT_DOUBLE_EQ(s.sampleRate, 1024000.0);
    EXPECT_EQ(s.sampleCount, 131072);
    EXPECT_EQ(s.timeoutMs, 1256);
    EXPECT_DOUBLE_EQ(s.decimatedSpacing, 125e-6);
    EXPECT_NEAR(s.velocitySpan, 24.98270483, 1e-8);

    // 128 raw samples make one decimated sample; the smallest block gives only 8.
    ComplexVector full(s.sampleCount, Complex(1, 2));
    CwConditionBlock(full, false);
    EXPECT_EQ(full.size(), 1024u);
    ComplexVector few(ComputeCwScales(128, 1.0, 8, 24e9).sampleCount, Complex(1, 2));
    CwConditionBlock(few, false);
    EXPECT_EQ(few.size(), 8u);
    // Blocks too short for one decimated sample still give a whole spectrum.
    for (std::size_t size : {0u, 127u}) {
        ComplexVector block(size, Complex(100.0, 50.0));
        CwConditionBlock(block, true);
        std::vector<double> S;
        CwDopplerSpectrum(block, true, S);
        EXPECT_EQ(block.size() + S.size(), 1024u) << size;
    }
}

TEST(CwVelocity, SpectrumPeaksAtTheTargetVelocityWithTheImageSuppressed) {
    const CwScales s = ComputeCwScales(1024, 1.0, 128, 24e9);
    const std::vector<double> axis = CwVelocityAxis(s.velocitySpan);
    for (double v : {7.3, -11.9}) {
        SCOPED_TRACE(v);
        ComplexVector block = CwBlock(s, 24e9, v);
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
    auto line = [](int bin) { // amplitude 4 on a whole bin
        ComplexVector x(1024);
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] = std::polar(4.0, 2.0 * kPi * bin * static_cast<double>(n) / 1024.0);
        return x;
    };
    std::vector<double> S;
    for (const auto& [bin, position] :
         {std::pair{10, 521u}, {-10, 501u}, {512, 1023u}, {0, 511u}}) {
        CwDopplerSpectrum(line(bin), false, S);
        EXPECT_EQ(FindPeak(S, 0, 1024), position) << bin;
    }
    EXPECT_NEAR(S[511], 10.0 * std::log10(4.0), 1e-9);
    const std::vector<double> axis = CwVelocityAxis(20.0);
    EXPECT_DOUBLE_EQ(axis[0], -20.0);
    EXPECT_DOUBLE_EQ(axis[512], 0.0);

    // 8192 decimated samples: the first 1024 are transformed, under the 8192-point window.
    double sum = 0.0;
    for (int n = 0; n < 1024; ++n)
        sum += 0.54 - 0.46 * std::cos(2.0 * kPi * n / 8190.0);
    CwDopplerSpectrum(ComplexVector(8192, Complex(1.0, 0.0)), true, S);
    EXPECT_NEAR(S[511], 10.0 * std::log10(sum / 1024.0), 1e-9);
}
