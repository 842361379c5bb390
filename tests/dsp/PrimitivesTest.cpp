#include "dsp/Bessel.h"
#include "dsp/Blocks.h"
#include "dsp/Window.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tavrix::dsp;

TEST(BesselI0, MatchesTheSeriesOnBothBranchesAndIsEven) {
    EXPECT_EQ(BesselI0(0.0), 1.0);
    // Power-series values; the approximations hold to about 2e-7.
    const std::pair<double, double> cases[] = {{1.0, 1.2660658777520082},
                                               {3.75, 9.118945860844565},
                                               {5.0, 27.23987182360445},
                                               {10.0, 2815.716628466255}};
    for (const auto& [x, i0] : cases) {
        EXPECT_NEAR(BesselI0(x) / i0, 1.0, 5e-7) << x;
        EXPECT_EQ(BesselI0(-x), BesselI0(x)) << x;
    }
    EXPECT_NEAR(BesselI0(std::nextafter(3.75, 0.0)) / BesselI0(3.75), 1.0, 1e-6);
}

TEST(SubtractDC, RemovesEachWholeBlocksOwnMeanPerComponent) {
    ComplexVector data = {{1, 10}, {3, 10}, {5, 40}, {100, 0}, {300, 2}, {200, 4}, {7, 7}};
    SubtractDC(data, 3, 5); // asks for 5 blocks, two fit; the last sample is no block's
    EXPECT_EQ(data,
              (ComplexVector{{-2, -10}, {0, -10}, {2, 20}, {-100, -2}, {100, 0}, {0, 2}, {7, 7}}));
    const ComplexVector before = data;
    SubtractDC(data, 0, 3);
    SubtractDC(data, 8, 1);
    EXPECT_EQ(data, before);
}

TEST(ApplyIQCorrections, SubtractDCBeforeScalingEachComponentToPeakOne) {
    // Reversed, the amplitude step would give [0, 1] and the DC step [-0.5, 0.5]; I and Q
    // each reach peak one.
    ComplexVector both = {{0, 0}, {2, 4}};
    ApplyIQCorrections(both, 1, true, true);
    EXPECT_EQ(both, (ComplexVector{{-1, -1}, {1, 1}}));

    ComplexVector blocks = {{1, 1}, {3, 3}, {10, 10}, {30, 30}, {99, 99}};
    ApplyIQCorrections(blocks, 2, true, true); // L = 5 / 2 = 2, each block on its own
    EXPECT_EQ(blocks, (ComplexVector{{-1, -1}, {1, 1}, {-1, -1}, {1, 1}, {99, 99}}));
}

TEST(HammingWindow, UsesTheDivisorLMinusTwoOnEveryWholeBlock) {
    const std::vector<double> w = HammingWindow(1024);
    EXPECT_DOUBLE_EQ(w[0], 0.08);
    EXPECT_DOUBLE_EQ(w[511], 1.0);
    EXPECT_DOUBLE_EQ(w[1022], 0.08);
    EXPECT_GT(w[1023], 0.08 + 1e-6); // would be 0.08 with the divisor L - 1

    const std::vector<double> w8 = HammingWindow(8);
    ComplexVector data(19, Complex(2.0, -3.0));
    ApplyHammingWindow(data, 8, 4); // two blocks fit, three samples are left over
    for (std::uint32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(data[n], Complex(2.0 * w8[n], -3.0 * w8[n])) << n;
        EXPECT_EQ(data[8 + n], data[n]) << n;
    }
    EXPECT_EQ(data[16], Complex(2.0, -3.0));
    for (std::uint32_t length : {16u, 8u, 16u}) { // each length gets its own window
        ComplexVector ones(length, Complex(1, 1));
        ApplyHammingWindow(ones, length, 1);
        EXPECT_EQ(ones[1].real(), HammingWindow(length)[1]) << length;
    }
}
