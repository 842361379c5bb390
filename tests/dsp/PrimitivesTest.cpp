#include "dsp/Bessel.h"
#include "dsp/Blocks.h"
#include "dsp/Decibel.h"
#include "dsp/DynamicRange.h"
#include "dsp/Peak.h"
#include "dsp/Window.h"

#include <gtest/gtest.h>

#include <random>

#include <cmath>
#include <limits>

using namespace tavrix::dsp;

namespace {
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
} // namespace

TEST(BesselI0, MatchesTheSeriesOnBothBranches) {
    // Power-series values; the approximations hold to about 2e-7.
    for (const auto& [x, i0] : {std::pair{1.0, 1.2660658777520082}, {-5.0, 27.23987182360445}})
        EXPECT_NEAR(BesselI0(x) / i0, 1.0, 5e-7) << x;
    EXPECT_NEAR(BesselI0(std::nextafter(3.75, 0.0)) / BesselI0(3.75), 1.0, 1e-6);
}

TEST(Blocks, DcAndAmplitudeCorrectionsWorkOnEachWholeBlockInTurn) {
    ComplexVector data = {{1, 10}, {3, 10}, {5, 40}, {100, 0}, {300, 2}, {200, 4}, {7, 7}};
    SubtractDC(data, 3, 5); // asks for 5 blocks, two fit; the last sample is no block's
    EXPECT_EQ(data,
              (ComplexVector{{-2, -10}, {0, -10}, {2, 20}, {-100, -2}, {100, 0}, {0, 2}, {7, 7}}));
    // DC before amplitude; I and Q each reach peak one, block by block (L = 5 / 2 = 2).
    ComplexVector blocks = {{1, 1}, {3, 3}, {10, 10}, {30, 30}, {99, 99}};
    ApplyIQCorrections(blocks, 2, true, true);
    EXPECT_EQ(blocks, (ComplexVector{{-1, -1}, {1, 1}, {-1, -1}, {1, 1}, {99, 99}}));
}

TEST(HammingWindow, UsesTheDivisorLMinusTwoOnEveryWholeBlock) {
    const std::vector<double> w = HammingWindow(1024);
    EXPECT_DOUBLE_EQ(w[0], 0.08);
    EXPECT_DOUBLE_EQ(w[511], 1.0);
    EXPECT_GT(w[1023], 0.08 + 1e-6); // would be 0.08 with the divisor L - 1

    const std::vector<double> w8 = HammingWindow(8);
    ComplexVector data(19, Complex(2.0, -3.0));
    ApplyHammingWindow(data, 8, 4); // two blocks fit, three samples are left over
    for (std::uint32_t n = 0; n < 16; ++n)
        EXPECT_EQ(data[n], Complex(2.0 * w8[n % 8], -3.0 * w8[n % 8])) << n;
    EXPECT_EQ(data[16], Complex(2.0, -3.0));
    ComplexVector ones(16, Complex(1, 1)); // another length, another window
    ApplyHammingWindow(ones, 16, 1);
    EXPECT_EQ(ones[1].real(), HammingWindow(16)[1]);
}

TEST(Conventions, PeaksAreTheFirstLargestOfAClippedRangeAndDecibelsFitTheirRoom) {
    const std::vector<double> v = {3, 5, 5, 1};
    EXPECT_EQ(FindPeak(v, 2, 4), 2u);
    EXPECT_EQ(FindPeak(v, 0, 99), 1u);
    EXPECT_EQ(FindTrough(std::vector<double>{2, 1, 1}, 0, 3), 1u);
    EXPECT_EQ(FindTrough(std::vector<double>{2, 1, 0, 0}, 0, 4), 2u);
    EXPECT_EQ(FindPeak(std::vector<double>{1, kNaN, 0.5}, 0, 3), 0u); // NaN never wins
    EXPECT_EQ(FindPeak(std::vector<double>{kNaN, 1, 2}, 0, 3), 0u);   // unless it comes first
    EXPECT_EQ(FindPeak(v, 4, 9), 4u);                                 // nothing left after clipping

    std::vector<double> db(2, 1.0);
    PowerDb(ComplexVector{{10, 0}, {0, -100}, {1, 1}}, db);
    EXPECT_EQ(db, (std::vector<double>{20.0, 40.0}));
}

TEST(Conventions, PeakSearchAgreesWithTheOneComparisonAtATimeScanWhereverThePeakLies) {
    // Few levels, so the largest repeats; NaNs and infinities anywhere; in odd rounds the
    // largest is a zero of either sign.
    const double levels[2][6] = {{kNaN, -kInf, -1, 0, 1, 2}, {kNaN, -kInf, -3, -1, -0.0, 0.0}};
    std::mt19937 random(7);
    for (std::size_t size : {1u, 2u, 7u, 8u, 9u, 17u, 513u}) {
        for (std::size_t round = 0; round < 40; ++round) {
            std::vector<double> v(size);
            for (double& x : v)
                x = levels[round % 2][random() % 6];
            const std::size_t begin = round % 3 == 0 ? 0 : round % size;
            v[begin] = v[begin] == v[begin] ? v[begin] : -kInf; // a NaN first wins outright
            std::size_t scanned = begin;
            for (std::size_t i = begin + 1; i < size; ++i)
                if (v[i] > v[scanned])
                    scanned = i;
            EXPECT_EQ(FindPeak(v, begin, size), scanned) << size << " " << round;
        }
    }
}

TEST(AutoDynamicRange, TheSumOfALargeMapIsTheOneOfAddingOneValueAtATime) {
    const auto plain = [](const std::vector<double>& values) {
        std::int32_t sum = 0;
        for (double v : values)
            if (std::isfinite(v))
                sum = TruncateToInt32(static_cast<double>(sum) + v);
        return sum;
    };
    // Rows summarised where they are made and joined in order: the same sum, mean and maximum,
    // for rows of whole runs and rows with a tail.
    const auto joinRows = [&plain](const std::vector<double>& map, double centre) {
        for (std::size_t row : {1024, 1000}) {
            std::vector<LevelSummary> rows;
            TruncatedMeanScan joined;
            for (std::size_t at = 0; at < map.size(); at += row) {
                const Span<const double> values(map.data() + at, std::min(row, map.size() - at));
                rows.push_back(SummarizeLevels(values));
                joined.Add(rows.back(), values);
            }
            EXPECT_EQ(joined.Sum(), plain(map)) << centre << ", rows of " << row;
            EXPECT_EQ(AutoMinimum(rows, map, row), AutoMinimum(map)) << centre << ", rows " << row;
            EXPECT_EQ(AutoMaximum(Span<const LevelSummary>(rows)), AutoMaximum(map)) << centre;
        }
    };
    std::mt19937_64 rng(5);
    // Levels that keep the sum above zero, below it, around it, and far enough out to saturate.
    for (double centre : {15.0, -15.0, 0.0, 4e6, -4e6}) {
        std::normal_distribution<double> level(centre, 15.0);
        std::vector<double> map(313 * 64); // whole blocks of 64: the last ends the vector
        for (double& v : map)
            v = level(rng);
        // Whole numbers and dead cells, and one part a hair from the next whole number.
        for (std::size_t i = 900; i < map.size(); i += 1499)
            map[i] = std::round(map[i]);
        map[5120] = kNaN; // first of its block
        map[9000] = -kInf;
        map[12000] = kInf;
        map[3000] = std::floor(map[3000]) + 1 - 1e-13;
        joinRows(map, centre);
        // Such parts all over.
        for (std::size_t i = 300; i < map.size(); i += 997)
            map[i] = std::floor(map[i]) + 1 - 1e-13;
        for (std::size_t i = 700; i < map.size(); i += 1999)
            map[i] = std::ceil(map[i]) - 1 + 1e-13;
        TruncatedMeanScan scan;
        scan.Add(map);
        EXPECT_EQ(scan.Sum(), plain(map)) << centre;
        joinRows(map, centre);
    }
}

TEST(AutoDynamicRange, TruncatedRunningMeanAndStrictlyLargestValue) {
    EXPECT_EQ(AutoMinimum(std::vector<double>{1e300, 1e300}), std::numeric_limits<int>::max() / 2);
    // A dead channel's NaN or infinite dB are no level to scale to.
    EXPECT_EQ(AutoMaximum(std::vector<double>{-kInf, 1, kInf, kNaN}), 1);
    EXPECT_FALSE(AutoMaximum(std::vector<double>{kNaN, -kInf}).has_value());
    // Scans in pieces (a wrapped waterfall history) give the result of one pass.
    const std::vector<double> all = {kNaN, 4.5, -2.25, 9.75, kInf, -30.5, 9.75};
    EXPECT_EQ(AutoMinimum(all), -2); // running sum truncated: 4, 1, 10, -20, -10; then / 5
    EXPECT_EQ(AutoMaximum(all), 9);
    const Span<const double> whole(all);
    for (std::size_t cut = 0; cut <= all.size(); ++cut) {
        MaximumScan max;
        TruncatedMeanScan mean;
        for (Span<const double> piece :
             {whole.subspan(0, cut), whole.subspan(cut, all.size() - cut)}) {
            max.Add(piece);
            mean.Add(piece);
        }
        EXPECT_EQ(max.Value(), 9.75) << cut;
        EXPECT_EQ(mean.Value(), AutoMinimum(all)) << cut;
    }
}
