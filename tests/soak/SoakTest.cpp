// The program on an unpaced emulated board for TAVRIX_SOAK_TICKS cycles (seed TAVRIX_SOAK_SEED),
// controls and faults at random: every failure ends idle with a message of the program's, a board
// plugged back in streams again, and resident memory does not creep.
#include "app/Tavrix.h"
#include "radar/Pipeline.h"
#include "sim/SimUsbDriver.h"

#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <random>

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// Resident MB, freed heap handed back first so that only what is still allocated counts.
double residentMb() {
    malloc_trim(0);
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident * sysconf(_SC_PAGESIZE)) / 1048576;
}

// Notes when the program enumerates and whether the board could be opened then: a handle left
// on a board that could not is dead.
class SoakDriver : public sim::SimUsbDriver {
public:
    bool boardLost = false;
    int enumerations = 0;
    int countDevices() override {
        ++enumerations;
        boardLost = !board(0).plugged() || board(0).faults.failControlRequests;
        return SimUsbDriver::countDevices();
    }
};

enum Fault { Unplug, Timeout, ShortRead, NoFrameFlag, FailControl, RefuseInterface };
constexpr int kFaults = 6;

const QString kInterfaceError = "Error: Interface cound not be set!";
const QStringList kCycleFailures = {"Error: Did not receive requested number of samples.",
                                    "Error: Did not receive the proper number of samples.",
                                    "Error: Received wrong number of samples from radar.",
                                    kInterfaceError};
const QStringList kActivationFailures = {
    kInterfaceError, "Error: Could not find endpoint 2!", "Error: Could not find endpoint 6!",
    "Error: Firmware Update Failed!", "Error: Unable to set operating parameters"};
// What the user plays with: the modes and displays first, as settle() walks them.
const char* const kControls =
    "radioOperationMode_1 radioOperationMode_4 radioOperationMode_5 radioSpectrumDisplay_1 "
    "radioSpectrumDisplay_2 radioSpectrumDisplay_3 radioSpectrumDisplay_4 radioSpectrumDisplay_5 "
    "filterOptionDCSubtract filterOptionHammingWindow filterOptionDirectClutter "
    "filterOptionDirectClutterDisabled rangeFilter_Low_Plus velocityFilter_High_Minus "
    "DR_Max_Minus comboPBandwidth comboPSampleWindow comboPSweepTime device_centerFrequency "
    "WaterfallRasterDataMethod DynamicRange_Minimum rangeFilter_High rangeFilter_Low "
    "velocityFilter_Low SpectrogramRows spinBoxDopplerQueue";

void click(QWidget* b) {
    QTest::mouseClick(b, Qt::LeftButton);
}

class Soak {
public:
    explicit Soak(std::uint64_t seed) : rng(seed) {
        board = &driver.attach(std::make_shared<sim::EmulatedBoard>(
            sim::defaultScene(), std::make_shared<sim::VirtualClock>()));
        window = std::make_unique<Tavrix>(driver);
        QObject::connect(window->statusBar(), &QStatusBar::messageChanged,
                         [this](const QString& m) { messages << m; });
        for (const QString& name : QString(kControls).split(' '))
            controls.push_back(window->findChild<QWidget*>(name));
    }

    void step() {
        for (int k = 0; k < kFaults; ++k)
            if (left[k] > 0 && --left[k] == 0)
                setFault(k, false);
        if (const int kind = pick(0, kFaults - 1); chance(0.03) && !left[kind])
            setFault(kind, true);
        for (int i = pick(0, 2); i > 0; --i)
            userAction();
        for (int i = 0; i < 4 && !streaming(); ++i)
            userAction();
        if (streaming())
            tick();
        if (++steps % 64 == 0)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // One fixed state reached by way of every chain at its largest, so that plans, buffers
    // and histories have their working size: memory is compared between two such states.
    void settle() {
        for (int k = 0; k < kFaults; ++k)
            if (left[k])
                setFault(k, false);
        for (int i = 0; i < 3 && !streaming(); ++i) {
            click(ui().buttonRefreshDeviceList);
            activate();
        }
        ASSERT_TRUE(streaming()) << where();
        for (QComboBox* c : {ui().device_centerFrequency, ui().comboPBandwidth,
                             ui().comboPSweepTime, ui().WaterfallRasterDataMethod})
            c->setCurrentIndex(0);
        for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
                 ui().filterOptionDCSubtract, ui().filterOptionHammingWindow,
                 ui().filterOptionDirectClutterAverage})
            b->setChecked(true);
        ui().spinBoxDopplerQueue->setValue(256);
        ui().SpectrogramRows->setValue(ui().SpectrogramRows->maximum());
        for (int mode = 0; mode < 3; ++mode)
            for (int samples = 0; samples < 4; ++samples)
                for (int display = 3; display < 8; ++display) {
                    click(controls[mode]);
                    ui().comboPSampleWindow->setCurrentIndex(samples);
                    click(controls[display]);
                    for (int k = 0; k < 3 && streaming(); ++k)
                        tick();
                }
        EXPECT_TRUE(streaming()) << where();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::uint64_t ticks = 0, steps = 0, failures = 0;

private:
    Ui::Tavrix& ui() { return window->ui; }
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }

    void setFault(int kind, bool on) {
        left[kind] = on ? pick(1, 12) : 0;
        sim::BoardFaults& f = board->faults;
        if (kind == Unplug) {
            on ? board->unplug() : board->plug();
            enumerationsAtPlug = driver.enumerations;
        }
        f.noData = this->on(Timeout);
        // Too little for the smallest frame after the 4096 bytes every read skips.
        if (kind == ShortRead)
            f.shortRead = on ? std::optional<std::uint32_t>(pick(0, 4607)) : std::nullopt;
        f.noFrameFlag = this->on(NoFrameFlag);
        f.failControlRequests = this->on(FailControl);
        f.refuseAltSetting = this->on(RefuseInterface);
    }
    bool on(int kind) const { return left[kind] > 0; }
    bool readsFail() const {
        return on(Unplug) || on(Timeout) || on(ShortRead) || on(NoFrameFlag) || driver.boardLost;
    }
    bool streaming() const {
        return window->acquisitionTimer && window->acquisitionTimer->isActive();
    }
    bool controlsEnabled() const {
        return window->ui.groupBox_3->isEnabled() && window->ui.DisplayProperties->isEnabled();
    }
    bool reachable(QWidget* w) const { return w->isEnabled() && w->isVisibleTo(window.get()); }
    QString shown() const { return window->statusBar()->currentMessage(); }
    std::string where() const {
        return "step " + std::to_string(steps) + ": " + messages.join(" | ").toStdString();
    }

    void tick() {
        const bool reads = tavrix::radar::ChainFor(static_cast<int>(window->operatingMode),
                                                   static_cast<int>(window->displayMode)) !=
                           tavrix::radar::Chain::None;
        messages.clear();
        window->ReadStream();
        ++ticks;
        if (streaming()) {
            EXPECT_FALSE(reads && readsFail()) << "read a frame it cannot have had; " << where();
            EXPECT_TRUE(shown().startsWith("Update Time: ") &&
                        ui().buttonActivateDevice->isChecked() && controlsEnabled())
                << where();
            return;
        }
        EXPECT_TRUE(reads && readsFail()) << "failed unprovoked; " << where();
        // Idle, the reader's own message last (no cycle time after it), the bus listed anew.
        ++failures;
        EXPECT_TRUE(kCycleFailures.contains(shown()) && messages.value(0) == shown()) << where();
        EXPECT_FALSE(ui().buttonActivateDevice->isChecked() || controlsEnabled()) << where();
        const bool listed = board->plugged() && !on(FailControl);
        EXPECT_EQ(ui().comboDevices->itemText(0), listed ? "Velmora USB SDR" : "No Devices Found")
            << where();
        EXPECT_EQ(ui().buttonActivateDevice->isEnabled(), listed) << where();
    }

    void activate() {
        QPushButton* button = ui().buttonActivateDevice;
        if (!button->isEnabled())
            return;
        messages.clear();
        const bool wasChecked = button->isChecked();
        const bool fresh =
            driver.enumerations > enumerationsAtPlug && board->plugged() && !driver.boardLost;
        click(button);
        if (wasChecked) {
            EXPECT_FALSE(streaming() || button->isChecked() || controlsEnabled()) << where();
            return;
        }
        // Which message each fault gives is checked in tests/app; here, that it is one of them.
        EXPECT_EQ(controlsEnabled(), streaming()) << where();
        EXPECT_TRUE(streaming() ? messages.contains("Device Streaming...")
                                : kActivationFailures.contains(shown()))
            << where();
        EXPECT_TRUE(streaming() || !fresh || on(RefuseInterface) || on(FailControl))
            << "a plugged-in board did not stream; " << where();
    }

    void userAction() {
        if (!streaming() && chance(0.7)) { // mostly the user wants the stream back
            if (!reachable(ui().buttonActivateDevice) ||
                driver.enumerations == enumerationsAtPlug || chance(0.2))
                click(ui().buttonRefreshDeviceList);
            return activate();
        }
        if (chance(0.05))
            return activate();
        // Any control, used only when shown and enabled, its tool-box page opened first.
        QWidget* w = controls[static_cast<std::size_t>(pick(0, int(controls.size()) - 1))];
        QToolBox* box = ui().DisplayProperties;
        for (int i = 0; !reachable(w) && box->isEnabled() && chance(0.5) && i < box->count(); ++i)
            if (box->widget(i)->isAncestorOf(w))
                box->setCurrentIndex(i);
        if (!reachable(w))
            return;
        if (qobject_cast<QAbstractButton*>(w))
            click(w);
        else if (auto* c = qobject_cast<QComboBox*>(w))
            c->setCurrentIndex(pick(0, c->count() - 1));
        else if (auto* s = qobject_cast<QSlider*>(w))
            s->setValue(pick(s->minimum(), s->maximum()));
        else if (auto* n = qobject_cast<QSpinBox*>(w)) // bounded: the run stays within minutes
            n->setValue(pick(n->minimum(), n == ui().spinBoxDopplerQueue ? 256 : 1024) /
                        n->singleStep() * n->singleStep());
    }

    std::mt19937_64 rng;
    SoakDriver driver;
    sim::EmulatedBoard* board = nullptr;
    std::unique_ptr<Tavrix> window;
    QStringList messages;
    std::vector<QWidget*> controls;
    std::array<int, kFaults> left{};
    int enumerationsAtPlug = 0;
};

TEST(Soak, SurvivesRandomUseAndFaults) {
    const std::uint64_t ticks = envNumber("TAVRIX_SOAK_TICKS", 20000);
    Soak soak(envNumber("TAVRIX_SOAK_SEED", 13));
    soak.settle();
    const double before = residentMb();
    while (soak.ticks < ticks && !::testing::Test::HasFailure())
        soak.step();
    soak.settle();
    const double growth = residentMb() - before;
    EXPECT_GT(soak.failures, 0u) << "no fault was ever felt";
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer's quarantine holds freed memory
    EXPECT_LT(growth, 5.0);
#endif
}
