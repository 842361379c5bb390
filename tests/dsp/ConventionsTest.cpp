#include "dsp/Decibel.h"
#include "dsp/DynamicRange.h"
#include "dsp/Peak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tavrix::dsp;

namespace {
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
} // namespace

TEST(Conventions, PeaksAreTheFirstLargestOfAClippedRangeAndDecibelsFitTheirRoom) {
    const std::vector<double> v = {3, 5, 5, 1};
    EXPECT_EQ(FindPeak(v, 2, 4), 2u);
    EXPECT_EQ(FindPeak(v, 3, 1), 3u); // empty
    EXPECT_EQ(FindPeak(v, 0, 99), 1u);
    EXPECT_EQ(FindTrough(std::vector<double>{2, 1, 1}, 0, 3), 1u);
    // Strict comparison: a leading NaN is kept, a later one never wins.
    EXPECT_EQ(FindPeak(std::vector<double>{kNaN, 9, 10}, 0, 3), 0u);
    EXPECT_EQ(FindPeak(std::vector<double>{1, kNaN, 0.5}, 0, 3), 0u);

    std::vector<double> db(2, 1.0);
    PowerDb(ComplexVector{{10, 0}, {0, -100}, {1, 1}}, db);
    EXPECT_EQ(db, (std::vector<double>{20.0, 40.0}));
}

TEST(AutoDynamicRange, TruncatedRunningMeanAndStrictlyLargestValue) {
    EXPECT_EQ(AutoMinimum(std::vector<double>{-10.7, kInf, -20.2}), -15);
    EXPECT_EQ(AutoMinimum(std::vector<double>{-0.9, -0.9, -0.9}), 0); // truncated at each step
    EXPECT_EQ(AutoMinimum(std::vector<double>{-7.0, -6.0}), -6);      // -13 / 2 toward zero
    EXPECT_EQ(AutoMinimum(std::vector<double>{kNaN, -kInf}), 0);
    EXPECT_EQ(AutoMinimum(std::vector<double>{1e300, 1e300}), std::numeric_limits<int>::max() / 2);

    EXPECT_EQ(AutoMaximum(std::vector<double>{-10.7, -3.9, -20.2}), -3);
    // A dead channel's NaN or infinite dB are no level to scale to.
    EXPECT_EQ(AutoMaximum(std::vector<double>{kNaN, 5, 7.9}), 7);
    EXPECT_EQ(AutoMaximum(std::vector<double>{-kInf, 1, kInf, kNaN}), 1);
    EXPECT_EQ(AutoMaximum(std::vector<double>{-1e300}), std::numeric_limits<int>::min());
    EXPECT_FALSE(AutoMaximum(std::vector<double>{}).has_value());
    EXPECT_FALSE(AutoMaximum(std::vector<double>{kNaN, -kInf}).has_value());

    // Scans in pieces (a wrapped waterfall history) give the result of one pass.
    const std::vector<double> all = {kNaN, 4.5, -2.25, 9.75, kInf, -30.5, 9.75};
    for (std::size_t cut = 0; cut <= all.size(); ++cut) {
        const Span<const double> whole(all);
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
