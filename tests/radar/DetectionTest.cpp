// Detections: a CW line synthesised with noise reads its velocity and SNR; on the emulated
// board through the pipeline, the false-alarm rate and the detection figures promised.

#include "radar/Detection.h"

#include "dsp/CwVelocity.h"
#include "radar/Pipeline.h"
#include "tests/radar/Board.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

namespace radar = tavrix::radar;
using namespace tavrix::dsp;
using radar_test::Board;
using radar_test::target;

constexpr auto CA = radar::DetectorSettings::CA, OS = radar::DetectorSettings::OS;

radar::DetectorSettings Detector(double pfa = 1e-6, radar::DetectorSettings::Variant variant = CA,
                                 bool cross = false) {
    radar::DetectorSettings d;
    d.enabled = true;
    d.pfa = pfa;
    d.variant = variant;
    d.cross = cross;
    return d;
}

const int kModel = sim::defaultScene().deviceModel;

} // namespace

TEST(Detection, CwSpectrumGivesVelocityAndPowerSnr) {
    // A line at 30 dB per bin (amplitude 1 in noise of power 1.024, 1024 samples): the SNR
    // reads in dB of power although the spectrum holds dB of magnitude.
    std::mt19937_64 random(3);
    std::normal_distribution<double> noise(0.0, std::sqrt(0.5 * 1.024));
    ComplexVector block(1024);
    for (std::size_t k = 0; k < block.size(); ++k)
        block[k] =
            std::polar(1.0, 2.0 * kPi * 300.0 * k / 1024) + Complex(noise(random), noise(random));
    std::vector<double> spectrum;
    CwDopplerSpectrum(block, false, spectrum);
    radar::DetectionScales scales;
    scales.velocitySpan = 12.5;
    radar::DetectorSettings d = Detector();
    d.training = 32; // 64 training cells hold the noise estimate to about half a decibel
    std::vector<radar::Detection> found = radar::DetectInCwSpectrum(spectrum, scales, d);
    ASSERT_EQ(found.size(), 1u);
    // Position j holds bin (j + 513) mod 1024.
    EXPECT_DOUBLE_EQ(*found[0].velocity_mps, (300.0 - 513 + 1024) * 25.0 / 1024 - 12.5);
    EXPECT_NEAR(found[0].snr_db, 30.0, 1.5);
}

TEST(DetectionOnBoard, NoiseAloneFalseAlarmsAtTheConfiguredRatePerCell) {
    // Noise and I/Q offsets only. 1024 samples per sweep fill the transform: each bin is a
    // cell, so detections per bin are false alarms per cell, with or without the Hamming
    // window's correlation. The map of 1024 sweeps has half a million cells a frame to reach
    // 1e-5 (OS trains slowly on a window, so on a cross there).
    const std::vector<radar::DetectorSettings> onSweeps = {Detector(1e-3), Detector(1e-4),
                                                           Detector(1e-3, OS), Detector(1e-4, OS)},
                                               onMap = {Detector(1e-3), Detector(1e-4),
                                                        Detector(1e-5), Detector(1e-4, OS, true)};
    for (int k = 0; k < 3; ++k) { // Hamming, no window, the map
        SCOPED_TRACE(k);
        const bool map = k == 2;
        Board board(kModel, {}, map ? 6 : 5);
        board.settings.sampleWindowCode = 3;
        board.settings.hammingWindow = k != 1;
        if (map) {
            board.settings.displayMode = radar::kRangeVelocityMap;
            board.settings.sweepCount = 1024;
        }
        board.openWindows();
        const std::vector<radar::DetectorSettings>& detectors = map ? onMap : onSweeps;
        std::vector<double> found(detectors.size());
        double cells = 0;
        for (int f = 0; f < (map ? 12 : 2000); ++f) {
            board.run();
            cells += static_cast<double>(board.result.values.size());
            for (std::size_t i = 0; i < detectors.size(); ++i)
                found[i] += static_cast<double>(
                    radar::DetectTargets(board.result, board.settings, detectors[i]).size());
        }
        // Within a factor of 2 of each detector's false-alarm probability.
        for (std::size_t i = 0; i < detectors.size(); ++i) {
            EXPECT_GT(found[i] / cells, detectors[i].pfa / 2) << "detector " << i;
            EXPECT_LT(found[i] / cells, detectors[i].pfa * 2) << "detector " << i;
        }
    }
}

TEST(DetectionOnBoard, ThreeTargetsAtFifteenDbAreFoundInNearlyEveryFrameWhereTheyAre) {
    // The default scene's walker, cyclist and (moving) reflector: echoes of 0.42 counts in its
    // noise of 3 counts give about 16 to 18 dB in a cell of the map.
    const std::vector<sim::SceneTarget> targets = {target(5.0, 1.5, 0.42), target(14.0, 4.0, 0.42),
                                                   target(22.0, -7.0, 0.42)};
    constexpr int kFrames = 40;
    // Bins of one resolution cell: 128 samples and 64 sweeps, each transformed in 1024 points.
    constexpr double kRangeCell = 8, kVelocityCell = 16;
    struct Tally {
        int found = 0;
        double snr = 0, squaredRowError = 0;
    } tally[3];
    for (int f = 0; f < kFrames; ++f) {
        // A board each, so that the targets stay where the scene has them.
        Board board(kModel, targets, 100 + static_cast<std::uint64_t>(f));
        board.settings.displayMode = radar::kRangeVelocityMap;
        board.settings.detector = Detector();
        board.openWindows();
        board.run();
        for (std::size_t t = 0; t < targets.size(); ++t) {
            const auto [row, column] = board.alderMapCell(targets[t]);
            for (const radar::Detection& d : board.result.detections) {
                const double rowError = static_cast<double>(d.row) - row;
                if (std::abs(rowError) <= kRangeCell &&
                    std::abs(static_cast<double>(d.column) - column) <= kVelocityCell) {
                    ++tally[t].found;
                    tally[t].snr += d.snr_db;
                    tally[t].squaredRowError += rowError * rowError;
                    break;
                }
            }
        }
    }
    for (std::size_t t = 0; t < targets.size(); ++t) {
        SCOPED_TRACE(targets[t].range);
        const Tally& n = tally[t];
        EXPECT_GE(n.found, 0.95 * kFrames);
        // At the strength asked for, not far above it.
        EXPECT_GE(n.snr / n.found, 15.0);
        EXPECT_LE(n.snr / n.found, 20.0);
        // Within a row: the noise moves the peak about half of one, rounding another half.
        EXPECT_LT(std::sqrt(n.squaredRowError / n.found), 1.0);
    }
}

TEST(DetectionOnBoard, ActiveWindowsKeepDetectionToTheCellsTheirFiltersPass) {
    // 10..30 m and 10..40 m/s (on both sides of zero): of four echoes at 25 dB two lie inside,
    // one is slower, one farther. Training cells beyond the band's edges, weakened by the
    // filters, would let noise through as targets (nine in this frame).
    const std::vector<sim::SceneTarget> targets = {target(20.0, 15.0, 1.0),
                                                   target(20.0, -15.0, 1.0), target(20.0, 3.0, 1.0),
                                                   target(45.0, 15.0, 1.0)};
    Board board(kModel, targets, 7);
    board.settings.displayMode = radar::kRangeVelocityMap;
    board.settings.detector = Detector();
    board.openWindows();
    board.settings.rangeWindow = {10, 30};
    board.settings.velocityWindow = {10, 40};
    board.run(2);
    const double rmax = board.settings.maxRange(), vmax = board.settings.maxVelocity();
    const auto inside = [&](const radar::Detection& d) {
        return std::any_of(targets.begin(), targets.begin() + 2, [&](const sim::SceneTarget& t) {
            return std::abs(*d.range_m - t.rangeAt(board.middle())) < rmax / 64 &&
                   std::abs(*d.velocity_mps - t.velocity) < vmax / 32;
        });
    };
    const std::vector<radar::Detection>& found = board.result.detections;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_TRUE(inside(found[0]) && inside(found[1]));
    EXPECT_LT(*found[0].velocity_mps * *found[1].velocity_mps, 0.0);
    // Nothing while off, nor on the velocity waterfall's row (averaged dB).
    radar::DetectorSettings off = Detector();
    off.enabled = false;
    EXPECT_TRUE(radar::DetectTargets(board.result, board.settings, off).empty());
    board.settings.displayMode = radar::kVelocityWaterfall;
    EXPECT_TRUE(radar::DetectTargets(board.result, board.settings, Detector()).empty());
}
