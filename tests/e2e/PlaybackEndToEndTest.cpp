// Playback of recordings through the window: a recording of a scene shows its targets where
// the live stream showed them, the header sets the controls and keeps them, frames the
// recording cannot fill are refused, and unplayable files are refused at start-up.
#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "device/RadarDevice.h"
#include "display/Waterfall.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Peak.h"
#include "record/RecordingWriter.h"
#include "sim/PlaybackSource.h"
#include "sim/SimUsbDriver.h"

#include <QProcess>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <qwt_dial.h>
#include <qwt_plot_marker.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

namespace {

using Samples = std::vector<std::complex<double>>;
using tavrix::record::RecordingHeader;

constexpr int kAlder = 0, kElm = 4, kFir = 5, kHazel = 7;

void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

// The window on a board on a virtual clock: live, showing a scene, or playing a recording.
class Station {
public:
    explicit Station(const sim::Scene& scene) {
        driver.attach(std::make_shared<sim::EmulatedBoard>(scene, clock));
        window = std::make_unique<Tavrix>(driver);
        ui().device_centerFrequency->setCurrentIndex(scene.deviceModel);
    }
    Station(const std::string& path, sim::PlaybackOptions options) {
        source = sim::PlaybackSource::load(path, options, clock, &problem);
        if (!source)
            return;
        driver.attach(std::make_shared<sim::EmulatedBoard>(source, clock));
        window = std::make_unique<Tavrix>(driver);
        problem = TavrixPlayback::attach(*window, source).toStdString();
    }

    Ui::Tavrix& ui() { return window->ui; }
    void activate() { click(ui().buttonActivateDevice); }
    void cycles(int n) {
        for (int i = 0; i < n; ++i)
            window->ReadStream();
    }
    QString status() const { return window->statusBar()->currentMessage(); }
    std::uint16_t lastWord() const { return driver.board(0).acquisition().wordsReceived().back(); }

    // Reads `count` samples as the recorder does and writes them with the header of the
    // window's operating parameters.
    void record(const std::string& path, int count) {
        Tavrix::SampleBlock block;
        window->writeCommandBlock();
        ASSERT_EQ(window->radarDevice->ReadFrame(block, count, 60000), count);
        const auto header = tavrix::record::headerForMode(
            window->operatingMode, window->centerFrequency, window->sweepTimeMs,
            window->samplesPerSweep, window->bandwidthHz);
        std::string error;
        ASSERT_TRUE(tavrix::record::writeRecording(path, header, block, error)) << error;
    }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::SimUsbDriver driver; // outlives the window
    std::shared_ptr<sim::PlaybackSource> source;
    std::string problem;
    std::unique_ptr<Tavrix> window;
};

class Playback : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrix-e2e-playback-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string file(const std::string& name) const { return dir + "/" + name; }

    // A recording of `sweeps` sweeps of plausible raw counts.
    std::string made(const std::string& name, const RecordingHeader& header, int sweeps) const {
        Samples samples;
        for (int i = 0; i < sweeps * header.samplesPerSweep; ++i)
            samples.emplace_back(16000 + i % 97, 16000 + i % 89);
        std::string error;
        EXPECT_TRUE(tavrix::record::writeRecording(file(name), header, samples, error)) << error;
        return file(name);
    }

    std::string dir;
};

sim::Scene sceneOf(int model, sim::SceneTarget target) {
    sim::Scene scene = sim::defaultScene();
    scene.deviceModel = model;
    scene.imperfections.leakage = 0; // it would be the strongest echo of every range profile
    scene.targets = {target};
    return scene;
}

// A target that does not turn during the test; `amplitude` counts at its range.
sim::SceneTarget target(double range, double velocity, double amplitude) {
    return {"target", range, velocity, amplitude * (range / 10) * (range / 10), 0.5, 2000.0};
}

struct Cell {
    std::size_t row, column;
};
Cell strongestCell(const Tavrix& window) {
    const std::vector<double> map = window.waterfall->History();
    const std::size_t i = tavrix::dsp::FindPeak(map, 0, map.size());
    return {i / tavrix::dsp::kDopplerBins, i % tavrix::dsp::kDopplerBins};
}

} // namespace

TEST_F(Playback, EveryModeShowsTheRecordedTargetsWhereLiveShowedThem) {
    // FMCW range scope: the range marker, within one of the 513 range bins.
    {
        Station live(sceneOf(kAlder, target(37.0, 0.0, 1500)));
        live.activate();
        live.cycles(2);
        const double liveRange = live.window->markerRangePeak->xValue();
        const double bin = live.window->bottomXData[1] - live.window->bottomXData[0];
        ASSERT_NEAR(liveRange, 37.0, 2 * bin);
        live.record(file("range.dat"), 64 * 128);

        Station played(file("range.dat"), {});
        ASSERT_EQ(played.problem, "");
        played.activate();
        played.cycles(2);
        ASSERT_NE(played.window->markerRangePeak, nullptr);
        EXPECT_LE(std::abs(played.window->markerRangePeak->xValue() - liveRange), bin * 1.001);
        EXPECT_TRUE(played.window->acquisitionTimer->isActive());
    }
    // FMCW range-velocity map: the strongest cell, within one row and one column. With
    // 1024 samples per sweep a row spans 1.5 m, so the target's motion between the live
    // frame and the recorded one stays well inside a row.
    {
        Station live(sceneOf(kAlder, target(40.0, 6.0, 1500)));
        live.activate();
        live.ui().comboPSampleWindow->setCurrentIndex(3);
        click(live.ui().radioSpectrumDisplay_3);
        live.cycles(2);
        const Cell liveCell = strongestCell(*live.window);
        ASSERT_NEAR(static_cast<double>(liveCell.row), 512 * 40.0 / 767.5, 2.0);
        ASSERT_GT(liveCell.column, 512u); // receding
        live.record(file("map.dat"), 4 * 64 * 1024);

        Station played(file("map.dat"), {});
        played.activate();
        click(played.ui().radioSpectrumDisplay_3);
        ASSERT_EQ(played.window->displayMode, 3u);
        played.cycles(2);
        const Cell cell = strongestCell(*played.window);
        EXPECT_LE(std::abs(static_cast<double>(cell.row) - liveCell.row), 1.0);
        EXPECT_LE(std::abs(static_cast<double>(cell.column) - liveCell.column), 1.0);
    }
    // CW velocity scope: the peak marker, within one of the 1024 velocity positions.
    {
        Station live(sceneOf(kElm, target(8.0, 2.0, 3000)));
        live.activate();
        click(live.ui().radioOperationMode_5);
        live.cycles(2);
        const double liveVelocity = live.window->markerCwPeak->xValue();
        const double bin = live.window->bottomXData[1] - live.window->bottomXData[0];
        ASSERT_NEAR(liveVelocity, 2.0, 2 * bin);
        live.record(file("cw.dat"), 4 * 64 * 128);

        Station played(file("cw.dat"), {});
        played.activate();
        ASSERT_EQ(played.window->operatingMode, 3u);
        played.cycles(2);
        ASSERT_NE(played.window->markerCwPeak, nullptr);
        EXPECT_LE(std::abs(played.window->markerCwPeak->xValue() - liveVelocity), bin * 1.001);
    }
    // FSK: the velocity dial within one Doppler bin, the range dial within half a metre.
    {
        Station live(sceneOf(kHazel, target(9.0, 1.0, 3000)));
        live.activate();
        click(live.ui().radioOperationMode_4);
        live.cycles(2);
        const double liveVelocity = live.ui().dialFSKVelocity->value();
        const double liveRange = live.ui().dialFSKRange->value();
        const double vFsk = 299792458.0 / (4 * live.window->centerFrequency * 1e-3);
        ASSERT_NEAR(liveVelocity, 1.0, 4.0 * vFsk / 1023);
        live.record(file("fsk.dat"), 4 * 64 * 256);

        Station played(file("fsk.dat"), {});
        played.activate();
        ASSERT_EQ(played.window->operatingMode, 2u);
        played.cycles(2);
        EXPECT_LE(std::abs(played.ui().dialFSKVelocity->value() - liveVelocity), 2.0 * vFsk / 1023);
        EXPECT_NEAR(played.ui().dialFSKRange->value(), liveRange, 0.5);
    }
}

TEST_F(Playback, HeaderSetsModeModelAndParameters) {
    struct Case {
        const char* what;
        RecordingHeader header;
        QRadioButton* Ui::Tavrix::*mode;
        int model, sweepIndex, windowIndex, bandwidthIndex;
        double centre, sweepMs, bandwidth;
    };
    const Case cases[] = {
        // The eighth model sweeps upwards from 24 GHz: in FMCW its carrier is half the
        // bandwidth higher, and the header's centre frequency says which bandwidth it was.
        {"eighth model, sawtooth",
         {2.4375e10, 2.0, 256, 7.5e8},
         &Ui::Tavrix::radioOperationMode_1,
         kHazel,
         1,
         1,
         1,
         2.4375e10,
         2.0,
         7.5e8},
        {"eighth model, CW",
         {2.4e10, 4.0, 128, 0},
         &Ui::Tavrix::radioOperationMode_5,
         kHazel,
         2,
         0,
         0,
         2.4e10,
         4.0,
         0},
        {"FSK",
         {5.8e9, 2.0, 512, 6e6},
         &Ui::Tavrix::radioOperationMode_4,
         kFir,
         1,
         2,
         0,
         5.8e9,
         2.0,
         0},
        // 25 GHz with 2000 MHz fits both wide models at 1 ms: the first in the list wins, and
        // every value the chains use is the same either way.
        {"shared centre",
         {2.5e10, 1.0, 1024, 2e9},
         &Ui::Tavrix::radioOperationMode_1,
         kElm,
         1,
         3,
         3,
         2.5e10,
         1.0,
         2e9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Station s(made(std::string(c.what) + ".dat", c.header, 16), {});
        ASSERT_EQ(s.problem, "");
        s.activate();
        Ui::Tavrix& ui = s.ui();
        EXPECT_TRUE((ui.*c.mode)->isChecked());
        EXPECT_EQ(ui.device_centerFrequency->currentIndex(), c.model);
        EXPECT_EQ(ui.comboPSweepTime->currentIndex(), c.sweepIndex);
        EXPECT_EQ(ui.comboPSampleWindow->currentIndex(), c.windowIndex);
        EXPECT_EQ(ui.comboPSweepTime->currentText().toDouble(), c.sweepMs);
        EXPECT_DOUBLE_EQ(s.window->centerFrequency, c.centre);
        EXPECT_DOUBLE_EQ(s.window->sweepTimeMs, c.sweepMs);
        EXPECT_EQ(s.window->samplesPerSweep, static_cast<std::uint32_t>(c.header.samplesPerSweep));
        if (c.bandwidth != 0) {
            EXPECT_EQ(ui.comboPBandwidth->currentIndex(), c.bandwidthIndex);
            EXPECT_DOUBLE_EQ(s.window->bandwidthHz, c.bandwidth);
        }
        EXPECT_EQ(s.window->operatingWord, s.source->settings().operatingWord());
        EXPECT_TRUE(s.driver.board(0).streaming());

        // Each tick shows its time first, then where the playback is.
        s.cycles(1);
        const QString status = s.status();
        EXPECT_TRUE(status.startsWith("Update Time: ")) << status.toStdString();
        const QString total = QString::number(s.source->durationSeconds(), 'f', 3);
        EXPECT_TRUE(status.contains(QRegExp(" s \\| Playback \\d+\\.\\d{3} / " + total + " s$")))
            << status.toStdString();
    }
}

TEST_F(Playback, RecordedParametersCannotChangeWhileTheRestStaysFree) {
    Station s(made("saw.dat", {9.8e9, 1.0, 256, 3e8}, 64), {});
    ASSERT_EQ(s.problem, "");
    s.activate();
    Ui::Tavrix& ui = s.ui();
    const std::uint16_t word = s.source->settings().operatingWord();
    ASSERT_EQ(s.lastWord(), word);

    struct Attempt {
        QWidget* control;
        const char* what;
        std::function<void()> act;
    };
    const Attempt attempts[] = {
        {ui.comboPSweepTime, "sweep time",
         [&] { QTest::mouseClick(ui.comboPSweepTime, Qt::LeftButton); }},
        {ui.comboPSampleWindow, "number of samples per sweep",
         [&] { QTest::keyClick(ui.comboPSampleWindow, Qt::Key_Down); }},
        {ui.comboPBandwidth, "bandwidth", [&] { QTest::keyClick(ui.comboPBandwidth, Qt::Key_Up); }},
        {ui.device_centerFrequency, "device model",
         [&] { QTest::keyClick(ui.device_centerFrequency, Qt::Key_End); }},
        {ui.radioOperationMode_5, "operating mode", [&] { click(ui.radioOperationMode_5); }},
    };
    for (const Attempt& a : attempts) {
        SCOPED_TRACE(a.what);
        a.act();
        EXPECT_EQ(s.status(), QStringLiteral("Refused: the %1 is fixed by the recording saw.dat")
                                  .arg(QLatin1String(a.what)));
    }
    EXPECT_TRUE(ui.radioOperationMode_1->isChecked());
    EXPECT_EQ(ui.device_centerFrequency->currentIndex(), 3);
    EXPECT_EQ(ui.comboPSweepTime->currentIndex(), 1);
    EXPECT_EQ(ui.comboPSampleWindow->currentIndex(), 1);
    EXPECT_EQ(ui.comboPBandwidth->currentIndex(), 2);
    EXPECT_EQ(s.window->operatingWord, word);
    EXPECT_EQ(s.lastWord(), word);

    // The refusal stays readable behind the next tick's time and position.
    s.cycles(1);
    EXPECT_TRUE(s.status().startsWith("Update Time: "));
    EXPECT_TRUE(s.status().endsWith(" | Refused: the operating mode is fixed by the recording "
                                    "saw.dat"))
        << s.status().toStdString();

    // Display modes, filters, windows and waterfall settings stay free.
    click(ui.radioSpectrumDisplay_5);
    EXPECT_EQ(s.window->displayMode, 5u);
    click(ui.filterOptionHammingWindow);
    ui.SpectrogramRows->setValue(128);
    EXPECT_EQ(s.window->waterfall->rows(), 128u);
    QTest::keyClick(ui.spinBoxDopplerQueue, Qt::Key_Up);
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 64 + ui.spinBoxDopplerQueue->singleStep());
    s.cycles(1);
    EXPECT_TRUE(s.window->acquisitionTimer->isActive());
    EXPECT_EQ(s.lastWord(), word);
}

TEST_F(Playback, FramesTheRecordingCannotFillAreRefused) {
    // 20 sweeps: the sweep count starts at the 16 that fit rather than 64.
    Station s(made("short.dat", {2.45e9, 0.5, 128, 1e8}, 20), {});
    ASSERT_EQ(s.problem, "");
    Ui::Tavrix& ui = s.ui();
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 16);
    s.activate();
    click(ui.radioSpectrumDisplay_3);
    EXPECT_EQ(s.window->displayMode, 3u);
    ui.spinBoxDopplerQueue->setValue(24);
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 16);
    EXPECT_EQ(s.status(), "Refused: short.dat holds 20 sweeps, fewer than the 24 of one "
                          "Range-Velocity Map frame");
    s.cycles(1);
    EXPECT_TRUE(s.window->acquisitionTimer->isActive());

    // The range displays take one sweep whatever the count; the map then refuses to start.
    click(ui.radioSpectrumDisplay_1);
    ui.spinBoxDopplerQueue->setValue(64);
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 64);
    click(ui.radioSpectrumDisplay_3);
    EXPECT_EQ(s.window->displayMode, 1u);
    EXPECT_TRUE(ui.radioSpectrumDisplay_1->isChecked());
    EXPECT_EQ(s.status(), "Refused: short.dat holds 20 sweeps, fewer than the 64 of one "
                          "Range-Velocity Map frame");

    // Slowed down, a long burst would arrive after the chain has given up waiting.
    Station slow(made("slow.dat", {2.45e9, 0.5, 128, 0}, 1024), {0.25, true});
    ASSERT_EQ(slow.problem, "");
    slow.activate();
    slow.ui().spinBoxDopplerQueue->setValue(1024);
    EXPECT_EQ(slow.ui().spinBoxDopplerQueue->value(), 64);
    EXPECT_TRUE(slow.status().startsWith("Refused: slow.dat at 0.25 times its rate takes 2.08 s "
                                         "to deliver one Velocity Scope frame"))
        << slow.status().toStdString();
    slow.ui().spinBoxDopplerQueue->setValue(512);
    EXPECT_EQ(slow.ui().spinBoxDopplerQueue->value(), 512);
}

TEST_F(Playback, PlayedOnceItStopsAtTheEndAndPlaysAgain) {
    // 40 sweeps of 128: each range-scope tick reads 128 + 2048 samples.
    Station s(made("once.dat", {2.45e9, 0.5, 128, 1e8}, 40), {1, false});
    s.activate();
    s.cycles(2);
    EXPECT_TRUE(s.window->acquisitionTimer->isActive());
    EXPECT_TRUE(s.status().startsWith("Update Time: "));
    s.cycles(1);
    EXPECT_EQ(s.status(), "Playback of once.dat finished (0.020 s); Activate plays it again");
    EXPECT_FALSE(s.ui().buttonActivateDevice->isChecked());
    EXPECT_FALSE(s.window->acquisitionTimer->isActive());
    EXPECT_FALSE(s.ui().DisplayProperties->isEnabled());

    s.activate();
    EXPECT_TRUE(s.window->acquisitionTimer->isActive());
    EXPECT_NEAR(s.source->positionSeconds(), 0.0, 1e-9);
    s.cycles(1);
    EXPECT_TRUE(s.status().contains(" | Playback 0.0")) << s.status().toStdString();
}

TEST_F(Playback, UnplayableRecordingsAreRefusedAtStartUp) {
    // CW and FSK need at least 8 sweeps for a frame.
    Station cw(made("cw.dat", {2.45e9, 0.5, 128, 0}, 7), {});
    EXPECT_EQ(cw.problem, "cw.dat holds 7 sweeps, fewer than the 8 of one Velocity Scope frame");
    EXPECT_EQ(cw.window->playback, nullptr);

    // The program says why on stderr and ends with a failure.
    const std::string triangle = file("triangle.dat");
    std::ofstream(triangle) << "16000+16000i\n16001+16000i\n";
    struct Run {
        QStringList arguments;
        const char* says;
    };
    const Run runs[] = {
        {{"--playback", QString::fromStdString(triangle)}, "triangle.dat: the file has no header"},
        {{"--playback", QString::fromStdString(file("cw.dat"))},
         "cw.dat holds 7 sweeps, fewer than the 8 of one Velocity Scope frame"},
        {{"--playback", QString::fromStdString(file("cw.dat")), "--speed", "fast"},
         "--speed wants a number from 0.25 to 10, not \"fast\""},
    };
    for (const Run& r : runs) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TAVRIX_BINARY), r.arguments);
        ASSERT_TRUE(program.waitForFinished(20000));
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_EQ(program.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(r.says))) << err.toStdString();
    }
}
