#include "dsp/CwVelocity.h"
#include "dsp/Peak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

using namespace tavrix::dsp;

namespace {

constexpr double kC = 299792458.0;

// Raw counts of a CW return at radial velocity v, as the board delivers them: offsets of
// half the converter ranges, Q with a gain and phase error, and a little noise.
ComplexVector CwBlock(const CwScales& s, double centerFrequency, double v) {
    const double fd = 2.0 * v * centerFrequency / kC;
    ComplexVector block(static_cast<std::size_t>(s.sampleCount));
    std::uint32_t seed = 12345;
    auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (static_cast<double>(seed >> 8) / (1u << 24) - 0.5) * 20.0;
    };
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

    // 128 raw samples make one decimated sample: K = 128 at Ns = 1024 gives exactly 1024, the
    // smallest block only 8 (the rest of the transform is zeros).
    ComplexVector full(s.sampleCount, Complex(1, 2));
    CwConditionBlock(full, false);
    EXPECT_EQ(full.size(), 1024u);
    const CwScales small = ComputeCwScales(128, 1.0, 8, 24e9);
    EXPECT_EQ(small.sampleCount, 1024);
    ComplexVector few = CwBlock(small, 24e9, 3.0);
    CwConditionBlock(few, false);
    EXPECT_EQ(few.size(), 8u);
}

TEST(CwVelocity, SpectrumPeaksAtTheTargetVelocityWithTheImageSuppressed) {
    const double f0 = 24e9;
    const CwScales s = ComputeCwScales(1024, 1.0, 128, f0);
    const std::vector<double> axis = CwVelocityAxis(s.velocitySpan);
    const double step = axis[1] - axis[0];
    for (double v : {7.3, -11.9, 3.1}) {
        SCOPED_TRACE(v);
        ComplexVector block = CwBlock(s, f0, v);
        CwConditionBlock(block, false);
        std::vector<double> S;
        CwDopplerSpectrum(block, true, S);
        ASSERT_EQ(S.size(), 1024u);
        const std::size_t p = FindPeak(S, 0, S.size());
        // Within one position, plus the half position by which the line falls between bins.
        EXPECT_NEAR(axis[p], v, 1.5 * step);
        // Without balancing, the 0.8 gain and 0.15 rad phase error leave a mirror line at -v
        // about 10 units (ten times the log of the magnitude) below the peak.
        const std::size_t mirror = FindPeak(S, 1023 - p - 3, 1023 - p + 4);
        EXPECT_LT(S[mirror], S[p] - 25.0);
    }
}

TEST(CwVelocity, TakesTenLogOfTheMagnitudeAndPutsZeroFrequencyAt511) {
    // Clean lines of amplitude 4 on whole bins: the scaled bin is 4, so 10 log10 4.
    auto line = [](int bin) {
        ComplexVector x(1024);
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] = std::polar(4.0, 2.0 * kPi * bin * static_cast<double>(n) / 1024.0);
        return x;
    };
    std::vector<double> S;
    CwDopplerSpectrum(line(10), false, S);
    EXPECT_EQ(FindPeak(S, 0, 1024), 521u);
    EXPECT_NEAR(S[521], 10.0 * std::log10(4.0), 1e-9);
    CwDopplerSpectrum(line(-10), false, S);
    EXPECT_EQ(FindPeak(S, 0, 1024), 501u);
    CwDopplerSpectrum(line(512), false, S);
    EXPECT_EQ(FindPeak(S, 0, 1024), 1023u);
    CwDopplerSpectrum(line(0), false, S);
    EXPECT_EQ(FindPeak(S, 0, 1024), 511u);

    // The axis draws zero frequency one position below zero velocity.
    const std::vector<double> axis = CwVelocityAxis(20.0);
    EXPECT_DOUBLE_EQ(axis[0], -20.0);
    EXPECT_DOUBLE_EQ(axis[511], -20.0 / 512);
    EXPECT_DOUBLE_EQ(axis[512], 0.0);
}

TEST(CwVelocity, WindowSpansTheWholeBlockBeforeItIsCut) {
    // 8192 decimated samples: only the first 1024 windowed samples are transformed, and
    // there the 8192-point window is still rising from 0.08.
    const ComplexVector ones(8192, Complex(1.0, 0.0));
    double sum = 0.0;
    for (int n = 0; n < 1024; ++n)
        sum += 0.54 - 0.46 * std::cos(2.0 * kPi * n / 8190.0);
    std::vector<double> S;
    CwDopplerSpectrum(ones, true, S);
    EXPECT_NEAR(S[511], 10.0 * std::log10(sum / 1024.0), 1e-9);
    CwDopplerSpectrum(ones, false, S);
    EXPECT_NEAR(S[511], 0.0, 1e-12);
}

TEST(CwVelocity, DegenerateBlocksGiveAFullSpectrumWithoutCrashing) {
    for (std::size_t size : {0u, 1u, 127u, 128u, 256u}) {
        SCOPED_TRACE(size);
        ComplexVector block(size, Complex(100.0, 50.0));
        CwConditionBlock(block, true);
        EXPECT_EQ(block.size(), size / 128);
        std::vector<double> S;
        CwDopplerSpectrum(block, true, S);
        ASSERT_EQ(S.size(), 1024u);
        // Nothing left, or nothing but IEEE leftovers of a zero variance.
        for (double v : S)
            EXPECT_FALSE(std::isfinite(v));
    }
}
