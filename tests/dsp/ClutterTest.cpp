#include "dsp/Clutter.h"

#include <gtest/gtest.h>

using namespace tavrix::dsp;

namespace {

// Clutter state as the pipeline keeps it, with the call the chains make.
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

// a less the mean of `others`, sample by sample, within rounding.
void ExpectLessMean(const ComplexVector& actual, const ComplexVector& a,
                    std::initializer_list<ComplexVector> others) {
    for (std::size_t k = 0; k < a.size(); ++k) {
        Complex expected = a[k];
        for (const ComplexVector& o : others)
            expected -= o[k] / static_cast<double>(others.size());
        EXPECT_NEAR(std::abs(actual[k] - expected), 0.0, 1e-9) << "sample " << k;
    }
}

const ComplexVector kZero(4),
    kZero6(6), b1 = Block(10, 5), b2 = Block(17, -3), b3 = Block(-4, 8), b4 = Block(30, 1);

} // namespace

TEST(CancelDirectClutter, ReferenceIsTheFirstBlockAfterAResetUntilTheNext) {
    Canceller c;
    EXPECT_EQ(c.Run(b1, ClutterMode::Reference), kZero);
    ExpectLessMean(c.Run(b2, ClutterMode::Reference, 64), b2, {b1}); // count plays no part
    // Disabled leaves the data and a pending reset alone; it is carried out later.
    c.reset = true;
    EXPECT_EQ(c.Run(b2, ClutterMode::Disabled), b2);
    EXPECT_EQ(c.Run(b3, ClutterMode::Reference), kZero);
    ExpectLessMean(c.Run(b2, ClutterMode::Reference), b2, {b3});
    // Blocks of another length start afresh: stored ones are never read past their end.
    EXPECT_EQ(c.Run(Block(5, 5, 6), ClutterMode::Reference), kZero6);
}

TEST(CancelDirectClutter, MovingAverageIncludesTheCurrentBlockAndFollowsTheCount) {
    Canceller c;
    EXPECT_EQ(c.Run(b1, ClutterMode::MovingAverage, 2), kZero);
    ExpectLessMean(c.Run(b2, ClutterMode::MovingAverage, 2), b2, {b2, b1});
    ExpectLessMean(c.Run(b3, ClutterMode::MovingAverage, 2), b3, {b3, b2});
    // Raising the count lets the history grow from here on; lowering it drops at once.
    ExpectLessMean(c.Run(b4, ClutterMode::MovingAverage, 3), b4, {b4, b3, b2});
    ExpectLessMean(c.Run(b1, ClutterMode::MovingAverage, 2), b1, {b1, b4});
    EXPECT_EQ(c.Run(Block(3, 3, 6), ClutterMode::MovingAverage, 4), kZero6);
    EXPECT_EQ(c.history.size(), 1u);
    // Switching modes without a reset starts a new reference.
    EXPECT_EQ(c.Run(Block(9, 9, 6), ClutterMode::Reference), kZero6);
}
