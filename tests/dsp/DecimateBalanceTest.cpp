#include "dsp/Decimate.h"
#include "dsp/Iq.h"
#include "tests/dsp/DecimateReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace tavrix::dsp;

namespace {

ComplexVector Ramp(std::size_t n) {
    ComplexVector v(n);
    for (std::size_t k = 0; k < n; ++k)
        v[k] = Complex(static_cast<double>((k * 37) % 11), static_cast<double>((k * 13) % 7));
    return v;
}

} // namespace

TEST(DecimateIQ, HalvesAsOftenAsTheRoundedLogOfTheFactor) {
    const std::pair<int, int> stages[] = {{-8, 0}, {1, 0}, {2, 1},  {3, 2},
                                          {5, 2},  {6, 3}, {128, 7}};
    for (const auto& [factor, k] : stages)
        EXPECT_EQ(DecimationStages(factor), k) << factor;

    const struct {
        std::size_t n;
        int factor;
        std::size_t expected;
    } lengths[] = {
        {10, 1, 10}, {131072, 128, 1024}, {1001, 2, 500}, {1024, 6, 128}, {3, 1 << 20, 0}};
    for (const auto& c : lengths) {
        ComplexVector data = Ramp(c.n);
        DecimateIQ(data, c.factor);
        EXPECT_EQ(data.size(), c.expected) << c.n << " / " << c.factor;
    }
}

TEST(DecimateIQ, OneStageKeepsSumsOfNeighboursWithoutTheirMean) {
    const ComplexVector x = Ramp(64);
    ComplexVector y = x;
    DecimateIQ(y, 2);
    ASSERT_EQ(y.size(), 32u);
    // Output j >= 1 is x[2j] + x[2j-1] less a constant common to all of them.
    for (std::size_t j = 2; j < y.size(); ++j)
        EXPECT_NEAR(std::abs(y[j] - y[1] - (x[2 * j] + x[2 * j - 1] - x[2] - x[1])), 0.0, 1e-12);
}

TEST(DecimateIQ, OnePassEqualsTheStageByStageDecimator) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 300.0);
    // Lengths that are and are not multiples of the block, blocks of one output, none at all;
    // factors that round down, up and to powers of two. The board's offsets ride on the noise.
    const std::size_t lengths[] = {0, 1, 2, 3, 7, 128, 129, 255, 1000, 4097, 131072, 131071 + 64};
    const std::int32_t factors[] = {2, 3, 5, 6, 12, 100, 128, 1000};
    for (const std::size_t n : lengths) {
        ComplexVector x(n);
        for (Complex& v : x)
            v = Complex(32768.0 + noise(random), 16384.0 + noise(random));
        for (const std::int32_t factor : factors) {
            ComplexVector expected = x;
            tavrix::test::PlainDecimate(expected, factor);
            ComplexVector got = x;
            DecimateIQ(got, factor);
            ASSERT_EQ(got.size(), expected.size()) << n << " / " << factor;
            // Relative to the output, or to the input where the output is (nearly) all
            // rounding: two samples by 2 leave x0 + x1 less its own mean.
            double scale = n > 0 ? std::abs(x[0]) : 0.0, worst = 0.0;
            for (std::size_t j = 0; j < got.size(); ++j) {
                scale = std::max(scale, std::abs(expected[j]));
                worst = std::max(worst, std::abs(got[j] - expected[j]));
            }
            EXPECT_LE(worst, 1e-9 * scale) << n << " / " << factor;
        }
    }
}

TEST(DecimateIQ, KeepsALowToneAndDropsTheOffset) {
    const std::size_t n = 1 << 15;
    const double omega = 2 * std::acos(-1.0) / 4096;
    ComplexVector data(n);
    for (std::size_t k = 0; k < n; ++k)
        data[k] = Complex(30000.0 + 100 * std::cos(omega * k), 16000.0 + 100 * std::sin(omega * k));
    DecimateIQ(data, 128);
    ASSERT_EQ(data.size(), n / 128);
    Complex mean = 0.0;
    for (const Complex& x : data)
        mean += x / static_cast<double>(data.size());
    EXPECT_LT(std::abs(mean), 1e-3 * std::abs(data[100]));
    for (std::size_t j = 10; j + 10 < data.size(); ++j) {
        const Complex step = data[j + 1] / data[j];
        EXPECT_NEAR(std::arg(step), omega * 128, 1e-3) << j;
        EXPECT_NEAR(std::abs(step), 1.0, 1e-3) << j;
    }
}

TEST(BalanceIQ, RestoresAKnownGainAndPhaseError) {
    const double gain = 1.3, phase = 0.2;
    const std::size_t n = 4096;
    std::vector<double> i(n), q(n), trueI(n), trueQ(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double theta = 2 * std::acos(-1.0) * 37.0 * k / n; // whole cycles
        trueI[k] = 500.0 * std::cos(theta);
        trueQ[k] = 500.0 * std::sin(theta);
        i[k] = trueI[k] + 2000.0;
        q[k] = gain * (std::sin(phase) * trueI[k] + std::cos(phase) * trueQ[k]) - 150.0;
    }
    BalanceIQ(i, q);
    for (std::size_t k = 0; k < n; ++k) {
        EXPECT_NEAR(i[k], trueI[k], 1e-8) << k;
        EXPECT_NEAR(q[k], trueQ[k], 1e-8) << k;
    }

    // Unequal lengths: only the common samples are balanced, the longer list's tail is kept.
    std::vector<double> shortI = {1, -1, 1, -1}, longQ = {0.5, 0.5, -0.5, -0.5, 42};
    BalanceIQ(shortI, longQ);
    EXPECT_EQ(longQ[4], 42.0);
    EXPECT_EQ(shortI, (std::vector<double>{1, -1, 1, -1}));
}
