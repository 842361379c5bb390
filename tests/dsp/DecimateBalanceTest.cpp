#include "dsp/Decimate.h"
#include "dsp/Iq.h"

#include <gtest/gtest.h>

#include <cmath>

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
