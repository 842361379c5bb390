#include "dsp/Decimate.h"
#include "tests/dsp/DecimateReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace tavrix::dsp;

TEST(DecimateIQ, OnePassEqualsTheStageByStageDecimator) {
    // The plain decimator takes its stage count from here: the rounded log of the factor.
    for (const auto& [factor, k] : {std::pair{-8, 0}, {3, 2}, {5, 2}, {6, 3}, {128, 7}})
        EXPECT_EQ(DecimationStages(factor), k) << factor;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 300.0);
    // Lengths that are and are not multiples of the block, blocks of one output, none at all;
    // factors that round down, up and to powers of two. The board's offsets ride on the noise.
    const std::size_t lengths[] = {0, 1, 2, 3, 7, 128, 129, 1000, 4097, 131072, 131071 + 64};
    const std::int32_t factors[] = {-8, 1, 2, 3, 5, 6, 12, 100, 128, 1000, 1 << 20};
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
