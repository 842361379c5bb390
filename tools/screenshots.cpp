// Draws the README's screenshots: the main window on the emulated board in each operating
// and display mode, after enough ticks for the waterfalls to fill. Run by
// scripts/screenshots.sh under a virtual display.

#include "app/Tavrix.h"
#include "sim/BoardClock.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <functional>

namespace {

struct Shot {
    const char* file;
    const char* mode;    // object name of the operating-mode button; null: not activated
    const char* display; // object name of the display-mode button
    int ticks;
    int page; // tool-box page shown beside the plots
};

void click(Tavrix& window, const char* objectName) {
    window.findChild<QAbstractButton*>(QString::fromLatin1(objectName))->click();
}

bool takeShot(const Shot& shot, const QDir& out) {
    const std::unique_ptr<sim::SimUsbDriver> driver =
        sim::SimUsbDriver::withBoard(sim::defaultScene(), false);
    auto& clock = dynamic_cast<sim::VirtualClock&>(driver->board(0).clock());

    Tavrix window(*driver);
    window.resize(1600, 1000);
    window.show();
    QApplication::processEvents();

    if (shot.mode != nullptr) {
        window.ui.buttonActivateDevice->click();
        click(window, shot.mode);
        click(window, shot.display);
        window.ui.DisplayProperties->setCurrentIndex(shot.page);
        // The board's time runs on between ticks, as it does at the display rate, so the
        // targets move through the waterfalls.
        for (int i = 0; i < shot.ticks; ++i) {
            clock.advance(window.updatePeriodSeconds);
            window.ReadStream();
            QApplication::processEvents();
        }
    }
    const QString path = out.filePath(QString::fromLatin1(shot.file));
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    const Shot shots[] = {
        {"main-window.png", nullptr, nullptr, 0, 0},
        {"fmcw-range.png", "radioOperationMode_1", "radioSpectrumDisplay_1", 5, 0},
        {"fmcw-range-waterfall.png", "radioOperationMode_1", "radioSpectrumDisplay_5", 64, 1},
        {"fmcw-range-velocity-map.png", "radioOperationMode_1", "radioSpectrumDisplay_3", 3, 1},
        {"fmcw-velocity-waterfall.png", "radioOperationMode_1", "radioSpectrumDisplay_4", 64, 2},
        {"cw-velocity.png", "radioOperationMode_5", "radioSpectrumDisplay_2", 3, 0},
        {"cw-velocity-waterfall.png", "radioOperationMode_5", "radioSpectrumDisplay_4", 64, 2},
        {"fsk-velocity.png", "radioOperationMode_4", "radioSpectrumDisplay_2", 5, 0},
        {"fsk-range-track.png", "radioOperationMode_4", "radioSpectrumDisplay_5", 64, 0},
    };
    for (const Shot& shot : shots) {
        if (!takeShot(shot, out))
            return 1;
    }
    return 0;
}
