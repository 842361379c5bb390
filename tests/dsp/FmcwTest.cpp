#include "dsp/BandFilter.h"
#include "dsp/FastDecibels.h"
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

std::vector<double> Profile(FmcwRangeProfiler& profiler, const ComplexVector& sweep,
                            const RangeProfileOptions& options = {}) {
    std::vector<double> db(kRangeBins);
    EXPECT_TRUE(profiler.Process(sweep, options, db));
    return db;
}

} // namespace

TEST(FastDecibels, AgreesWithLog10AcrossMagnitudesAndKeepsSpecialValues) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0), exponent(-1074.0, 1023.0);
    std::vector<double> power(4099); // not a multiple of the vector width
    for (double& p : power)
        p = std::ldexp(mantissa(random), static_cast<int>(exponent(random)));
    const double special[] = {0.0, kInf, kNaN, std::numeric_limits<double>::denorm_min(), -1, 1};
    std::copy(std::begin(special), std::end(special), power.end() - 6); // in the last vector
    std::vector<double> db(power.size());
    DecibelsFromPower(power.data(), db.data(), power.size());
    for (std::size_t i = 0; i < power.size(); ++i) {
        const double expected = 10.0 * std::log10(power[i]);
        EXPECT_TRUE(std::isnan(expected) ? std::isnan(db[i])
                                         : db[i] == expected || std::fabs(db[i] - expected) <=
                                                                    1e-15 * std::fabs(expected))
            << power[i] << ": " << db[i];
    }
    const Complex tiny(1e-150, 0.0); // its square underflows
    DecibelsFromSpectrum(&tiny, db.data(), 1);
    EXPECT_NEAR(db[0], -3000.0, 1e-11);

    // A spectrum gives, bit for bit, the decibels of re² + im², in whole vectors and the rest.
    std::normal_distribution<double> part(0.0, 1e4);
    ComplexVector spectrum(1027);
    for (Complex& x : spectrum)
        x = Complex(part(random), part(random));
    spectrum[5] = Complex();
    spectrum[6] = tiny;
    std::vector<double> powers(spectrum.size()), fromPowers(spectrum.size()),
        fromSpectrum(spectrum.size());
    for (std::size_t i = 0; i < spectrum.size(); ++i)
        powers[i] =
            spectrum[i].real() * spectrum[i].real() + spectrum[i].imag() * spectrum[i].imag();
    DecibelsFromPower(powers.data(), fromPowers.data(), powers.size());
    DecibelsFromSpectrum(spectrum.data(), fromSpectrum.data(), spectrum.size());
    EXPECT_EQ(fromSpectrum, fromPowers);
}

TEST(FmcwScales, WorkedNumbersAndZonesThatStayInsideTheProfile) {
    const double rmax = FmcwMaxRange(128, 1e8);
    EXPECT_NEAR(rmax, 95.9335866, 1e-7);
    EXPECT_NEAR(FmcwMaxVelocity(2.4e10, 1.0), 3.1228381, 1e-7);
    EXPECT_EQ(SliderTop(rmax), 95);
    const FmcwBurstScales small = ComputeFmcwBurstScales(128, 0.5, 8);
    EXPECT_EQ(small.sampleRate, 256000.0);
    EXPECT_EQ(small.sampleCount, 1024);
    EXPECT_EQ(small.timeoutMs, 1008);
    EXPECT_EQ(ComputeFmcwBurstScales(1024, 10.0, 1024).timeoutMs, 21480);

    const BinRange beyond = DetectionBins(2 * rmax, 3 * rmax, rmax);
    EXPECT_EQ(beyond.begin, 512u);
    EXPECT_EQ(beyond.end, 513u);
    EXPECT_EQ(DetectionBins(kNaN, 40.0, rmax).begin, 0u);
}

TEST(FmcwWindow, FilterIsDesignedOnlyWhenTheBoundsOrTheScaleChange) {
    const auto designed = [](SliderWindow w, double maximum) {
        ComplexVector expected(1024);
        DesignBandFilter(expected, w.low * 0.5 / maximum, w.high * 0.5 / maximum);
        return expected;
    };
    // 128 then 256 samples per sweep: the same slider values are another band of the profile.
    const double rmax = FmcwMaxRange(128, 1e8), twice = FmcwMaxRange(256, 1e8);
    BandFilterCache cache;
    ASSERT_TRUE(cache.Refresh({10, 20}, rmax));
    EXPECT_EQ(cache.spectrum(), designed({10, 20}, rmax));
    EXPECT_FALSE(cache.Refresh({10, 20}, rmax));
    EXPECT_TRUE(cache.Refresh({10, 21}, rmax));
    EXPECT_TRUE(cache.Refresh({11, 21}, rmax));
    EXPECT_TRUE(cache.Refresh({11, 21}, twice));
    EXPECT_EQ(cache.spectrum(), designed({11, 21}, twice));
}

TEST(FmcwRangeProfile, WindowFilterAndWeightsScaleTheBins) {
    FmcwRangeProfiler profiler; // one profiler: its cached window must follow the length
    RangeProfileOptions unwindowed;
    unwindowed.hammingWindow = false;
    for (std::uint32_t n : {1024u, 128u, 512u, 128u}) {
        const ComplexVector ones(n, Complex(1.0, 0.0));
        double sum = 0.0;
        for (double w : HammingWindow(n))
            sum += w;
        EXPECT_NEAR(Profile(profiler, ones)[0], 20 * std::log10(sum), 1e-9) << n;
        EXPECT_NEAR(Profile(profiler, ones, unwindowed)[0], 20 * std::log10(n), 1e-9) << n;
    }

    // Weights (w, w) with w = ((k + 1) / 513)^2 lift far bins; the filter multiplies by bin.
    ComplexVector sweep(256);
    for (std::size_t i = 0; i < sweep.size(); ++i)
        sweep[i] = std::polar(500.0, 0.4 * kPi * i) + std::polar(500.0, 0.9 * kPi * i);
    const ComplexVector weights = RangeWeights(kRangeBins), filter(1024, Complex(0.0, 0.5));
    RangeProfileOptions both;
    both.rangeWeights = weights;
    both.rangeFilter = filter;
    const auto plain = Profile(profiler, sweep);
    const auto lifted = Profile(profiler, sweep, both);
    for (std::size_t k : {0u, 100u, 300u, 512u}) {
        const double ratio = (k + 1) / 513.0;
        EXPECT_NEAR(lifted[k] - plain[k], 10 * std::log10(2 * std::pow(ratio, 4) / 4), 1e-9) << k;
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

TEST(Fmcw, RefusesInputItCannotHold) {
    FmcwRangeProfiler profiler;
    std::vector<double> db(kRangeBins, 7.0), shortDb(512);
    const ComplexVector sweep(128, Complex(1.0, 2.0)), shortFilter(513);
    RangeProfileOptions options;
    options.rangeFilter = shortFilter;
    EXPECT_FALSE(profiler.Process(ComplexVector(1025), {}, db));
    EXPECT_FALSE(profiler.Process(sweep, {}, shortDb));
    EXPECT_FALSE(profiler.Process(sweep, options, db));
    EXPECT_EQ(db, std::vector<double>(kRangeBins, 7.0));
    EXPECT_TRUE(profiler.Process(ComplexVector(), {}, db)); // silence, not an error
    EXPECT_EQ(db[0], -kInf);

    FmcwRangeVelocityMapper mapper;
    std::vector<double> map(kMapValues, 7.0), small(kMapValues - 1);
    const ComplexVector burst(128 * 8, Complex(1.0, 1.0)), shortVelocityFilter(1023);
    RangeVelocityOptions mapOptions;
    EXPECT_FALSE(mapper.Process(burst, 128, 9, mapOptions, map)); // more sweeps than samples
    EXPECT_FALSE(mapper.Process(burst, 1025, 1, mapOptions, map));
    EXPECT_FALSE(mapper.Process(ComplexVector(std::size_t{1025} * 8), 8, 1025, mapOptions, map));
    EXPECT_FALSE(mapper.Process(burst, 128, 8, mapOptions, small));
    mapOptions.velocityFilter = shortVelocityFilter;
    EXPECT_FALSE(mapper.Process(burst, 128, 8, mapOptions, map));
    EXPECT_EQ(map, std::vector<double>(kMapValues, 7.0));
}
