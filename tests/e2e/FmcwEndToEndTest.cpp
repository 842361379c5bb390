// The window on an emulated board in FMCW sawtooth: targets placed in the scene must show at
// their range and radial velocity on the range marker, the waterfalls and the map.
#include "app/Tavrix.h"
#include "display/Waterfall.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Peak.h"
#include "sim/SimUsbDriver.h"

#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoneitem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using namespace tavrix::dsp;

constexpr int kAlder = 0; // 2.45 GHz, sweeping from 2.45 GHz - B/2 to 2.45 GHz + B/2

// A target whose echo has `amplitude` counts at `range` (it falls with the square of the
// range), moving at `velocity` (positive: away) without turning inside the test's time.
sim::SceneTarget target(double range, double velocity, double amplitude) {
    return {"target", range, velocity, amplitude * (range / 10) * (range / 10), 0.5, 2000.0};
}

// A board showing `targets` on a virtual clock, and the window streaming from it in FMCW
// sawtooth with the display mode of `display`. No direct leakage: it would be the strongest
// echo of every range profile.
class Radar {
public:
    Radar(std::vector<sim::SceneTarget> targets, QPushButton* Ui::Tavrix::*display) {
        sim::Scene scene = sim::defaultScene();
        scene.deviceModel = kAlder;
        scene.imperfections.leakage = 0;
        scene.targets = std::move(targets);
        driver.attach(std::make_shared<sim::EmulatedBoard>(scene, clock));
        window = std::make_unique<Tavrix>(driver);
        messages = std::make_unique<QSignalSpy>(window->statusBar(), &QStatusBar::messageChanged);
        click(ui().buttonActivateDevice);
        click(ui().*display);
    }

    Ui::Tavrix& ui() { return window->ui; }
    static void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void cycles(int n) {
        for (int i = 0; i < n; ++i)
            window->ReadStream();
    }
    bool shown(const QString& message) const {
        for (const QList<QVariant>& args : *messages)
            if (args.at(0).toString() == message)
                return true;
        return false;
    }
    double rmax() const { return FmcwMaxRange(window->samplesPerSweep, window->bandwidthHz); }
    double vmax() const { return FmcwMaxVelocity(window->centerFrequency, window->sweepTimeMs); }
    std::uint32_t sweeps() { return static_cast<std::uint32_t>(ui().spinBoxDopplerQueue->value()); }
    std::vector<double> history() const { return window->waterfall->History(); }

    // Fast-time bin and Doppler column at which the last read shows `t`: its range halfway
    // through the read, plus the shift of the beat by the Doppler frequency of the sweep's
    // start frequency.
    double rangeBin(const sim::SceneTarget& t, std::uint32_t sweepsRead) const {
        const double T = window->sweepTimeMs * 1e-3;
        const double middle = clock->now() - sweepsRead * T / 2;
        const double start = window->centerFrequency - window->bandwidthHz / 2;
        const double doppler = 2 * t.velocityAt(middle) * start / kSpeedOfLight;
        return 512 * t.rangeAt(middle) / rmax() + doppler * T / window->samplesPerSweep * 1024;
    }
    double velocityColumn(const sim::SceneTarget& t) const {
        return 512 + 512 * t.velocity / vmax();
    }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::SimUsbDriver driver; // outlives the window
    std::unique_ptr<Tavrix> window;
    std::unique_ptr<QSignalSpy> messages;
};

QPushButton* Ui::Tavrix::*const kRangeScope = &Ui::Tavrix::radioSpectrumDisplay_1;
QPushButton* Ui::Tavrix::*const kMap = &Ui::Tavrix::radioSpectrumDisplay_3;
QPushButton* Ui::Tavrix::*const kVelocityWaterfall = &Ui::Tavrix::radioSpectrumDisplay_4;
QPushButton* Ui::Tavrix::*const kRangeWaterfall = &Ui::Tavrix::radioSpectrumDisplay_5;

struct Cell {
    std::size_t row, column;
};
Cell strongest(const std::vector<double>& map) {
    const std::size_t i = FindPeak(map, 0, map.size());
    return {i / kDopplerBins, i % kDopplerBins};
}

} // namespace

TEST(FmcwEndToEnd, RangeScopeMarksTheTargetForEachSweepLengthAndBandwidth) {
    for (int samples : {0, 3})         // 128, 1024 samples per sweep
        for (int bandwidth : {0, 2}) { // 100 MHz, 300 MHz
            SCOPED_TRACE(testing::Message() << samples << "/" << bandwidth);
            const double rmax = FmcwMaxRange(128u << samples, (bandwidth == 0 ? 100e6 : 300e6));
            const sim::SceneTarget t = target(0.37 * rmax, 0.0, 1500);
            Radar radar({t}, kRangeScope);
            radar.ui().comboPSampleWindow->setCurrentIndex(samples);
            radar.ui().comboPBandwidth->setCurrentIndex(bandwidth);
            ASSERT_DOUBLE_EQ(radar.rmax(), rmax);
            radar.cycles(2);

            const QwtPlotMarker* marker = radar.window->markerRangePeak;
            ASSERT_NE(marker, nullptr);
            EXPECT_LE(std::abs(marker->xValue() - t.range), rmax / 512) << marker->xValue();
            EXPECT_EQ(marker->label().text(),
                      QStringLiteral(" Detected Range: %1 m").arg(marker->xValue(), 0, 'g', -1));
            EXPECT_EQ(radar.window->curveBottom->dataSize(), 513u);
            EXPECT_EQ(radar.window->curveBottom->title().text(), "FMCW Range");
            EXPECT_EQ(radar.ui().groupBox_Bottom->title(), "Range Scope Display");
            // The window starts open: sliders over the whole scale, no zone.
            EXPECT_EQ(radar.ui().rangeFilter_High->maximum(), static_cast<int>(rmax));
            EXPECT_EQ(radar.ui().rangeFilter_High->value(), static_cast<int>(rmax));
            EXPECT_EQ(radar.ui().range_UpperBound->text(),
                      QStringLiteral("%1 m").arg(static_cast<int>(rmax)));
            EXPECT_FALSE(radar.window->zoneBottom->isVisible());
            EXPECT_FALSE(radar.ui().groupBox_Velocity->isEnabled());
            // The time scope shows the sweep, spaced by the sample period.
            EXPECT_EQ(radar.window->curveTopI->dataSize(), 128u << samples);
            EXPECT_TRUE(radar.window->statusBar()->currentMessage().startsWith("Update Time: "));
        }
}

TEST(FmcwEndToEnd, LaterModelsShowTheTimeScopeOverASpanOfTheirSweepTime) {
    Radar radar({target(30.0, 0.0, 1000)}, kRangeScope);
    radar.ui().device_centerFrequency->setCurrentIndex(5); // sweep times 1, 2, 4, 10 ms
    radar.ui().comboPSweepTime->setCurrentIndex(2); // 4 ms: the span is not 9/10 of the sweep
    radar.cycles(1);
    const QwtScaleDiv& time = radar.ui().qwtPlotScope_1->axisScaleDiv(QwtPlot::xBottom);
    EXPECT_DOUBLE_EQ(time.upperBound(), 0.0038);
    EXPECT_EQ(radar.window->curveTopI->dataSize(), 128u);
}

TEST(FmcwEndToEnd, RangeWindowPicksOneOfTwoTargets) {
    const sim::SceneTarget nearTarget = target(20.0, 0.0, 3000), farTarget = target(60.0, 0.0, 600);
    Radar radar({nearTarget, farTarget}, kRangeScope);
    const double rmax = radar.rmax(); // 95.9 m
    radar.cycles(2);
    const QwtPlotMarker* marker = radar.window->markerRangePeak;
    EXPECT_LE(std::abs(marker->xValue() - 20.0), rmax / 512);

    radar.ui().rangeFilter_Low->setValue(50);
    radar.ui().rangeFilter_High->setValue(70);
    radar.cycles(1);
    EXPECT_LE(std::abs(marker->xValue() - 60.0), rmax / 512);
    EXPECT_TRUE(radar.window->zoneBottom->isVisible());
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

    radar.ui().rangeFilter_Low->setValue(0);
    radar.ui().rangeFilter_High->setValue(95);
    radar.cycles(1);
    EXPECT_FALSE(radar.window->zoneBottom->isVisible());
    EXPECT_LE(std::abs(marker->xValue() - 20.0), rmax / 512);
}

TEST(FmcwEndToEnd, RangeWaterfallRowsPeakAtTheTarget) {
    const sim::SceneTarget t = target(33.0, 0.0, 1500);
    Radar radar({t}, kRangeWaterfall);
    radar.cycles(3);
    ASSERT_NE(radar.window->waterfall, nullptr);
    EXPECT_EQ(radar.window->waterfall->columns(), 513u);
    const std::vector<double> history = radar.history();
    for (std::size_t row = 0; row < 3; ++row) {
        const std::size_t peak = FindPeak(history, row * 513, (row + 1) * 513) - row * 513;
        EXPECT_NEAR(static_cast<double>(peak), 512 * t.range / radar.rmax(), 1.0) << row;
    }
    EXPECT_EQ(radar.ui().groupBox_Bottom->title(), "Range Waterfall Display");
}

TEST(FmcwEndToEnd, MapShowsTargetsAtTheirRangeAndVelocity) {
    for (double velocity : {6.0, -9.0}) { // receding shows right of zero, approaching left
        SCOPED_TRACE(velocity);
        const sim::SceneTarget t = target(40.0, velocity, 1500);
        Radar radar({t}, kMap);
        radar.cycles(2);
        ASSERT_EQ(radar.window->waterfall->columns(), 1024u);
        const Cell peak = strongest(radar.history());
        EXPECT_NEAR(static_cast<double>(peak.row), radar.rangeBin(t, radar.sweeps()), 1.0);
        EXPECT_NEAR(static_cast<double>(peak.column), radar.velocityColumn(t), 1.0);
        EXPECT_EQ(peak.column > 512, velocity > 0);
        EXPECT_FALSE(radar.ui().groupBox_Top->isVisible());
        EXPECT_EQ(radar.ui().groupBox_Bottom->title(), "Range-Velocity Map");
        EXPECT_EQ(radar.ui().velocityFilter_High->value(), static_cast<int>(radar.vmax()));
    }
}

TEST(FmcwEndToEnd, StandingReflectorVanishesFromTheMapWithDcSubtraction) {
    const sim::SceneTarget wall = target(50.0, 0.0, 3000), walker = target(25.0, 3.0, 500);
    Radar radar({wall, walker}, kMap);
    radar.cycles(1);
    std::vector<double> map = radar.history();
    const Cell moving = strongest(map);
    EXPECT_NEAR(static_cast<double>(moving.column), radar.velocityColumn(walker), 1.0);
    const double peak = map[moving.row * kDopplerBins + moving.column];
    const auto wallRow = static_cast<std::size_t>(std::lround(512 * 50.0 / radar.rmax()));
    EXPECT_LT(map[wallRow * kDopplerBins + 512], peak - 100.0);

    // Without it the wall stands at zero velocity, stronger than the walker.
    radar.ui().filterOptionDCSubtract->setChecked(false);
    radar.cycles(1);
    map = radar.history();
    const std::size_t wallPeak =
        FindPeak(map, wallRow * kDopplerBins, (wallRow + 1) * kDopplerBins) -
        wallRow * kDopplerBins;
    EXPECT_EQ(wallPeak, 512u);
    EXPECT_GT(map[wallRow * kDopplerBins + 512], peak);
}

TEST(FmcwEndToEnd, VelocityWaterfallRowsPeakAtTheTargetVelocity) {
    // The row averages every range bin, so a target anywhere on the scale leads it.
    const sim::SceneTarget t = target(40.0, -12.0, 3000);
    Radar radar({t}, kVelocityWaterfall);
    radar.ui().spinBoxDopplerQueue->setValue(256);
    radar.cycles(2);
    ASSERT_EQ(radar.window->waterfall->columns(), 1024u);
    const std::vector<double> history = radar.history();
    // Within one Doppler bin of the 256-sweep transform, four columns wide.
    EXPECT_NEAR(static_cast<double>(FindPeak(history, 0, 1024)), radar.velocityColumn(t), 4.0);
    EXPECT_EQ(history[511], history[512]);
    EXPECT_EQ(radar.ui().groupBox_Bottom->title(), "Velocity Waterfall Display");
    EXPECT_TRUE(radar.window->acquisitionTimer->isActive());
}

TEST(FmcwEndToEnd, ShortReadsStopWithTheChainsOwnMessageAndDrawNothing) {
    struct Case {
        QPushButton* Ui::Tavrix::*display;
        const char* message;
    };
    for (const Case& c : {Case{kRangeScope, "Error: Did not receive requested number of samples."},
                          Case{kMap, "Error: Did not receive the proper number of samples."}}) {
        SCOPED_TRACE(c.message);
        Radar radar({target(30.0, 2.0, 1000)}, c.display);
        radar.driver.board(0).faults.shortRead = 4096;
        radar.cycles(1);
        EXPECT_TRUE(radar.shown(c.message));
        EXPECT_FALSE(radar.window->acquisitionTimer->isActive());
        EXPECT_FALSE(radar.ui().buttonActivateDevice->isChecked());
        EXPECT_FALSE(radar.ui().DisplayProperties->isEnabled());
        if (radar.window->curveBottom) {
            EXPECT_EQ(radar.window->curveBottom->dataSize(), 0u);
            EXPECT_EQ(radar.window->curveTopI->dataSize(), 0u);
        }
        if (radar.window->waterfall) {
            const std::vector<double> history = radar.history();
            EXPECT_TRUE(
                std::all_of(history.begin(), history.end(), [](double v) { return v == 0; }));
        }
        EXPECT_TRUE(radar.window->statusBar()->currentMessage().startsWith("Update Time: "));
    }
}
