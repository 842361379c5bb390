// How long the window's thread is held while streaming: the window runs offscreen on the
// emulated board paced at real time, with acquisition on its worker, while a 1 ms timer
// measures how late it fires; then "Activate" is unchecked and the time until streaming has
// stopped is taken. Prints one line: longest stall, stop time and frames drawn.
//
// Usage: tavrix_stall_probe startup|long|top [seconds]. "long" is the range-velocity map of
// 1024 sweeps of 10 ms; "top" the board's top rate, 1024 samples per 0.5 ms sweep, in the map
// of 64 sweeps, with the sweeps received and lost inside the frames.

#include "app/Tavrix.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const char* preset = argc > 1 ? argv[1] : "startup";
    const bool longFrames = std::strcmp(preset, "long") == 0;
    const bool topRate = std::strcmp(preset, "top") == 0;
    const double seconds = argc > 2 ? std::atof(argv[2]) : (longFrames ? 25.0 : 5.0);

    auto board = sim::SimUsbDriver::withBoard(sim::defaultScene(), true);
    Tavrix window(*board);
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
    if (topRate) {
        ui.comboPSampleWindow->setCurrentIndex(3);
        ui.comboPSweepTime->setCurrentIndex(0);
        QTest::mouseClick(ui.radioSpectrumDisplay_3, Qt::LeftButton);
    }

    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 worst = 0;
    int over30 = 0; // stalls longer than 30 ms
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last - 1000000);
        over30 += now - last - 1000000 > 30000000 ? 1 : 0;
        last = now;
    });
    beat.start(1);
    QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    beat.stop();

    const bool streaming = ui.buttonActivateDevice->isChecked();
    const tavrix::radar::CaptureHealth health =
        window.worker ? window.worker->Health() : tavrix::radar::CaptureHealth();
    QElapsedTimer stop;
    stop.start();
    QTest::mouseClick(ui.buttonActivateDevice, Qt::LeftButton);
    const double stopMs = static_cast<double>(stop.nsecsElapsed()) / 1e6;
    std::printf("%s stall_ms=%.2f stalls_over_30ms=%d stop_ms=%.2f frames=%llu sweeps=%llu "
                "lost=%llu resyncs=%llu streaming=%d\n",
                preset, static_cast<double>(worst) / 1e6, over30, stopMs,
                static_cast<unsigned long long>(window.framesDrawn),
                static_cast<unsigned long long>(health.sweepsReceived),
                static_cast<unsigned long long>(health.sweepsLost),
                static_cast<unsigned long long>(health.resyncs), streaming ? 1 : 0);
    return streaming ? 0 : 1;
}
