#include "dsp/BandFilter.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Window.h"
#include "tests/dsp/FmcwReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace tavrix::dsp;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(FmcwWindow, ScalesAndAFilterDesignedOnlyWhenTheBoundsOrTheScaleChange) {
    const double rmax = FmcwMaxRange(128, 1e8), twice = FmcwMaxRange(256, 1e8);
    EXPECT_NEAR(rmax, 95.9335866, 1e-7);
    EXPECT_NEAR(FmcwMaxVelocity(2.4e10, 1.0), 3.1228381, 1e-7);
    // Detection zones stay inside the profile.
    const BinRange beyond = DetectionBins(2 * rmax, 3 * rmax, rmax);
    EXPECT_EQ(beyond.begin, 512u);
    EXPECT_EQ(beyond.end, 513u);
    EXPECT_EQ(DetectionBins(kNaN, 40.0, rmax).begin, 0u);

    const auto designed = [](SliderWindow w, double maximum) {
        ComplexVector expected(1024);
        DesignBandFilter(expected, w.low * 0.5 / maximum, w.high * 0.5 / maximum);
        return expected;
    };
    // 128 then 256 samples per sweep: the same slider values are another band of the profile.
    BandFilterCache cache;
    ASSERT_TRUE(cache.Refresh({10, 20}, rmax));
    EXPECT_EQ(cache.spectrum(), designed({10, 20}, rmax));
    EXPECT_FALSE(cache.Refresh({10, 20}, rmax));
    EXPECT_TRUE(cache.Refresh({10, 21}, rmax));
    EXPECT_TRUE(cache.Refresh({11, 21}, twice));
    EXPECT_EQ(cache.spectrum(), designed({11, 21}, twice));
}

TEST(FmcwRangeProfile, MatchesThePlainChainUnderEveryOptionAndLength) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> counts(0.0, 30000.0);
    BandFilterCache filter;
    filter.Refresh({10, 60}, FmcwMaxRange(128, 1e8));
    const ComplexVector weights = RangeWeights(kRangeBins);
    const double w0 = 1.0 / (513.0 * 513.0); // ((k + 1) / 513)^2
    EXPECT_NEAR(std::abs(weights[0] - Complex(w0, w0)), 0.0, 1e-20);
    EXPECT_EQ(weights[512], Complex(1.0, 1.0));
    FmcwRangeProfiler profiler; // one profiler: its cached window must follow the length
    for (std::uint32_t n : {1024u, 128u, 512u, 128u, 1000u})
        for (int bits = 0; bits < 8; ++bits) { // window, filter, weights
            SCOPED_TRACE(testing::Message() << n << " samples, options " << bits);
            ComplexVector sweep(n);
            for (Complex& x : sweep)
                x = Complex(counts(random), counts(random));
            RangeProfileOptions options;
            options.hammingWindow = bits & 1;
            if (bits & 2)
                options.rangeFilter = filter.spectrum();
            if (bits & 4)
                options.rangeWeights = weights;
            const auto expected = tavrix::test::ReferenceRangeProfile(sweep, options);
            std::vector<double> profile(kRangeBins);
            ASSERT_TRUE(profiler.Process(sweep, options, profile));
            for (std::size_t k = 0; k < kRangeBins; ++k)
                ASSERT_NEAR(profile[k], expected[k], 1e-6) << k;
        }
}

TEST(FmcwVelocityProfile, EveryRangeBinCountsAlikeAndStandingStillIsRepeated) {
    std::vector<double> map(kMapValues, 0.0);
    for (std::size_t j = 0; j < kDopplerBins; ++j) {
        map[j] = 1024.0 * static_cast<double>(j); // row 0: range bin 512
        map[kDopplerBins + j] = 1024.0;
        map[512 * kDopplerBins + j] = 2048.0; // row 512: range bin 0
    }
    map[512 * kDopplerBins + 700] = -kInf; // one silent bin silences its column
    std::vector<double> profile(kDopplerBins), shortProfile(1023);
    ASSERT_TRUE(VelocityProfile(map, profile));
    EXPECT_EQ(profile[510], 513.0);
    EXPECT_EQ(profile[511], 515.0); // a copy of 512
    EXPECT_EQ(profile[700], -kInf);
    EXPECT_FALSE(VelocityProfile(map, shortProfile));
}

TEST(Fmcw, RefusesInputItCannotHoldTouchingNothing) {
    FmcwRangeProfiler profiler;
    std::vector<double> db(kRangeBins, 7.0);
    RangeProfileOptions options;
    options.rangeFilter = ComplexVector(513);
    EXPECT_FALSE(profiler.Process(ComplexVector(1025), {}, db));
    EXPECT_FALSE(profiler.Process(ComplexVector(128), options, db));
    EXPECT_EQ(db, std::vector<double>(kRangeBins, 7.0));
    EXPECT_TRUE(profiler.Process(ComplexVector(), {}, db)); // silence, not an error
    EXPECT_EQ(db[0], -kInf); // through the fast decibels, as are all profiles and maps

    FmcwRangeVelocityMapper mapper;
    std::vector<double> map(kMapValues, 7.0);
    const ComplexVector burst(128 * 8, Complex(1.0, 1.0));
    RangeVelocityOptions mapOptions;
    EXPECT_FALSE(mapper.Process(burst, 128, 9, mapOptions, map)); // more sweeps than samples
    EXPECT_FALSE(mapper.Process(ComplexVector(std::size_t{1025} * 8), 8, 1025, mapOptions, map));
    // Sweeps read as needed: the same checks, and a reader there must be.
    const FmcwRangeVelocityMapper::SweepReader ones = [](std::size_t, Complex* out) {
        std::fill_n(out, 8, Complex(1.0, 1.0));
    };
    EXPECT_FALSE(mapper.Process(ones, 8, 1025, mapOptions, map));
    EXPECT_FALSE(mapper.Process(FmcwRangeVelocityMapper::SweepReader(), 8, 8, mapOptions, map));
    mapOptions.velocityFilter = ComplexVector(1023);
    EXPECT_FALSE(mapper.Process(burst, 128, 8, mapOptions, map));
    EXPECT_FALSE(mapper.Process(ones, 8, 8, mapOptions, map));
    EXPECT_EQ(map, std::vector<double>(kMapValues, 7.0));
}
