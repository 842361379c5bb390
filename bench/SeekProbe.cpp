// How long a seek in a recording takes to reach the screen: the window, shown offscreen with
// acquisition on its worker as the program runs it, plays a 20 s SigMF FMCW recording at the
// board's top rate (1024 samples per 0.5 ms sweep) with the display timer at 20 ms, so the
// timer's quantisation adds at most 20 ms. In the range scope and in the range-velocity map of
// 1024 sweeps (frames of 1 M samples), each while playing and while paused, it seeks to random
// times and takes the time from seekTo() to the end of the display timer's tick that drew the
// seek's first frame. Paused, that frame starts where the seek landed (a whole sweep); playing,
// it starts there or a little after: a tick draws the newest frame, and the range scope's
// frames of one sweep come faster than the ticks. The seeks come at random delays, so they
// fall at any point of the timer's period and of a frame's reading.
//
// The measuring starts once the recording's overview, built in the background on opening, is
// done, so the seeks do not share the disk and the cores with it. The recording, just written,
// is in the page cache.
//
// Prints one line of key=value pairs for bench/run: interval_ms, seeks (per case), overview_s,
// and per case (scope_playing, scope_paused, map_playing, map_paused): <case>_median_ms and
// <case>_max_ms over the seeks that reached the screen, <case>_timeouts the seeks not on
// screen within 5 s, <case>_exact the seeks whose first frame drawn started at the landing
// itself, <case>_strays those whose first frame drawn was not of the seek. The recording is
// deleted afterwards.
//
// Usage: tavrix_seek_probe [PATH] (default /tmp/tavrix-seek-probe.sigmf-data)

#include "app/OverviewTask.h"
#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "bench/ProbeRecording.h"
#include "device/DeviceModels.h"
#include "radar/Settings.h"
#include "record/RecordingFile.h"
#include "sim/SimUsbDriver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kRecordingSeconds = 20.0;
constexpr int kIntervalMs = 20;
constexpr int kSeeks = 20;
constexpr int kTimeoutMs = 5000;
constexpr int kMapSweeps = 1024;

// Calls `afterEvent` after each outermost event the window's thread has handled, so a wait
// ends with the very tick it waits for.
class ProbeApplication : public QApplication {
public:
    using QApplication::QApplication;

    std::function<void()> afterEvent;
    // The recording's overview is built on a thread that reports through queued calls to its
    // task, which the window keeps to itself: the first such call gives the task away.
    OverviewTask* overviewTask = nullptr;

    bool notify(QObject* receiver, QEvent* event) override {
        if (auto* task = qobject_cast<OverviewTask*>(receiver))
            overviewTask = task;
        if (depth > 0)
            return QApplication::notify(receiver, event);
        ++depth;
        const bool handled = QApplication::notify(receiver, event);
        --depth;
        if (afterEvent)
            afterEvent();
        return handled;
    }

private:
    int depth = 0;
};

// Runs the event loop until `done` holds after an event, at most `limitMs`; the milliseconds
// that took, or none.
std::optional<double> runUntil(ProbeApplication& app, const std::function<bool()>& done,
                               int limitMs) {
    QElapsedTimer clock;
    clock.start();
    if (done())
        return 0.0;
    std::optional<double> ms;
    QEventLoop loop;
    app.afterEvent = [&] {
        if (!ms && done()) {
            ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            loop.quit();
        }
    };
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    app.afterEvent = nullptr;
    return ms;
}

// The sweeps of the board's top rate on the first model, 1024 samples of 0.5 ms.
tavrix::radar::Settings recordedSettings() {
    tavrix::radar::Settings s;
    s.operatingMode = tavrix::radar::kFmcwSawtooth;
    s.deviceModel = 0;
    s.sweepTimeCode = 0;
    s.sampleWindowCode = 3;
    return s;
}

// Mid-scale noise carrying one echo at range bin 100.
bool writeRecording(const std::string& path) {
    const tavrix::radar::Settings s = recordedSettings();
    const auto sweeps =
        static_cast<std::uint64_t>(std::llround(kRecordingSeconds * 1000.0 / s.sweepTimeMs()));
    const double step = 2.0 * M_PI * 100.0 / static_cast<double>(s.samplesPerSweep());
    return probes::WriteRecording(
        path, s, sweeps, [step](std::uint64_t) { return step; }, false, 17);
}

double median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2.0;
}

struct Case {
    const char* name;
    QAbstractButton* display;
    int sweeps; // sweeps per burst, 0 to leave as it is
    bool paused;
};

struct Figures {
    std::vector<double> ms;
    int timeouts = 0;
    int exact = 0;  // seeks whose first frame drawn started at the landing itself
    int strays = 0; // first frames drawn after a seek that were not of it
};

// Seeks `kSeeks` times to random whole sweeps and times each to the tick that drew its first
// frame. Paused, that frame starts where the seek landed. Playing, it starts there or, when
// frames are shorter than the display interval, where playing from there had got to by the
// tick: the tick draws the newest frame and those before it are not shown.
Figures seekAround(ProbeApplication& app, Tavrix& window, std::mt19937& random, double frameMs,
                   bool paused) {
    tavrix::radar::RecordingPlayer& player = window.playback->player();
    // Far enough from the end that the frame fits before it and playing does not wrap.
    std::uniform_real_distribution<double> at(0.0, player.DurationSeconds() - 1.0);
    std::uniform_int_distribution<int> delayMs(50, 50 + static_cast<int>(std::max(100.0, frameMs)));
    Figures figures;
    for (int i = 0; i < kSeeks; ++i) {
        QTest::qWait(delayMs(random));
        double seconds = 0.0, landing = 0.0;
        do {
            seconds = at(random);
            landing = player.Seconds(player.SampleAt(seconds));
        } while (landing == window.frameTime.seconds);
        const std::uint64_t before = window.framesDrawn;
        bool firstSeen = false;
        QElapsedTimer clock;
        clock.start();
        window.playback->seekTo(seconds);
        const std::optional<double> ms = runUntil(
            app,
            [&] {
                if (window.framesDrawn == before || !window.frameTime.inRecording)
                    return false;
                const double after = window.frameTime.seconds - landing;
                const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
                const bool ofSeek =
                    paused ? after == 0.0 : after >= 0.0 && after <= elapsed + frameMs / 1e3;
                if (!firstSeen) {
                    firstSeen = true;
                    figures.exact += after == 0.0 ? 1 : 0;
                    figures.strays += ofSeek ? 0 : 1;
                    if (!ofSeek)
                        std::fprintf(stderr,
                                     "seek to %.4f s: the first frame drawn, %.1f ms after it, "
                                     "starts at %+.4f s from there\n",
                                     landing, elapsed * 1e3, after);
                }
                return ofSeek;
            },
            kTimeoutMs);
        if (ms)
            figures.ms.push_back(*ms);
        else
            ++figures.timeouts;
    }
    return figures;
}

int probe(ProbeApplication& app, const std::string& path) {
    sim::SimUsbDriver driver; // no board: the recording is the source
    Tavrix window(driver);
    window.setAcquisitionOnWorker(true);
    window.resize(1366, 768);
    window.show();
    Ui::Tavrix& ui = window.ui;
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    const QString problem = window.openRecording(QString::fromStdString(path));
    if (!problem.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(problem)), 1;
    const std::optional<double> overviewMs = runUntil(
        app, [&] { return app.overviewTask && !app.overviewTask->running(); }, 60000);
    const double overviewSeconds =
        overviewMs ? static_cast<double>(sinceOpen.elapsed()) / 1e3 : std::nan("");
    ui.spinBoxPUpdateRate->setValue(kIntervalMs);

    const Case cases[] = {{"scope_playing", ui.radioSpectrumDisplay_1, 0, false},
                          {"scope_paused", ui.radioSpectrumDisplay_1, 0, true},
                          {"map_playing", ui.radioSpectrumDisplay_3, kMapSweeps, false},
                          {"map_paused", ui.radioSpectrumDisplay_3, kMapSweeps, true}};
    std::mt19937 random(29);
    std::string line;
    char item[160];
    std::snprintf(item, sizeof item, "interval_ms=%d seeks=%d overview_s=%.2f",
                  ui.spinBoxPUpdateRate->value(), kSeeks, overviewSeconds);
    line += item;
    bool settingsTook = ui.spinBoxPUpdateRate->value() == kIntervalMs;
    for (const Case& c : cases) {
        window.playback->setPaused(false);
        if (c.sweeps > 0)
            ui.spinBoxDopplerQueue->setValue(c.sweeps);
        QTest::mouseClick(c.display, Qt::LeftButton);
        const std::uint32_t mode = window.displayMode;
        const auto sweeps = static_cast<std::uint32_t>(ui.spinBoxDopplerQueue->value());
        // Playing, a frame of these settings drawn first; paused, whatever was in flight too.
        const bool drawn =
            runUntil(
                app,
                [&] {
                    return window.frameSettings.displayMode == static_cast<int>(mode) &&
                           window.frameSettings.sweepCount == sweeps;
                },
                kTimeoutMs)
                .has_value();
        settingsTook = settingsTook && drawn && window.samplesPerSweep == 1024 &&
                       (c.sweeps == 0 || sweeps == static_cast<std::uint32_t>(c.sweeps));
        if (c.paused) {
            window.playback->setPaused(true);
            QTest::qWait(200);
        }
        const double frameMs = mode == 3 ? sweeps * 0.5 : 0.5;
        const Figures f = seekAround(app, window, random, frameMs, c.paused);
        const double longest = f.ms.empty() ? NAN : *std::max_element(f.ms.begin(), f.ms.end());
        std::snprintf(item, sizeof item,
                      " %s_median_ms=%.1f %s_max_ms=%.1f %s_timeouts=%d %s_exact=%d %s_strays=%d",
                      c.name, median(f.ms), c.name, longest, c.name, f.timeouts, c.name, f.exact,
                      c.name, f.strays);
        line += item;
    }
    std::printf("%s\n", line.c_str());
    window.closeRecording();
    if (!settingsTook) {
        std::fprintf(stderr,
                     "the display settings did not take (interval %d ms, %u samples "
                     "per sweep)\n",
                     ui.spinBoxPUpdateRate->value(), window.samplesPerSweep);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ProbeApplication app(argc, argv);
    const std::string path = argc > 1 ? argv[1] : "/tmp/tavrix-seek-probe.sigmf-data";
    if (tavrix::record::formatOf(path) != tavrix::record::FileFormat::Sigmf)
        return std::fprintf(stderr, "usage: %s [PATH.sigmf-data]\n", argv[0]), 2;
    if (!writeRecording(path)) {
        probes::RemoveRecording(path);
        return 1;
    }
    const int result = probe(app, path);
    probes::RemoveRecording(path);
    return result;
}
