// The libusb driver, unchanged, against emulated boards behind umockdev's usbdevfs emulation.

#include "tests/usb/libusb/UmockdevBus.h"

#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "sim/Scene.h"
#include "usb/UsbDevice.h"
#include "usb/libusb/LibusbDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class LibusbBoard : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_unique<UmockdevBus>();
        if (!bus->active())
            GTEST_SKIP() << "needs umockdev's preload: run the binary under umockdev-wrapper";
    }

    // One board, then the activation as the program runs it: interface, endpoints,
    // controller program and the first command block.
    void activate() {
        bus->plug(sim::defaultScene());
        driver = std::make_unique<LibusbDriver>();
        radar = std::make_unique<RadarDevice>(*driver);
        ASSERT_EQ(radar->EnumerateDevices(), 1);
        ASSERT_TRUE(radar->SetInterface());
        radar->outEndpoint = radar->FindEndpoint(kCommandEndpoint);
        radar->inEndpoint = radar->FindEndpoint(kSampleEndpoint);
        ASSERT_TRUE(LoadControllerProgram(*radar, ControllerProgramText()));
        const CommandBlockBytes block = CommandBlock(0xA010);
        ASSERT_EQ(radar->WriteBlock(block.data(), 2048), 2048);
        bus->takeSubmitted(0);
    }

    UsbEndPoint& samples() { return *radar->usb->endpoint(radar->inEndpoint); }

    std::unique_ptr<UmockdevBus> bus; // first: libusb must not outlive the test bed
    std::unique_ptr<LibusbDriver> driver;
    std::unique_ptr<RadarDevice> radar;
};

} // namespace

TEST_F(LibusbBoard, EnumeratesAndSwitchesSettingsOnAClaimedInterface) {
    bus->plug(sim::defaultScene());
    bus->plug(sim::defaultScene());
    driver = std::make_unique<LibusbDriver>();
    ASSERT_EQ(driver->countDevices(), 2);
    EXPECT_EQ(driver->devicePath(0), "usb:1-1");
    EXPECT_EQ(driver->devicePath(1), "usb:1-2");
    EXPECT_EQ(driver->devicePath(2), "");

    UsbDevice usb(*driver, false);
    ASSERT_TRUE(usb.Open(1));
    EXPECT_EQ(usb.busAddress(), 3); // the second board's
    EXPECT_GE(usb.driverVersion(), UsbDevice::kDirectDriverVersion);
    EXPECT_EQ(usb.AltSettingCount(), 3);
    EXPECT_FALSE(usb.manufacturer().empty());

    // The handler refuses a setting on an interface nobody claimed, as the kernel does.
    ASSERT_TRUE(usb.SelectAltSetting(1));
    EXPECT_EQ(usb.CurrentAltSetting(), 1);
    bus->withBoard(1, [](sim::EmulatedBoard& b) { b.faults.refuseAltSetting = true; });
    EXPECT_FALSE(usb.SelectAltSetting(2));
    EXPECT_EQ(usb.CurrentAltSetting(), 1);
    bus->withBoard(1, [](sim::EmulatedBoard& b) { b.faults.refuseAltSetting = false; });

    usb.ResetPort();
    EXPECT_EQ(usb.CurrentAltSetting(), 0);
    EXPECT_TRUE(usb.SelectAltSetting(1));
}

TEST_F(LibusbBoard, ActivatedBoardStreamsLargeReadsWholeAndEndsShortOnesEarly) {
    activate();
    bus->withBoard(0, [](sim::EmulatedBoard& b) {
        EXPECT_TRUE(b.controller().fifosReady()) << b.controller().diagnosis();
        EXPECT_EQ(b.acquisition().wordsReceived().back(), 0xA010);
    });
    const std::uint32_t asked = LibusbDriver::kMaxPiece * 2 + 4096;
    std::vector<std::uint8_t> buffer(asked);
    std::uint32_t length = asked;
    ASSERT_TRUE(samples().Transfer(buffer.data(), length));
    EXPECT_EQ(length, asked);
    EXPECT_EQ(bus->takeSubmitted(0),
              (std::vector<std::uint32_t>{LibusbDriver::kMaxPiece, LibusbDriver::kMaxPiece, 4096}));
    // The frame flag comes every 128 sample pairs, across the piece boundaries too.
    std::size_t last = 0, flags = 0;
    for (std::size_t w = 0; w < asked / 2; ++w) {
        if (!(buffer[2 * w + 1] & 0x80))
            continue;
        ASSERT_TRUE(flags++ == 0 || w - last == 256) << "at word " << w;
        last = w;
    }
    EXPECT_GT(flags, 1000u);

    // Even a read that would need several pieces ends with a short one.
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.shortRead = 3000; });
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    length = LibusbDriver::kMaxPiece + 8704;
    EXPECT_TRUE(samples().Transfer(buffer.data(), length));
    EXPECT_EQ(length, 3000u);
    EXPECT_EQ(buffer[3000], 0xEE);
    EXPECT_EQ(bus->takeSubmitted(0).size(), 1u);
}

TEST_F(LibusbBoard, StalledReadIsCancelledAndAnUnplugEndsOneAtOnce) {
    activate();
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.noData = true; });
    UsbEndPoint& ep = samples();
    ep.timeout = 50;
    std::vector<std::uint8_t> buffer(8704);
    std::uint32_t length = 8704;
    auto start = Clock::now();
    EXPECT_FALSE(ep.Transfer(buffer.data(), length));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ep.usbStatus, kUsbStatusCancelled);

    // Nothing of the cancelled read lingers: the next one gets its data.
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.noData = false; });
    ep.timeout = 1000;
    length = 8704;
    EXPECT_TRUE(ep.Transfer(buffer.data(), length));
    EXPECT_EQ(length, 8704u);

    // A read waiting on a board that is pulled out fails at once, not at its time-out.
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.noData = true; });
    ep.timeout = 10000;
    std::unique_ptr<UsbRequest> request = ep.BeginTransfer(buffer.data(), 8704);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->state, UsbBeginState::Pending);
    bus->unplug(0);
    start = Clock::now();
    EXPECT_TRUE(ep.WaitForTransfer(request.get()));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(ep.FinishTransfer(buffer.data(), length, std::move(request), nullptr));
    EXPECT_EQ(ep.usbStatus, kUsbStatusNoDevice);
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(ep.Transfer(buffer.data(), length));
    int count = -1;
    for (int i = 0; i < 100 && count != 0; ++i) {
        if ((count = driver->countDevices()) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(count, 0);
}
