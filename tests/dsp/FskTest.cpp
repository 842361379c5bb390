#include "dsp/Fsk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

TEST(Fsk, WorkedNumbersAndTheTrackRow) {
    const FskScales s = ComputeFskScales(1024, 1.0, 64, 24e9);
    EXPECT_NEAR(s.velocitySpan, 3.1228, 1e-4);
    EXPECT_EQ(s.toneBOffset, 517);
    EXPECT_EQ(s.sampleCount, 65536);
    EXPECT_EQ(s.timeoutMs, 1128);
    EXPECT_EQ(ComputeFskScales(128, 1.0, 64, 24e9).toneBOffset, 69);
    EXPECT_NEAR(kFskRangeSpan, 24.982704833333333, 1e-12);
    EXPECT_NEAR(FskRangeFromPhase(kPi), kFskRangeSpan / 2, 1e-12);
    EXPECT_NEAR(FskRangeFromPhase(-0.1), 24.5851, 1e-4); // wrapped into [0, 2 pi)
    // A phase a hair below zero wraps to exactly 2 pi: the range is rFSK, one past the row.
    EXPECT_EQ(FskTrackPosition(FskRangeFromPhase(-1e-300)), 1023u);
    EXPECT_EQ(FskTrackPosition(std::numeric_limits<double>::quiet_NaN()), 0u);
}

TEST(Fsk, CombinesThePlainProductScaledBeforeSquaringAndFilteredByBin) {
    // A = 3, B = 2 on bin 100: each transform gives 1024 times the amplitude, the product
    // 6 x 1024^2, divided by 1024 before squaring: 20 log10(6 x 1024).
    const FskSpectra spectra = LineOnBin(100, 3.0, 2.0);
    const FskTarget t = DetectFskTarget(spectra, {}, 0.0, 3.0);
    EXPECT_EQ(t.peak, 612u);
    EXPECT_NEAR(t.peakDb, 20.0 * std::log10(6.0 * 1024), 1e-9);
    EXPECT_EQ(spectra.combined[512], spectra.combined[513]); // zero frequency repeated

    ComplexVector filter(1024, Complex(1.0, 0.0));
    filter[100] = 0.5; // FFT bin, not display position
    const FskSpectra filtered = LineOnBin(100, 3.0, 2.0, filter);
    EXPECT_NEAR(filtered.combined[612], spectra.combined[612] - 20.0 * std::log10(2.0), 1e-9);
}

TEST(Fsk, DetectionNeedsAPeakStrictlyAboveTheThresholdInsideTheWindow) {
    const double v = 3.0;
    FskSpectra spectra = LineOnBin(-200, 3.0, 2.0);
    const double peak = DetectFskTarget(spectra, {}, -100.0, v).peakDb;
    const FskTarget at = DetectFskTarget(spectra, {}, peak, v);
    EXPECT_FALSE(at.detected);
    EXPECT_EQ(at.velocity, 0.0);
    EXPECT_EQ(at.peak, 312u); // the panel still shows the level
    const FskTarget below = DetectFskTarget(spectra, {}, std::nextafter(peak, -1e9), v);
    EXPECT_TRUE(below.detected);
    EXPECT_DOUBLE_EQ(below.velocity, FskVelocityAt(312, v));

    const FskWindow top = FskWindowPositions(v, v, v); // squeezed onto the edge
    EXPECT_EQ(top.hi, 1024u);
    EXPECT_EQ(DetectFskTarget(spectra, top, -1000.0, v).peak, 1023u);

    const FskTarget inside = DetectFskTarget(spectra, {400, 1024}, -1000.0, v);
    EXPECT_GE(inside.peak, 400u);
    FlattenOutsideWindow(spectra.combined, {400, 1024}, inside.trough);
    EXPECT_EQ(spectra.combined[312], spectra.combined[inside.trough]);
    EXPECT_EQ(spectra.combined[0], spectra.combined[inside.trough]);
}

TEST(Fsk, RefusesBlocksThatDoNotHoldTheSweeps) {
    // The last tone-B sample of 8 sweeps of 128 is sample 7 x 128 + 69.
    const ComplexVector block(7 * 128 + 70, Complex(1.0, 1.0));
    FskSpectra out;
    out.combined = {42.0};
    EXPECT_FALSE(ComputeFskSpectra({block.data(), block.size() - 1}, 128, 8, false, {}, out));
    EXPECT_FALSE(ComputeFskSpectra(block, 128, 0, false, {}, out));
    EXPECT_FALSE(ComputeFskSpectra(ComplexVector(1100000), 128, 1025, false, {}, out));
    EXPECT_FALSE(ComputeFskSpectra(block, 128, 8, false, ComplexVector(10), out));
    EXPECT_EQ(out.combined, std::vector<double>{42.0});
    EXPECT_TRUE(ComputeFskSpectra(block, 128, 8, false, {}, out));
    EXPECT_EQ(out.combined.size(), 1024u);
}
