// Targets placed in the emulated board's scene must come out of each chain where physics puts
// them; expected figures come from the device-model table's numbers, not from the settings.

#include "radar/Pipeline.h"

#include "dsp/CwVelocity.h"
#include "dsp/DynamicRange.h"
#include "tests/radar/Board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <numeric>

namespace {

namespace radar = tavrix::radar;
using namespace tavrix::dsp;
using radar_test::Board;
using radar_test::target;

constexpr int kAlder = 0, kDogwood = 3, kElm = 4, kGinkgo = 6, kHazel = 7;

// Distance between two ranges on the circle of rFSK, so that 0.1 m and 24.9 m are close.
double fskRangeError(double read, double expected) {
    return std::abs(std::remainder(read - expected, kFskRangeSpan));
}

// Alder at 100 MHz and 128 samples per sweep: Rmax = 128 c / 400 MHz = 95.9 m.
const double kAlderRmax = FmcwMaxRange(128, 100e6);

} // namespace

TEST(PipelineChains, EachModePairHasItsChainAndReadsWhatTheScalesAsk) {
    // Rows: sawtooth, triangle, FSK, CW; columns: display modes 1 to 5.
    const radar::Chain R = radar::Chain::FmcwRange, M = radar::Chain::FmcwRangeVelocity,
                       F = radar::Chain::Fsk, C = radar::Chain::Cw, N = radar::Chain::None;
    const radar::Chain expected[4][5] = {
        {R, M, M, M, R}, {N, N, N, N, N}, {F, F, F, F, F}, {C, C, C, C, C}};
    for (int op = 0; op < 4; ++op)
        for (int display = 1; display <= 5; ++display)
            EXPECT_EQ(radar::ChainFor(op, display), expected[op][display - 1])
                << op << "/" << display;
    // A burst: every sweep, waited for twice its time and 1 s; a range sweep: the fixed wait.
    radar::Settings s;
    s.operatingMode = radar::kCw;
    s.deviceModel = kHazel;
    s.sweepTimeCode = 1;
    s.sweepCount = 512;
    std::optional<radar::FrameRequest> r = radar::Pipeline::Request(s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->count, 512 * 128);
    EXPECT_EQ(r->timeoutMs, 3048u);
    s.operatingMode = radar::kFmcwSawtooth;
    s.displayMode = radar::kRangeScope;
    r = radar::Pipeline::Request(s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->count, 128);
    EXPECT_EQ(r->timeoutMs, kRangeSweepTimeoutMs);
    s.operatingMode = radar::kFmcwTriangle; // no read, nothing processed
    EXPECT_FALSE(radar::Pipeline::Request(s));
    radar::Result result;
    SampleBlock frame(512);
    EXPECT_FALSE(radar::Pipeline().Process(s, frame, result));
}

TEST(PipelineSettings, ChangingAnyOneChoiceMakesThemDiffer) {
    // Settings that compare equal are not sent to the acquisition again: a choice left out of
    // the comparison would never reach it.
    using S = radar::Settings;
    const std::function<void(S&)> changes[] = {
        [](S& s) { s.operatingMode = radar::kCw; },
        [](S& s) { s.displayMode = radar::kRangeWaterfall; },
        [](S& s) { s.deviceModel = kHazel; },
        [](S& s) { s.sweepTimeCode = 2; },
        [](S& s) { s.bandwidthChoice = 1; },
        [](S& s) { s.sampleWindowCode = 1; },
        [](S& s) { s.subtractDC = !s.subtractDC; },
        [](S& s) { s.correctAmplitude = !s.correctAmplitude; },
        [](S& s) { s.hammingWindow = !s.hammingWindow; },
        [](S& s) { s.rangeWeighting = !s.rangeWeighting; },
        [](S& s) { s.clutter = ClutterMode::MovingAverage; },
        [](S& s) { s.clutterAverage = 5; },
        [](S& s) { s.rangeWindow.low = 4; },
        [](S& s) { s.rangeWindow.high = 4; },
        [](S& s) { s.velocityWindow.low = -4; },
        [](S& s) { s.velocityWindow.high = 4; },
        [](S& s) { s.sweepCount = 128; },
        [](S& s) { s.fskThreshold = 6.5; },
        [](S& s) { s.detector.enabled = !s.detector.enabled; },
    };
    for (std::size_t k = 0; k < std::size(changes); ++k) {
        S a, b;
        changes[k](b);
        EXPECT_TRUE(a != b && !(a == b)) << "change " << k;
        changes[k](a);
        EXPECT_TRUE(a == b) << "change " << k;
    }
}

TEST(PipelineRange, ProfilePutsTheTargetInItsBinForEachSweepLengthAndBandwidth) {
    for (int samples : {0, 3})         // 128, 1024 samples per sweep
        for (int bandwidth : {0, 2}) { // 100 MHz, 300 MHz
            SCOPED_TRACE(testing::Message() << samples << "/" << bandwidth);
            const std::uint32_t n = 128u << samples;
            const double rmax = FmcwMaxRange(n, bandwidth == 0 ? 100e6 : 300e6);
            const sim::SceneTarget t = target(0.37 * rmax, 0.0, 1500);
            Board board(kAlder, {t});
            board.settings.sampleWindowCode = samples;
            board.settings.bandwidthChoice = bandwidth;
            board.openWindows();
            board.run(2);
            const radar::Result& r = board.result;
            EXPECT_NEAR(static_cast<double>(board.peak()), 512 * t.range / rmax, 1.0);
            // The time scope: the sweep at its sample spacing, the board's I/Q offsets removed.
            ASSERT_TRUE(r.scope);
            ASSERT_EQ(r.scope->i.size(), n);
            EXPECT_DOUBLE_EQ(r.scope->interval, 0.5e-3 / n);
            EXPECT_NEAR(std::accumulate(r.scope->i.begin(), r.scope->i.end(), 0.0), 0.0, 1e-6 * n);
        }
}

TEST(PipelineRange, WindowPicksOneOfTwoTargetsAcrossSweepLengthsAndClutterRemovesThem) {
    // The window passes the weaker target at 60 m, not the stronger one at 20 m.
    Board board(kAlder, {target(20.0, 0.0, 3000), target(60.0, 0.0, 600)});
    board.settings.rangeWindow = {50, 70};
    board.run(2);
    EXPECT_NEAR(board.peak() * kAlderRmax / 512, 60.0, kAlderRmax / 512);
    // A closed window silences every bin.
    board.settings.rangeWindow = {30, 30};
    board.run();
    EXPECT_TRUE(std::all_of(board.result.values.begin(), board.result.values.end(),
                            [](double v) { return v == -INFINITY; }));
    // Twice the samples, twice the scale: the same sliders pass the same metres at full level.
    board.settings.sampleWindowCode = 1;
    board.openWindows();
    board.run(2);
    const double rmax = 2 * kAlderRmax;
    const std::size_t bin = static_cast<std::size_t>(512 * 60.0 / rmax);
    const auto level = [&] { return board.result.values[board.peak(bin - 2, bin + 3)]; };
    const double open = level();
    board.settings.rangeWindow = {50, 70};
    board.run();
    EXPECT_NEAR(board.peak() * rmax / 512, 60.0, rmax / 512);
    EXPECT_GT(level(), open - 3);
    // A reference taken of the standing scene removes it.
    board.settings.clutter = ClutterMode::Reference;
    board.run(3);
    EXPECT_LT(level(), open - 30);
}

TEST(PipelineMap, ShowsMovingTargetsWhereTheyAreAndWallsOnlyWithoutDcSubtraction) {
    const sim::SceneTarget wall = target(50.0, 0.0, 3000);
    const auto wallRow = static_cast<std::size_t>(std::lround(512 * 50.0 / kAlderRmax));
    const std::size_t wallCell = wallRow * kDopplerBins + 512;
    for (double speed : {6.0, -9.0}) { // receding shows right of zero, approaching left
        SCOPED_TRACE(speed);
        const sim::SceneTarget t = target(40.0, speed, 1500);
        Board board(kAlder, {t, wall});
        board.settings.displayMode = radar::kRangeVelocityMap;
        board.openWindows();
        board.run(2);
        const auto [row, column] = board.alderMapCell(t);
        const std::size_t peak = board.peak();
        EXPECT_NEAR(static_cast<double>(peak / kDopplerBins), row, 1.0);
        EXPECT_NEAR(static_cast<double>(peak % kDopplerBins), column, 1.0);
        const double level = board.result.values[peak];
        EXPECT_LT(board.result.values[wallCell], level - 100.0);
        // The window takes the map's automatic colour range from the result.
        EXPECT_EQ(board.result.mapAutoMaximum, AutoMaximum(board.result.values));
        EXPECT_EQ(board.result.mapAutoMinimum, AutoMinimum(board.result.values));
        // Without its "Auto" box an end is not worked out at all.
        board.settings.autoMaximum = board.settings.autoMinimum = false;
        board.run();
        EXPECT_FALSE(board.result.mapAutoMaximum || board.result.mapAutoMinimum);
        board.settings.autoMaximum = board.settings.autoMinimum = true;

        // The velocity waterfall's row: within one Doppler bin of 256 sweeps (four columns).
        board.settings.displayMode = radar::kVelocityWaterfall;
        board.settings.sweepCount = 256;
        board.run();
        EXPECT_NEAR(static_cast<double>(board.peak()), column, 4.0);
        // Without DC subtraction the wall stands at zero velocity, stronger than the target.
        board.settings.displayMode = radar::kRangeVelocityMap;
        board.settings.subtractDC = false;
        board.run();
        EXPECT_EQ(board.peak(wallRow * kDopplerBins, (wallRow + 1) * kDopplerBins), wallCell);
        EXPECT_GT(board.result.values[wallCell], level);
    }
}

TEST(PipelineMap, ValuesHandedBackHoldTheNextMapWithNothingOfTheirOwnShowing) {
    // Two boards of one scene read the same frames; only one is handed its values back.
    const std::vector<sim::SceneTarget> targets{target(40.0, 6.0, 1500)};
    Board reused(kAlder, targets), fresh(kAlder, targets);
    for (Board* b : {&reused, &fresh}) {
        b->settings.displayMode = radar::kRangeVelocityMap;
        b->openWindows();
        b->run();
    }
    std::vector<double> spent = std::move(reused.result.values);
    std::fill(spent.begin(), spent.end(), 1e9);
    const double* buffer = spent.data();
    reused.pipeline.ReturnMapValues(std::move(spent));
    reused.run();
    fresh.run();
    EXPECT_EQ(reused.result.values.data(), buffer);
    EXPECT_EQ(reused.result.values, fresh.result.values);
    EXPECT_EQ(reused.result.mapAutoMaximum, fresh.result.mapAutoMaximum);

    // Values of another size are no place for a map.
    reused.pipeline.ReturnMapValues(std::vector<double>(kDopplerBins, 1e9));
    reused.run();
    fresh.run();
    EXPECT_EQ(reused.result.values, fresh.result.values);
}

TEST(PipelineMap, FramesLeftInTheBoardsPairsGiveWhatConvertedOnesGive) {
    // Two boards of one scene read the same frames; one has each converted whole.
    const std::vector<sim::SceneTarget> targets{target(40.0, 6.0, 1500)};
    Board packed(kAlder, targets), converted(kAlder, targets);
    converted.readPacked = false;
    const auto same = [&] {
        packed.run();
        converted.run();
        EXPECT_EQ(packed.result.values, converted.result.values);
        EXPECT_EQ(packed.result.mapAutoMinimum, converted.result.mapAutoMinimum);
    };
    for (Board* b : {&packed, &converted}) {
        b->settings.displayMode = radar::kRangeVelocityMap;
        b->settings.detector.enabled = true;
        b->openWindows();
    }
    ASSERT_TRUE(radar::Pipeline::Request(packed.settings)->packed);
    same();
    EXPECT_EQ(packed.result.detections.size(), converted.result.detections.size());
    ASSERT_FALSE(packed.result.detections.empty());
    for (Board* b : {&packed, &converted})
        b->settings.displayMode = radar::kVelocityWaterfall;
    same();
    // Clutter cancelling works on the whole frame: no pairs are asked for.
    for (Board* b : {&packed, &converted})
        b->settings.clutter = ClutterMode::Reference;
    EXPECT_FALSE(radar::Pipeline::Request(packed.settings)->packed);
    same();

    // Pairs handed to a chain that cannot take them are converted for it first.
    radar::Settings range;
    range.deviceModel = kAlder;
    PackedFrame pairs;
    pairs.bytes.reset(new std::uint8_t[4 * 128]);
    pairs.count = 128;
    SampleBlock samples(128);
    for (std::size_t i = 0; i < 128; ++i) {
        const auto im = static_cast<std::uint16_t>(2048 + 1000 * std::sin(0.7 * i));
        const auto re = static_cast<std::uint16_t>(2048 + 1000 * std::cos(0.7 * i));
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(im), static_cast<std::uint8_t>(im >> 8 | (i == 0 ? 0x80 : 0)),
            static_cast<std::uint8_t>(re), static_cast<std::uint8_t>(re >> 8)};
        std::copy(bytes, bytes + 4, pairs.bytes.get() + 4 * i);
        samples[i] = {static_cast<double>(re), static_cast<double>(im)};
    }
    radar::Pipeline fromPairs, fromSamples;
    radar::Result a, b;
    SampleBlock frame;
    ASSERT_TRUE(fromPairs.Process(range, pairs, frame, a));
    ASSERT_TRUE(fromSamples.Process(range, samples, b));
    EXPECT_EQ(a.chain, radar::Chain::FmcwRange);
    EXPECT_EQ(a.values, b.values);
    // Fewer pairs than the map's sweeps hold make no map.
    range.displayMode = radar::kRangeVelocityMap;
    EXPECT_FALSE(fromPairs.Process(range, pairs, frame, a));
}

TEST(PipelineCw, SpectrumShowsTheTargetOnEitherSideOfZero) {
    // Elm, 128 samples in 0.5 ms: fs = 256 kHz, decimated by 128; at 25 GHz that spans
    // vCW = (fs / 128) c / (4 f0). 1024 sweeps give 1024 decimated samples, a bin each.
    const double fs = 256000.0, vCW = fs / 128 * kSpeedOfLight / (4 * 2.5e10);
    const std::vector<double> axis = CwVelocityAxis(vCW);
    for (double fraction : {0.5, -0.25}) {
        SCOPED_TRACE(fraction);
        const double v = fraction * vCW;
        Board board(kElm, {target(8.0, v, 4700)});
        board.settings.operatingMode = radar::kCw;
        board.settings.displayMode = radar::kVelocityScope;
        board.settings.sweepCount = 1024;
        board.run(2);
        ASSERT_EQ(board.result.values.size(), kCwSpectrumSize);
        // Zero velocity sits at position 511, at 512 on the axis; the target between two bins.
        EXPECT_NEAR(axis[board.peak()], v, 1.5 * (axis[1] - axis[0]));
        ASSERT_TRUE(board.result.scope); // the decimated samples
        EXPECT_DOUBLE_EQ(board.result.scope->interval, 128 / fs);
    }
}

TEST(PipelineFsk, ReadsTheTargetInsideTheVelocityWindowAndNothingAboveTheThreshold) {
    // The stronger target recedes at 1.2 m/s, a weaker one approaches at 1.0 m/s. 24 GHz,
    // 1 ms, 64 sweeps: vFSK = c / (4 x 24 GHz x 1 ms) = 3.12 m/s, the window -3..3 open.
    const sim::SceneTarget strong = target(15.0, 1.2, 1300), weak = target(9.0, -1.0, 1000);
    Board board(kHazel, {strong, weak});
    board.settings.operatingMode = radar::kFsk;
    board.settings.displayMode = radar::kVelocityScope;
    board.settings.detector.enabled = true;
    board.openWindows();
    const double step = 2.0 * kSpeedOfLight / (4 * 24e9 * 1e-3) / 1023; // a bin of 2 vFSK
    board.run(2);
    const FskTarget& read = board.result.fskTarget;
    ASSERT_TRUE(read.detected);
    EXPECT_NEAR(read.velocity, strong.velocity, step);
    EXPECT_EQ(board.peak(), read.peak);
    // The detector reads the same line, its range from the tones' phases.
    ASSERT_FALSE(board.result.detections.empty());
    EXPECT_NEAR(*board.result.detections[0].velocity_mps, read.velocity, step);
    EXPECT_LE(fskRangeError(*board.result.detections[0].range_m, read.range), 0.3);
    const double level = board.result.values[read.peak];
    board.settings.velocityWindow.high = 0;
    board.run();
    EXPECT_NEAR(read.velocity, weak.velocity, step);
    EXPECT_LE(fskRangeError(read.range, weak.rangeAt(board.middle())), 0.3) << read.range;
    board.openWindows();
    board.settings.fskThreshold = level + 10.0;
    board.run();
    EXPECT_FALSE(read.detected);
    EXPECT_EQ(read.range + read.velocity, 0.0);
}

TEST(PipelineFsk, MovingTargetsReadTheirRangeAtEverySpeedAndOnBothSidesOfTheWrap) {
    // In the half sweep between tones A and B a target turns the phase by v f0 T / (2 x 6 MHz)
    // worth of range: metres here, carrying the 2 m and 23.5 m targets across the wrap.
    struct Case {
        int model, sweepTime, samples; // codes
        double range, velocity;
    };
    for (const Case& c : {
             Case{kDogwood, 1, 3, 2.0, 6.0},  // 9.8 GHz, 1 ms, 1024 samples: near vFSK 7.6 m/s
             Case{kHazel, 0, 1, 23.5, -2.5},  // 24 GHz, 1 ms: vFSK 3.1 m/s
             Case{kAlder, 0, 2, 15.0, -20.0}, // 2.45 GHz, 0.5 ms: vFSK 61 m/s
             Case{kGinkgo, 1, 0, 18.0, -3.0}, // 9.8 GHz, 2 ms: vFSK 3.8 m/s
         }) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << ", " << c.range << " m");
        const sim::SceneTarget t = target(c.range, c.velocity, 1500);
        Board board(c.model, {t});
        board.settings.operatingMode = radar::kFsk;
        board.settings.displayMode = radar::kVelocityScope;
        board.settings.sweepTimeCode = c.sweepTime;
        board.settings.sampleWindowCode = c.samples;
        board.openWindows();
        board.run(2);
        const FskScales s =
            ComputeFskScales(128u << c.samples, board.settings.sweepTimeMs(),
                             board.settings.sweepCount, board.settings.centerFrequency());

        const FskTarget& read = board.result.fskTarget;
        EXPECT_NEAR(read.velocity, c.velocity, 2 * 2.0 * s.velocitySpan / 1023);
        EXPECT_LE(fskRangeError(read.range, t.rangeAt(board.middle())), 0.3) << read.range;
    }
}
