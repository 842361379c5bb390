// Detections in physical units: echoes synthesised at known ranges and velocities, run through
// the chains' numeric cores with noise, must come out once each where physics puts them, with
// the scales the settings give.

#include "radar/Detection.h"

#include "dsp/CwVelocity.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Fsk.h"
#include "radar/Pipeline.h"
#include "radar/Settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

namespace radar = tavrix::radar;
using namespace tavrix::dsp;

struct Echo {
    double cyclesPerSample; // beat (FMCW) or Doppler (CW) frequency
    double cyclesPerSweep;  // Doppler across the sweeps of a burst
    double amplitude;
};

// Q sweeps of N samples of complex echoes and complex noise of the given power.
ComplexVector Burst(std::size_t n, std::size_t sweeps, const std::vector<Echo>& echoes,
                    unsigned seed, double noisePower = 1.0) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, std::sqrt(0.5 * noisePower));
    ComplexVector x(n * sweeps);
    for (std::size_t q = 0; q < sweeps; ++q)
        for (std::size_t k = 0; k < n; ++k) {
            Complex v(noise(random), noise(random));
            for (const Echo& e : echoes)
                v += std::polar(e.amplitude, 2.0 * kPi *
                                                 (e.cyclesPerSample * static_cast<double>(k) +
                                                  e.cyclesPerSweep * static_cast<double>(q)));
            x[q * n + k] = v;
        }
    return x;
}

radar::DetectorSettings Detector() {
    radar::DetectorSettings d;
    d.enabled = true;
    d.pfa = 1e-6;
    return d;
}

radar::Settings Sweeps(int sampleWindowCode, std::uint32_t sweeps) {
    radar::Settings s;
    s.sampleWindowCode = sampleWindowCode;
    s.sweepCount = sweeps;
    return s;
}

} // namespace

TEST(Detection, RangeProfileTargetsComeOutOnceEachAtTheirRangeStrongestFirst) {
    // 128 samples zero-filled to 1024: each echo's Hamming main lobe spans some 32 bins, one
    // detection nonetheless, and noise bins eight apart are what the false-alarm law counts.
    const radar::Settings s = Sweeps(0, 1);
    const radar::DetectionScales scales = radar::DetectionScalesFor(s, radar::Chain::FmcwRange);
    EXPECT_EQ(scales.rangeBinsPerCell, 8u);
    const ComplexVector sweep = Burst(128, 1, {{120.0 / 1024, 0, 1.0}, {300.0 / 1024, 0, 4.0}}, 1);
    FmcwRangeProfiler profiler;
    std::vector<double> profile(kRangeBins);
    ASSERT_TRUE(profiler.Process(sweep, {}, profile));
    for (auto variant : {radar::DetectorSettings::CA, radar::DetectorSettings::OS}) {
        radar::DetectorSettings d = Detector();
        d.variant = variant;
        const std::vector<radar::Detection> found = radar::DetectInRangeProfile(profile, scales, d);
        ASSERT_EQ(found.size(), 2u) << "variant " << variant;
        const double rangeBin = s.maxRange() / kRangeBins;
        EXPECT_NEAR(*found[0].range_m, 300.0 * rangeBin, 1.01 * rangeBin);
        EXPECT_NEAR(*found[1].range_m, 120.0 * rangeBin, 1.01 * rangeBin);
        EXPECT_GT(found[0].snr_db, found[1].snr_db + 6.0);
        EXPECT_FALSE(found[0].velocity_mps);
    }
}

TEST(Detection, RangeVelocityMapTargetsReadTheirRangeAndSignedVelocity) {
    // 64 sweeps of 128 samples: 8 range and 16 Doppler bins per resolution cell. One target
    // approaches, one recedes.
    radar::Settings s = Sweeps(0, 64);
    s.displayMode = radar::kRangeVelocityMap;
    const radar::DetectionScales scales =
        radar::DetectionScalesFor(s, radar::Chain::FmcwRangeVelocity);
    EXPECT_EQ(scales.velocityBinsPerCell, 16u);
    const ComplexVector burst =
        Burst(128, 64, {{80.0 / 1024, -200.0 / 1024, 0.3}, {400.0 / 1024, 96.0 / 1024, 0.3}}, 2);
    RangeVelocityOptions options;
    options.rows = MapRows::NearFirst;
    FmcwRangeVelocityMapper mapper;
    radar::Result result;
    result.chain = radar::Chain::FmcwRangeVelocity;
    result.values.resize(kMapValues);
    ASSERT_TRUE(mapper.Process(burst, 128, 64, options, result.values));
    for (bool cross : {false, true}) {
        radar::DetectorSettings d = Detector();
        d.cross = cross;
        std::vector<radar::Detection> found = radar::DetectTargets(result, s, d);
        ASSERT_EQ(found.size(), 2u) << "cross " << cross;
        if (*found[0].range_m > *found[1].range_m)
            std::swap(found[0], found[1]);
        const double rangeBin = s.maxRange() / kRangeBins, velocityBin = s.maxVelocity() / 512;
        EXPECT_NEAR(*found[0].range_m, 80.0 * rangeBin, 1.01 * rangeBin);
        EXPECT_NEAR(*found[0].velocity_mps, -200.0 * velocityBin, 1.01 * velocityBin);
        EXPECT_NEAR(*found[1].range_m, 400.0 * rangeBin, 1.01 * rangeBin);
        EXPECT_NEAR(*found[1].velocity_mps, 96.0 * velocityBin, 1.01 * velocityBin);
    }
    // Nothing while the detector is off, nor on the velocity waterfall's row (averaged dB, no
    // power to detect on).
    radar::DetectorSettings off = Detector();
    off.enabled = false;
    EXPECT_TRUE(radar::DetectTargets(result, s, off).empty());
    s.displayMode = radar::kVelocityWaterfall;
    EXPECT_TRUE(radar::DetectTargets(result, s, Detector()).empty());
}

TEST(Detection, CwAndFskSpectraGiveVelocitiesAndPowerSnr) {
    // One Doppler line at 30 dB per bin (1024 samples of amplitude 1 in noise of power 1.024),
    // transformed whole: the SNR reads in dB of power although the CW spectrum holds dB of
    // magnitude and the FSK one dB of the product of two tones.
    const ComplexVector block = Burst(1024, 1, {{300.0 / 1024, 0, 1.0}}, 3, 1.024);
    std::vector<double> spectrum;
    CwDopplerSpectrum(block, false, spectrum);
    radar::DetectionScales scales;
    scales.velocitySpan = 12.5;
    // 64 training cells hold the noise estimate to about half a decibel.
    radar::DetectorSettings d = Detector();
    d.training = 32;
    std::vector<radar::Detection> found = radar::DetectInCwSpectrum(spectrum, scales, d);
    ASSERT_EQ(found.size(), 1u);
    // Position j holds bin (j + 513) mod 1024.
    EXPECT_DOUBLE_EQ(*found[0].velocity_mps, (300.0 - 513 + 1024) * 25.0 / 1024 - 12.5);
    EXPECT_FALSE(found[0].range_m);
    EXPECT_NEAR(found[0].snr_db, 30.0, 1.5);

    // FSK: a target at 7.3 m receding at 0.3125 vFSK (160 of 1024 Doppler bins, so that no
    // leakage lifts the noise estimate), 1024 sweeps of 128 samples with tones A and B; its
    // range comes from the tones' phases when the spectra are given.
    const std::size_t Ns = 128, sweeps = 1024;
    const double T = 1e-3, f0 = 24e9, range = 7.3;
    const FskScales fsk = ComputeFskScales(Ns, T * 1000.0, sweeps, f0);
    const double velocity = 2.0 * fsk.velocitySpan * 160.0 / 1024;
    std::mt19937_64 random(4);
    std::normal_distribution<double> noise(0.0, std::sqrt(0.5 * 0.1024)); // 40 dB per bin
    ComplexVector raw(sweeps * Ns);
    for (std::size_t j = 0; j < raw.size(); ++j) {
        const double t = static_cast<double>(j) * T / Ns;
        const double f = f0 + (j % Ns < Ns / 2 ? 0.5 : -0.5) * kFskToneSpacingHz;
        raw[j] = std::polar(1.0, 4.0 * kPi * f * (range + velocity * t) / kSpeedOfLight) +
                 Complex(noise(random), noise(random));
    }
    FskSpectra spectra;
    ASSERT_TRUE(ComputeFskSpectra(raw, Ns, sweeps, false, {}, spectra));
    scales.velocitySpan = fsk.velocitySpan;
    found = radar::DetectInFskSpectrum(spectra.combined, scales, d, &spectra);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NEAR(*found[0].velocity_mps, velocity, 2.0 * fsk.velocitySpan / 1023);
    // The range halfway through the tone-A samples, as the single target reads it.
    const double tA = ((sweeps - 1) / 2.0 + kFskToneAOffset / double(Ns)) * T;
    EXPECT_NEAR(std::remainder(*found[0].range_m - (range + velocity * tA), kFskRangeSpan), 0.0,
                0.15);
    // |A||B| of noise has mean pi/4 of the tones' power: a tone's SNR plus 1 dB.
    EXPECT_NEAR(found[0].snr_db, 41.0, 1.5);
    EXPECT_FALSE(radar::DetectInFskSpectrum(spectra.combined, scales, d)[0].range_m);
}
