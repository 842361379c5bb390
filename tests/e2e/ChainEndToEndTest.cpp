// The window on an emulated board in every chain: what the pipeline makes of a frame reaches
// the markers, the dials, the waterfalls and the map, the sliders set the windows and follow
// the scales, and a board that ends a read early stops the stream with the chain's own
// message. Where each chain puts a target is checked without a window, in tests/radar.
#include "dsp/CwVelocity.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Fsk.h"
#include "dsp/Peak.h"
#include "tests/e2e/Radar.h"

#include <QCheckBox>
#include <QTableWidget>

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
    double velocityColumn(const sim::SceneTarget& t) const {
        return 512 + 512 * t.velocity / vmax();
    }
};

FskScales fskScales(const Tavrix& w) {
    return ComputeFskScales(w.samplesPerSweep, w.sweepTimeMs,
                            static_cast<std::uint32_t>(w.ui.spinBoxDopplerQueue->value()),
                            w.centerFrequency);
}

// How far the range a dial shows is from where `t` was halfway through the last block, on
// the circle of rFSK, so that 0.1 m and 24.9 m are close.
double fskRangeError(const Radar& radar, double read, const sim::SceneTarget& t) {
    const FskScales s = fskScales(*radar.window);
    const double middle = radar.clock->now() - s.sampleCount / s.sampleRate / 2;
    return std::abs(std::remainder(read - t.rangeAt(middle), kFskRangeSpan));
}

} // namespace

TEST(FmcwEndToEnd, RangeScopeMarksTheTargetOnTheScaleTheCombosChose) {
    const double rmax = FmcwMaxRange(1024, 300e6);
    const sim::SceneTarget t = target(0.37 * rmax, 0.0, 1500);
    Fmcw radar({t}, kRangeScope);
    radar.ui().comboPSampleWindow->setCurrentIndex(3); // 1024 samples per sweep
    radar.ui().comboPBandwidth->setCurrentIndex(2);    // 300 MHz
    ASSERT_DOUBLE_EQ(radar.rmax(), rmax);
    radar.cycles(2);

    const QwtPlotMarker* marker = radar.window->markerRangePeak;
    EXPECT_LE(std::abs(marker->xValue() - t.range), rmax / 512) << marker->xValue();
    EXPECT_EQ(marker->label().text(),
              QStringLiteral(" Detected Range: %1 m").arg(marker->xValue(), 0, 'g', -1));
    EXPECT_EQ(radar.window->curveTopI->dataSize(), 1024u);
    EXPECT_TRUE(radar.window->curveBottom->testItemAttribute(QwtPlotItem::Legend));
    // The window starts open: sliders over the whole scale, no zone.
    EXPECT_EQ(radar.ui().rangeFilter_High->value(), static_cast<int>(rmax));
    EXPECT_FALSE(radar.window->zoneBottom->isVisible());
}

TEST(FmcwEndToEnd, RangeWindowSlidersSetTheZoneAndFollowTheScale) {
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

    // Twice the samples per sweep: the sliders open over twice the scale, and a window
    // chosen on it is drawn and searched there.
    radar.ui().comboPSampleWindow->setCurrentIndex(1);
    radar.cycles(2);
    ASSERT_DOUBLE_EQ(radar.rmax(), 2 * rmax);
    EXPECT_EQ(radar.ui().rangeFilter_High->value(), static_cast<int>(2 * rmax));
    EXPECT_FALSE(radar.window->zoneBottom->isVisible());
    radar.ui().rangeFilter_Low->setValue(50);
    radar.ui().rangeFilter_High->setValue(70);
    radar.cycles(1);
    EXPECT_LE(std::abs(marker->xValue() - 60.0), 2 * rmax / 512);
    EXPECT_TRUE(radar.window->zoneBottom->isVisible());
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(50, 70));
}

TEST(FmcwEndToEnd, WaterfallsScrollInARowPerCycle) {
    // The range waterfall by range bin; the velocity waterfall by velocity, within one Doppler
    // bin of 256 sweeps (four columns).
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
}

TEST(FmcwEndToEnd, MapShowsTheMovingTargetAndTheWallOnceDcSubtractionIsOff) {
    const sim::SceneTarget wall = target(50.0, 0.0, 3000), walker = target(25.0, 3.0, 500);
    Fmcw radar({wall, walker}, kMap);
    radar.cycles(2);
    ASSERT_EQ(radar.window->waterfall->columns(), 1024u);
    EXPECT_FALSE(radar.ui().groupBox_Top->isVisible());
    // Nearest range in the first row; the walker's beat moves by a fifth of a row with its
    // Doppler shift.
    const std::size_t peak = radar.strongest();
    EXPECT_NEAR(static_cast<double>(peak / kDopplerBins),
                512 * walker.rangeAt(radar.clock->now()) / radar.rmax(), 1.0);
    EXPECT_NEAR(static_cast<double>(peak % kDopplerBins), radar.velocityColumn(walker), 1.0);

    // The wall's row peaks at standing still only once DC subtraction is off.
    const auto wallRow = static_cast<std::size_t>(std::lround(512 * 50.0 / radar.rmax()));
    const auto wallPeak = [&] {
        return FindPeak(radar.history(), wallRow * kDopplerBins, (wallRow + 1) * kDopplerBins);
    };
    EXPECT_NE(wallPeak(), wallRow * kDopplerBins + 512);
    radar.ui().filterOptionDCSubtract->setChecked(false);
    radar.cycles(1);
    EXPECT_EQ(wallPeak(), wallRow * kDopplerBins + 512);
}

TEST(CwEndToEnd, VelocityScopeAndWaterfallShowTheTarget) {
    // 1024 sweeps give 1024 decimated samples, so each position is a bin of its own.
    const double vCW = 256000.0 * kSpeedOfLight / (512 * 2.5e10);
    const double v = 0.5 * vCW;
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

TEST(FskEndToEnd, DialsShowTheTargetAndTheSlidersSetTheZone) {
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
    EXPECT_LE(fskRangeError(radar, radar.ui().dialFSKRange->value(), strong), 0.3);
    EXPECT_GT(radar.ui().thermFSKMaxDetectedValue->value(), 8.0);
    EXPECT_EQ(radar.window->markerFskTarget->xValue(), v);
    EXPECT_EQ(radar.ui().recordLCDSampleRate->value(), s.sampleRate);

    radar.ui().velocityFilter_High->setValue(0);
    radar.cycles(1);
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(-3, 0));
    EXPECT_EQ(radar.ui().velocity_UpperBound->text(), "0 m/s");
    EXPECT_LE(std::abs(radar.ui().dialFSKVelocity->value() - weak.velocity), step);

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
    EXPECT_LE(fskRangeError(radar, r, t), 0.3);
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

TEST(FmcwEndToEnd, DetectionsOfEveryTargetReachTheDockAndThePlot) {
    Fmcw radar({target(20.0, 0.0, 3000), target(60.0, 0.0, 600)}, kRangeScope);
    auto* table = radar.window->findChild<QTableWidget*>(QStringLiteral("detectionsTable"));
    ASSERT_NE(table, nullptr);
    radar.cycles(2);
    EXPECT_EQ(table->rowCount(), 0); // the detector starts off
    radar.window->findChild<QCheckBox*>(QStringLiteral("detectorEnabled"))->setChecked(true);
    radar.cycles(2);
    ASSERT_GE(table->rowCount(), 2);
    const double bin = radar.rmax() / 513;
    std::vector<double> ranges;
    for (int row = 0; row < table->rowCount(); ++row)
        ranges.push_back(table->item(row, 0)->text().toDouble());
    for (double expected : {20.0, 60.0})
        EXPECT_TRUE(std::any_of(ranges.begin(), ranges.end(), [&](double r) {
            return std::abs(r - expected) <= 2 * bin;
        })) << expected;
    EXPECT_EQ(radar.window->curveDetections->dataSize(), static_cast<size_t>(table->rowCount()));
}
