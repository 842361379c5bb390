#include "dsp/Clutter.h"

#include <gtest/gtest.h>

using namespace tavrix::dsp;

namespace {

// Clutter state as the main window keeps it, with the call the chains make.
struct Canceller {
    bool reset = true;
    ComplexVector reference;
    std::deque<ComplexVector> history;

    ComplexVector Run(ComplexVector block, ClutterMode mode, int count = 2) {
        CancelDirectClutter(block, mode, count, reset, reference, history);
        return block;
    }
};

ComplexVector Block(double re, double im, std::size_t n = 4) {
    ComplexVector b(n);
    for (std::size_t k = 0; k < n; ++k)
        b[k] = Complex(re + static_cast<double>(k), im - 2.0 * static_cast<double>(k));
    return b;
}

void ExpectNear(const ComplexVector& actual, const ComplexVector& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t k = 0; k < actual.size(); ++k)
        EXPECT_NEAR(std::abs(actual[k] - expected[k]), 0.0, 1e-9) << "sample " << k;
}

// (a - b) * scale, sample by sample.
ComplexVector Difference(const ComplexVector& a, const ComplexVector& b, double scale = 1.0) {
    ComplexVector r(a.size());
    for (std::size_t k = 0; k < r.size(); ++k)
        r[k] = (a[k] - b[k]) * scale;
    return r;
}

const ComplexVector kZero(4, Complex(0, 0));

} // namespace

TEST(CancelDirectClutter, ReferenceIsTheFirstBlockAfterAResetUntilTheNext) {
    Canceller c;
    const ComplexVector b1 = Block(10, 5), b2 = Block(17, -3), b3 = Block(-4, 8);

    EXPECT_EQ(c.Run(b1, ClutterMode::Reference), kZero);
    EXPECT_FALSE(c.reset);
    EXPECT_EQ(c.Run(b1, ClutterMode::Reference), kZero);
    ExpectNear(c.Run(b2, ClutterMode::Reference, 64), Difference(b2, b1)); // count plays no part
    ExpectNear(c.Run(b3, ClutterMode::Reference, 3), Difference(b3, b1));

    c.reset = true;
    EXPECT_EQ(c.Run(b3, ClutterMode::Reference), kZero);
    ExpectNear(c.Run(b2, ClutterMode::Reference), Difference(b2, b3));
}

TEST(CancelDirectClutter, DisabledLeavesDataAndAPendingResetAlone) {
    Canceller c;
    const ComplexVector b1 = Block(10, 5), b2 = Block(17, -3);
    c.Run(b1, ClutterMode::Reference);
    c.reset = true;
    EXPECT_EQ(c.Run(b2, ClutterMode::Disabled), b2);
    EXPECT_TRUE(c.reset);
    // The pending reset is carried out once a mode is on again.
    EXPECT_EQ(c.Run(b2, ClutterMode::Reference), kZero);
}

TEST(CancelDirectClutter, MovingAverageIncludesTheCurrentBlockAndFollowsTheCount) {
    Canceller c;
    const ComplexVector b1 = Block(10, 5), b2 = Block(17, -3), b3 = Block(-4, 8), b4 = Block(30, 1),
                        b5 = Block(2, 2);

    EXPECT_EQ(c.Run(b1, ClutterMode::MovingAverage, 2), kZero);
    ExpectNear(c.Run(b2, ClutterMode::MovingAverage, 2), Difference(b2, b1, 0.5));
    ExpectNear(c.Run(b3, ClutterMode::MovingAverage, 2), Difference(b3, b2, 0.5));

    // Raising the count lets the history grow from here on.
    ComplexVector mean = b4;
    for (std::size_t k = 0; k < mean.size(); ++k)
        mean[k] = (b4[k] + b3[k] + b2[k]) / 3.0;
    ExpectNear(c.Run(b4, ClutterMode::MovingAverage, 3), Difference(b4, mean));
    EXPECT_EQ(c.history.size(), 3u);

    // Lowering it drops the oldest blocks at once.
    ExpectNear(c.Run(b5, ClutterMode::MovingAverage, 2), Difference(b5, b4, 0.5));
    EXPECT_EQ(c.history.size(), 2u);

    c.reset = true;
    EXPECT_EQ(c.Run(b2, ClutterMode::MovingAverage, 2), kZero);
    EXPECT_EQ(c.history.size(), 1u);
}

TEST(CancelDirectClutter, StoredBlocksOfAnotherLengthAreNeverReadPastTheirEnd) {
    Canceller c;
    c.Run(Block(1, 1, 4), ClutterMode::Reference);
    // A longer block without a reset: it becomes the new reference.
    EXPECT_EQ(c.Run(Block(5, 5, 8), ClutterMode::Reference), ComplexVector(8, Complex(0, 0)));

    Canceller m;
    m.Run(Block(1, 1, 4), ClutterMode::MovingAverage, 4);
    m.Run(Block(2, 1, 4), ClutterMode::MovingAverage, 4);
    EXPECT_EQ(m.Run(Block(3, 3, 6), ClutterMode::MovingAverage, 4),
              ComplexVector(6, Complex(0, 0)));
    EXPECT_EQ(m.history.size(), 1u);

    // The moving average's reset empties the reference; switching modes without a reset
    // then starts a new reference instead of subtracting a missing one.
    EXPECT_TRUE(m.reference.empty());
    EXPECT_EQ(m.Run(Block(9, 9, 6), ClutterMode::Reference), ComplexVector(6, Complex(0, 0)));

    // A count below 1 still keeps the current block.
    Canceller z;
    EXPECT_EQ(z.Run(Block(4, 4), ClutterMode::MovingAverage, 0), kZero);
    EXPECT_EQ(z.Run(ComplexVector{}, ClutterMode::MovingAverage, 2), ComplexVector{});
}
