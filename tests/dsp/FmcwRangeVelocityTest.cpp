#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Peak.h"
#include "tests/dsp/FmcwReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

using namespace tavrix::dsp;

namespace {

const double kTwoPi = 2 * std::acos(-1.0);
const double kInf = std::numeric_limits<double>::infinity();

struct Target {
    double rangeFraction;    // of Rmax
    double velocityFraction; // of Vmax, signed
    double amplitude;        // counts
};

// Q sweeps of N raw counts: DC offsets plus, per target, a beat tone whose phase advances from
// sweep to sweep with its Doppler shift. Range fraction 1 is bin 512 of the fast-time
// transform (0.5 cycles per sample); velocity fraction 1 is half a cycle per sweep.
ComplexVector Burst(std::uint32_t n, std::uint32_t q, std::initializer_list<Target> targets,
                    double noise) {
    std::mt19937 random(11);
    std::normal_distribution<double> gauss(0.0, noise);
    ComplexVector x(std::size_t{n} * q, Complex(32768.0, 16384.0));
    for (std::size_t s = 0; s < q; ++s)
        for (std::size_t i = 0; i < n; ++i) {
            Complex& v = x[s * n + i];
            for (const Target& t : targets) {
                const double cycles = 0.5 * t.rangeFraction * static_cast<double>(i) +
                                      0.5 * t.velocityFraction * static_cast<double>(s);
                v += std::polar(t.amplitude, kTwoPi * cycles);
            }
            v += Complex(gauss(random), gauss(random));
        }
    return x;
}

std::vector<double> Map(FmcwRangeVelocityMapper& mapper, const ComplexVector& burst,
                        std::uint32_t n, std::uint32_t q, const RangeVelocityOptions& options) {
    std::vector<double> map(kMapValues);
    EXPECT_TRUE(mapper.Process(burst, n, q, options, map));
    return map;
}

struct Cell {
    std::size_t row;
    std::size_t column;
};

Cell Strongest(const std::vector<double>& map) {
    const std::size_t i = FindPeak(map, 0, map.size());
    return {i / kDopplerBins, i % kDopplerBins};
}

double FiniteMaximum(const std::vector<double>& values) {
    double best = -kInf;
    for (double v : values)
        if (std::isfinite(v))
            best = std::max(best, v);
    return best;
}

// Equal where the reference stands out of the rounding floor; below it both must be floor.
void ExpectSameMap(const std::vector<double>& actual, const std::vector<double>& expected,
                   const char* what) {
    ASSERT_EQ(actual.size(), expected.size());
    const double peak = FiniteMaximum(expected);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] > peak - 150.0)
            ASSERT_NEAR(actual[i], expected[i], 1e-6)
                << what << ": row " << i / kDopplerBins << ", column " << i % kDopplerBins;
        else
            ASSERT_LT(actual[i], peak - 100.0) << what << ": row " << i / kDopplerBins;
    }
}

} // namespace

TEST(FmcwBurst, ReadSizeAndTimeOutFollowTheBurstDuration) {
    const FmcwBurstScales small = ComputeFmcwBurstScales(128, 0.5, 8);
    EXPECT_EQ(small.sampleRate, 256000.0);
    EXPECT_EQ(small.sampleCount, 1024);
    EXPECT_EQ(small.timeoutMs, 1008);
    const FmcwBurstScales large = ComputeFmcwBurstScales(1024, 10.0, 1024);
    EXPECT_EQ(large.sampleCount, 1048576);
    EXPECT_EQ(large.timeoutMs, 21480);
    EXPECT_EQ(ComputeFmcwBurstScales(128, 0.0, 8).timeoutMs, 1000); // no duration to wait for
}

TEST(FmcwRangeVelocityMap, TargetLandsAtItsRangeAndVelocity) {
    FmcwRangeVelocityMapper mapper;
    RangeVelocityOptions options;
    options.rows = MapRows::NearFirst;
    struct Case {
        std::uint32_t n, q;
        Target target;
    };
    for (const Case& c : {Case{128, 64, {0.3, 0.5, 800.0}}, Case{128, 64, {0.7, -0.25, 800.0}},
                          Case{1024, 1024, {0.55, 0.8, 300.0}}, Case{256, 8, {0.1, -0.9, 900.0}}}) {
        const auto map = Map(mapper, Burst(c.n, c.q, {c.target}, 30.0), c.n, c.q, options);
        const Cell peak = Strongest(map);
        EXPECT_NEAR(static_cast<double>(peak.row), 512.0 * c.target.rangeFraction, 1.0)
            << c.n << " x " << c.q;
        EXPECT_NEAR(static_cast<double>(peak.column), 512.0 + 512.0 * c.target.velocityFraction,
                    1.0)
            << c.n << " x " << c.q;
    }
}

TEST(FmcwRangeVelocityMap, MatchesThePlainChainUnderEveryOption) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> count(0.0, 30000.0);
    const double rmax = FmcwMaxRange(128, 1e8), vmax = FmcwMaxVelocity(5.8e9, 0.5);
    ComplexVector rangeFilter, velocityFilter;
    double cuts[4] = {std::nan(""), std::nan(""), std::nan(""), std::nan("")};
    RefreshBandFilter(rangeFilter, cuts[0], cuts[1], {10, 60}, rmax);
    RefreshBandFilter(velocityFilter, cuts[2], cuts[3], {5, 20}, vmax);
    const ComplexVector weights = RangeWeights(kDopplerBins);

    FmcwRangeVelocityMapper mapper; // reused: nothing of one burst may leak into the next
    struct Case {
        std::uint32_t n, q;
        int options; // bit 0 window, 1 DC, 2 amplitude, 3 filters and weights, 4 near first
    };
    for (const Case& c : {Case{128, 24, 0b00011}, Case{128, 8, 0b11111}, Case{1024, 17, 0b01000},
                          Case{128, 1024, 0b00110}, Case{1000, 3, 0b10101}}) {
        ComplexVector burst(std::size_t{c.n} * c.q);
        for (Complex& x : burst)
            x = Complex(count(random), count(random) / 2);
        RangeVelocityOptions options;
        options.hammingWindow = c.options & 1;
        options.subtractDC = c.options & 2;
        options.correctAmplitude = c.options & 4;
        if (c.options & 8) {
            options.rangeFilter = rangeFilter;
            options.rangeWeights = weights;
            options.velocityFilter = velocityFilter;
        }
        options.rows = (c.options & 16) ? MapRows::NearFirst : MapRows::FarFirst;
        const auto expected = tavrix::test::ReferenceRangeVelocityMap(burst, c.n, c.q, options);
        const std::string what = std::to_string(c.n) + " x " + std::to_string(c.q) + ", options " +
                                 std::to_string(c.options);
        ExpectSameMap(Map(mapper, burst, c.n, c.q, options), expected, what.c_str());
    }
}

TEST(FmcwRangeVelocityMap, RefusesInputItCannotHold) {
    FmcwRangeVelocityMapper mapper;
    std::vector<double> map(kMapValues, 7.0);
    const ComplexVector burst(128 * 8, Complex(1.0, 1.0));
    RangeVelocityOptions options;
    EXPECT_FALSE(mapper.Process(burst, 128, 0, options, map));
    EXPECT_FALSE(mapper.Process(burst, 0, 8, options, map));
    EXPECT_FALSE(mapper.Process(burst, 128, 9, options, map)); // more sweeps than samples
    EXPECT_FALSE(mapper.Process(burst, 1025, 1, options, map));
    const ComplexVector many(std::size_t{1025} * 8);
    EXPECT_FALSE(mapper.Process(many, 8, 1025, options, map));
    std::vector<double> small(kMapValues - 1);
    EXPECT_FALSE(mapper.Process(burst, 128, 8, options, small));
    const ComplexVector shortFilter(1023);
    options.velocityFilter = shortFilter;
    EXPECT_FALSE(mapper.Process(burst, 128, 8, options, map));
    EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](double v) { return v == 7.0; }));
}

TEST(FmcwVelocityProfile, EveryRangeBinCountsAlikeAndStandingStillIsRepeated) {
    std::vector<double> map(kMapValues, 0.0);
    for (std::size_t j = 0; j < kDopplerBins; ++j) {
        map[j] = 1024.0 * static_cast<double>(j); // row 0: range bin 512
        map[kDopplerBins + j] = 1024.0;           // row 1
        map[512 * kDopplerBins + j] = 2048.0;     // row 512 (range bin 0)
    }
    map[512 * kDopplerBins + 700] = -kInf; // one silent bin silences its column
    std::vector<double> profile(kDopplerBins);
    ASSERT_TRUE(VelocityProfile(map, profile));
    EXPECT_EQ(profile[0], 3.0);
    EXPECT_EQ(profile[100], 103.0);
    EXPECT_EQ(profile[512], 515.0);
    EXPECT_EQ(profile[511], profile[512]);
    EXPECT_EQ(profile[510], 513.0);
    EXPECT_EQ(profile[700], -kInf);

    std::vector<double> shortProfile(1023, 5.0);
    EXPECT_FALSE(VelocityProfile(map, shortProfile));
    EXPECT_EQ(shortProfile[0], 5.0);
    std::vector<double> shortMap(kMapValues - 1024);
    EXPECT_FALSE(VelocityProfile(shortMap, profile));
}
