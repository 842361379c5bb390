// The radar pipeline on an emulated board, without a window: targets placed in the scene must
// come out of each chain where physics puts them. Expected figures are worked out from the
// device-model table's raw numbers, not from the settings under test.

#include "radar/Pipeline.h"

#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "dsp/CwVelocity.h"
#include "dsp/Peak.h"
#include "sim/SimUsbDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

namespace {

namespace radar = tavrix::radar;
using namespace tavrix::dsp;

// Device models: 2.45 GHz, 5.8 GHz and 9.8 GHz (sweeps 0.5 / 1 ms, 100 / 150 / 300 / 400 MHz);
// 25 GHz (0.5 / 1 ms, 500 MHz up); 9.8 GHz and 24 GHz with slow sweeps (1 / 2 ms).
constexpr int kAlder = 0, kBirch = 1, kDogwood = 3, kElm = 4, kGinkgo = 6, kHazel = 7;

// A target that does not turn during a test, its echo `amplitude` counts at `range`.
sim::SceneTarget target(double range, double velocity, double amplitude) {
    return {"target", range, velocity, amplitude * (range / 10) * (range / 10), 0.5, 2000.0};
}

// Distance between two ranges on the circle of rFSK, so that 0.1 m and 24.9 m are close.
double fskRangeError(double read, double expected) {
    return std::abs(std::remainder(read - expected, kFskRangeSpan));
}

// A board of one device model showing `targets` (noise and I/Q offsets, but no direct leakage,
// which would be every profile's strongest echo), brought up as the window brings it up and
// read frame by frame as its cycle reads.
class Board {
public:
    Board(int model, std::vector<sim::SceneTarget> targets) {
        sim::Scene scene = sim::defaultScene();
        scene.deviceModel = model;
        scene.imperfections.leakage = 0;
        scene.targets = std::move(targets);
        driver.attach(std::make_shared<sim::EmulatedBoard>(scene, clock));
        settings.deviceModel = model;
        settings.bandwidthChoice = 0;
    }

    // Both windows open over the scales of the present settings, as the window's sliders
    // reset when the parameters change.
    void openWindows() {
        settings.rangeWindow = {0, SliderTop(settings.maxRange())};
        if (settings.operatingMode == radar::kFsk) {
            const int top = static_cast<int>(fskScales().velocitySpan);
            settings.velocityWindow = {-top, top};
        } else {
            settings.velocityWindow = {0, SliderTop(settings.maxVelocity())};
        }
    }

    // Sends the operating word and reads and processes `frames` frames; the first failure
    // fails the test.
    void run(int frames = 1) {
        if (!ready) {
            ASSERT_EQ(device.EnumerateDevices(), 1);
            ASSERT_TRUE(device.SetInterface());
            device.outEndpoint = device.FindEndpoint(kCommandEndpoint);
            device.inEndpoint = device.FindEndpoint(kSampleEndpoint);
            ASSERT_TRUE(LoadControllerProgram(device, ControllerProgramText()));
            ready = true;
        }
        for (int f = 0; f < frames; ++f) {
            const CommandBlockBytes block = CommandBlock(settings.operatingWord());
            ASSERT_EQ(device.WriteBlock(block.data(), static_cast<std::int32_t>(block.size())),
                      static_cast<std::int32_t>(block.size()));
            const std::optional<radar::FrameRequest> request = radar::Pipeline::Request(settings);
            ASSERT_TRUE(request);
            SampleBlock frame;
            ASSERT_EQ(device.ReadFrame(frame, request->count, request->timeoutMs,
                                       request->samplesPerSweep),
                      request->count);
            ASSERT_TRUE(pipeline.Process(settings, frame, result));
            frameSeconds = request->count / request->sampleRate;
        }
    }

    // Board time halfway through the last frame.
    double middle() const { return clock->now() - frameSeconds / 2; }
    std::size_t peak(std::size_t begin = 0, std::size_t end = SIZE_MAX) const {
        return FindPeak(result.values, begin, end);
    }
    FskScales fskScales() const {
        return ComputeFskScales(settings.samplesPerSweep(), settings.sweepTimeMs(),
                                settings.sweepCount, settings.centerFrequency());
    }

    radar::Settings settings;
    radar::Pipeline pipeline;
    radar::Result result;

private:
    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::SimUsbDriver driver; // outlives the device
    RadarDevice device{driver};
    bool ready = false;
    double frameSeconds = 0;
};

// Alder at 100 MHz and 128 samples per sweep: Rmax = 128 c / 400 MHz = 95.9 m; 0.5 ms sweeps
// centred on 2.45 GHz: Vmax = c / (4 x 2.45 GHz x 0.5 ms) = 61.2 m/s.
const double kAlderRmax = FmcwMaxRange(128, 100e6);
const double kAlderVmax = FmcwMaxVelocity(2.45e9, 0.5);

// Map column of a velocity: 512 is standing still, 0 and 1024 are -Vmax and +Vmax.
double velocityColumn(double v, double vmax) {
    return 512 + 512 * v / vmax;
}

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
    for (int display : {0, 6}) // no display the FMCW chains know
        EXPECT_EQ(radar::ChainFor(radar::kFmcwSawtooth, display), N);

    struct Case {
        int op, display, model, sweepCode, sampleCode;
        std::uint32_t sweeps;
        double sweepMs, carrierHz; // from the model table
    };
    for (const Case& c : {Case{radar::kFmcwSawtooth, 4, kElm, 2, 3, 64, 4.0, 2.5e10},
                          Case{radar::kCw, 2, kHazel, 1, 1, 512, 2.0, 2.4e10},
                          Case{radar::kFsk, 5, kAlder, 3, 0, 32, 10.0, 2.45e9}}) {
        SCOPED_TRACE(c.op);
        radar::Settings s;
        s.operatingMode = c.op;
        s.displayMode = c.display;
        s.deviceModel = c.model;
        s.sweepTimeCode = c.sweepCode;
        s.sampleWindowCode = c.sampleCode;
        s.sweepCount = c.sweeps;
        const std::uint32_t n = 128u << c.sampleCode;
        const auto r = radar::Pipeline::Request(s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->samplesPerSweep, n);
        const CwScales cw = ComputeCwScales(n, c.sweepMs, c.sweeps, c.carrierHz);
        const FskScales fsk = ComputeFskScales(n, c.sweepMs, c.sweeps, c.carrierHz);
        const FmcwBurstScales burst = ComputeFmcwBurstScales(n, c.sweepMs, c.sweeps);
        const auto [count, timeout, rate] =
            c.op == radar::kCw ? std::tuple(cw.sampleCount, cw.timeoutMs, cw.sampleRate)
            : c.op == radar::kFsk
                ? std::tuple(fsk.sampleCount, fsk.timeoutMs, fsk.sampleRate)
                : std::tuple(burst.sampleCount, burst.timeoutMs, burst.sampleRate);
        EXPECT_EQ(r->count, count);
        EXPECT_EQ(r->count, static_cast<std::int32_t>(n * c.sweeps));
        EXPECT_EQ(r->timeoutMs, static_cast<std::uint32_t>(timeout));
        EXPECT_DOUBLE_EQ(r->sampleRate, rate);
    }

    // A range sweep: one sweep with the fixed time-out, whatever its length; triangle: no read.
    radar::Settings s;
    s.deviceModel = kHazel;
    s.sweepTimeCode = 3;
    s.sampleWindowCode = 2;
    const auto range = radar::Pipeline::Request(s);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->count, 512);
    EXPECT_EQ(range->timeoutMs, static_cast<std::uint32_t>(kRangeSweepTimeoutMs));
    EXPECT_DOUBLE_EQ(range->sampleRate, 512 / 10e-3);
    s.operatingMode = radar::kFmcwTriangle;
    EXPECT_FALSE(radar::Pipeline::Request(s));
    radar::Result result;
    SampleBlock frame(512);
    EXPECT_FALSE(radar::Pipeline().Process(s, frame, result));
}

TEST(PipelineSettings, ChangingAnyOneChoiceMakesThemDiffer) {
    // Settings that compare equal are not sent to the acquisition again: a choice left out of
    // the comparison would never reach it.
    using Change = void (*)(radar::Settings&);
    const Change changes[] = {
        [](radar::Settings& s) { s.operatingMode = radar::kCw; },
        [](radar::Settings& s) { s.displayMode = radar::kRangeWaterfall; },
        [](radar::Settings& s) { s.deviceModel = kHazel; },
        [](radar::Settings& s) { s.sweepTimeCode = 2; },
        [](radar::Settings& s) { s.bandwidthChoice = 1; },
        [](radar::Settings& s) { s.sampleWindowCode = 1; },
        [](radar::Settings& s) { s.subtractDC = !s.subtractDC; },
        [](radar::Settings& s) { s.correctAmplitude = !s.correctAmplitude; },
        [](radar::Settings& s) { s.hammingWindow = !s.hammingWindow; },
        [](radar::Settings& s) { s.rangeWeighting = !s.rangeWeighting; },
        [](radar::Settings& s) { s.clutter = ClutterMode::MovingAverage; },
        [](radar::Settings& s) { s.clutterAverage = 5; },
        [](radar::Settings& s) { s.rangeWindow.low = 4; },
        [](radar::Settings& s) { s.rangeWindow.high = 4; },
        [](radar::Settings& s) { s.velocityWindow.low = -4; },
        [](radar::Settings& s) { s.velocityWindow.high = 4; },
        [](radar::Settings& s) { s.sweepCount = 128; },
        [](radar::Settings& s) { s.fskThreshold = 6.5; },
    };
    for (std::size_t k = 0; k < std::size(changes); ++k) {
        radar::Settings a, b;
        changes[k](b);
        EXPECT_FALSE(a == b) << "change " << k;
        EXPECT_TRUE(a != b) << "change " << k;
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
            ASSERT_EQ(r.values.size(), kRangeBins);
            EXPECT_NEAR(static_cast<double>(board.peak()), 512 * t.range / rmax, 1.0);
            // The time scope: the sweep at its sample spacing, the board's I/Q offsets removed.
            ASSERT_TRUE(r.scope);
            ASSERT_EQ(r.scope->i.size(), n);
            EXPECT_DOUBLE_EQ(r.scope->interval, 0.5e-3 / n);
            double mean = 0;
            for (double v : r.scope->i)
                mean += v / n;
            EXPECT_NEAR(mean, 0.0, 1e-6);
        }
}

TEST(PipelineRange, WindowPicksOneOfTwoTargetsAndKeepsItsMetresAcrossSweepLengths) {
    Board board(kAlder, {target(20.0, 0.0, 3000), target(60.0, 0.0, 600)});
    board.openWindows();
    board.run(2);
    EXPECT_NEAR(board.peak() * kAlderRmax / 512, 20.0, kAlderRmax / 512);

    board.settings.rangeWindow = {50, 70};
    board.run();
    EXPECT_NEAR(board.peak() * kAlderRmax / 512, 60.0, kAlderRmax / 512);

    // A closed window silences every bin.
    board.settings.rangeWindow = {30, 30};
    board.run();
    EXPECT_TRUE(std::all_of(board.result.values.begin(), board.result.values.end(),
                            [](double v) { return v == -INFINITY; }));

    // Twice the samples per sweep, twice the scale: the same slider values must pass the same
    // metres, at the level the open window shows.
    board.settings.rangeWindow = {50, 70};
    board.run();
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
}

TEST(PipelineRange, ReferenceClutterRemovesStandingTargetsUntilTheParametersChange) {
    // A reference is taken afresh after a reset: the standing target drops far below what
    // it shows without, while one moving fast enough to change between frames stays.
    const sim::SceneTarget wall = target(30.0, 0.0, 3000), runner = target(12.0, 20.0, 3000);
    Board board(kAlder, {wall, runner});
    board.openWindows();
    const auto wallLevel = [&] {
        const std::size_t bin = static_cast<std::size_t>(std::lround(512 * 30.0 / kAlderRmax));
        return board.result.values[board.peak(bin - 1, bin + 2)];
    };
    board.run(2);
    const double unfiltered = wallLevel();
    board.settings.clutter = ClutterMode::Reference;
    board.run(3);
    EXPECT_LT(wallLevel(), unfiltered - 30);
    // Strongest is the runner, where it is now or (the reference's copy of it) where it was
    // a few frames ago, a bin or two nearer.
    EXPECT_NEAR(board.peak() * kAlderRmax / 512, runner.rangeAt(board.middle()), 0.5);

    // Another bandwidth moves the wall's beat: the old reference no longer matches it...
    board.settings.bandwidthChoice = 1;
    const double rmax = FmcwMaxRange(128, 150e6);
    const auto wallBin = static_cast<std::size_t>(std::lround(512 * 30.0 / rmax));
    board.run(2);
    EXPECT_EQ(board.peak(wallBin - 30, wallBin + 31), wallBin);
    const double stale = board.result.values[wallBin];
    // ...until a reset takes the next frame as the reference.
    board.pipeline.ResetClutter();
    board.run(2);
    EXPECT_LT(board.result.values[wallBin], stale - 30);
}

TEST(PipelineMap, ShowsTargetsAtTheirRangeAndVelocity) {
    for (double speed : {6.0, -9.0}) { // receding shows right of zero, approaching left
        SCOPED_TRACE(speed);
        const sim::SceneTarget t = target(40.0, speed, 1500);
        Board board(kAlder, {t});
        board.settings.displayMode = radar::kRangeVelocityMap;
        board.openWindows();
        board.run(2);
        ASSERT_EQ(board.result.values.size(), kMapValues);
        // Its range halfway through the burst, plus the shift of the beat by the Doppler
        // frequency at the start of the sweep.
        const double T = 0.5e-3;
        const double doppler = 2 * t.velocityAt(board.middle()) * (2.45e9 - 50e6) / kSpeedOfLight;
        const double row = 512 * t.rangeAt(board.middle()) / kAlderRmax + doppler * T / 128 * 1024;
        const std::size_t peak = board.peak();
        EXPECT_NEAR(static_cast<double>(peak / kDopplerBins), row, 1.0);
        EXPECT_NEAR(static_cast<double>(peak % kDopplerBins), velocityColumn(speed, kAlderVmax),
                    1.0);
    }
}

TEST(PipelineMap, DcSubtractionRemovesAStandingReflector) {
    const sim::SceneTarget wall = target(50.0, 0.0, 3000), walker = target(25.0, 3.0, 500);
    Board board(kAlder, {wall, walker});
    board.settings.displayMode = radar::kRangeVelocityMap;
    board.openWindows();
    board.run(2);
    const std::size_t moving = board.peak();
    EXPECT_NEAR(static_cast<double>(moving % kDopplerBins), velocityColumn(3.0, kAlderVmax), 1.0);
    const double peak = board.result.values[moving];
    const auto wallRow = static_cast<std::size_t>(std::lround(512 * 50.0 / kAlderRmax));
    const std::size_t wallCell = wallRow * kDopplerBins + 512;
    EXPECT_LT(board.result.values[wallCell], peak - 100.0);

    // Without it the wall stands at zero velocity, stronger than the walker.
    board.settings.subtractDC = false;
    board.run();
    EXPECT_EQ(board.peak(wallRow * kDopplerBins, (wallRow + 1) * kDopplerBins), wallCell);
    EXPECT_GT(board.result.values[wallCell], peak);
}

TEST(PipelineMap, VelocityWaterfallRowPeaksAtTheTargetsVelocity) {
    // Every range bin counts alike, so a target anywhere leads the row, within one Doppler
    // bin of 256 sweeps (four columns).
    const sim::SceneTarget t = target(40.0, -12.0, 3000);
    Board board(kAlder, {t});
    board.settings.displayMode = radar::kVelocityWaterfall;
    board.settings.sweepCount = 256;
    board.openWindows();
    board.run(2);
    ASSERT_EQ(board.result.values.size(), kDopplerBins);
    EXPECT_NEAR(static_cast<double>(board.peak()), velocityColumn(t.velocity, kAlderVmax), 4.0);
}

TEST(PipelineCw, SpectrumShowsTheTargetOnEitherSideOfZero) {
    // Elm, 128 samples in 0.5 ms: fs = 256 kHz, decimated by 128; at 25 GHz that spans
    // vCW = (fs / 128) c / (4 f0). 1024 sweeps give 1024 decimated samples, a bin each.
    const double fs = 256000.0;
    const double vCW = fs / 128 * kSpeedOfLight / (4 * 2.5e10);
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
        // The spectrum puts zero velocity at position 511, its axis at 512: a position and a
        // half covers that and the target falling between two bins.
        EXPECT_NEAR(axis[board.peak()], v, 1.5 * (axis[1] - axis[0]));
        ASSERT_TRUE(board.result.scope);
        EXPECT_EQ(board.result.scope->i.size(), 1024u);
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
    board.openWindows();
    ASSERT_EQ(board.settings.velocityWindow.low, -3);
    const double vFSK = kSpeedOfLight / (4 * 24e9 * 1e-3);
    const double step = 2.0 * vFSK / 1023;
    board.run(2);
    const FskTarget& read = board.result.fskTarget;
    ASSERT_TRUE(read.detected);
    EXPECT_NEAR(read.velocity, strong.velocity, step);
    EXPECT_LE(fskRangeError(read.range, strong.rangeAt(board.middle())), 0.3) << read.range;
    ASSERT_EQ(board.result.values.size(), kFskSpectrumSize);
    EXPECT_EQ(board.peak(), read.peak);
    // The time scope: one sweep period, both tones.
    ASSERT_TRUE(board.result.scope);
    EXPECT_EQ(board.result.scope->i.size(), 128u);
    EXPECT_DOUBLE_EQ(board.result.scope->interval, 1e-3 / 128);

    board.settings.velocityWindow.high = 0;
    board.run();
    EXPECT_NEAR(read.velocity, weak.velocity, step);
    EXPECT_LE(fskRangeError(read.range, weak.rangeAt(board.middle())), 0.3) << read.range;

    // The window's filter is real: it passes speeds between its bounds whichever the sign,
    // so 1..3 m/s keeps the strong line as the open window shows it, and 2..3 m/s quells it.
    board.openWindows();
    board.run();
    const std::vector<double> open = board.result.values;
    const std::size_t line = read.peak;
    board.settings.velocityWindow = {1, 3};
    board.run();
    EXPECT_NEAR(board.result.values[line], open[line], 3.0);
    board.settings.velocityWindow = {2, 3};
    board.run();
    EXPECT_LT(board.result.values[line], open[line] - 30.0);

    board.openWindows();
    board.settings.fskThreshold = open[line] + 10.0;
    board.run();
    EXPECT_FALSE(read.detected);
    EXPECT_EQ(read.range, 0.0);
    EXPECT_EQ(read.velocity, 0.0);
}

TEST(PipelineFsk, MovingTargetsReadTheirRangeAtEverySpeedAndOnBothSidesOfTheWrap) {
    // Tone B is sampled half a sweep period after tone A, in which a moving target turns the
    // phase by v f0 T / (2 x 6 MHz) worth of range: metres at most of these speeds, and enough
    // to carry the 2 m and 23.5 m targets across the wrap at rFSK. (A target standing still
    // is not seen at all: each tone's mean is removed.)
    struct Case {
        int model, sweepTime, samples; // codes
        double range, velocity;
    };
    const std::initializer_list<Case> cases{
        {kDogwood, 1, 0, 12.0, 4.0}, // 9.8 GHz, 1 ms, 128 samples: vFSK 7.6 m/s
        {kDogwood, 1, 3, 2.0, 6.0},  // the same with 1024 samples, near the velocity limit
        {kHazel, 0, 1, 23.5, -2.5},  // 24 GHz, 1 ms: vFSK 3.1 m/s
        {kAlder, 0, 2, 15.0, -20.0}, // 2.45 GHz, 0.5 ms: vFSK 61 m/s
        {kElm, 0, 3, 8.0, 5.0},      // 25 GHz, 0.5 ms: vFSK 6.0 m/s
        {kGinkgo, 1, 0, 18.0, -3.0}, // 9.8 GHz, 2 ms: vFSK 3.8 m/s
        {kBirch, 1, 1, 10.0, 0.4},   // 5.8 GHz, 1 ms, slow: 0.2 m of coupling
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "model " << c.model << ", " << c.range << " m, " << c.velocity << " m/s");
        const sim::SceneTarget t = target(c.range, c.velocity, 1500);
        Board board(c.model, {t});
        board.settings.operatingMode = radar::kFsk;
        board.settings.displayMode = radar::kVelocityScope;
        board.settings.sweepTimeCode = c.sweepTime;
        board.settings.sampleWindowCode = c.samples;
        board.openWindows();
        board.run(2);
        const FskScales s = board.fskScales();
        ASSERT_LT(std::abs(c.velocity), 0.85 * s.velocitySpan); // no aliased line

        const FskTarget& read = board.result.fskTarget;
        EXPECT_NEAR(read.velocity, c.velocity, 2 * 2.0 * s.velocitySpan / 1023);
        EXPECT_LE(fskRangeError(read.range, t.rangeAt(board.middle())), 0.3)
            << read.range << " m read, " << t.rangeAt(board.middle()) << " m expected";
    }
}
