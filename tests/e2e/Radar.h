#pragma once

// The window on an emulated board on a virtual clock, as the end-to-end tests drive it.

#include "app/Tavrix.h"
#include "display/Waterfall.h"
#include "dsp/Peak.h"
#include "sim/SimUsbDriver.h"

#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

// Device models: 2.45 GHz; 25 GHz (sweeps 0.5 / 1 / 4 / 10 ms); 5.8 GHz (sweeps 1 / 2 / 4 /
// 10 ms); 24 GHz (outside FMCW), sweeps 1 / 2 / 4 / 10 ms.
constexpr int kAlder = 0, kElm = 4, kFir = 5, kHazel = 7;
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
    // A board of device `model` showing `targets`, without the direct leakage that would be
    // the strongest echo of every range profile; the window activated on it, then the
    // buttons of the given object names clicked.
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
    std::size_t strongest() const {
        const std::vector<double> values = history();
        return tavrix::dsp::FindPeak(values, 0, values.size());
    }

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
