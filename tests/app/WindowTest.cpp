// The window's wiring on emulated boards, frames stepped on the test's thread: the device
// list, activation and its failures, the controls as the operating word the board receives,
// the display rules of each mode.
#include "app/Tavrix.h"
#include "display/Waterfall.h"
#include "sim/SimUsbDriver.h"
#include "tests/app/ForwardingDriver.h"

#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

std::shared_ptr<sim::EmulatedBoard> newBoard(sim::BoardIdentity id = {}) {
    return std::make_shared<sim::EmulatedBoard>(sim::defaultScene(),
                                                std::make_shared<sim::VirtualClock>(), id);
}

class Window : public ::testing::Test {
protected:
    // Each test decides which boards are plugged in before the window is made.
    void makeWindow() {
        window = std::make_unique<Tavrix>(forwarding);
        messages = std::make_unique<QSignalSpy>(window->statusBar(), &QStatusBar::messageChanged);
    }
    void activateOnOneBoard() {
        driver.attach(newBoard());
        makeWindow();
        click(window->ui.buttonActivateDevice);
    }
    std::string status() const { return window->statusBar()->currentMessage().toStdString(); }
    std::vector<std::string> shown() const {
        std::vector<std::string> texts;
        for (const QList<QVariant>& args : *messages)
            texts.push_back(args.at(0).toString().toStdString());
        return texts;
    }
    std::string device(int i) const { return window->ui.comboDevices->itemText(i).toStdString(); }
    std::uint16_t lastWord() const { return driver.board(0).acquisition().wordsReceived().back(); }
    bool streaming() const {
        return window->acquisitionTimer != nullptr && window->acquisitionTimer->isActive();
    }
    static void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    sim::SimUsbDriver driver;
    ForwardingDriver forwarding{driver};
    std::unique_ptr<Tavrix> window;
    std::unique_ptr<QSignalSpy> messages;
};

TEST_F(Window, DeviceListShowsOneEntryPerRadarBoard) {
    makeWindow();
    EXPECT_EQ(device(0), "No Devices Found");
    EXPECT_FALSE(window->ui.buttonActivateDevice->isEnabled());
    EXPECT_NE(status().find("tavrix --simulate"), std::string::npos) << status();

    // A board whose device file is not the user's is named as such, with the cure.
    driver.attach(newBoard()).faults.accessDenied = true;
    click(window->ui.buttonRefreshDeviceList);
    EXPECT_EQ(device(0), "No Devices Found");
    EXPECT_NE(status().find("may not open it"), std::string::npos) << status();
    EXPECT_NE(status().find("sudo tee /etc/udev/rules.d/60-tavrix.rules"), std::string::npos);
    driver.board(0).unplug();

    driver.attach(newBoard());
    sim::BoardIdentity other;
    other.productId = 0x1234;
    driver.attach(newBoard(other));
    driver.attach(newBoard());
    click(window->ui.buttonRefreshDeviceList);
    ASSERT_EQ(window->ui.comboDevices->count(), 2);
    EXPECT_EQ(device(1), "Velmora USB SDR");
    EXPECT_TRUE(window->ui.buttonActivateDevice->isEnabled());
}

TEST_F(Window, ActivationLoadsTheProgramSendsParametersAndStreamsUntilStopped) {
    activateOnOneBoard();
    EXPECT_EQ(shown(),
              (std::vector<std::string>{"Success: Firmware Update Complete!",
                                        "New operating parameters set", "Device Streaming..."}));
    ASSERT_TRUE(streaming());
    EXPECT_EQ(window->acquisitionTimer->interval(), 100);
    EXPECT_TRUE(window->ui.DisplayProperties->isEnabled());
    EXPECT_TRUE(driver.board(0).streaming());
    // Activation writes the command block, and the display set-up writes it again.
    const std::vector<std::uint16_t> words = driver.board(0).acquisition().wordsReceived();
    EXPECT_EQ(words.size(), 2048u);
    EXPECT_TRUE(std::all_of(words.begin(), words.end(), [](auto w) { return w == 0xA010; }));

    click(window->ui.buttonActivateDevice);
    EXPECT_EQ(status(), "Device disabled");
    EXPECT_FALSE(streaming());
    EXPECT_FALSE(window->ui.DisplayProperties->isEnabled());

    // A second activation reuses the one timer, and the update rate retimes it.
    QTimer* const timer = window->acquisitionTimer;
    click(window->ui.buttonActivateDevice);
    EXPECT_EQ(status(), "Device Streaming...");
    EXPECT_EQ(window->acquisitionTimer, timer);
    EXPECT_TRUE(streaming());
    window->ui.spinBoxPUpdateRate->setValue(40);
    EXPECT_EQ(timer->interval(), 40);

    // A failed read stops the stream and lists the boards again.
    driver.board(0).unplug();
    window->stopAcquisition(QStringLiteral("Error: Did not receive requested number of samples."));
    EXPECT_FALSE(streaming());
    EXPECT_FALSE(window->ui.buttonActivateDevice->isChecked());
    EXPECT_EQ(status(), "Error: Did not receive requested number of samples.");
    EXPECT_EQ(device(0), "No Devices Found");
}

// Problems with the interface leave Activate unchecked; a board that takes neither the
// controller program nor the parameters keeps it checked, to be switched off again.
TEST_F(Window, FailuresAreReportedAndNothingStreams) {
    struct Case {
        const char* message;
        std::function<void()> breakBoard;
        bool staysChecked;
    };
    const Case cases[] = {
        {"Error: Interface cound not be set!",
         [this] { driver.board(0).faults.refuseAltSetting = true; }, false},
        {"Error: Firmware Update Failed!",
         [this] { forwarding.refuseControl = [](const UsbSetup& s) { return s.request == 0xA0; }; },
         true},
        {"Error: Unable to set operating parameters",
         [this] { forwarding.refuseTransfer = [](std::uint8_t ep) { return ep == 0x02; }; }, true},
    };
    driver.attach(newBoard());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        forwarding.refuseControl = nullptr;
        forwarding.refuseTransfer = nullptr;
        driver.board(0).faults = {};
        c.breakBoard();
        makeWindow(); // enumerates with the broken descriptors
        click(window->ui.buttonActivateDevice);
        EXPECT_EQ(status(), c.message);
        EXPECT_EQ(window->ui.buttonActivateDevice->isChecked(), c.staysChecked);
        EXPECT_EQ(window->acquisitionTimer, nullptr);
        EXPECT_FALSE(window->ui.DisplayProperties->isEnabled());
    }
}

// Each change rewrites the command block; the board keeps what it received last.
TEST_F(Window, EveryCodeOfTheOperatingWordReachesTheBoard) {
    activateOnOneBoard();
    Ui::Tavrix& ui = window->ui;
    const std::pair<std::function<void()>, std::uint16_t> steps[] = {
        {[&] { ui.comboPBandwidth->setCurrentIndex(3); }, 0xA000}, // code 0: bits clear
        {[&] { ui.comboPBandwidth->setCurrentIndex(2); }, 0xA030}, // code 3
        {[&] { ui.comboPSampleWindow->setCurrentIndex(3); }, 0xA03C},
        {[&] { ui.comboPSweepTime->setCurrentIndex(3); }, 0xA0FC},
        {[&] { click(ui.radioOperationMode_5); }, 0xA0FF}, // CW
        {[&] { click(ui.radioOperationMode_4); }, 0xA0FE}, // FSK
    };
    for (const auto& [change, word] : steps) {
        change();
        EXPECT_EQ(lastWord(), word);
    }
}

TEST_F(Window, DeviceModelsRewriteTheirParameterLists) {
    driver.attach(newBoard());
    makeWindow();
    Ui::Tavrix& ui = window->ui;
    click(ui.buttonActivateDevice);
    ui.comboPBandwidth->setCurrentIndex(1);
    ui.device_centerFrequency->setCurrentIndex(4); // "Elm": the index is kept
    EXPECT_EQ(ui.comboPBandwidth->currentText(), "750");
    EXPECT_DOUBLE_EQ(window->bandwidthHz, 7.5e8);
    EXPECT_DOUBLE_EQ(window->centerFrequency, 2.5e10);

    ui.device_centerFrequency->setCurrentIndex(5); // "Fir": sweep times 1, 2, 4, 10 ms
    ui.comboPSweepTime->setCurrentIndex(1);
    EXPECT_DOUBLE_EQ(window->sweepTimeMs, 2.0);
    EXPECT_EQ(lastWord(), 0xA040 | 0x0020); // sweep code 1, bandwidth code 2

    ui.device_centerFrequency->setCurrentIndex(7); // "Hazel"
    ui.comboPBandwidth->setCurrentIndex(3);        // "2000"
    EXPECT_DOUBLE_EQ(window->centerFrequency, 2.5e10);
    click(ui.radioOperationMode_5);
    EXPECT_DOUBLE_EQ(window->centerFrequency, 2.4e10);
}

TEST_F(Window, OperatingModeDecidesDisplayModesAndPlotItems) {
    activateOnOneBoard();
    Ui::Tavrix& ui = window->ui;
    click(ui.radioOperationMode_5); // CW from "Range && Time Scope"
    EXPECT_EQ(window->displayMode, 2u);
    EXPECT_FALSE(ui.radioSpectrumDisplay_3->isEnabled()); // no map without sweeps
    EXPECT_NE(window->markerCwPeak, nullptr);
    EXPECT_EQ(window->markerRangePeak, nullptr);

    click(ui.radioOperationMode_1);
    click(ui.radioSpectrumDisplay_3);
    ASSERT_NE(window->waterfall, nullptr);
    EXPECT_EQ(window->curveTopI, nullptr);
    ui.filterOptionDCSubtract->setChecked(false);
    click(ui.radioOperationMode_4); // FSK from "Range-Velocity Map"
    EXPECT_TRUE(ui.radioSpectrumDisplay_2->isChecked());
    EXPECT_TRUE(ui.filterOptionDCSubtract->isChecked());
    EXPECT_FALSE(ui.fskGroupBox->isHidden());
    EXPECT_NE(window->markerFskTarget, nullptr);
    EXPECT_EQ(window->waterfall, nullptr);
    click(ui.radioOperationMode_5); // CW after FSK
    EXPECT_TRUE(ui.fskGroupBox->isHidden());
}

} // namespace
