#include "usb/libusb/LibusbDriver.h"
#include "usb/UsbDevice.h"

#include <gtest/gtest.h>

// Runs against the host's real USB; the boards themselves are exercised under umockdev.
TEST(LibusbDriver, WithoutBoardsEnumeratesNothingAndOpenFailsCleanly) {
    LibusbDriver driver;
    if (driver.countDevices() > 0)
        GTEST_SKIP() << "a device with vendor id 0x04B4 is attached; this test needs none";
    EXPECT_EQ(driver.devicePath(0), "");
    EXPECT_EQ(driver.open("usb:1-1"), kInvalidUsbHandle);

    UsbDevice usb(driver);
    EXPECT_EQ(usb.CountDevices(), 0);
    EXPECT_FALSE(usb.Open(0));
    EXPECT_FALSE(usb.isOpen());
    EXPECT_EQ(usb.EndpointCount(), 0);
    EXPECT_EQ(usb.endpoint(0), nullptr);
    EXPECT_TRUE(usb.Close());
}

TEST(LibusbDriver, UnknownHandlesAndRequestsFailWithoutHarm) {
    LibusbDriver driver;
    const UsbHandle bogus = 12345;
    std::uint8_t buffer[64] = {};
    EXPECT_FALSE(driver.close(bogus));
    EXPECT_FALSE(driver.driverVersion(bogus));
    EXPECT_FALSE(driver.currentAltSetting(bogus));
    EXPECT_FALSE(driver.selectAltSetting(bogus, 1));
    EXPECT_FALSE(driver.resetPort(bogus));
    EXPECT_FALSE(driver.abortEndpoint(bogus, 0x86));
    const UsbBegin control =
        driver.beginControl(bogus, UsbSetup{0xC0, 0xA0, 0xE600, 0, 1}, buffer, 1);
    EXPECT_EQ(control.state, UsbBeginState::Failed);
    EXPECT_EQ(control.id, kNoUsbTransfer);
    const UsbBegin data = driver.beginTransfer(bogus, 0x86, buffer, sizeof buffer, 0);
    EXPECT_EQ(data.id, kNoUsbTransfer);
    EXPECT_EQ(driver.waitTransfer(999, 0), UsbWait::Failed);
    EXPECT_FALSE(driver.finishTransfer(999, nullptr).collected);

    // The endpoint layer on top of an invalid handle sends nothing and fails.
    BulkEndPoint ep(&driver, bogus, UsbEndpointDescriptor{});
    std::uint32_t length = sizeof buffer;
    EXPECT_FALSE(ep.Transfer(buffer, length));
    EXPECT_EQ(length, 0u);
}
