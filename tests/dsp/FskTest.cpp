#include "dsp/Fsk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tavrix::dsp;

namespace {

constexpr double kC = 299792458.0;

// Raw counts of an FSK return: tone A in the first half of each sweep period, tone B in the
// second, both on one Doppler line that runs on through the whole block, B offset in phase
// by -dphi; on top the converters' offsets.
ComplexVector FskBlock(const FskScales& s, std::uint32_t Ns, double fd, double dphi) {
    ComplexVector block(static_cast<std::size_t>(s.sampleCount));
    for (std::size_t k = 0; k < block.size(); ++k) {
        const double phase = 2.0 * kPi * fd * static_cast<double>(k) / s.sampleRate + 0.4;
        const bool toneB = k % Ns >= Ns / 2;
        block[k] = Complex(32768.0, 16384.0) + std::polar(2000.0, toneB ? phase - dphi : phase);
    }
    return block;
}

// Raw samples holding A and B as one clean line on a whole Doppler bin of all 1024 sweeps.
ComplexVector LineBlock(int bin, double a, double b) {
    const std::size_t Ns = 128;
    ComplexVector block(std::size_t{1024} * Ns);
    for (std::size_t k = 0; k < 1024; ++k) {
        const double phase = 2.0 * kPi * bin * static_cast<double>(k) / 1024.0;
        for (std::size_t m = 0; m < Ns; ++m)
            block[k * Ns + m] = std::polar(m < Ns / 2 ? a : b, phase);
    }
    return block;
}

FskSpectra LineOnBin(int bin, double a, double b) {
    FskSpectra out;
    EXPECT_TRUE(ComputeFskSpectra(LineBlock(bin, a, b), 128, 1024, false, {}, out));
    return out;
}

} // namespace

TEST(Fsk, WorkedNumbers) {
    const FskScales s = ComputeFskScales(1024, 1.0, 64, 24e9);
    EXPECT_NEAR(s.velocitySpan, 3.1228, 1e-4);
    EXPECT_EQ(s.toneBOffset, 517);
    EXPECT_EQ(s.sampleCount, 65536);
    EXPECT_EQ(s.timeoutMs, 1128);
    EXPECT_EQ(ComputeFskScales(128, 1.0, 64, 24e9).toneBOffset, 69);
    EXPECT_EQ(ComputeFskScales(256, 1.0, 64, 24e9).toneBOffset, 133);
    EXPECT_EQ(ComputeFskScales(512, 1.0, 64, 24e9).toneBOffset, 261);
    EXPECT_NEAR(kFskRangeSpan, 24.982704833333333, 1e-12);
    EXPECT_NEAR(FskRangeFromPhase(kPi), kFskRangeSpan / 2, 1e-12);
}

TEST(Fsk, ToneSplitRecoversVelocityAndRange) {
    const double f0 = 24e9;
    const std::uint32_t Ns = 256;
    const FskScales s = ComputeFskScales(Ns, 1.0, 256, f0);
    const double step = 2.0 * s.velocitySpan / 1023;
    for (double v : {1.2, -2.05}) {
        for (double dphi : {1.3, 5.9}) {
            SCOPED_TRACE(testing::Message() << "v " << v << " dphi " << dphi);
            const double fd = 2.0 * v * f0 / kC;
            FskSpectra spectra;
            ASSERT_TRUE(ComputeFskSpectra(FskBlock(s, Ns, fd, dphi), Ns, 256, true, {}, spectra));
            EXPECT_EQ(spectra.combined[512], spectra.combined[513]);
            const FskTarget t = DetectFskTarget(spectra, {}, 0.0, s.velocitySpan);
            ASSERT_TRUE(t.detected);
            EXPECT_NEAR(t.velocity, v, 1.5 * step);
            // B is sampled h - 5 samples (half a period) after A, so the Doppler line adds
            // 2 pi fd T / 2 to the phase of B.
            const double shift = 2.0 * kPi * fd * (s.toneBOffset - 5) / s.sampleRate;
            EXPECT_NEAR(t.range, FskRangeFromPhase(dphi - shift), 1e-6);
        }
    }
}

TEST(Fsk, CombinesThePlainProductScaledBeforeSquaring) {
    // A = 3, B = 2 on bin 100: each transform gives 1024 times the amplitude, the product
    // 6 x 1024^2, divided by 1024 before squaring: 20 log10(6 x 1024).
    const FskSpectra spectra = LineOnBin(100, 3.0, 2.0);
    const FskTarget t = DetectFskTarget(spectra, {}, 0.0, 3.0);
    EXPECT_EQ(t.peak, 612u);
    EXPECT_NEAR(t.peakDb, 20.0 * std::log10(6.0 * 1024), 1e-9);

    // The velocity filter multiplies the product by FFT bin, not by display position.
    ComplexVector filter(1024, Complex(1.0, 0.0));
    filter[100] = 0.5;
    FskSpectra filtered;
    ASSERT_TRUE(ComputeFskSpectra(LineBlock(100, 3.0, 2.0), 128, 1024, false, filter, filtered));
    EXPECT_NEAR(filtered.combined[612], spectra.combined[612] - 20.0 * std::log10(2.0), 1e-9);
}

TEST(Fsk, DetectionNeedsAPeakStrictlyAboveTheThreshold) {
    const FskSpectra spectra = LineOnBin(-200, 3.0, 2.0);
    const double peak = DetectFskTarget(spectra, {}, -100.0, 3.0).peakDb;
    const FskTarget at = DetectFskTarget(spectra, {}, peak, 3.0);
    EXPECT_FALSE(at.detected);
    EXPECT_EQ(at.range, 0.0);
    EXPECT_EQ(at.velocity, 0.0);
    EXPECT_EQ(at.peak, 312u); // the panel still shows the level
    const FskTarget below = DetectFskTarget(spectra, {}, std::nextafter(peak, -1e9), 3.0);
    EXPECT_TRUE(below.detected);
    EXPECT_DOUBLE_EQ(below.velocity, FskVelocityAt(312, 3.0));
}

TEST(Fsk, VelocityOfPositionsAndWindows) {
    const double v = 3.1228;
    EXPECT_DOUBLE_EQ(FskVelocityAt(1023, v), v);
    EXPECT_DOUBLE_EQ(FskVelocityAt(0, v), -v);
    EXPECT_NEAR(FskVelocityAt(512, v), v / 1023, 1e-15);

    const FskWindow open = FskWindowPositions(-v, v, v);
    EXPECT_EQ(open.lo, 0u);
    EXPECT_EQ(open.hi, 1024u);
    const FskWindow half = FskWindowPositions(0.0, v / 2, v);
    EXPECT_EQ(half.lo, 512u);
    EXPECT_EQ(half.hi, 768u);
    // A window squeezed onto the top edge still names a real position.
    const FskWindow top = FskWindowPositions(v, v, v);
    EXPECT_EQ(top.lo, 1023u);
    EXPECT_EQ(top.hi, 1024u);

    // The search stays in the window: the line at 612 is outside [0, 600).
    FskSpectra spectra = LineOnBin(100, 3.0, 2.0);
    const FskTarget inside = DetectFskTarget(spectra, {0, 600}, -1000.0, v);
    EXPECT_LT(inside.peak, 600u);
    EXPECT_LT(inside.trough, 600u);
    const FskTarget edge = DetectFskTarget(spectra, top, -1000.0, v);
    EXPECT_EQ(edge.peak, 1023u);

    FlattenOutsideWindow(spectra.combined, {0, 600}, inside.trough);
    const double floor = spectra.combined[inside.trough];
    EXPECT_EQ(spectra.combined[600], floor);
    EXPECT_EQ(spectra.combined[612], floor);
    EXPECT_EQ(spectra.combined[1023], floor);
    EXPECT_NE(spectra.combined[inside.peak], floor);
}

TEST(Fsk, PhaseWrapsAndTheTrackStaysInsideItsRow) {
    EXPECT_NEAR(FskRangeFromPhase(-0.1), 24.5851, 1e-4);
    EXPECT_EQ(FskRangeFromPhase(0.0), 0.0);
    EXPECT_NEAR(FskRangeFromPhase(2.0 * kPi + 1.0), FskRangeFromPhase(1.0), 1e-12);

    EXPECT_EQ(FskTrackPosition(0.0), 0u);
    EXPECT_EQ(FskTrackPosition(kFskRangeSpan / 2), 512u);
    // A phase a hair below zero wraps to exactly 2 pi: the range is rFSK, one past the row.
    const double wrapped = FskRangeFromPhase(-1e-300);
    EXPECT_GE(wrapped / kFskRangeSpan * 1024, 1023.999);
    EXPECT_EQ(FskTrackPosition(wrapped), 1023u);
    EXPECT_EQ(FskTrackPosition(1e300), 1023u);
    EXPECT_EQ(FskTrackPosition(std::numeric_limits<double>::quiet_NaN()), 0u);
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
