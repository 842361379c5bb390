// The whole program at its largest settings for a measurement of its memory: the window,
// shown offscreen, streams range-velocity maps of 1024 sweeps of 1024 samples from the emulated
// board without pacing, for the number of ticks given (default 20). Exits with 1 when
// streaming stopped on the way.

#include "app/Tavrix.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::atoi(argv[1]) : 20;
    auto board = sim::SimUsbDriver::withBoard(sim::defaultScene(), false);
    Tavrix window(*board);
    window.resize(1366, 768);
    window.show();
    Ui::Tavrix& ui = window.ui;
    QTest::mouseClick(ui.buttonActivateDevice, Qt::LeftButton);
    ui.comboPSampleWindow->setCurrentIndex(3);
    ui.spinBoxDopplerQueue->setValue(1024);
    QTest::mouseClick(ui.radioSpectrumDisplay_3, Qt::LeftButton);
    if (window.acquisitionTimer)
        window.acquisitionTimer->stop();
    for (int i = 0; i < ticks && ui.buttonActivateDevice->isChecked(); ++i) {
        window.ReadStream();
        QCoreApplication::processEvents();
    }
    if (!ui.buttonActivateDevice->isChecked() || window.samplesPerSweep != 1024 ||
        ui.spinBoxDopplerQueue->value() != 1024 || window.displayMode != 3) {
        std::fprintf(stderr, "streaming stopped or the settings did not take\n");
        return 1;
    }
    return 0;
}
