#include "usb/UsbDevice.h"
#include "tests/usb/BlockDriver.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Setting 0 without endpoints, setting 1 with the bulk pair behind class-specific
// descriptors, setting 2 with other kinds.
Bytes controllerConfig() {
    const Bytes other = {5, 0x24, 0, 0, 0};
    return configDescriptor(concat({interfaceDescriptor(0, 0, 0), interfaceDescriptor(0, 1, 2),
                                    other, endpointDescriptor(0x02, 2), other,
                                    endpointDescriptor(0x86, 2), interfaceDescriptor(0, 2, 2),
                                    endpointDescriptor(0x81, 3, 64), endpointDescriptor(0x02, 1)}),
                            1);
}

BlockDriver driverWith(const Bytes& config) {
    BlockDriver driver;
    driver.devices.push_back(BlockDriver::standardDevice(config));
    return driver;
}

} // namespace

TEST(UsbDevice, EndpointTableFollowsTheAlternateSetting) {
    BlockDriver driver = driverWith(controllerConfig());
    UsbDevice usb(driver);
    EXPECT_EQ(usb.product(), u"Radar front-end");
    EXPECT_TRUE(usb.serialNumber().empty()); // index 0: the language list is no string
    EXPECT_EQ(usb.EndpointCount(), 1);
    ASSERT_TRUE(usb.SelectAltSetting(1));
    EXPECT_EQ(usb.bulkInEndpoint(), usb.endpoint(2));
    EXPECT_EQ(usb.endpoint(2)->address, 0x86);
    ASSERT_TRUE(usb.SelectAltSetting(2));
    EXPECT_EQ(usb.interruptInEndpoint()->address, 0x81);
    EXPECT_EQ(usb.isocOutEndpoint()->address, 0x02);
    EXPECT_EQ(usb.bulkInEndpoint(), nullptr);
    EXPECT_FALSE(usb.SelectAltSetting(7));

    // After a reset the device runs setting 0 again; the table must not keep setting 2's.
    usb.ResetPort();
    EXPECT_TRUE(usb.SelectAltSetting(0));
    EXPECT_EQ(usb.EndpointCount(), 1);
    driver.devices[0].altSetting = 1; // a device found running another setting
    ASSERT_TRUE(usb.Open(0));
    EXPECT_EQ(usb.EndpointCount(), 3);
}

TEST(UsbDevice, StringsPreferUsEnglishAndSkipMalformedOnes) {
    BlockDriver driver = driverWith(controllerConfig());
    auto& d = driver.devices[0].descriptors;
    d[{0x0301, 0x0407}] = stringDescriptor(u"Deutsch");
    d[{0x0302, 0x0407}] = Bytes{8, 2, 'a', 0, 'b', 0, 0, 0}; // not a string descriptor
    d[{0x0302, 0x0409}] = Bytes{2, 3};                       // no text at all
    const struct {
        std::u16string languages;
        std::uint16_t language;
        std::u16string manufacturer;
    } cases[] = {{u"\u0407\u0409", 0x0409, u"Tavrix Labs"},
                 {u"\u0407\u040C", 0x0407, u"Deutsch"},
                 {u"", 0, u""}};
    for (const auto& c : cases) {
        d[{0x0300, 0}] = stringDescriptor(c.languages);
        UsbDevice usb(driver);
        EXPECT_TRUE(usb.isOpen());
        EXPECT_EQ(usb.stringLanguage(), c.language);
        EXPECT_EQ(usb.manufacturer(), c.manufacturer);
        EXPECT_TRUE(usb.product().empty());
    }
}

TEST(UsbDevice, MalformedOrShortDescriptorsLeaveNoConfiguration) {
    const Bytes good = controllerConfig();
    const auto cut = [](std::uint16_t value, std::size_t size) {
        return [=](BlockDriver::Device& d) { d.descriptors[{value, 0}].resize(size); };
    };
    const auto serve = [](const Bytes& config) {
        return [config](BlockDriver::Device& d) { d.descriptors[{0x0200, 0}] = config; };
    };
    const auto withInterface = [&](const Bytes& rest, std::uint8_t endpoints = 0) {
        return serve(configDescriptor(concat({interfaceDescriptor(0, 0, endpoints), rest}), 1));
    };
    const struct {
        const char* what;
        std::function<void(BlockDriver::Device&)> change;
        std::uint16_t vendor;
    } cases[] = {
        {"short device descriptor", cut(0x0100, 12), 0},
        {"short configuration", cut(0x0200, 40), 0x04B4},
        {"empty configuration", cut(0x0200, 0), 0x04B4},
        {"zero-length descriptor", withInterface({0, 0x24, 0}), 0x04B4},
        {"descriptor past the total", withInterface({40, 0x24, 0}), 0x04B4},
        {"endpoints missing", withInterface(endpointDescriptor(0x81, 2), 3), 0x04B4},
        {"short endpoint", withInterface({5, 5, 0x81, 2, 0}, 1), 0x04B4},
        {"short interface", serve(configDescriptor({4, 4, 0, 0}, 1)), 0x04B4},
        {"total below head", serve({9, 2, 5, 0, 1, 1, 0, 0x80, 50}), 0x04B4},
        {"not a configuration", serve(concat({{9, 3}, Bytes(good.begin() + 2, good.end())})),
         0x04B4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BlockDriver driver = driverWith(good);
        c.change(driver.devices[0]);
        UsbDevice usb(driver);
        EXPECT_FALSE(usb.Open(0));
        EXPECT_EQ(usb.vendorId(), c.vendor);
        EXPECT_EQ(usb.config(0), nullptr);
        EXPECT_EQ(usb.EndpointCount(), 0);
        EXPECT_EQ(usb.endpoint(0), nullptr);
    }
}

TEST(UsbDevice, CloseAndReopenLeaveNothingOfTheLastDevice) {
    BlockDriver driver = driverWith(controllerConfig());
    BlockDriver::Device other = BlockDriver::standardDevice(controllerConfig(), 0x1234, 0x5678);
    other.path = "/dev/bus/usb/001/003";
    other.descriptors.erase({0x0100, 0}); // its device descriptor cannot be read
    driver.devices.push_back(other);
    driver.devices[0].failClose = true;
    {
        UsbDevice usb(driver);
        ASSERT_TRUE(usb.SelectAltSetting(1));
        EXPECT_FALSE(usb.Close());
        EXPECT_STREQ(usb.closeError(), "Failed to close handle to driver.");
        EXPECT_FALSE(usb.isOpen());
        EXPECT_EQ(usb.bulkInEndpoint(), nullptr);
        EXPECT_EQ(usb.controlEndpoint(), nullptr);
        EXPECT_TRUE(usb.Close());
        EXPECT_STREQ(usb.closeError(), "");

        ASSERT_TRUE(usb.Open(0));
        EXPECT_FALSE(usb.Open(1)); // the first device's identity must not stay behind
        EXPECT_EQ(usb.vendorId(), 0);
        EXPECT_EQ(driver.openHandles, 1);
        ASSERT_TRUE(usb.Open(0));
    } // destroyed while open, with a failing close: no exception, nothing left open
    EXPECT_EQ(driver.openHandles, 0);
}
