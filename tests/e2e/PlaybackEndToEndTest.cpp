// Playback of recordings through the window: a recording of a scene shows its targets where
// the live stream showed them, the header sets the controls and keeps them, frames the
// recording cannot fill are refused, and unplayable files are refused at start-up.
#include "app/TavrixPlayback.h"
#include "device/RadarDevice.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Peak.h"
#include "record/RecordingWriter.h"
#include "sim/PlaybackSource.h"
#include "tests/e2e/Radar.h"

#include <QProcess>
#include <QTemporaryDir>
#include <qwt_dial.h>
#include <qwt_plot_marker.h>

#include <fstream>
#include <functional>
#include <stdexcept>

namespace {

using tavrix::record::RecordingHeader;

// The window playing a recording, or `problem` saying why it cannot.
class Played : public Radar {
public:
    Played(const std::string& path, sim::PlaybackOptions options = {}) {
        source = sim::PlaybackSource::load(path, options, clock, &problem);
        if (!source)
            return;
        attach(std::make_shared<sim::EmulatedBoard>(source, clock));
        problem = TavrixPlayback::attach(*window, source).toStdString();
    }
    std::uint16_t lastWord() const { return driver.board(0).acquisition().wordsReceived().back(); }

    std::shared_ptr<sim::PlaybackSource> source;
    std::string problem;
};

class Playback : public ::testing::Test {
protected:
    std::string file(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }

    // Streams `button`'s mode live from a scene holding `t`, records `samples` of it as the
    // recorder does, with the header of the operating parameters, and plays them back in the
    // same mode.
    std::pair<std::unique_ptr<Radar>, std::unique_ptr<Played>>
    liveAndPlayed(int model, sim::SceneTarget t, const char* button, int samples,
                  int sampleWindow = 0) {
        auto live = std::make_unique<Radar>(model, std::vector<sim::SceneTarget>{t},
                                            std::initializer_list<const char*>{button});
        Tavrix& w = *live->window;
        w.ui.comboPSampleWindow->setCurrentIndex(sampleWindow);
        live->cycles(2);
        Tavrix::SampleBlock block;
        w.writeCommandBlock();
        EXPECT_EQ(w.radarDevice->ReadFrame(block, samples, 60000, w.samplesPerSweep), samples);
        const std::string name = file(std::string(button) + ".dat");
        std::string error;
        EXPECT_TRUE(tavrix::record::writeRecording(
            name,
            tavrix::record::headerForMode(w.operatingMode, w.centerFrequency, w.sweepTimeMs,
                                          w.samplesPerSweep, w.bandwidthHz),
            block, error))
            << error;
        auto played = std::make_unique<Played>(name);
        if (!played->problem.empty())
            throw std::runtime_error("the recording does not play: " + played->problem);
        played->activate();
        click(played->window->findChild<QAbstractButton*>(button));
        played->cycles(2);
        EXPECT_TRUE(played->window->acquisitionTimer->isActive());
        return {std::move(live), std::move(played)};
    }
    // A recording of `sweeps` sweeps of plausible raw counts.
    std::string made(const std::string& name, const RecordingHeader& header, int sweeps) const {
        std::vector<std::complex<double>> samples;
        for (int i = 0; i < sweeps * header.samplesPerSweep; ++i)
            samples.emplace_back(16000 + i % 97, 16000 + i % 89);
        std::string error;
        EXPECT_TRUE(tavrix::record::writeRecording(file(name), header, samples, error)) << error;
        return file(name);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Playback, EveryModeShowsTheRecordedTargetsWhereLiveShowedThem) {
    using tavrix::dsp::kDopplerBins;
    {
        // FMCW range scope: the range marker, within one of the 513 range bins.
        auto [live, played] = liveAndPlayed(kAlder, target(37.0, 0.0, 1500), kRangeScope, 8192);
        const double bin = live->window->bottomXData[1] - live->window->bottomXData[0];
        const double shown = live->window->markerRangePeak->xValue();
        ASSERT_NEAR(shown, 37.0, 2 * bin);
        EXPECT_LE(std::abs(played->window->markerRangePeak->xValue() - shown), bin * 1.001);
    }
    {
        // FMCW map: the strongest cell, within one row and one column. With 1024 samples per
        // sweep a row spans 1.5 m, far more than the target moves between the two frames.
        auto [live, played] =
            liveAndPlayed(kAlder, target(40.0, 6.0, 1500), kMap, 4 * 64 * 1024, 3);
        const auto row = [](std::size_t i) { return static_cast<double>(i / kDopplerBins); };
        const auto column = [](std::size_t i) { return static_cast<double>(i % kDopplerBins); };
        const std::size_t shown = live->strongest(), again = played->strongest();
        ASSERT_NEAR(row(shown), 512 * 40.0 / 767.5, 2.0);
        ASSERT_GT(column(shown), 512); // receding
        EXPECT_NEAR(row(again), row(shown), 1.0);
        EXPECT_NEAR(column(again), column(shown), 1.0);
    }
    {
        // CW velocity scope: the peak marker, within one of the 1024 velocity positions.
        auto [live, played] = liveAndPlayed(kElm, target(8.0, 2.0, 4700), kCw, 4 * 64 * 128);
        const double bin = live->window->bottomXData[1] - live->window->bottomXData[0];
        const double shown = live->window->markerCwPeak->xValue();
        ASSERT_NEAR(shown, 2.0, 2 * bin);
        EXPECT_LE(std::abs(played->window->markerCwPeak->xValue() - shown), bin * 1.001);
    }
    {
        // FSK: the velocity dial within one Doppler bin, the range dial within half a metre.
        auto [live, played] = liveAndPlayed(kHazel, target(9.0, 1.0, 3700), kFsk, 4 * 64 * 256);
        const double bin = 2.0 * 299792458.0 / (4 * 2.4e10 * 1e-3) / 1023;
        const double velocity = live->ui().dialFSKVelocity->value();
        ASSERT_NEAR(velocity, 1.0, 2 * bin);
        EXPECT_LE(std::abs(played->ui().dialFSKVelocity->value() - velocity), bin);
        EXPECT_NEAR(played->ui().dialFSKRange->value(), live->ui().dialFSKRange->value(), 0.5);
    }
}

TEST_F(Playback, HeaderSetsModeModelAndParameters) {
    struct Case {
        const char* what;
        RecordingHeader header;
        const char* mode;
        int model, sweepIndex, windowIndex, bandwidthIndex;
    };
    // The eighth model sweeps upwards from 24 GHz: in FMCW its carrier is half the bandwidth
    // higher, and the header's centre frequency says which bandwidth it was. 25 GHz with
    // 2000 MHz fits both wide models at 1 ms: the first in the list wins, and every value the
    // chains use is the same either way.
    const Case cases[] = {
        {"eighth, FMCW", {2.4375e10, 2.0, 256, 7.5e8}, "radioOperationMode_1", kHazel, 1, 1, 1},
        {"eighth, CW", {2.4e10, 4.0, 128, 0}, "radioOperationMode_5", kHazel, 2, 0, -1},
        {"FSK", {5.8e9, 2.0, 512, 6e6}, "radioOperationMode_4", kFir, 1, 2, -1},
        {"shared centre", {2.5e10, 1.0, 1024, 2e9}, "radioOperationMode_1", kElm, 1, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Played s(made(std::string(c.what) + ".dat", c.header, 16));
        ASSERT_EQ(s.problem, "");
        s.activate();
        Ui::Tavrix& ui = s.ui();
        EXPECT_TRUE(s.window->findChild<QAbstractButton*>(c.mode)->isChecked());
        EXPECT_EQ(ui.device_centerFrequency->currentIndex(), c.model);
        EXPECT_EQ(ui.comboPSweepTime->currentIndex(), c.sweepIndex);
        EXPECT_EQ(ui.comboPSampleWindow->currentIndex(), c.windowIndex);
        EXPECT_DOUBLE_EQ(s.window->centerFrequency, c.header.centerFrequencyHz);
        EXPECT_DOUBLE_EQ(s.window->sweepTimeMs, c.header.sweepTimeMs);
        EXPECT_EQ(s.window->samplesPerSweep, static_cast<std::uint32_t>(c.header.samplesPerSweep));
        if (c.bandwidthIndex >= 0) {
            EXPECT_EQ(ui.comboPBandwidth->currentIndex(), c.bandwidthIndex);
            EXPECT_DOUBLE_EQ(s.window->bandwidthHz, c.header.modeValue);
        }
        EXPECT_EQ(s.lastWord(), s.source->settings().operatingWord());

        // Each tick shows its time first, then where the playback is.
        s.cycles(1);
        const QString total = QString::number(s.source->durationSeconds(), 'f', 3);
        EXPECT_TRUE(QString::fromStdString(s.status())
                        .contains(QRegExp("^Update Time: .* s \\| Playback \\d+\\.\\d{3} / " +
                                          total + " s$")))
            << s.status();
    }
}

TEST_F(Playback, RecordedParametersCannotChangeWhileTheRestStaysFree) {
    Played s(made("saw.dat", {9.8e9, 1.0, 256, 3e8}, 64));
    ASSERT_EQ(s.problem, "");
    s.activate();
    Ui::Tavrix& ui = s.ui();
    const std::uint16_t word = s.lastWord();

    const std::pair<const char*, std::function<void()>> attempts[] = {
        {"sweep time", [&] { QTest::mouseClick(ui.comboPSweepTime, Qt::LeftButton); }},
        {"number of samples per sweep",
         [&] { QTest::keyClick(ui.comboPSampleWindow, Qt::Key_Down); }},
        {"bandwidth", [&] { QTest::keyClick(ui.comboPBandwidth, Qt::Key_Up); }},
        {"device model", [&] { QTest::keyClick(ui.device_centerFrequency, Qt::Key_End); }},
        {"operating mode", [&] { click(ui.radioOperationMode_5); }},
    };
    for (const auto& [what, act] : attempts) {
        act();
        EXPECT_EQ(s.status(),
                  "Refused: the " + std::string(what) + " is fixed by the recording saw.dat");
    }
    EXPECT_TRUE(ui.radioOperationMode_1->isChecked());
    EXPECT_EQ(ui.device_centerFrequency->currentIndex(), 3);
    EXPECT_EQ(ui.comboPSampleWindow->currentIndex(), 1);
    EXPECT_EQ(s.window->operatingWord, word);

    // The refusal stays readable behind the next tick's time and position.
    s.cycles(1);
    EXPECT_TRUE(QString::fromStdString(s.status())
                    .endsWith(" | Refused: the operating mode is fixed by the recording saw.dat"))
        << s.status();

    // Display modes and waterfall settings stay free.
    click(ui.radioSpectrumDisplay_5);
    ui.SpectrogramRows->setValue(128);
    EXPECT_EQ(s.window->waterfall->rows(), 128u);
    s.cycles(1);
    EXPECT_TRUE(s.window->acquisitionTimer->isActive());
    EXPECT_EQ(s.lastWord(), word);
}

TEST_F(Playback, FramesTheRecordingCannotFillAreRefused) {
    // 20 sweeps: the sweep count starts at the 16 that fit rather than 64.
    Played s(made("short.dat", {2.45e9, 0.5, 128, 1e8}, 20));
    ASSERT_EQ(s.problem, "");
    Ui::Tavrix& ui = s.ui();
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 16);
    s.activate();
    click(ui.radioSpectrumDisplay_3);
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
    EXPECT_TRUE(ui.radioSpectrumDisplay_1->isChecked());
    EXPECT_EQ(s.status(), "Refused: short.dat holds 20 sweeps, fewer than the 64 of one "
                          "Range-Velocity Map frame");

    // Slowed down, a long burst would arrive after the chain has given up waiting.
    Played slow(made("slow.dat", {2.45e9, 0.5, 128, 0}, 1024), {0.25, true});
    ASSERT_EQ(slow.problem, "");
    slow.activate();
    slow.ui().spinBoxDopplerQueue->setValue(1024);
    EXPECT_EQ(slow.ui().spinBoxDopplerQueue->value(), 64);
    EXPECT_EQ(slow.status().rfind("Refused: slow.dat at 0.25 times its rate takes 2.08 s to "
                                  "deliver one Velocity Scope frame",
                                  0),
              0u)
        << slow.status();
    slow.ui().spinBoxDopplerQueue->setValue(512);
    EXPECT_EQ(slow.ui().spinBoxDopplerQueue->value(), 512);
}

TEST_F(Playback, PlayedOnceItStopsAtTheEndAndPlaysAgain) {
    // 40 sweeps of 128: each range-scope tick reads 128 + 2048 samples.
    Played s(made("once.dat", {2.45e9, 0.5, 128, 1e8}, 40), {1, false});
    s.activate();
    s.cycles(2);
    EXPECT_TRUE(s.window->acquisitionTimer->isActive());
    s.cycles(1);
    EXPECT_EQ(s.status(), "Playback of once.dat finished (0.020 s); Activate plays it again");
    EXPECT_FALSE(s.ui().buttonActivateDevice->isChecked());
    EXPECT_FALSE(s.window->acquisitionTimer->isActive());

    s.activate();
    EXPECT_TRUE(s.window->acquisitionTimer->isActive());
    EXPECT_NEAR(s.source->positionSeconds(), 0.0, 1e-9);
}

TEST_F(Playback, UnplayableRecordingsAreRefusedAtStartUp) {
    // CW and FSK need at least 8 sweeps for a frame.
    Played cw(made("cw.dat", {2.45e9, 0.5, 128, 0}, 7));
    EXPECT_EQ(cw.problem, "cw.dat holds 7 sweeps, fewer than the 8 of one Velocity Scope frame");
    EXPECT_EQ(cw.window->playback, nullptr);

    // The program says why on stderr and ends with a failure.
    const std::string triangle = file("triangle.dat");
    std::ofstream(triangle) << "16000+16000i\n16001+16000i\n";
    const std::pair<QStringList, const char*> runs[] = {
        {{"--playback", QString::fromStdString(triangle)}, "triangle.dat: the file has no header"},
        {{"--playback", QString::fromStdString(file("cw.dat")), "--speed", "fast"},
         "--speed wants a number from 0.25 to 10, not \"fast\""},
    };
    for (const auto& [arguments, says] : runs) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TAVRIX_BINARY), arguments);
        ASSERT_TRUE(program.waitForFinished(20000));
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_EQ(program.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(says))) << err.toStdString();
    }
}
