#include "dsp/Bessel.h"
#include "dsp/Blocks.h"
#include "dsp/Window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tavrix::dsp;

namespace {

double Pi() {
    return std::acos(-1.0);
}

} // namespace

TEST(BesselI0, MatchesTheSeriesOnBothBranchesAndIsEven) {
    EXPECT_EQ(BesselI0(0.0), 1.0);
    // Reference values from the power series; the approximations hold to about 2e-7.
    const struct {
        double x, i0;
    } cases[] = {{1.0, 1.2660658777520082},
                 {2.0, 2.279585302336067},
                 {3.75, 9.118945860844565},
                 {5.0, 27.23987182360445},
                 {10.0, 2815.716628466255}};
    for (const auto& c : cases) {
        EXPECT_NEAR(BesselI0(c.x) / c.i0, 1.0, 5e-7) << "x = " << c.x;
        EXPECT_EQ(BesselI0(-c.x), BesselI0(c.x)) << "x = " << c.x;
    }
    // The two branches meet at 3.75 without a jump.
    EXPECT_NEAR(BesselI0(std::nextafter(3.75, 0.0)) / BesselI0(3.75), 1.0, 1e-6);
    EXPECT_TRUE(std::isnan(BesselI0(std::numeric_limits<double>::quiet_NaN())));
}

TEST(SubtractDC, RemovesEachBlocksOwnMeanPerComponent) {
    ComplexVector constant(16, Complex(1234.5, -77.0));
    SubtractDC(constant, 16, 1);
    for (const Complex& x : constant)
        EXPECT_EQ(x, Complex(0.0, 0.0));

    // Two blocks with different means; the real and imaginary means are taken apart.
    ComplexVector data = {{1, 10}, {3, 10}, {5, 40}, {100, 0}, {300, 2}, {200, 4}};
    SubtractDC(data, 3, 2);
    const ComplexVector expected = {{-2, -10}, {0, -10}, {2, 20}, {-100, -2}, {100, 0}, {0, 2}};
    EXPECT_EQ(data, expected);
}

TEST(SubtractDC, TouchesOnlyWholeBlocksInsideTheData) {
    ComplexVector data = {{1, 1}, {3, 3}, {7, 7}};
    SubtractDC(data, 2, 5); // asks for 5 blocks, only one fits
    EXPECT_EQ(data, (ComplexVector{{-1, -1}, {1, 1}, {7, 7}}));
    SubtractDC(data, 0, 3);
    SubtractDC(data, 4, 1);
    SubtractDC(Span<Complex>(), 4, 1);
    EXPECT_EQ(data, (ComplexVector{{-1, -1}, {1, 1}, {7, 7}}));
}

TEST(CorrectAmplitude, ScalesIAndQOfEachBlockToPeakOne) {
    ComplexVector data = {{2, -8}, {-4, 2}, {1, 1}, {0.5, 3}};
    CorrectAmplitude(data, 2, 2);
    EXPECT_EQ(data, (ComplexVector{{0.5, -1}, {-1, 0.25}, {1, 1.0 / 3}, {0.5, 1}}));

    // A silent channel divides by zero: NaN follows, nothing else is disturbed.
    ComplexVector silentQ = {{2, 0}, {-1, 0}};
    CorrectAmplitude(silentQ, 2, 1);
    EXPECT_EQ(silentQ[0].real(), 1.0);
    EXPECT_TRUE(std::isnan(silentQ[0].imag()));
    EXPECT_TRUE(std::isnan(silentQ[1].imag()));
}

TEST(ApplyIQCorrections, SubtractsDCBeforeCorrectingAmplitude) {
    // Reversed, the amplitude step would give [0, 1] and the DC step [-0.5, 0.5].
    ComplexVector data = {{0, 0}, {2, 4}};
    ApplyIQCorrections(data, 1, true, true);
    EXPECT_EQ(data, (ComplexVector{{-1, -1}, {1, 1}}));

    ComplexVector blocks = {{1, 1}, {3, 3}, {10, 10}, {30, 30}, {99, 99}};
    ApplyIQCorrections(blocks, 2, true, false); // L = 5 / 2 = 2; the fifth sample is no block's
    EXPECT_EQ(blocks, (ComplexVector{{-1, -1}, {1, 1}, {-10, -10}, {10, 10}, {99, 99}}));

    ComplexVector untouched = blocks;
    ApplyIQCorrections(untouched, 0, true, true);
    ApplyIQCorrections(untouched, 2, false, false);
    EXPECT_EQ(untouched, blocks);
}

TEST(HammingWindow, UsesTheDivisorLMinusTwo) {
    const std::vector<double> w = HammingWindow(1024);
    ASSERT_EQ(w.size(), 1024u);
    EXPECT_DOUBLE_EQ(w[0], 0.08);
    EXPECT_DOUBLE_EQ(w[1023], 0.54 - 0.46 * std::cos(2 * Pi() * 1023 / 1022));
    EXPECT_GT(w[1023], 0.08 + 1e-6); // would be 0.08 with the divisor L - 1
    EXPECT_DOUBLE_EQ(w[511], 1.0);
    EXPECT_DOUBLE_EQ(w[1022], 0.08);

    // L = 2 divides by zero; L = 1 divides by -1. Neither crashes.
    const std::vector<double> two = HammingWindow(2);
    EXPECT_TRUE(std::isnan(two[0]) && std::isnan(two[1]));
    EXPECT_DOUBLE_EQ(HammingWindow(1)[0], 0.08);
    EXPECT_TRUE(HammingWindow(0).empty());
}

TEST(ApplyHammingWindow, WeightsIAndQOfEveryWholeBlock) {
    const std::uint32_t L = 8;
    const std::vector<double> w = HammingWindow(L);
    ComplexVector data(2 * L + 3, Complex(2.0, -3.0));
    ApplyHammingWindow(data, L, 4); // two blocks fit, three samples are left over
    for (std::uint32_t n = 0; n < L; ++n) {
        EXPECT_EQ(data[n], Complex(2.0 * w[n], -3.0 * w[n])) << n;
        EXPECT_EQ(data[L + n], data[n]) << n;
    }
    for (std::size_t n = 2 * L; n < data.size(); ++n)
        EXPECT_EQ(data[n], Complex(2.0, -3.0));

    // Alternating lengths each get their own window.
    for (std::uint32_t length : {16u, 8u, 16u}) {
        ComplexVector ones(length, Complex(1, 1));
        ApplyHammingWindow(ones, length, 1);
        const std::vector<double> expected = HammingWindow(length);
        for (std::uint32_t n = 0; n < length; ++n)
            EXPECT_EQ(ones[n], Complex(expected[n], expected[n])) << length << ", " << n;
    }

    ComplexVector shortData(3, Complex(1, 1));
    ApplyHammingWindow(shortData, 1024, 1);
    EXPECT_EQ(shortData, ComplexVector(3, Complex(1, 1)));
}
