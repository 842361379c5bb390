// The range-velocity map on one thread and on several: the plain chain's numbers, and the
// same bits whatever the thread count. Labelled threaded, so it also runs under
// ThreadSanitizer.
#include "dsp/BandFilter.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "tests/dsp/FmcwReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

using namespace tavrix::dsp;

namespace {

ComplexVector RandomBurst(std::mt19937& random, std::size_t count) {
    std::uniform_real_distribution<double> counts(0.0, 30000.0);
    ComplexVector burst(count);
    for (Complex& x : burst)
        x = Complex(counts(random), counts(random) / 2);
    return burst;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

} // namespace

TEST(FmcwRangeVelocityMap, MatchesThePlainChainUnderEveryOptionOnAnyThreadCount) {
    std::mt19937 random(5);
    const double rmax = FmcwMaxRange(128, 1e8), vmax = FmcwMaxVelocity(5.8e9, 0.5);
    BandFilterCache rangeFilter, velocityFilter;
    rangeFilter.Refresh({10, 60}, rmax);
    velocityFilter.Refresh({5, 20}, vmax);
    const ComplexVector weights = RangeWeights(kDopplerBins);

    // Reused: nothing of one burst may leak into the next. Three threads on two cores still
    // share the blocks out.
    FmcwRangeVelocityMapper one(1), two(2), three(3);
    ASSERT_EQ(two.threads(), 2u);
    struct Case {
        std::uint32_t n, q;
        int options; // bit 0 window, 1 DC, 2 amplitude, 3 filters and weights, 4 near first
    };
    // Sweep counts of one block, of a block and a sweep, and of every block there is.
    for (const Case& c : {Case{128, 24, 0b00011}, Case{128, 8, 0b11111}, Case{1024, 17, 0b01000},
                          Case{128, 1024, 0b00110}, Case{1000, 3, 0b10101}, Case{1, 1, 0b01000},
                          Case{1024, 1024, 0b11111}}) {
        SCOPED_TRACE(testing::Message() << c.n << " x " << c.q << ", options " << c.options);
        const ComplexVector burst = RandomBurst(random, std::size_t{c.n} * c.q);
        RangeVelocityOptions options;
        options.hammingWindow = c.options & 1;
        options.subtractDC = c.options & 2;
        options.correctAmplitude = c.options & 4;
        if (c.options & 8) {
            options.rangeFilter = rangeFilter.spectrum();
            options.rangeWeights = weights;
            options.velocityFilter = velocityFilter.spectrum();
        }
        options.rows = (c.options & 16) ? MapRows::NearFirst : MapRows::FarFirst;
        std::vector<double> alone(kMapValues), shared(kMapValues), several(kMapValues);
        ASSERT_TRUE(one.Process(burst, c.n, c.q, options, alone));
        ASSERT_TRUE(two.Process(burst, c.n, c.q, options, shared));
        ASSERT_TRUE(three.Process(burst, c.n, c.q, options, several));
        // Bit for bit: a bin that the mean removal leaves at rounding level has a dB value
        // that only the very same arithmetic repeats.
        EXPECT_TRUE(SameBits(shared, alone));
        EXPECT_TRUE(SameBits(several, alone));
        // Sweeps read one by one as the threads need them make the same map.
        std::vector<double> read(kMapValues);
        const auto sweep = [&burst, n = c.n](std::size_t index, Complex* out) {
            std::copy_n(burst.begin() + static_cast<std::ptrdiff_t>(index * n), n, out);
        };
        ASSERT_TRUE(two.Process(sweep, c.n, c.q, options, read));
        EXPECT_TRUE(SameBits(read, alone));

        const auto expected = tavrix::test::ReferenceRangeVelocityMap(burst, c.n, c.q, options);
        // Equal where the reference stands out of the rounding floor; below it both are floor.
        double peak = -std::numeric_limits<double>::infinity();
        for (double v : expected)
            peak = std::isfinite(v) ? std::max(peak, v) : peak;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (expected[i] > peak - 150.0)
                ASSERT_NEAR(alone[i], expected[i], 1e-6) << "value " << i;
            else
                ASSERT_LT(alone[i], peak - 100.0) << "value " << i;
        }
    }
}

TEST(FmcwRangeVelocityMapper, KeepsItsHelpersAcrossCallersAndEndsThemIdle) {
    // The acquisition worker may map with a mapper that another thread made and used.
    std::mt19937 random(9);
    const ComplexVector first = RandomBurst(random, 256 * 64),
                        second = RandomBurst(random, 256 * 64);
    std::vector<double> expected(kMapValues), map(kMapValues);
    ASSERT_TRUE(FmcwRangeVelocityMapper(1).Process(second, 256, 64, {}, expected));
    FmcwRangeVelocityMapper mapper(2);
    ASSERT_TRUE(mapper.Process(first, 256, 64, {}, map));
    std::thread worker([&] {
        for (int round = 0; round < 3; ++round)
            ASSERT_TRUE(mapper.Process(round % 2 ? first : second, 256, 64, {}, map));
    });
    worker.join();
    EXPECT_TRUE(SameBits(map, expected));

    // Ending a mapper whose helpers never started, or sleep between maps, must not hang.
    for (int i = 0; i < 4; ++i) {
        FmcwRangeVelocityMapper idle(2);
        if (i % 2) {
            ASSERT_TRUE(idle.Process(first, 256, 64, {}, map));
        }
    }
}
