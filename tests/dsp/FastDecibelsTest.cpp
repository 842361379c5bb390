#include "dsp/FastDecibels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

using namespace tavrix::dsp;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Distance in ulp of `value` from the exact `reference`.
double UlpsFrom(double value, double reference) {
    const double ulp = std::nextafter(std::fabs(reference), kInf) - std::fabs(reference);
    return std::fabs(value - reference) / ulp;
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(FastDecibels, StayWithinAFewUlpOfTheLogEverywhereAndKeepTheSpecialValuesInEveryLane) {
    // Every octave from the subnormals to the largest double, each with a mantissa on either
    // side of the √2 where the reduction switches, and ones at random.
    std::mt19937 random(11);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    std::vector<double> powers;
    for (int e = -1074; e <= 1023; ++e)
        for (double m : {1.0, 1.4142135, 1.4142136, mantissa(random)})
            powers.push_back(std::ldexp(m, e));
    powers.push_back(std::numeric_limits<double>::max());
    std::vector<double> db(powers.size());
    DecibelsFromPower(powers.data(), db.data(), powers.size());
    double worst = 0.0;
    for (std::size_t i = 0; i < powers.size(); ++i) {
        if (powers[i] == 1.0) // exactly 0 dB
            EXPECT_EQ(db[i], 0.0);
        else
            worst = std::max(worst, UlpsFrom(db[i], 10.0 * std::log10(powers[i])));
    }
    EXPECT_LE(worst, 4.0);

    // Special values at each place of a group of eight, of a group of four and of the last
    // few: zero gives −inf, +inf and NaN pass through, a negative power gives NaN, subnormal
    // neighbours take their own octaves.
    const double specials[] = {0.0, -0.0, kInf, kNaN, -2.0, 4.9e-324, 1e-310};
    const double expected[] = {
        -kInf, -kInf, kInf, kNaN, kNaN, 10.0 * std::log10(4.9e-324), 10.0 * std::log10(1e-310)};
    for (std::size_t n : {3u, 7u, 12u, 19u}) {
        for (std::size_t at = 0; at < n; ++at) {
            for (std::size_t s = 0; s < std::size(specials); ++s) {
                std::vector<double> x(n, 100.0), y(n);
                x[at] = specials[s];
                DecibelsFromPower(x.data(), y.data(), n);
                SCOPED_TRACE(testing::Message() << n << " values, special " << s << " at " << at);
                if (std::isnan(expected[s]))
                    EXPECT_TRUE(std::isnan(y[at]));
                else if (std::isinf(expected[s]))
                    EXPECT_EQ(y[at], expected[s]);
                else
                    EXPECT_LE(UlpsFrom(y[at], expected[s]), 4.0);
                for (std::size_t j = 0; j < n; ++j) {
                    if (j != at) {
                        ASSERT_NEAR(y[j], 20.0, 1e-13) << j;
                    }
                }
                // In place, the same.
                DecibelsFromPower(x.data(), x.data(), n);
                EXPECT_TRUE(SameBits(x[at], y[at]) || (std::isnan(x[at]) && std::isnan(y[at])));
            }
        }
    }
}

TEST(FastDecibels, OfASpectrumAreThoseOfItsPowersSummedAsTheScalarSumDoes) {
    std::mt19937 random(5);
    std::normal_distribution<double> part(0.0, 1000.0);
    for (std::size_t n : {0u, 1u, 7u, 12u, 13u, 513u}) {
        std::vector<std::complex<double>> x(n);
        std::vector<double> power(n), fromSpectrum(n), fromPower(n);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = {part(random), part(random)};
            power[i] = x[i].real() * x[i].real() + x[i].imag() * x[i].imag();
        }
        if (n > 4)
            x[n - 1] = power[n - 1] = 0.0; // a silent bin among the last few
        DecibelsFromSpectrum(x.data(), fromSpectrum.data(), n);
        DecibelsFromPower(power.data(), fromPower.data(), n);
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_TRUE(SameBits(fromSpectrum[i], fromPower[i])) << n << " " << i;
    }
}
