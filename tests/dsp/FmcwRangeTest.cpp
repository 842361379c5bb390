#include "dsp/FmcwRange.h"
#include "dsp/BandFilter.h"
#include "dsp/Blocks.h"
#include "dsp/FastDecibels.h"
#include "dsp/Peak.h"
#include "tests/dsp/FmcwReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace tavrix::dsp;

namespace {

const double kTwoPi = 2 * std::acos(-1.0);
const double kInf = std::numeric_limits<double>::infinity();

// One sweep of raw counts holding beat tones at the given frequencies (cycles per sample) on
// top of the board's DC offsets, cleaned as the chain cleans it before the window.
ComplexVector Sweep(std::size_t n, std::initializer_list<std::pair<double, double>> tones) {
    ComplexVector x(n, Complex(32768.0, 16384.0));
    for (auto [frequency, amplitude] : tones)
        for (std::size_t i = 0; i < n; ++i)
            x[i] += std::polar(amplitude, kTwoPi * frequency * static_cast<double>(i));
    SubtractDC(x, static_cast<std::uint32_t>(n), 1);
    return x;
}

// Beat frequency of a target at `range` metres, in cycles per sample: 2 R B / (c N).
double BeatFrequency(double range, std::uint32_t n, double bandwidthHz) {
    return 2.0 * range * bandwidthHz / (kSpeedOfLight * n);
}

std::vector<double> Profile(FmcwRangeProfiler& profiler, const ComplexVector& sweep,
                            const RangeProfileOptions& options = {}) {
    std::vector<double> db(kRangeBins);
    EXPECT_TRUE(profiler.Process(sweep, options, db));
    return db;
}

std::size_t PeakBin(const std::vector<double>& db, std::size_t begin = 0,
                    std::size_t end = kRangeBins) {
    return FindPeak(db, begin, end);
}

} // namespace

TEST(FastDecibels, AgreesWithLog10AcrossMagnitudesAndKeepsSpecialValues) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0), exponent(-1074.0, 1023.0);
    std::vector<double> power(4099); // not a multiple of the vector width
    for (double& p : power)
        p = std::ldexp(mantissa(random), static_cast<int>(exponent(random)));
    power[0] = 0.0;
    power[1] = kInf;
    power[2] = std::numeric_limits<double>::quiet_NaN();
    power[3] = std::numeric_limits<double>::denorm_min();
    power[4] = -1.0;
    power[5] = 1.0;
    power[4098] = 0.0; // the partial last vector sees the special values too

    std::vector<double> db(power.size());
    DecibelsFromPower(power.data(), db.data(), power.size());
    for (std::size_t i = 0; i < power.size(); ++i) {
        const double expected = 10.0 * std::log10(power[i]);
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(db[i])) << i;
        } else if (std::isinf(expected) || expected == 0.0) {
            EXPECT_EQ(db[i], expected) << i;
        } else {
            EXPECT_NEAR(db[i], expected, 1e-15 * std::fabs(expected)) << power[i];
        }
    }

    // In place, and a complex spectrum gives the dB of its power.
    DecibelsFromPower(power.data(), power.data(), power.size());
    EXPECT_EQ(power[0], -kInf);
    const ComplexVector bins = {{3.0, 4.0}, {0.0, 0.0}, {1e-150, 0.0}};
    double spectrumDb[3];
    DecibelsFromSpectrum(bins.data(), spectrumDb, 3);
    EXPECT_NEAR(spectrumDb[0], 10.0 * std::log10(25.0), 1e-14);
    EXPECT_EQ(spectrumDb[1], -kInf);
    EXPECT_NEAR(spectrumDb[2], -3000.0, 1e-11);
}

TEST(FmcwScales, RangeAndVelocityScalesAndTheirSliderTops) {
    const double rmax = FmcwMaxRange(128, 1e8);
    EXPECT_NEAR(rmax, 95.9335866, 1e-7);
    EXPECT_EQ(SliderTop(rmax), 95);
    EXPECT_FALSE(IsWindowActive({0, 95}, rmax)); // the sliders' start: the whole profile
    EXPECT_TRUE(IsWindowActive({0, 94}, rmax));
    EXPECT_TRUE(IsWindowActive({1, 95}, rmax));

    const double vmax = FmcwMaxVelocity(2.4e10, 1.0);
    EXPECT_NEAR(vmax, 3.1228381, 1e-7);
    EXPECT_EQ(SliderTop(vmax), 3);

    const std::vector<double> axis = FmcwRangeAxis(rmax);
    ASSERT_EQ(axis.size(), kRangeBins);
    EXPECT_EQ(axis[0], 0.0);
    EXPECT_DOUBLE_EQ(axis[512], 512.0 * rmax / 513.0);
}

TEST(FmcwWindow, TheMovedSliderWinsWhenTheBoundsCross) {
    // Low dragged above High: High follows, unless High has the focus.
    EXPECT_EQ(OrderWindow({60, 40}, false).high, 60);
    EXPECT_EQ(OrderWindow({60, 40}, false).low, 60);
    EXPECT_EQ(OrderWindow({60, 40}, true).low, 40);
    EXPECT_EQ(OrderWindow({60, 40}, true).high, 40);
    const SliderWindow ordered = OrderWindow({10, 40}, true);
    EXPECT_EQ(ordered.low, 10);
    EXPECT_EQ(ordered.high, 40);
}

TEST(FmcwWindow, FilterIsDesignedOnlyWhenTheBoundsChange) {
    const double rmax = FmcwMaxRange(1024, 1e8);
    ComplexVector spectrum;
    double lowCut = std::numeric_limits<double>::quiet_NaN();
    double highCut = lowCut;

    ASSERT_TRUE(RefreshBandFilter(spectrum, lowCut, highCut, {100, 200}, rmax));
    EXPECT_EQ(lowCut, 100.0);
    EXPECT_EQ(highCut, 200.0);
    ComplexVector expected(1024);
    DesignBandFilter(expected, 100 * 0.5 / rmax, 200 * 0.5 / rmax);
    EXPECT_EQ(spectrum, expected);

    // Same bounds: the spectrum is reused as it stands, even if someone wrote into it.
    spectrum[3] = Complex(42.0, 0.0);
    EXPECT_FALSE(RefreshBandFilter(spectrum, lowCut, highCut, {100, 200}, rmax));
    EXPECT_EQ(spectrum[3], Complex(42.0, 0.0));

    EXPECT_TRUE(RefreshBandFilter(spectrum, lowCut, highCut, {100, 201}, rmax));
    EXPECT_NE(spectrum, expected);
    // A spectrum of the wrong length cannot be the designed one.
    spectrum.resize(10);
    EXPECT_TRUE(RefreshBandFilter(spectrum, lowCut, highCut, {100, 201}, rmax));
    EXPECT_EQ(spectrum.size(), 1024u);
}

TEST(FmcwWindow, DetectionBinsFollowTheZoneAndAlwaysNameAnExistingBin) {
    const double rmax = FmcwMaxRange(128, 1e8);
    BinRange all = DetectionBins(0.0, rmax, rmax);
    EXPECT_EQ(all.begin, 0u);
    EXPECT_EQ(all.end, 513u);
    BinRange window = DetectionBins(20.0, 40.0, rmax);
    EXPECT_EQ(window.begin, static_cast<std::size_t>(20.0 / rmax * 513));
    EXPECT_EQ(window.end, static_cast<std::size_t>(40.0 / rmax * 513));
    BinRange empty = DetectionBins(30.0, 30.0, rmax);
    EXPECT_EQ(empty.begin, empty.end);
    // Zones beyond the scale or not numbers stay inside the profile.
    BinRange beyond = DetectionBins(2 * rmax, 3 * rmax, rmax);
    EXPECT_EQ(beyond.begin, 512u);
    EXPECT_EQ(beyond.end, 513u);
    BinRange nan = DetectionBins(std::nan(""), 40.0, rmax);
    EXPECT_EQ(nan.begin, 0u);
    BinRange reversed = DetectionBins(40.0, 20.0, rmax);
    EXPECT_EQ(reversed.end, reversed.begin);
}

TEST(FmcwRangeProfile, TargetLandsInItsRangeBin) {
    FmcwRangeProfiler profiler;
    for (std::uint32_t n : {128u, 1024u})
        for (double bandwidth : {1e8, 4e8})
            for (double fraction : {0.1, 0.37, 0.8}) {
                const double rmax = FmcwMaxRange(n, bandwidth);
                const double range = fraction * rmax;
                const auto db =
                    Profile(profiler, Sweep(n, {{BeatFrequency(range, n, bandwidth), 3000.0}}));
                const std::size_t peak = PeakBin(db);
                EXPECT_NEAR(static_cast<double>(peak), 512.0 * range / rmax, 1.0)
                    << n << " samples, " << bandwidth << " Hz, " << range << " m";
                EXPECT_NEAR(FmcwRangeAxis(rmax)[peak], range, 2.0 * rmax / 512.0);
            }
}

TEST(FmcwRangeProfile, WeightingLiftsFarBinsByTheSquareLaw) {
    FmcwRangeProfiler profiler;
    const ComplexVector sweep = Sweep(256, {{0.2, 500.0}, {0.45, 500.0}});
    const ComplexVector weights = RangeWeights(kRangeBins);
    RangeProfileOptions weighted;
    weighted.rangeWeights = weights;
    const auto plain = Profile(profiler, sweep);
    const auto lifted = Profile(profiler, sweep, weighted);
    for (std::size_t k : {0u, 100u, 300u, 512u}) {
        const double ratio = (k + 1) / 513.0;
        EXPECT_NEAR(lifted[k] - plain[k], 10 * std::log10(2 * std::pow(ratio, 4)), 1e-9) << k;
    }
    EXPECT_NEAR(lifted[512] - plain[512], 3.0103, 1e-4);
}

TEST(FmcwRangeProfile, MatchesThePlainChainForEverySweepLengthInTurn) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> count(-2000.0, 2000.0);
    const double rmax = FmcwMaxRange(512, 3e8);
    ComplexVector filter;
    double lowCut = std::nan(""), highCut = lowCut;
    RefreshBandFilter(filter, lowCut, highCut, {20, 150}, rmax);
    const ComplexVector weights = RangeWeights(kRangeBins);

    FmcwRangeProfiler profiler; // one profiler: its cached window must follow the length
    for (std::uint32_t n : {1024u, 128u, 512u, 128u, 1u})
        for (int variant = 0; variant < 3; ++variant) {
            ComplexVector sweep(n);
            for (Complex& x : sweep)
                x = Complex(count(random), count(random));
            RangeProfileOptions options;
            options.hammingWindow = variant != 1;
            if (variant == 2) {
                options.rangeFilter = filter;
                options.rangeWeights = weights;
            }
            const auto expected = tavrix::test::ReferenceRangeProfile(sweep, options);
            const auto actual = Profile(profiler, sweep, options);
            for (std::size_t k = 0; k < kRangeBins; ++k)
                ASSERT_NEAR(actual[k], expected[k], 1e-9) << n << " samples, bin " << k;
        }
}

TEST(FmcwRangeProfile, RefusesInputItCannotHold) {
    FmcwRangeProfiler profiler;
    std::vector<double> db(kRangeBins, 7.0);
    const ComplexVector tooLong(1025, Complex(1.0, 0.0));
    EXPECT_FALSE(profiler.Process(tooLong, {}, db));
    const ComplexVector sweep(128, Complex(1.0, 2.0));
    std::vector<double> shortDb(512);
    EXPECT_FALSE(profiler.Process(sweep, {}, shortDb));
    const ComplexVector shortFilter(513);
    RangeProfileOptions options;
    options.rangeFilter = shortFilter;
    EXPECT_FALSE(profiler.Process(sweep, options, db));
    for (double v : db)
        EXPECT_EQ(v, 7.0);
    // An empty sweep is silence, not an error.
    EXPECT_TRUE(profiler.Process(ComplexVector(), {}, db));
    EXPECT_EQ(db[0], -kInf);
}
