// The window on an emulated board in the two Doppler modes: targets placed in the scene must
// show where physics puts them, on the markers, the dials and the waterfalls.
#include "app/Tavrix.h"
#include "display/Waterfall.h"
#include "dsp/CwVelocity.h"
#include "dsp/Fsk.h"
#include "dsp/Peak.h"
#include "sim/SimUsbDriver.h"

#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <qwt_dial.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoneitem.h>
#include <qwt_slider.h>
#include <qwt_thermo.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <tuple>

namespace {

using namespace tavrix::dsp;

constexpr double kC = 299792458.0;
constexpr int kElm = 4;   // 25 GHz, sweep times 0.5 / 1 / 4 / 10 ms
constexpr int kHazel = 7; // 24 GHz (outside FMCW), sweep times 1 / 2 / 4 / 10 ms

sim::SceneTarget target(double range, double velocity, double strength) {
    return {"target", range, velocity, strength, 1.0, 90.0};
}

// A board showing `targets` on a virtual clock, and the window streaming from it in the
// operating mode of `modeButton`.
class Radar {
public:
    Radar(int model, std::vector<sim::SceneTarget> targets, QRadioButton* Ui::Tavrix::*mode) {
        sim::Scene scene = sim::defaultScene();
        scene.deviceModel = model;
        scene.targets = std::move(targets);
        driver.attach(std::make_shared<sim::EmulatedBoard>(scene, clock));
        window = std::make_unique<Tavrix>(driver);
        messages = std::make_unique<QSignalSpy>(window->statusBar(), &QStatusBar::messageChanged);
        ui().device_centerFrequency->setCurrentIndex(model);
        click(ui().buttonActivateDevice);
        click(ui().*mode);
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
    std::vector<double> newestRow() const {
        const std::vector<double> history = window->waterfall->History();
        return {history.begin(), history.begin() + window->waterfall->columns()};
    }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::SimUsbDriver driver; // outlives the window
    std::unique_ptr<Tavrix> window;
    std::unique_ptr<QSignalSpy> messages;
};

QRadioButton* Ui::Tavrix::*const kCw = &Ui::Tavrix::radioOperationMode_5;
QRadioButton* Ui::Tavrix::*const kFsk = &Ui::Tavrix::radioOperationMode_4;

CwScales cwScales(const Tavrix& w) {
    return ComputeCwScales(w.samplesPerSweep, w.sweepTimeMs,
                           static_cast<std::uint32_t>(w.ui.spinBoxDopplerQueue->value()),
                           w.centerFrequency);
}

FskScales fskScales(const Tavrix& w) {
    return ComputeFskScales(w.samplesPerSweep, w.sweepTimeMs,
                            static_cast<std::uint32_t>(w.ui.spinBoxDopplerQueue->value()),
                            w.centerFrequency);
}

// The range the two tones report for `t` during the block that just ended. Tone B is sampled
// half a sweep period after tone A, so the Doppler line turns B's phase further by
// 2 pi fd lag; the chain does not undo that.
double fskRangeRead(const Radar& radar, const sim::SceneTarget& t) {
    const FskScales s = fskScales(*radar.window);
    const double middle = radar.clock->now() - s.sampleCount / s.sampleRate / 2;
    const double fd = 2.0 * t.velocityAt(middle) * radar.window->centerFrequency / kC;
    const double lag = (s.toneBOffset - 5) / s.sampleRate;
    return FskRangeFromPhase(4.0 * kPi * kFskToneSpacingHz * t.rangeAt(middle) / kC -
                             2.0 * kPi * fd * lag);
}

} // namespace

TEST(CwEndToEnd, VelocityScopeMarksTheTargetOnEitherSide) {
    for (double fraction : {0.5, -0.25}) {
        SCOPED_TRACE(fraction);
        // 1024 sweeps give 1024 decimated samples, so each position is a bin of its own;
        // a velocity on a bin shows one position low (zero frequency sits at 511).
        const double vCW = 256000.0 * kC / (512 * 2.5e10);
        const double v = fraction * vCW;
        Radar radar(kElm, {target(8.0, v, 3000)}, kCw);
        radar.ui().spinBoxDopplerQueue->setValue(1024);
        ASSERT_EQ(radar.window->displayMode, 2u);
        radar.cycles(2);

        const CwScales s = cwScales(*radar.window);
        const double step = 2.0 * vCW / 1024;
        const QwtPlotMarker* marker = radar.window->markerCwPeak;
        ASSERT_NE(marker, nullptr);
        EXPECT_LE(std::abs(marker->xValue() - v), step * 1.001) << marker->xValue();
        EXPECT_EQ(marker->label().text(),
                  QStringLiteral(" Max Velocity: %1 m/s").arg(marker->xValue(), 0, 'g', 6));

        // The time scope shows the decimated samples at their own spacing.
        EXPECT_EQ(radar.window->curveTopI->dataSize(), 1024u);
        EXPECT_DOUBLE_EQ(radar.window->topXData[1], s.decimatedSpacing);
        EXPECT_EQ(radar.ui().recordLCDSampleRate->value(), s.sampleRate);
    }
}

TEST(CwEndToEnd, VelocityWaterfallRowsPeakAtTheTarget) {
    const double v = -3.7;
    Radar radar(kElm, {target(12.0, v, 3000)}, kCw);
    radar.ui().spinBoxDopplerQueue->setValue(1024);
    Radar::click(radar.ui().radioSpectrumDisplay_4);
    ASSERT_EQ(radar.window->displayMode, 4u);
    radar.cycles(3);

    const std::vector<double> axis = CwVelocityAxis(cwScales(*radar.window).velocitySpan);
    const std::vector<double> history = radar.window->waterfall->History();
    for (std::size_t row = 0; row < 4; ++row) {
        SCOPED_TRACE(row);
        const Span<const double> values(history.data() + row * 1024, 1024);
        const std::size_t p = FindPeak(values, 0, 1024);
        if (row < 3) // one position plus the half by which the line falls between two
            EXPECT_NEAR(axis[p], v, 1.5 * (axis[1] - axis[0]));
        else
            EXPECT_EQ(values[p], 0.0); // not filled yet
    }
}

TEST(FskEndToEnd, DialsReadVelocityAndRangeOfTheTarget) {
    const std::vector<sim::SceneTarget> cases = {target(9.0, 1.0, 3000), target(15.0, -1.2, 3000)};
    for (const sim::SceneTarget& t : cases) {
        SCOPED_TRACE(t.velocity);
        Radar radar(kHazel, {t}, kFsk);
        ASSERT_EQ(radar.window->displayMode, 2u);
        radar.cycles(2);

        // 24 GHz, 1 ms, 64 sweeps: vFSK = 3.1228 m/s, sliders -3..3 in steps of 0.
        const FskScales s = fskScales(*radar.window);
        const QSlider* low = radar.ui().velocityFilter_Low;
        EXPECT_EQ(std::make_tuple(low->minimum(), low->maximum(), low->singleStep(), low->value()),
                  std::make_tuple(-3, 3, 0, -3));
        EXPECT_FALSE(radar.window->zoneBottom->isVisible());

        const double v = radar.ui().dialFSKVelocity->value();
        const double r = radar.ui().dialFSKRange->value();
        EXPECT_LE(std::abs(v - t.velocity), 2.0 * s.velocitySpan / 1023) << v;
        EXPECT_NEAR(r, fskRangeRead(radar, t), 0.5);
        EXPECT_GT(radar.ui().thermFSKMaxDetectedValue->value(), 8.0);
        EXPECT_EQ(radar.ui().thermFSKMaxDetectedValue->alarmLevel(), 8.0);

        const QwtPlotMarker* mark = radar.window->markerFskTarget;
        EXPECT_EQ(mark->xValue(), v);
        EXPECT_EQ(mark->label().text(), QStringLiteral(" Max Velocity: %1 m/s").arg(v, 0, 'g', 6));
        EXPECT_EQ(radar.window->markerFskThreshold->yValue(), 8.0);
        EXPECT_EQ(radar.window->markerFskThreshold->label().text(), "Detection Threshold: 8 dB");
        EXPECT_EQ(radar.window->curveTopI->dataSize(), radar.window->samplesPerSweep); // one sweep
        EXPECT_EQ(radar.ui().recordLCDSampleRate->value(), s.sampleRate);
    }
}

TEST(FskEndToEnd, VelocityWindowPicksTheTargetInsideIt) {
    // The strong target recedes at 1.2 m/s; a weaker one approaches at 1.0 m/s.
    const sim::SceneTarget strong = target(15.0, 1.2, 3000);
    const sim::SceneTarget weak = target(9.0, -1.0, 800);
    Radar radar(kHazel, {strong, weak}, kFsk);
    radar.cycles(1);
    const double step = 2.0 * fskScales(*radar.window).velocitySpan / 1023;
    EXPECT_LE(std::abs(radar.ui().dialFSKVelocity->value() - strong.velocity), step);

    radar.ui().velocityFilter_High->setValue(0);
    radar.cycles(1);
    EXPECT_TRUE(radar.window->zoneBottom->isVisible());
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(-3, 0));
    EXPECT_EQ(radar.ui().velocity_UpperBound->text(), "0 m/s");
    EXPECT_LE(std::abs(radar.ui().dialFSKVelocity->value() - weak.velocity), step);
    EXPECT_NEAR(radar.ui().dialFSKRange->value(), fskRangeRead(radar, weak), 0.5);

    // Crossed sliders: the one not held follows the other.
    radar.ui().velocityFilter_Low->setValue(2);
    radar.cycles(1);
    EXPECT_EQ(radar.ui().velocityFilter_High->value(), 2);
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(2, 2));
}

TEST(FskEndToEnd, RangeTrackMarksTheRangeReadAndZeroBelowThreshold) {
    const sim::SceneTarget t = target(6.0, 0.8, 300);
    Radar radar(kHazel, {t}, kFsk);
    Radar::click(radar.ui().radioSpectrumDisplay_5);
    ASSERT_EQ(radar.window->displayMode, 5u);
    radar.cycles(2);

    ASSERT_EQ(radar.window->waterfall->columns(), 1024u);
    const double r = radar.ui().dialFSKRange->value();
    EXPECT_NEAR(r, fskRangeRead(radar, t), 0.5);
    std::vector<double> row = radar.newestRow();
    const std::size_t mark = FskTrackPosition(r);
    EXPECT_EQ(mark, static_cast<std::size_t>(r / kFskRangeSpan * 1024));
    EXPECT_EQ(row[mark], 1.0);
    EXPECT_EQ(std::count(row.begin(), row.end(), 0.0), 1023);

    // A threshold above the level: no detection, both dials at 0, the track at position 0,
    // and the thermometer still showing the level against the new alarm level.
    const double level = radar.ui().thermFSKMaxDetectedValue->value();
    radar.ui().counterFSKDetectionThreshold->setValue(level + 10.0);
    radar.cycles(1);
    EXPECT_EQ(radar.ui().dialFSKRange->value(), 0.0);
    EXPECT_EQ(radar.ui().dialFSKVelocity->value(), 0.0);
    EXPECT_NEAR(radar.ui().thermFSKMaxDetectedValue->value(), level, 3.0);
    EXPECT_EQ(radar.ui().thermFSKMaxDetectedValue->alarmLevel(), level + 10.0);
    row = radar.newestRow();
    EXPECT_EQ(row[0], 1.0);
    EXPECT_EQ(std::count(row.begin(), row.end(), 0.0), 1023);
}

TEST(FskEndToEnd, SlowSweepsLeaveNoVelocityWindow) {
    // 25 GHz and 4 ms: vFSK = 0.75 m/s, so both sliders only hold 0 and the window is open.
    Radar radar(kElm, {target(6.0, 0.3, 3000)}, kFsk);
    radar.ui().comboPSweepTime->setCurrentIndex(2);
    radar.cycles(1);
    EXPECT_NEAR(fskScales(*radar.window).velocitySpan, 0.7495, 1e-4);
    for (QSlider* slider : {radar.ui().velocityFilter_Low, radar.ui().velocityFilter_High}) {
        EXPECT_EQ(slider->minimum(), 0);
        EXPECT_EQ(slider->maximum(), 0);
    }
    EXPECT_FALSE(radar.window->zoneBottom->isVisible());
    EXPECT_NE(radar.ui().dialFSKVelocity->value(), 0.0);
}

TEST(DopplerEndToEnd, ShortReadsStopWithTheChainsOwnMessage) {
    struct Case {
        QRadioButton* Ui::Tavrix::*mode;
        const char* message;
        double rateShown; // CW reports its rate before reading, FSK only after a full read
    };
    for (const Case& c : {Case{kCw, "Error: Interface cound not be set!", 256000.0},
                          Case{kFsk, "Error: Received wrong number of samples from radar.", 0.0}}) {
        SCOPED_TRACE(c.message);
        Radar radar(kElm, {target(8.0, 2.0, 3000)}, c.mode);
        radar.driver.board(0).faults.shortRead = 4096;
        radar.cycles(1);
        EXPECT_TRUE(radar.shown(c.message));
        EXPECT_FALSE(radar.window->acquisitionTimer->isActive());
        EXPECT_FALSE(radar.ui().buttonActivateDevice->isChecked());
        EXPECT_FALSE(radar.ui().DisplayProperties->isEnabled());
        // Nothing of the partial block is drawn.
        EXPECT_EQ(radar.window->curveBottom->dataSize(), 0u);
        EXPECT_EQ(radar.window->curveTopI->dataSize(), 0u);
        EXPECT_EQ(radar.ui().recordLCDSampleRate->value(), c.rateShown);
        EXPECT_TRUE(radar.window->statusBar()->currentMessage().startsWith("Update Time: "));
    }
}
