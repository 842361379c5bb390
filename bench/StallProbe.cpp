// How long the window's thread is held while streaming, and what the program spends: the
// window runs offscreen on the emulated board paced at real time, with acquisition on its
// worker, while a 1 ms timer measures how late it fires; then "Activate" is unchecked and the
// time until streaming has stopped is taken. Prints one line: longest stall, stop time,
// frames drawn, the capture's health and the CPU figures below.
//
// CPU, counted from a warm-up of 2 s to the end of the run:
// - gui_ms_median / gui_ms_mean: CPU of the window's thread in its event handling (timers,
//   painting, everything but the probe's own timer) per frame drawn; the median is over the
//   spans from one drawn frame to the next, each holding one frame's drawing and painting;
// - frame_cpu_ms: CPU of the whole process, all threads, per frame drawn, less the emulated
//   board's synthesis (done inside the driver's calls on the reading thread, where a real
//   board's USB transfer costs next to nothing) and less the probe's timer; a whole frame
//   from read to pixels when every frame read is drawn (frames_read = frames_counted);
//   board_ms_per_frame is what was taken off for the board;
// - cpu_share: that CPU as a share of 2 cores over the wall time (cpu_share_with_board:
//   the board included); threads: each thread's share of one core, busiest first: "gui" the
//   window's thread by its event handling, "reading" the worker less the board's synthesis,
//   "pool" Qt's pooled threads (the map's raster is painted in tiles on them), "other" the
//   rest (the map's helper); gui_thread_ms: all of the window's thread per frame drawn, the
//   probe's timer and the event loop's waking for it included.
//
// Usage: tavrix_stall_probe startup|long|top|largest [seconds]. "long" is the range-velocity
// map of 1024 sweeps of 10 ms; "top" the board's top rate, 1024 samples per 0.5 ms sweep, in
// the map of 64 sweeps; "largest" the same rate in the largest map, 1024 sweeps (0.5 s
// frames).

#include "app/Tavrix.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"
#include "tests/app/ForwardingDriver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kCores = 2.0; // the machine the targets are set for
constexpr int kWarmUpMs = 2000;

std::int64_t cpuNs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
std::int64_t threadCpuNs() {
    return cpuNs(CLOCK_THREAD_CPUTIME_ID);
}
std::int64_t processCpuNs() {
    return cpuNs(CLOCK_PROCESS_CPUTIME_ID);
}
long threadId() {
    return static_cast<long>(syscall(SYS_gettid));
}

struct ThreadCpu {
    double seconds = 0.0;
    bool pooled = false; // one of Qt's pooled threads (the raster is painted in tiles on them)
};

// CPU of every thread of the process, by thread id.
std::map<long, ThreadCpu> threadCpuSeconds() {
    std::map<long, ThreadCpu> threads;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const QString& tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const long id = tid.toLong();
        std::ifstream stat("/proc/self/task/" + tid.toStdString() + "/stat");
        std::string line;
        std::getline(stat, line);
        // The name in parentheses may hold spaces; utime and stime are the 12th and 13th
        // fields after it.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 1; i <= 13 && fields >> field; ++i) {
            if (i == 12)
                utime = std::atof(field.c_str());
            if (i == 13)
                stime = std::atof(field.c_str());
        }
        threads[id] = {(utime + stime) / tick, line.find("(Thread (pooled))") != std::string::npos};
    }
    return threads;
}

// The emulated board, metered: the CPU its calls take is the board's synthesis of the
// samples, which runs on the reading thread.
class MeteredBoard : public ForwardingDriver {
public:
    using ForwardingDriver::ForwardingDriver;

    std::atomic<std::int64_t> cpu{0};
    std::atomic<long> readingThread{0};

    UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t isoPacketSize) override {
        const std::int64_t start = threadCpuNs();
        const UsbBegin begin =
            ForwardingDriver::beginTransfer(handle, endpoint, data, length, isoPacketSize);
        cpu += threadCpuNs() - start;
        return begin;
    }
    UsbWait waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) override {
        readingThread = threadId();
        const std::int64_t start = threadCpuNs();
        const UsbWait wait = ForwardingDriver::waitTransfer(id, timeoutMs);
        cpu += threadCpuNs() - start;
        return wait;
    }
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override {
        const std::int64_t start = threadCpuNs();
        const UsbTransferResult result = ForwardingDriver::finishTransfer(id, isoPackets);
        cpu += threadCpuNs() - start;
        return result;
    }
};

// Meters the CPU of every event the window's thread handles but the probe's own timer;
// `afterEvent` runs after each outermost one.
class MeteredApplication : public QApplication {
public:
    using QApplication::QApplication;

    QObject* probeTimer = nullptr;
    std::int64_t windowCpu = 0;
    std::function<void()> afterEvent;

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth > 0 || receiver == probeTimer)
            return QApplication::notify(receiver, event);
        ++depth;
        const std::int64_t start = threadCpuNs();
        const bool handled = QApplication::notify(receiver, event);
        windowCpu += threadCpuNs() - start;
        --depth;
        if (afterEvent)
            afterEvent();
        return handled;
    }

private:
    int depth = 0;
};

double median(std::vector<double> v) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2.0;
}

// What the counters held when the warm-up ended.
struct Snapshot {
    std::int64_t wallNs = 0, processCpu = 0, windowCpu = 0, guiThreadCpu = 0, boardCpu = 0;
    std::uint64_t framesDrawn = 0, framesRead = 0;
    std::map<long, ThreadCpu> threads;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    MeteredApplication app(argc, argv);
    const char* preset = argc > 1 ? argv[1] : "startup";
    const bool longFrames = std::strcmp(preset, "long") == 0;
    const bool topRate = std::strcmp(preset, "top") == 0;
    const bool largest = std::strcmp(preset, "largest") == 0;
    const double seconds = argc > 2 ? std::atof(argv[2]) : (longFrames ? 25.0 : 5.0);
    const long guiThread = threadId();

    auto emulated = sim::SimUsbDriver::withBoard(sim::defaultScene(), true);
    MeteredBoard board(*emulated);
    Tavrix window(board);
    window.setAcquisitionOnWorker(true);
    window.resize(1366, 768);
    window.show();
    Ui::Tavrix& ui = window.ui;
    QTest::mouseClick(ui.buttonActivateDevice, Qt::LeftButton);
    if (longFrames) {
        ui.comboPSweepTime->setCurrentIndex(3);
        ui.spinBoxDopplerQueue->setValue(1024);
        QTest::mouseClick(ui.radioSpectrumDisplay_3, Qt::LeftButton);
    }
    if (topRate || largest) {
        ui.comboPSampleWindow->setCurrentIndex(3);
        ui.comboPSweepTime->setCurrentIndex(0);
        if (largest)
            ui.spinBoxDopplerQueue->setValue(1024);
        QTest::mouseClick(ui.radioSpectrumDisplay_3, Qt::LeftButton);
    }
    const auto framesRead = [&window] {
        return window.worker ? window.worker->Health().frames : 0;
    };

    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 worst = 0;
    int over30 = 0; // stalls longer than 30 ms
    QTimer beat;
    app.probeTimer = &beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last - 1000000);
        over30 += now - last - 1000000 > 30000000 ? 1 : 0;
        last = now;
    });

    // The window's CPU from one drawn frame to the next; the first span after the warm-up
    // began before it and is not kept.
    Snapshot start;
    bool counting = false, spanOpen = false;
    std::int64_t spanStart = 0;
    std::uint64_t drawnSeen = 0;
    std::vector<double> spansMs;
    app.afterEvent = [&] {
        if (!counting || window.framesDrawn == drawnSeen)
            return;
        drawnSeen = window.framesDrawn;
        if (spanOpen)
            spansMs.push_back(static_cast<double>(app.windowCpu - spanStart) / 1e6);
        spanOpen = true;
        spanStart = app.windowCpu;
    };
    QTimer::singleShot(std::min(kWarmUpMs, static_cast<int>(seconds * 500)), &app, [&] {
        start.wallNs = clock.nsecsElapsed();
        start.processCpu = processCpuNs();
        start.windowCpu = app.windowCpu;
        start.guiThreadCpu = threadCpuNs();
        start.boardCpu = board.cpu;
        start.framesDrawn = window.framesDrawn;
        start.framesRead = framesRead();
        start.threads = threadCpuSeconds();
        drawnSeen = window.framesDrawn;
        counting = true;
    });

    beat.start(1);
    QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    beat.stop();

    const double wall = static_cast<double>(clock.nsecsElapsed() - start.wallNs) / 1e9;
    const double processCpu = static_cast<double>(processCpuNs() - start.processCpu) / 1e9;
    const double windowCpu = static_cast<double>(app.windowCpu - start.windowCpu) / 1e9;
    const double guiThreadCpu = static_cast<double>(threadCpuNs() - start.guiThreadCpu) / 1e9;
    const double boardCpu = static_cast<double>(board.cpu - start.boardCpu) / 1e9;
    const std::uint64_t drawn = window.framesDrawn - start.framesDrawn;
    const std::uint64_t read = framesRead() - start.framesRead;
    // What the probe's 1 ms timer costs the window's thread, the event loop's waking for it
    // included: all of that thread's CPU outside the window's own event handling.
    const double probeCpu = guiThreadCpu - windowCpu;
    const double programCpu = processCpu - boardCpu - probeCpu;
    const auto perFrameMs = [drawn](double s) { return drawn ? s * 1e3 / drawn : 0.0; };
    const auto share = [wall](double s) { return wall > 0 ? s / wall : 0.0; };

    // Each thread's share of one core, the busiest first: the window's thread by its event
    // handling, the reading thread less the board's synthesis.
    std::vector<std::pair<double, std::string>> threads;
    const std::map<long, ThreadCpu> threadsEnd = threadCpuSeconds();
    for (const auto& [id, cpu] : threadsEnd) {
        const auto before = start.threads.find(id);
        double used = cpu.seconds - (before != start.threads.end() ? before->second.seconds : 0.0);
        std::string role = cpu.pooled ? "pool" : "other";
        if (id == guiThread) {
            role = "gui";
            used = windowCpu;
        } else if (id == board.readingThread) {
            role = "reading";
            used -= boardCpu;
        }
        if (share(used) >= 0.0005)
            threads.emplace_back(share(used), role);
    }
    std::sort(threads.rbegin(), threads.rend());
    std::string threadShares;
    for (const auto& [used, role] : threads) {
        char item[48];
        std::snprintf(item, sizeof item, "%s%s:%.3f", threadShares.empty() ? "" : ",", role.c_str(),
                      used);
        threadShares += item;
    }

    const bool streaming = ui.buttonActivateDevice->isChecked();
    const tavrix::radar::CaptureHealth health =
        window.worker ? window.worker->Health() : tavrix::radar::CaptureHealth();
    QElapsedTimer stop;
    stop.start();
    QTest::mouseClick(ui.buttonActivateDevice, Qt::LeftButton);
    const double stopMs = static_cast<double>(stop.nsecsElapsed()) / 1e6;
    std::printf("%s stall_ms=%.2f stalls_over_30ms=%d stop_ms=%.2f frames=%llu sweeps=%llu "
                "lost=%llu resyncs=%llu streaming=%d counted_s=%.1f frames_counted=%llu "
                "frames_read=%llu gui_ms_median=%.2f gui_ms_mean=%.2f gui_thread_ms=%.2f "
                "frame_cpu_ms=%.2f board_ms_per_frame=%.2f cpu_share=%.3f "
                "cpu_share_with_board=%.3f threads=%s\n",
                preset, static_cast<double>(worst) / 1e6, over30, stopMs,
                static_cast<unsigned long long>(window.framesDrawn),
                static_cast<unsigned long long>(health.sweepsReceived),
                static_cast<unsigned long long>(health.sweepsLost),
                static_cast<unsigned long long>(health.resyncs), streaming ? 1 : 0, wall,
                static_cast<unsigned long long>(drawn), static_cast<unsigned long long>(read),
                median(spansMs), perFrameMs(windowCpu), perFrameMs(guiThreadCpu),
                perFrameMs(programCpu), perFrameMs(boardCpu), share(programCpu) / kCores,
                share(processCpu - probeCpu) / kCores,
                threadShares.empty() ? "none" : threadShares.c_str());
    return streaming ? 0 : 1;
}
