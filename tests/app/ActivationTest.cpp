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

// Rewrites the address of one endpoint in every configuration descriptor the board sends.
void hideEndpoint(ForwardingDriver& driver, std::uint8_t address) {
    driver.patchControlReply = [address](const UsbSetup& setup, std::uint8_t* data) {
        const bool configurationDescriptor = setup.request == 6 && (setup.value >> 8) == 2;
        if (!configurationDescriptor)
            return;
        for (std::uint16_t i = 0; i + 2 < setup.length && data[i] >= 2;
             i = static_cast<std::uint16_t>(i + data[i])) {
            if (data[i + 1] == 5 && data[i + 2] == address)
                data[i + 2] = 0x0F | (address & 0x80);
        }
    };
}

class ActivationTest : public ::testing::Test {
protected:
    // Each test decides which boards are plugged in before the window is made.
    void makeWindow() {
        window = std::make_unique<Tavrix>(forwarding);
        messages = std::make_unique<QSignalSpy>(window->statusBar(), &QStatusBar::messageChanged);
    }
    void clickActivate() { click(window->ui.buttonActivateDevice); }
    void activateOnOneBoard() {
        driver.attach(newBoard());
        makeWindow();
        clickActivate();
    }
    std::string status() const { return window->statusBar()->currentMessage().toStdString(); }
    std::vector<std::string> shown() const {
        std::vector<std::string> texts;
        for (const QList<QVariant>& args : *messages)
            texts.push_back(args.at(0).toString().toStdString());
        return texts;
    }
    std::string device(int i) const { return window->ui.comboDevices->itemText(i).toStdString(); }
    std::vector<std::uint16_t> wordsReceived() const {
        return driver.board(0).acquisition().wordsReceived();
    }
    bool streaming() const {
        return window->acquisitionTimer != nullptr && window->acquisitionTimer->isActive();
    }
    static void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    sim::SimUsbDriver driver;
    ForwardingDriver forwarding{driver};
    std::unique_ptr<Tavrix> window;
    std::unique_ptr<QSignalSpy> messages;
};

TEST_F(ActivationTest, DeviceListShowsOneEntryPerRadarBoard) {
    makeWindow();
    EXPECT_EQ(window->ui.comboDevices->count(), 1);
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
    click(window->ui.buttonRefreshDeviceList);
    ASSERT_EQ(window->ui.comboDevices->count(), 1);
    EXPECT_EQ(device(0), "Velmora USB SDR");
    EXPECT_TRUE(window->ui.buttonActivateDevice->isEnabled());

    driver.attach(newBoard());
    click(window->ui.buttonRefreshDeviceList);
    ASSERT_EQ(window->ui.comboDevices->count(), 2);
    EXPECT_EQ(device(1), "Velmora USB SDR");
}

TEST_F(ActivationTest, ActivationLoadsTheProgramSendsParametersAndStreams) {
    activateOnOneBoard();

    EXPECT_EQ(shown(),
              (std::vector<std::string>{"Success: Firmware Update Complete!",
                                        "New operating parameters set", "Device Streaming..."}));
    EXPECT_TRUE(window->ui.buttonActivateDevice->isChecked());
    ASSERT_TRUE(streaming());
    EXPECT_EQ(window->acquisitionTimer->interval(), 100);
    EXPECT_TRUE(window->ui.groupBox_3->isEnabled());
    EXPECT_TRUE(window->ui.DisplayProperties->isEnabled());
    EXPECT_TRUE(driver.board(0).streaming());
    // Activation writes the command block, and the display set-up writes it again.
    const std::vector<std::uint16_t> words = wordsReceived();
    ASSERT_EQ(words.size(), 2048u);
    EXPECT_TRUE(std::all_of(words.begin(), words.end(), [](auto w) { return w == 0xA010; }));

    clickActivate();
    EXPECT_EQ(status(), "Device disabled");
    EXPECT_FALSE(streaming());
    EXPECT_FALSE(window->ui.DisplayProperties->isEnabled());
    EXPECT_EQ(window->ui.DisplayProperties->currentIndex(), 4);

    // A second activation reuses the one timer and loads the program again.
    QTimer* const timer = window->acquisitionTimer;
    clickActivate();
    EXPECT_EQ(status(), "Device Streaming...");
    EXPECT_EQ(window->acquisitionTimer, timer);
    EXPECT_TRUE(streaming());
}

// Problems with the interface leave Activate unchecked; a board that takes neither the
// controller program nor the parameters keeps it checked, to be switched off again.
TEST_F(ActivationTest, FailuresAreReportedAndNothingStreams) {
    struct Case {
        const char* message;
        std::function<void()> breakBoard;
        bool staysChecked;
    };
    const Case cases[] = {
        {"Error: Interface cound not be set!",
         [this] { driver.board(0).faults.refuseAltSetting = true; }, false},
        {"Error: Could not find endpoint 2!", [this] { hideEndpoint(forwarding, 0x02); }, false},
        {"Error: Could not find endpoint 6!", [this] { hideEndpoint(forwarding, 0x86); }, false},
        {"Error: Firmware Update Failed!",
         [this] { forwarding.refuseControl = [](const UsbSetup& s) { return s.request == 0xA0; }; },
         true},
        {"Error: Unable to set operating parameters",
         [this] { forwarding.refuseTransfer = [](std::uint8_t ep) { return ep == 0x02; }; }, true},
    };
    driver.attach(newBoard());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        forwarding.patchControlReply = nullptr;
        forwarding.refuseControl = nullptr;
        forwarding.refuseTransfer = nullptr;
        driver.board(0).faults = {};
        c.breakBoard();
        makeWindow(); // enumerates with the broken descriptors
        clickActivate();
        EXPECT_EQ(status(), c.message);
        EXPECT_EQ(window->ui.buttonActivateDevice->isChecked(), c.staysChecked);
        EXPECT_EQ(window->acquisitionTimer, nullptr);
        EXPECT_FALSE(window->ui.DisplayProperties->isEnabled());
        EXPECT_EQ(device(0), "Velmora USB SDR");
    }
}

TEST_F(ActivationTest, EveryCodeOfTheOperatingWordReachesTheBoard) {
    activateOnOneBoard();
    Ui::Tavrix& ui = window->ui;

    // Each combo change rewrites the command block; the board keeps what it received last.
    auto lastWord = [&] { return wordsReceived().back(); };
    ui.comboPBandwidth->setCurrentIndex(3); // code 0: bandwidth bits clear
    EXPECT_EQ(lastWord(), 0xA000);
    ui.comboPBandwidth->setCurrentIndex(2); // code 3
    EXPECT_EQ(lastWord(), 0xA030);
    ui.comboPSampleWindow->setCurrentIndex(3);
    EXPECT_EQ(lastWord(), 0xA03C);
    ui.comboPSweepTime->setCurrentIndex(3);
    EXPECT_EQ(lastWord(), 0xA0FC);
    click(ui.radioOperationMode_5); // CW
    EXPECT_EQ(lastWord(), 0xA0FF);
    click(ui.radioOperationMode_4); // FSK
    EXPECT_EQ(lastWord(), 0xA0FE);
}

TEST_F(ActivationTest, OperatingModeDecidesDisplayModesAndControls) {
    activateOnOneBoard();
    Ui::Tavrix& ui = window->ui;

    click(ui.radioOperationMode_5); // CW from "Range && Time Scope"
    EXPECT_EQ(window->displayMode, 2u);
    for (auto* b :
         {ui.radioSpectrumDisplay_1, ui.radioSpectrumDisplay_3, ui.radioSpectrumDisplay_5})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(ui.radioSpectrumDisplay_4->isEnabled());
    EXPECT_FALSE(ui.comboPBandwidth->isEnabled());
    EXPECT_FALSE(ui.groupBox_11->isEnabled());
    EXPECT_NE(window->markerCwPeak, nullptr);
    EXPECT_EQ(window->markerRangePeak, nullptr);

    click(ui.radioOperationMode_1);
    click(ui.radioSpectrumDisplay_3);
    ASSERT_NE(window->waterfall, nullptr);
    EXPECT_EQ(window->curveTopI, nullptr);
    ui.SpectrogramRows->setValue(256); // the map keeps its size whatever the history
    EXPECT_EQ(window->waterfall->rows(), 513u);
    ui.filterOptionDCSubtract->setChecked(false);
    click(ui.radioOperationMode_4); // FSK from "Range-Velocity Map"
    EXPECT_TRUE(ui.radioSpectrumDisplay_2->isChecked());
    EXPECT_TRUE(ui.filterOptionDCSubtract->isChecked());
    EXPECT_FALSE(ui.fskGroupBox->isHidden());
    EXPECT_FALSE(ui.groupBox_8->isEnabled());
    EXPECT_FALSE(ui.groupBox_Range->isEnabled());
    EXPECT_NE(window->markerFskTarget, nullptr);
    EXPECT_EQ(window->waterfall, nullptr);

    ui.dialFSKRange->setValue(30);
    click(ui.radioOperationMode_5); // CW after FSK
    EXPECT_TRUE(ui.fskGroupBox->isHidden());
    EXPECT_EQ(ui.dialFSKRange->value(), 0);
}

TEST_F(ActivationTest, DeviceModelsRewriteTheirParameterLists) {
    driver.attach(newBoard());
    makeWindow();
    Ui::Tavrix& ui = window->ui;

    // Idle: the lists stay as they are.
    ui.device_centerFrequency->setCurrentIndex(4);
    EXPECT_EQ(ui.comboPBandwidth->itemText(1), "150");

    clickActivate();
    ui.comboPBandwidth->setCurrentIndex(1);
    ui.device_centerFrequency->setCurrentIndex(4); // "Elm": the index is kept
    EXPECT_EQ(ui.comboPBandwidth->currentText(), "750");
    EXPECT_DOUBLE_EQ(window->bandwidthHz, 7.5e8);
    EXPECT_DOUBLE_EQ(window->centerFrequency, 2.5e10);

    ui.device_centerFrequency->setCurrentIndex(5); // "Fir": sweep times 1, 2, 4, 10 ms
    ui.comboPSweepTime->setCurrentIndex(1);
    EXPECT_DOUBLE_EQ(window->sweepTimeMs, 2.0);
    EXPECT_EQ(wordsReceived().back(), 0xA040 | 0x0020); // sweep code 1, bandwidth code 2

    ui.device_centerFrequency->setCurrentIndex(7); // "Hazel"
    ui.comboPBandwidth->setCurrentIndex(3);        // "2000"
    EXPECT_DOUBLE_EQ(window->centerFrequency, 2.5e10);
    click(ui.radioOperationMode_5);
    EXPECT_DOUBLE_EQ(window->centerFrequency, 2.4e10);
}

TEST_F(ActivationTest, AcquisitionFailureStopsAndRefreshes) {
    activateOnOneBoard();
    driver.board(0).unplug();
    window->stopAcquisition(QStringLiteral("Error: Did not receive requested number of samples."));
    EXPECT_FALSE(streaming());
    EXPECT_FALSE(window->ui.buttonActivateDevice->isChecked());
    EXPECT_EQ(status(), "Error: Did not receive requested number of samples.");
    EXPECT_EQ(device(0), "No Devices Found");
    EXPECT_FALSE(window->ui.buttonActivateDevice->isEnabled());
}

} // namespace
