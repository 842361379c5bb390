// The window on an emulated board on a virtual clock, in every chain and in playback: results
// reach markers, dials, waterfalls and map; sliders set the windows and follow the scales; a
// short read stops the stream with the chain's own message; a recording's header sets and keeps
// the controls, and its playback can be paused, stepped, sought and looped. Target positions
// and the player's frames are checked without a window in tests/radar.
#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "display/Waterfall.h"
#include "dsp/CwVelocity.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Fsk.h"
#include "dsp/Peak.h"
#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"
#include "sim/SimUsbDriver.h"

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <qwt_dial.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoneitem.h>
#include <qwt_thermo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace tavrix::dsp;

// Device models: 2.45 GHz; 25 GHz; 24 GHz, sweeping up from it in FMCW.
constexpr int kAlder = 0, kElm = 4, kHazel = 7;
// Buttons of the operating and display modes most tests start in.
constexpr const char *kCw = "radioOperationMode_5", *kFsk = "radioOperationMode_4";
constexpr const char *kRangeScope = "radioSpectrumDisplay_1", *kMap = "radioSpectrumDisplay_3";

// A target that does not turn during a test, its echo `amplitude` counts at `range`.
inline sim::SceneTarget target(double range, double velocity, double amplitude) {
    return {"target", range, velocity, amplitude * (range / 10) * (range / 10), 0.5, 2000.0};
}

inline void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

class Radar {
public:
    // A board of `model` showing `targets` without leakage (the strongest echo otherwise), the
    // window activated on it, then the buttons of the given object names clicked.
    Radar(int model, std::vector<sim::SceneTarget> targets,
          std::initializer_list<const char*> buttons = {}) {
        sim::Scene scene = sim::defaultScene();
        scene.deviceModel = model;
        scene.imperfections.leakage = 0;
        scene.targets = std::move(targets);
        attach(std::make_shared<sim::EmulatedBoard>(scene, clock));
        ui().device_centerFrequency->setCurrentIndex(model);
        activate();
        for (const char* name : buttons)
            click(window->findChild<QAbstractButton*>(name));
    }

    Ui::Tavrix& ui() { return window->ui; }
    void activate() { click(ui().buttonActivateDevice); }
    void cycles(int n) {
        for (int i = 0; i < n; ++i)
            window->ReadStream();
    }
    std::string status() const { return window->statusBar()->currentMessage().toStdString(); }
    std::vector<double> history() const { return window->waterfall->History(); }
    // The strongest column of waterfall row `row` of `width` columns.
    double rowPeak(std::size_t row, std::size_t width) const {
        return static_cast<double>(FindPeak(history(), row * width, (row + 1) * width) -
                                   row * width);
    }
    double rmax() const { return FmcwMaxRange(window->samplesPerSweep, window->bandwidthHz); }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::SimUsbDriver driver; // outlives the window
    std::unique_ptr<Tavrix> window;

protected:
    Radar() = default;
    void attach(std::shared_ptr<sim::EmulatedBoard> board) {
        driver.attach(std::move(board));
        window = std::make_unique<Tavrix>(driver);
    }
};

TEST(FmcwEndToEnd, RangeScopeMarksTheTargetInsideTheSlidersWindowOnTheCombosScale) {
    Radar radar(kAlder, {target(20.0, 0.0, 3000), target(60.0, 0.0, 600)}, {kRangeScope});
    const double rmax = radar.rmax(); // 95.9 m
    const QwtPlotMarker* marker = radar.window->markerRangePeak;
    radar.cycles(2);
    EXPECT_LE(std::abs(marker->xValue() - 20.0), rmax / 512);
    EXPECT_EQ(marker->label().text(),
              QStringLiteral(" Detected Range: %1 m").arg(marker->xValue(), 0, 'g', -1));

    // Every detection reaches the dock and the plot once the detector is on.
    auto* table = radar.window->findChild<QTableWidget*>(QStringLiteral("detectionsTable"));
    radar.window->findChild<QCheckBox*>(QStringLiteral("detectorEnabled"))->setChecked(true);
    radar.cycles(1);
    for (double expected : {20.0, 60.0}) {
        bool found = false;
        for (int row = 0; row < table->rowCount(); ++row)
            found |= std::abs(table->item(row, 0)->text().toDouble() - expected) <= 2 * rmax / 513;
        EXPECT_TRUE(found) << expected;
    }
    EXPECT_EQ(radar.window->curveDetections->dataSize(), static_cast<size_t>(table->rowCount()));

    radar.ui().rangeFilter_Low->setValue(50);
    radar.ui().rangeFilter_High->setValue(70);
    radar.cycles(1);
    EXPECT_LE(std::abs(marker->xValue() - 60.0), rmax / 512);
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(50, 70));
    // Crossing the bounds drags the upper one along when it does not hold the focus.
    radar.ui().rangeFilter_Low->setValue(80);
    radar.cycles(1);
    EXPECT_EQ(radar.ui().rangeFilter_High->value(), 80);
}

TEST(FmcwEndToEnd, WaterfallsScrollARowPerCycleAndTheMapFollowsDcSubtraction) {
    const sim::SceneTarget still = target(33.0, 0.0, 1500);
    Radar range(kAlder, {still}, {"radioSpectrumDisplay_5"});
    range.cycles(2); // a row per cycle
    ASSERT_EQ(range.window->waterfall->columns(), 513u);
    EXPECT_NEAR(range.rowPeak(1, 513), 512 * still.range / range.rmax(), 1.0);

    // The map: a row per range bin, the wall's row peaking at standing still only once DC
    // subtraction is off.
    Radar map(kAlder, {target(50.0, 0.0, 3000), target(25.0, 3.0, 500)}, {kMap});
    map.cycles(2);
    ASSERT_EQ(map.window->waterfall->columns(), 1024u);
    const auto wallRow = static_cast<std::size_t>(std::lround(512 * 50.0 / map.rmax()));
    EXPECT_NE(map.rowPeak(wallRow, kDopplerBins), 512);
    map.ui().filterOptionDCSubtract->setChecked(false);
    map.cycles(1);
    EXPECT_EQ(map.rowPeak(wallRow, kDopplerBins), 512);
}

TEST(CwEndToEnd, VelocityScopeMarksTheTarget) {
    // 1024 sweeps give 1024 decimated samples, so each position is a bin of its own.
    const double vCW = 256000.0 * kSpeedOfLight / (512 * 2.5e10), v = 0.5 * vCW;
    Radar radar(kElm, {target(8.0, v, 4700)}, {kCw});
    radar.ui().spinBoxDopplerQueue->setValue(1024);
    radar.cycles(2);

    const QwtPlotMarker* marker = radar.window->markerCwPeak;
    EXPECT_LE(std::abs(marker->xValue() - v), 2.0 * vCW / 1024 * 1.001) << marker->xValue();
}

TEST(FskEndToEnd, DialsTrackAndSlidersShowTheTargetInsideTheWindow) {
    // The stronger target recedes at 1.2 m/s, a weaker one approaches at 1.0 m/s. 24 GHz,
    // 1 ms, 64 sweeps: vFSK = 3.1228 m/s, velocity sliders -3..3, the window open.
    const sim::SceneTarget strong = target(15.0, 1.2, 1300), weak = target(9.0, -1.0, 1000);
    Radar radar(kHazel, {strong, weak}, {kFsk, "radioSpectrumDisplay_5"});
    radar.cycles(2);
    const double step = 2.0 * kSpeedOfLight / (4 * 24e9 * 1e-3) / 1023;
    EXPECT_LE(std::abs(radar.ui().dialFSKVelocity->value() - strong.velocity), step);
    const double r = radar.ui().dialFSKRange->value();
    EXPECT_NEAR(r, strong.rangeAt(radar.clock->now()), 0.4);
    // The range track: one mark, where the dial reads.
    const std::vector<double> row = radar.history();
    EXPECT_EQ(row[static_cast<std::size_t>(r / kFskRangeSpan * 1024)], 1.0);
    EXPECT_EQ(std::count(row.begin(), row.begin() + 1024, 0.0), 1023);

    click(radar.ui().radioSpectrumDisplay_2); // the velocity scope
    radar.cycles(1);                          // re-ranges the sliders to the velocity scale
    radar.ui().velocityFilter_High->setValue(0);
    radar.cycles(1);
    EXPECT_EQ(radar.window->zoneBottom->interval(), QwtInterval(-3, 0));
    EXPECT_LE(std::abs(radar.ui().dialFSKVelocity->value() - weak.velocity), step);
    EXPECT_EQ(radar.window->markerFskTarget->xValue(), radar.ui().dialFSKVelocity->value());

    // Bounds crossed as the parameters change: the new scale opens the window whole instead
    // of ordering the old values into an empty one.
    radar.ui().velocityFilter_Low->setValue(2);
    radar.ui().velocityFilter_High->setValue(-2);
    radar.ui().spinBoxDopplerQueue->setValue(128);
    radar.cycles(1);
    EXPECT_EQ(radar.ui().velocityFilter_Low->value(), -3);
    EXPECT_EQ(radar.ui().velocityFilter_High->value(), 3);
}

TEST(ChainEndToEnd, ShortReadsStopWithTheChainsOwnMessageAndDrawNothing) {
    const std::pair<const char*, const char*> cases[] = {
        {kRangeScope, "Error: Did not receive requested number of samples."},
        {kCw, "Error: Interface cound not be set!"},
        {kFsk, "Error: Received wrong number of samples from radar."}};
    for (const auto& [button, message] : cases) {
        SCOPED_TRACE(message);
        Radar radar(kElm, {target(8.0, 2.0, 4700)}, {button});
        radar.driver.board(0).faults.shortRead = 4096;
        radar.cycles(1);
        // The cycle time does not cover why the stream stopped.
        EXPECT_EQ(radar.status(), message);
        EXPECT_FALSE(radar.window->acquisitionTimer->isActive() ||
                     radar.ui().buttonActivateDevice->isChecked() ||
                     radar.ui().DisplayProperties->isEnabled());
        // Nothing of the partial block is drawn.
        for (QwtPlotCurve* curve : {radar.window->curveBottom, radar.window->curveTopI})
            EXPECT_TRUE(curve == nullptr || curve->dataSize() == 0);
        const std::vector<double> h =
            radar.window->waterfall ? radar.history() : std::vector<double>{};
        EXPECT_TRUE(std::all_of(h.begin(), h.end(), [](double v) { return v == 0; }));
    }
}

using tavrix::record::RecordingHeader;

std::string file(const std::string& name) {
    static QTemporaryDir dir;
    return dir.filePath(QString::fromStdString(name)).toStdString();
}

// The window playing a recording of `sweeps` sweeps of plausible raw counts (opened from the
// emulated board), or `problem` saying why it cannot.
class Played : public Radar {
public:
    Played(const std::string& name, const RecordingHeader& header, int sweeps) {
        std::vector<std::complex<double>> samples;
        for (int i = 0; i < sweeps * header.samplesPerSweep; ++i)
            samples.emplace_back(16000 + i % 97, 16000 + i % 89);
        EXPECT_TRUE(tavrix::record::writeRecording(file(name), header, samples, problem))
            << problem;
        attach(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(), clock));
        problem = window->openRecording(QString::fromStdString(file(name))).toStdString();
    }
    std::string problem;
};

TEST(PlaybackEndToEnd, HeaderSetsTheControlsAndOnlyTheRecordedOnesAreRefused) {
    // The eighth model sweeps upwards from 24 GHz: in FMCW its carrier is half the bandwidth
    // higher, and the header's centre frequency says which bandwidth it was.
    Played s("eighth.dat", {2.4375e10, 2.0, 256, 7.5e8}, 20);
    ASSERT_EQ(s.problem, "");
    Ui::Tavrix& ui = s.ui();
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 16) << "the sweeps that fit rather than 64";
    EXPECT_TRUE(ui.buttonActivateDevice->isChecked()) << "an opened recording plays";
    EXPECT_EQ(ui.comboDevices->currentText(), "Recording: eighth.dat");
    EXPECT_EQ(ui.device_centerFrequency->currentIndex(), kHazel);
    EXPECT_DOUBLE_EQ(s.window->centerFrequency, 2.4375e10);
    const std::uint16_t word = s.window->operatingWord;
    EXPECT_EQ(word, s.window->playback->player().Recorded().operatingWord());

    // A combo and a mode button the recording fixes refuse; the refusal stays readable behind
    // the next tick's time and playback position.
    QTest::keyClick(ui.comboPSampleWindow, Qt::Key_Down);
    EXPECT_EQ(s.status(),
              "Refused: the number of samples per sweep is fixed by the recording eighth.dat");
    click(ui.radioOperationMode_5);
    EXPECT_TRUE(ui.radioOperationMode_1->isChecked());
    EXPECT_EQ(s.window->operatingWord, word);
    s.cycles(2);
    EXPECT_TRUE(QString::fromStdString(s.status())
                    .contains(QRegExp("^Update Time: .* s \\| Playback 0.002 / 0.040 s \\| "
                                      "Refused: the operating mode is fixed by the recording "
                                      "eighth.dat$")))
        << s.status();

    // Display modes stay free; sweep counts only up to the recording.
    click(ui.radioSpectrumDisplay_3);
    ui.spinBoxDopplerQueue->setValue(24);
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 16);
    EXPECT_EQ(s.status(), "Refused: eighth.dat holds 20 sweeps, fewer than the 24 of one "
                          "Range-Velocity Map frame");

    // Closed, the window is back on the board, its controls free again.
    s.window->closeRecording();
    EXPECT_EQ(s.window->playback, nullptr);
    EXPECT_FALSE(ui.buttonActivateDevice->isChecked());
    EXPECT_EQ(ui.comboDevices->currentText(), "Velmora USB SDR");
    EXPECT_EQ(s.window->findChild<QDockWidget*>(QStringLiteral("playbackDock")), nullptr);
}

TEST(PlaybackEndToEnd, TheControlsPauseStepSeekLoopAndEnd) {
    Played cw("cw.dat", {2.45e9, 0.5, 128, 0}, 7);
    EXPECT_EQ(cw.problem,
              "Cannot play cw.dat: cw.dat holds 7 sweeps, fewer than the 8 of one Velocity Scope "
              "frame");
    EXPECT_EQ(cw.window->playback, nullptr);

    // 40 sweeps of 128, a sweep per range-scope frame, played once.
    Played s("once.dat", {2.45e9, 0.5, 128, 1e8}, 40);
    TavrixPlayback& playback = *s.window->playback;
    playback.setLoop(false);
    const auto shown = [&] { return s.window->frameTime.seconds * 256000; };
    s.cycles(3);
    EXPECT_EQ(shown(), 256);

    // Paused, nothing moves until a step; the step shows the next sweep.
    playback.setPaused(true);
    EXPECT_TRUE(s.window->displayPaused);
    s.cycles(2);
    EXPECT_EQ(shown(), 256);
    playback.step();
    s.cycles(2);
    EXPECT_EQ(shown(), 384);

    // A seek while paused shows the frame there, and the waterfall starts afresh.
    click(s.window->findChild<QAbstractButton*>(QStringLiteral("radioSpectrumDisplay_5")));
    playback.setPaused(false);
    s.cycles(3);
    playback.setPaused(true);
    playback.seekTo(30 * 128 / 256000.0);
    s.cycles(1);
    EXPECT_EQ(shown(), 30 * 128);
    const std::vector<double> rows = s.history();
    EXPECT_TRUE(std::all_of(rows.begin() + 513, rows.end(), [](double v) { return v == 0; }))
        << "only the row after the jump";

    // The loop region of the frame shown, saved as a clip, holds just that sweep.
    playback.markRegion(true);
    playback.markRegion(false);
    s.window->saveFileDialog = [](const Tavrix::SaveFileQuestion&) {
        return QString::fromStdString(file("clip.dat"));
    };
    playback.saveClip();
    tavrix::record::Recording clip;
    std::string error;
    ASSERT_TRUE(tavrix::record::readRecording(file("clip.dat"), clip, error)) << error;
    ASSERT_EQ(clip.samples.size(), 128u);
    EXPECT_EQ(clip.samples[5],
              std::complex<double>(16000 + (30 * 128 + 5) % 97, 16000 + (30 * 128 + 5) % 89));

    // Played to its end, it pauses there and says so; Play starts it again.
    playback.setPaused(false);
    s.cycles(12);
    EXPECT_EQ(shown(), 39 * 128);
    EXPECT_NE(
        s.status().find("Playback of once.dat reached its end (0.020 s); Play starts it again"),
        std::string::npos)
        << s.status();
    EXPECT_TRUE(s.window->acquisitionTimer->isActive());
    playback.setPaused(false);
    s.cycles(1);
    EXPECT_EQ(shown(), 0);
}

TEST(PlaybackEndToEnd, TheFileMenuSwitchesBoardsLeavingTheRecording) {
    Played s("switch.dat", {2.45e9, 0.5, 128, 1e8}, 40);
    sim::SimUsbDriver none; // a machine without boards
    s.window->setBoardProvider(
        [&](bool emulated) -> UsbDriver& {
            return emulated ? static_cast<UsbDriver&>(s.driver) : none;
        },
        true);
    s.window->findChild<QAction*>(QStringLiteral("actionRealBoards"))->trigger();
    EXPECT_EQ(s.window->playback, nullptr);
    EXPECT_FALSE(s.ui().buttonActivateDevice->isChecked());
    EXPECT_EQ(s.ui().comboDevices->currentText(), "No Devices Found");
    s.window->findChild<QAction*>(QStringLiteral("actionEmulatedBoard"))->trigger();
    EXPECT_EQ(s.ui().comboDevices->currentText(), "Velmora USB SDR");
    s.activate();
    s.cycles(2);
    EXPECT_EQ(s.status().rfind("Update Time: ", 0), 0u) << s.status();
    EXPECT_FALSE(s.window->frameTime.inRecording) << "the board's frames, not the recording's";
}
