#include "usb/libusb/LibusbDriver.h"

#include <gtest/gtest.h>

// On the host's real USB; the boards themselves are exercised under umockdev.
TEST(LibusbDriver, UnknownPathsHandlesAndRequestsFailWithoutHarm) {
    LibusbDriver driver;
    const UsbHandle bogus = 12345;
    std::uint8_t buffer[64] = {};
    EXPECT_EQ(driver.open("usb:0-0"), kInvalidUsbHandle);
    EXPECT_FALSE(driver.close(bogus));
    EXPECT_FALSE(driver.currentAltSetting(bogus));
    EXPECT_FALSE(driver.selectAltSetting(bogus, 1));
    EXPECT_FALSE(driver.resetPort(bogus));
    EXPECT_FALSE(driver.abortEndpoint(bogus, 0x86));
    EXPECT_EQ(driver.beginControl(bogus, UsbSetup{0xC0, 0xA0, 0xE600, 0, 1}, buffer, 1).id,
              kNoUsbTransfer);
    EXPECT_EQ(driver.beginTransfer(bogus, 0x86, buffer, sizeof buffer, 0).id, kNoUsbTransfer);
    EXPECT_EQ(driver.waitTransfer(999, 0), UsbWait::Failed);
    EXPECT_FALSE(driver.finishTransfer(999, nullptr).collected);
}
