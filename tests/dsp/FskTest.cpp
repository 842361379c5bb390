#include "dsp/Fsk.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tavrix::dsp;

namespace {

// Raw samples holding A and B as one clean line on a whole Doppler bin of all 1024 sweeps.
FskSpectra LineOnBin(int bin, double a, double b, Span<const Complex> filter = {}) {
    const std::size_t Ns = 128;
    ComplexVector block(std::size_t{1024} * Ns);
    for (std::size_t k = 0; k < 1024; ++k)
        for (std::size_t m = 0; m < Ns; ++m)
            block[k * Ns + m] =
                std::polar(m < Ns / 2 ? a : b, 2.0 * kPi * bin * static_cast<double>(k) / 1024.0);
    FskSpectra out;
    EXPECT_TRUE(ComputeFskSpectra(block, 128, 1024, false, filter, out));
    return out;
}

} // namespace

TEST(Fsk, MovingTargetsReadTheirRangeNotTheirDopplerTurnBetweenTheTones) {
    // Tone B is sampled half a sweep period after tone A; over that the target's line turns by
    // pi fd T, metres of range near the velocity limit. The range read is the target's halfway
    // through the tone-A samples, whichever way it moves and across the wrap at rFSK. With 128
    // samples a lag miscounted by the 5-sample offset is already 0.4 m off at 0.8 vFSK.
    struct Case {
        std::size_t Ns, sweeps;
        double T, f0, range, fraction; // velocity as a fraction of vFSK
        bool hamming;
    };
    for (const Case& c : {Case{128, 64, 1e-3, 24e9, 12.0, 0.8, false},
                          Case{1024, 256, 0.5e-3, 9.8e9, 0.3, 0.55, true},    // reads past 0
                          Case{256, 64, 2e-3, 2.45e9, 24.7, -0.63, false}}) { // past rFSK
        const double vFSK = ComputeFskScales(c.Ns, c.T * 1e3, c.sweeps, c.f0).velocitySpan;
        const double v = c.fraction * vFSK;
        SCOPED_TRACE(testing::Message() << c.Ns << " samples, " << v << " m/s");
        // As the board takes them: tone A, 6 MHz above tone B, in the first half of each sweep
        // period, each echo at 4 pi f r(t) / c, t counted from the first sample.
        ComplexVector block(c.sweeps * c.Ns);
        for (std::size_t j = 0; j < block.size(); ++j) {
            const double t = static_cast<double>(j) * c.T / static_cast<double>(c.Ns);
            const double f = c.f0 + (j % c.Ns < c.Ns / 2 ? 0.5 : -0.5) * kFskToneSpacingHz;
            block[j] = std::polar(1.0, 4.0 * kPi * f * (c.range + v * t) / kSpeedOfLight);
        }
        FskSpectra spectra;
        ASSERT_TRUE(ComputeFskSpectra(block, c.Ns, c.sweeps, c.hamming, {}, spectra));
        const FskTarget t = DetectFskTarget(spectra, {}, -100.0, vFSK);
        ASSERT_TRUE(t.detected);
        EXPECT_NEAR(t.velocity, v, 0.01 * vFSK); // on the line, within the axis' 1023 steps
        const double tA = ((c.sweeps - 1) / 2.0 + kFskToneAOffset / double(c.Ns)) * c.T;
        const double expected = c.range + v * tA;
        EXPECT_LE(std::abs(std::remainder(t.range - expected, kFskRangeSpan)), 0.02)
            << t.range << " m for " << expected;
    }
}

TEST(Fsk, CombinesThePlainProductFilteredByBinAndDetectsStrictlyAboveTheThreshold) {
    // A = 3, B = 2 on bin -200: each transform gives 1024 times the amplitude, the product
    // 6 x 1024^2, divided by 1024 before squaring: 20 log10(6 x 1024).
    const double v = ComputeFskScales(1024, 1.0, 64, 24e9).velocitySpan;
    EXPECT_NEAR(v, 3.1228, 1e-4);
    FskSpectra spectra = LineOnBin(-200, 3.0, 2.0);
    const double peak = DetectFskTarget(spectra, {}, -100.0, v).peakDb;
    EXPECT_NEAR(peak, 20.0 * std::log10(6.0 * 1024), 1e-9);
    const FskTarget at = DetectFskTarget(spectra, {}, peak, v);
    EXPECT_FALSE(at.detected);
    EXPECT_EQ(at.peak, 312u); // the panel still shows the level
    const FskTarget below = DetectFskTarget(spectra, {}, std::nextafter(peak, -1e9), v);
    EXPECT_TRUE(below.detected);
    EXPECT_DOUBLE_EQ(below.velocity, FskVelocityAt(312, v));
    EXPECT_EQ(DetectFskTarget(spectra, FskWindowPositions(v, v, v), -1000.0, v).peak, 1023u);

    ComplexVector filter(1024, Complex(1.0, 0.0));
    filter[1024 - 200] = 0.5; // FFT bin, not display position
    const FskSpectra filtered = LineOnBin(-200, 3.0, 2.0, filter);
    EXPECT_NEAR(filtered.combined[312], spectra.combined[312] - 20.0 * std::log10(2.0), 1e-9);
    // A phase a hair below zero wraps to exactly 2 pi: the range is rFSK, one past the row.
    EXPECT_EQ(FskTrackPosition(FskRangeFromPhase(-1e-300)), 1023u);
}

TEST(Fsk, RefusesBlocksThatDoNotHoldTheSweeps) {
    // The last tone-B sample of 8 sweeps of 128 is sample 7 x 128 + 69.
    const ComplexVector block(7 * 128 + 70, Complex(1.0, 1.0));
    FskSpectra out;
    out.combined = {42.0};
    EXPECT_FALSE(ComputeFskSpectra({block.data(), block.size() - 1}, 128, 8, false, {}, out));
    EXPECT_FALSE(ComputeFskSpectra(block, 128, 8, false, ComplexVector(10), out));
    EXPECT_EQ(out.combined, std::vector<double>{42.0});
    EXPECT_TRUE(ComputeFskSpectra(block, 128, 8, false, {}, out));
}
