// The window on an emulated board in every chain: targets placed in the scene must show
// where physics puts them, on the markers, the dials, the waterfalls and the map, and a
// board that ends a read early stops the stream with the chain's own message.
#include "dsp/CwVelocity.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Fsk.h"
#include "dsp/Peak.h"
#include "tests/e2e/Radar.h"

#include <qwt_dial.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoneitem.h>
#include <qwt_thermo.h>

#include <algorithm>
#include <cmath>

namespace {

using namespace tavrix::dsp;

class Fmcw : public Radar {
public:
    Fmcw(std::vector<sim::SceneTarget> targets, const char* display)
        : Radar(kAlder, std::move(targets), {display}) {}

    double rmax() const { return FmcwMaxRange(window->samplesPerSweep, window->bandwidthHz); }
    double vmax() const { return FmcwMaxVelocity(window->centerFrequency, window->sweepTimeMs); }
    // Map row at which the last burst shows `t`: its range halfway through the burst, plus
    // the shift of the beat by the Doppler frequency of the sweep's start.
    double rangeRow(const sim::SceneTarget& t) const {
        const double T = window->sweepTimeMs * 1e-3;
        const double middle = clock->now() - window->ui.spinBoxDopplerQueue->value() * T / 2;
        const double start = window->centerFrequency - window->bandwidthHz / 2;
        const double doppler = 2 * t.velocityAt(middle) * start / kSpeedOfLight;
        return 512 * t.rangeAt(middle) / rmax() + doppler * T / window->samplesPerSweep * 1024;
    }
    double velocityColumn(const sim::SceneTarget& t) const {
        return 512 + 512 * t.velocity / vmax();
    }
};

FskScales fskScales(const Tavrix& w) {
    return ComputeFskScales(w.samplesPerSweep, w.sweepTimeMs,
                            static_cast<std::uint32_t>(w.ui.spinBoxDopplerQueue->value()),
                            w.centerFrequency);
}

// The range `t` should read at the end of a block: its range halfway through the block,
// which the phase difference of the two tones gives modulo rFSK.
double fskRangeRead(const Radar& radar, const sim::SceneTarget& t) {
    const FskScales s = fskScales(*radar.window);
    const double middle = radar.clock->now() - s.sampleCount / s.sampleRate / 2;
    return FskRangeFromPhase(4.0 * kPi * kFskToneSpacingHz * t.rangeAt(middle) / kSpeedOfLight);
}

// Distance between two ranges read on the circle of rFSK, so that 0.1 m and 24.9 m are close.
double fskRangeError(double read, double expected) {
    return std::abs(std::remainder(read - expected, kFskRangeSpan));
}

} // namespace

TEST(FmcwEndToEnd, RangeScopeMarksTheTargetForEachSweepLengthAndBandwidth) {
    for (int samples : {0, 3})         // 128, 1024 samples per sweep
        for (int bandwidth : {0, 2}) { // 100 MHz, 300 MHz
            SCOPED_TRACE(testing::Message() << samples << "/" << bandwidth);
            const double rmax = FmcwMaxRange(128u << samples, (bandwidth == 0 ? 100e6 : 300e6));
            const sim::SceneTarget t = target(0.37 * rmax, 0.0, 1500);
            Fmcw radar({t}, kRangeScope);
            radar.ui().comboPSampleWindow->setCurrentIndex(samples);
            radar.ui().comboPBandwidth->setCurrentIndex(bandwidth);
            ASSERT_DOUBLE_EQ(radar.rmax(), rmax);
            radar.cycles(2);

            const QwtPlotMarker* marker = radar.window->markerRangePeak;
            EXPECT_LE(std::abs(marker->xValue() - t.range), rmax / 512) << marker->xValue();
            EXPECT_EQ(marker->label().text(),
                      QStringLiteral(" Detected Range: %1 m").arg(marker->xValue(), 0, 'g', -1));
            EXPECT_EQ(radar.window->curveTopI->dataSize(), 128u << samples);
            EXPECT_TRUE(radar.window->curveBottom->testItemAttribute(QwtPlotItem::Legend));
            // The window starts open: sliders over the whole scale, no zone.
            EXPECT_EQ(radar.ui().rangeFilter_High->value(), static_cast<int>(rmax));
            EXPECT_FALSE(radar.window->zoneBottom->isVisible());
        }
}

TEST(FmcwEndToEnd, RangeWindowPicksOneOfTwoTargets) {
    Fmcw radar({target(20.0, 0.0, 3000), target(60.0, 0.0, 600)}, kRangeScope);
    const double rmax = radar.rmax(); // 95.9 m
    const QwtPlotMarker* marker = radar.window->markerRangePeak;
    radar.cycles(2);
    EXPECT_LE(std::abs(marker->xValue() - 20.0), rmax / 512);

    radar.ui().rangeFilter_Low->setValue(50);
    radar.ui().rangeFilter_High->setValue(70);
    radar.cycles(1);
    EXPECT_LE(std::abs(marker->xValue() - 60.0), rmax / 512);
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(50, 70));
    EXPECT_EQ(radar.ui().range_LowerBound->text(), "50 m");

    // A closed window silences every bin; the marker stays at the window's first bin.
    radar.ui().rangeFilter_Low->setValue(30);
    radar.ui().rangeFilter_High->setValue(30);
    radar.cycles(1);
    const QwtSeriesData<QPointF>* curve = radar.window->curveBottom->data();
    for (std::size_t k = 0; k < curve->size(); k += 64)
        EXPECT_EQ(curve->sample(k).y(), -INFINITY);
    EXPECT_DOUBLE_EQ(marker->xValue(), static_cast<int>(30 / rmax * 513) * rmax / 513);

    // Crossing the bounds drags the upper one along when it does not hold the focus.
    radar.ui().rangeFilter_Low->setValue(80);
    radar.cycles(1);
    EXPECT_EQ(radar.ui().rangeFilter_High->value(), 80);

    // Twice the samples per sweep, twice the scale: the window chosen again must pass the
    // same metres, at the level the open window shows, with the zone drawn there.
    radar.ui().rangeFilter_Low->setValue(50);
    radar.ui().rangeFilter_High->setValue(70);
    radar.cycles(1);
    radar.ui().comboPSampleWindow->setCurrentIndex(1);
    radar.cycles(2);
    ASSERT_DOUBLE_EQ(radar.rmax(), 2 * rmax);
    const auto level = [&] { // of the 60 m echo
        const int bin = static_cast<int>(60.0 / (2 * rmax) * 513);
        double top = -INFINITY;
        for (int k = bin - 2; k <= bin + 2; ++k)
            top = std::max(top, radar.window->curveBottom->sample(k).y());
        return top;
    };
    const double open = level();
    radar.ui().rangeFilter_Low->setValue(50);
    radar.ui().rangeFilter_High->setValue(70);
    radar.cycles(1);
    EXPECT_LE(std::abs(marker->xValue() - 60.0), 2 * rmax / 512);
    EXPECT_GT(level(), open - 3);
    EXPECT_TRUE(radar.window->zoneBottom->isVisible());
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(50, 70));
}

TEST(FmcwEndToEnd, WaterfallRowsPeakAtTheTarget) {
    // The range waterfall by range bin; the velocity waterfall averages every range bin, so
    // a target anywhere leads it, within one Doppler bin of 256 sweeps (four columns).
    const sim::SceneTarget still = target(33.0, 0.0, 1500), moving = target(40.0, -12.0, 3000);
    Fmcw range({still}, "radioSpectrumDisplay_5");
    Fmcw velocity({moving}, "radioSpectrumDisplay_4");
    velocity.ui().spinBoxDopplerQueue->setValue(256);
    range.cycles(3);
    velocity.cycles(3);
    ASSERT_EQ(range.window->waterfall->columns(), 513u);
    ASSERT_EQ(velocity.window->waterfall->columns(), 1024u);
    const std::vector<double> r = range.history(), v = velocity.history();
    for (std::size_t row = 0; row < 3; ++row) {
        EXPECT_NEAR(static_cast<double>(FindPeak(r, row * 513, (row + 1) * 513) - row * 513),
                    512 * still.range / range.rmax(), 1.0);
        EXPECT_NEAR(static_cast<double>(FindPeak(v, row * 1024, (row + 1) * 1024) - row * 1024),
                    velocity.velocityColumn(moving), 4.0);
    }
    EXPECT_EQ(v[511], v[512]);
}

TEST(FmcwEndToEnd, MapShowsTargetsAtTheirRangeAndVelocity) {
    for (double speed : {6.0, -9.0}) { // receding shows right of zero, approaching left
        SCOPED_TRACE(speed);
        const sim::SceneTarget t = target(40.0, speed, 1500);
        Fmcw radar({t}, kMap);
        radar.cycles(2);
        ASSERT_EQ(radar.window->waterfall->columns(), 1024u);
        const std::size_t peak = radar.strongest();
        EXPECT_NEAR(static_cast<double>(peak / kDopplerBins), radar.rangeRow(t), 1.0);
        EXPECT_NEAR(static_cast<double>(peak % kDopplerBins), radar.velocityColumn(t), 1.0);
        EXPECT_FALSE(radar.ui().groupBox_Top->isVisible());
    }
}

TEST(FmcwEndToEnd, StandingReflectorVanishesFromTheMapWithDcSubtraction) {
    const sim::SceneTarget wall = target(50.0, 0.0, 3000), walker = target(25.0, 3.0, 500);
    Fmcw radar({wall, walker}, kMap);
    radar.cycles(1);
    std::vector<double> map = radar.history();
    const std::size_t moving = radar.strongest();
    EXPECT_NEAR(static_cast<double>(moving % kDopplerBins), radar.velocityColumn(walker), 1.0);
    const double peak = map[moving];
    const auto wallRow = static_cast<std::size_t>(std::lround(512 * 50.0 / radar.rmax()));
    EXPECT_LT(map[wallRow * kDopplerBins + 512], peak - 100.0);

    // Without it the wall stands at zero velocity, stronger than the walker.
    radar.ui().filterOptionDCSubtract->setChecked(false);
    radar.cycles(1);
    map = radar.history();
    EXPECT_EQ(FindPeak(map, wallRow * kDopplerBins, (wallRow + 1) * kDopplerBins),
              wallRow * kDopplerBins + 512);
    EXPECT_GT(map[wallRow * kDopplerBins + 512], peak);
}

TEST(CwEndToEnd, VelocityScopeAndWaterfallShowTheTargetOnEitherSide) {
    // 1024 sweeps give 1024 decimated samples, so each position is a bin of its own.
    const double vCW = 256000.0 * kSpeedOfLight / (512 * 2.5e10);
    for (double fraction : {0.5, -0.25}) {
        SCOPED_TRACE(fraction);
        const double v = fraction * vCW;
        Radar radar(kElm, {target(8.0, v, 4700)}, {kCw});
        radar.ui().spinBoxDopplerQueue->setValue(1024);
        ASSERT_EQ(radar.window->displayMode, 2u);
        radar.cycles(2);

        const CwScales s = ComputeCwScales(radar.window->samplesPerSweep, radar.window->sweepTimeMs,
                                           1024, radar.window->centerFrequency);
        const QwtPlotMarker* marker = radar.window->markerCwPeak;
        EXPECT_LE(std::abs(marker->xValue() - v), 2.0 * vCW / 1024 * 1.001) << marker->xValue();
        EXPECT_EQ(marker->label().text(),
                  QStringLiteral(" Max Velocity: %1 m/s").arg(marker->xValue(), 0, 'g', 6));
        // The time scope shows the decimated samples at their own spacing.
        EXPECT_EQ(radar.window->curveTopI->dataSize(), 1024u);
        EXPECT_DOUBLE_EQ(radar.window->topXData[1], s.decimatedSpacing);

        click(radar.ui().radioSpectrumDisplay_4);
        radar.cycles(2);
        const std::vector<double> axis = CwVelocityAxis(s.velocitySpan);
        const std::vector<double> history = radar.history();
        for (std::size_t row = 0; row < 2; ++row) // within one position and a half
            EXPECT_NEAR(axis[FindPeak(history, row * 1024, (row + 1) * 1024) - row * 1024], v,
                        1.5 * (axis[1] - axis[0]));
        EXPECT_EQ(history[2 * 1024], 0.0); // not filled yet
    }
}

TEST(FskEndToEnd, DialsReadTheTargetInsideTheVelocityWindow) {
    // The stronger target recedes at 1.2 m/s, a weaker one approaches at 1.0 m/s. 24 GHz,
    // 1 ms, 64 sweeps: vFSK = 3.1228 m/s, velocity sliders -3..3, the window open.
    const sim::SceneTarget strong = target(15.0, 1.2, 1300), weak = target(9.0, -1.0, 1000);
    Radar radar(kHazel, {strong, weak}, {kFsk});
    ASSERT_EQ(radar.window->displayMode, 2u);
    radar.cycles(2);
    const FskScales s = fskScales(*radar.window);
    const double step = 2.0 * s.velocitySpan / 1023;
    EXPECT_EQ(radar.ui().velocityFilter_Low->minimum(), -3);
    EXPECT_FALSE(radar.window->zoneBottom->isVisible());
    const double v = radar.ui().dialFSKVelocity->value();
    EXPECT_LE(std::abs(v - strong.velocity), step) << v;
    EXPECT_LE(fskRangeError(radar.ui().dialFSKRange->value(), fskRangeRead(radar, strong)), 0.3);
    EXPECT_GT(radar.ui().thermFSKMaxDetectedValue->value(), 8.0);
    EXPECT_EQ(radar.window->markerFskTarget->xValue(), v);
    EXPECT_EQ(radar.ui().recordLCDSampleRate->value(), s.sampleRate);

    radar.ui().velocityFilter_High->setValue(0);
    radar.cycles(1);
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(-3, 0));
    EXPECT_EQ(radar.ui().velocity_UpperBound->text(), "0 m/s");
    EXPECT_LE(std::abs(radar.ui().dialFSKVelocity->value() - weak.velocity), step);
    EXPECT_LE(fskRangeError(radar.ui().dialFSKRange->value(), fskRangeRead(radar, weak)), 0.3);

    // Bounds crossed as the parameters change: the new scale opens the window whole instead
    // of ordering the old values into an empty one.
    radar.ui().velocityFilter_Low->setValue(2);
    radar.ui().velocityFilter_High->setValue(-2);
    radar.ui().spinBoxDopplerQueue->setValue(128);
    radar.cycles(1);
    EXPECT_EQ(radar.ui().velocityFilter_Low->value(), -3);
    EXPECT_EQ(radar.ui().velocityFilter_High->value(), 3);
}

TEST(FskEndToEnd, RangeTrackMarksTheRangeReadAndZeroBelowThreshold) {
    const sim::SceneTarget t = target(6.0, 0.8, 830);
    Radar radar(kHazel, {t}, {kFsk, "radioSpectrumDisplay_5"});
    ASSERT_EQ(radar.window->displayMode, 5u);
    radar.cycles(2);

    ASSERT_EQ(radar.window->waterfall->columns(), 1024u);
    // A velocity window, which has no place on the range axis.
    radar.ui().velocityFilter_Low->setValue(0);
    radar.cycles(1);
    EXPECT_FALSE(radar.window->zoneBottom->isVisible());
    const double r = radar.ui().dialFSKRange->value();
    EXPECT_LE(fskRangeError(r, fskRangeRead(radar, t)), 0.3);
    std::vector<double> row = radar.history();
    EXPECT_EQ(row[static_cast<std::size_t>(r / kFskRangeSpan * 1024)], 1.0);
    EXPECT_EQ(std::count(row.begin(), row.begin() + 1024, 0.0), 1023);

    // A threshold above the level: no detection, both dials at 0, the track at position 0.
    const double level = radar.ui().thermFSKMaxDetectedValue->value();
    radar.ui().counterFSKDetectionThreshold->setValue(level + 10.0);
    radar.cycles(1);
    EXPECT_EQ(radar.ui().dialFSKRange->value(), 0.0);
    EXPECT_EQ(radar.ui().dialFSKVelocity->value(), 0.0);
    EXPECT_EQ(radar.history()[0], 1.0);
}

TEST(FskEndToEnd, MovingTargetsReadTheirRangeAtEverySpeedAndOnBothSidesOfTheWrap) {
    // Tone B is sampled half a sweep period after tone A, in which a moving target turns the
    // phase by v f0 T / (2 x 6 MHz) worth of range: metres at most of these speeds, and enough
    // to carry the 2 m and 23.5 m targets across the wrap at rFSK. (A target standing still
    // is not seen at all: each tone's mean is removed.)
    struct Case {
        int model, sweepTime, samples; // combo indices
        double range, velocity;
    };
    constexpr int kBirch = 1, kDogwood = 3, kGinkgo = 6; // 5.8, 9.8 and 9.8 GHz
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
        Radar radar(c.model, {t}, {kFsk});
        radar.ui().comboPSweepTime->setCurrentIndex(c.sweepTime);
        radar.ui().comboPSampleWindow->setCurrentIndex(c.samples);
        radar.cycles(2);
        const FskScales s = fskScales(*radar.window);
        ASSERT_EQ(radar.window->samplesPerSweep, 128u << c.samples);
        ASSERT_LT(std::abs(c.velocity), 0.85 * s.velocitySpan); // no aliased line

        const double step = 2.0 * s.velocitySpan / 1023;
        EXPECT_LE(std::abs(radar.ui().dialFSKVelocity->value() - c.velocity), 2 * step);
        const double read = radar.ui().dialFSKRange->value();
        EXPECT_LE(fskRangeError(read, fskRangeRead(radar, t)), 0.3)
            << read << " m read, " << fskRangeRead(radar, t) << " m expected";
    }
}

TEST(ChainEndToEnd, ShortReadsStopWithTheChainsOwnMessageAndDrawNothing) {
    struct Case {
        std::initializer_list<const char*> buttons;
        const char* message;
        double rateShown; // FSK reports its rate only after a full read, the others before
    };
    for (const Case& c :
         {Case{{kRangeScope}, "Error: Did not receive requested number of samples.", 256000.0},
          Case{{kMap}, "Error: Did not receive the proper number of samples.", 256000.0},
          Case{{kCw}, "Error: Interface cound not be set!", 256000.0},
          Case{{kFsk}, "Error: Received wrong number of samples from radar.", 0.0}}) {
        SCOPED_TRACE(c.message);
        Radar radar(kElm, {target(8.0, 2.0, 4700)}, c.buttons);
        radar.driver.board(0).faults.shortRead = 4096;
        radar.cycles(1);
        // The cycle time does not cover why the stream stopped.
        EXPECT_EQ(radar.status(), c.message);
        EXPECT_FALSE(radar.window->acquisitionTimer->isActive());
        EXPECT_FALSE(radar.ui().buttonActivateDevice->isChecked());
        EXPECT_FALSE(radar.ui().DisplayProperties->isEnabled());
        EXPECT_EQ(radar.ui().recordLCDSampleRate->value(), c.rateShown);
        // Nothing of the partial block is drawn.
        for (QwtPlotCurve* curve : {radar.window->curveBottom, radar.window->curveTopI})
            EXPECT_TRUE(curve == nullptr || curve->dataSize() == 0);
        if (radar.window->waterfall) {
            const std::vector<double> h = radar.history();
            EXPECT_TRUE(std::all_of(h.begin(), h.end(), [](double v) { return v == 0; }));
        }
    }
}
