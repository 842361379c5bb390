// The whole program at its largest settings, for a measurement of its memory: the window,
// shown offscreen, streams range-velocity maps of 1024 sweeps of 1024 samples from the emulated
// board (not paced, so frames come as fast as it makes them) as the program does, with
// acquisition on its worker, the map shared with its helper thread and the display timer
// drawing the newest frame, until the number of frames given (default 20) has been drawn.
// Prints the frames drawn and how many threads did work; exits with 1 when streaming stopped
// on the way, the settings did not take or the threads were not all there.

#include "app/Tavrix.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kDeadlineMs = 120000;
constexpr double kBusySeconds = 0.05; // a thread that did work, not one that only waited

// Threads of the program's own (named as the process, unlike Qt's pooled ones) that have used
// at least kBusySeconds of CPU.
int busyThreads() {
    int busy = 0;
    std::string name;
    std::getline(std::ifstream("/proc/self/comm"), name);
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const QString& tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream stat("/proc/self/task/" + tid.toStdString() + "/stat");
        std::string line;
        std::getline(stat, line);
        // The name in parentheses may hold spaces; utime and stime are the 12th and 13th
        // fields after it.
        const std::size_t open = line.find('(');
        const std::size_t close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos ||
            line.compare(open + 1, close - open - 1, name) != 0)
            continue;
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 1; i <= 13 && fields >> field; ++i) {
            if (i >= 12)
                ticks += std::atof(field.c_str());
        }
        busy += ticks / tick >= kBusySeconds ? 1 : 0;
    }
    return busy;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 20;
    auto board = sim::SimUsbDriver::withBoard(sim::defaultScene(), false);
    Tavrix window(*board);
    window.setAcquisitionOnWorker(true);
    window.resize(1366, 768);
    window.show();
    Ui::Tavrix& ui = window.ui;
    QTest::mouseClick(ui.buttonActivateDevice, Qt::LeftButton);
    ui.comboPSampleWindow->setCurrentIndex(3);
    ui.spinBoxDopplerQueue->setValue(ui.spinBoxDopplerQueue->maximum());
    QTest::mouseClick(ui.radioSpectrumDisplay_3, Qt::LeftButton);

    // Frames of the settings before these are not drawn, so every frame counted is a full map.
    const std::uint64_t before = window.framesDrawn;
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (window.framesDrawn - before >= static_cast<std::uint64_t>(frames) ||
            !ui.buttonActivateDevice->isChecked() || clock.elapsed() > kDeadlineMs)
            app.quit();
    });
    watch.start(10);
    app.exec();

    const std::uint64_t drawn = window.framesDrawn - before;
    const bool onWorker = window.worker && window.worker->Running();
    // The window's thread, the worker and, on two cores or more, the map's helper.
    const int expected = std::thread::hardware_concurrency() >= 2 ? 3 : 2;
    const int busy = busyThreads();
    std::printf("frames=%llu busy_threads=%d\n", static_cast<unsigned long long>(drawn), busy);
    if (!ui.buttonActivateDevice->isChecked() || !onWorker ||
        drawn < static_cast<std::uint64_t>(frames) || window.samplesPerSweep != 1024 ||
        ui.spinBoxDopplerQueue->value() != 1024 || window.displayMode != 3 || busy < expected) {
        std::fprintf(stderr, "streaming stopped, the settings did not take or a thread was "
                             "missing\n");
        return 1;
    }
    return 0;
}
