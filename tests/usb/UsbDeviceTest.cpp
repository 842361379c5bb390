#include "usb/UsbDevice.h"
#include "tests/usb/BlockDriver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

BlockDriver driverWith(const Bytes& config) {
    BlockDriver driver;
    driver.devices.push_back(BlockDriver::standardDevice(config));
    return driver;
}

std::vector<std::uint8_t> tableAddresses(const UsbDevice& usb) {
    std::vector<std::uint8_t> addresses;
    for (int i = 1; i < usb.EndpointCount(); ++i)
        addresses.push_back(usb.endpoint(i) ? usb.endpoint(i)->address : 0xEE);
    return addresses;
}

bool requested(const BlockDriver& driver, std::uint16_t value, std::uint16_t index) {
    return std::count(driver.descriptorRequests.begin(), driver.descriptorRequests.end(),
                      std::make_pair(value, index)) > 0;
}

} // namespace

TEST(UsbDevice, OpensTheControllerAndSelectsTheStreamingSetting) {
    BlockDriver driver = driverWith(controllerConfig());
    UsbDevice usb(driver);
    ASSERT_TRUE(usb.isOpen());
    EXPECT_EQ(usb.CountDevices(), 1);
    EXPECT_EQ(usb.vendorId(), 0x04B4);
    EXPECT_EQ(usb.productId(), 0x8613);
    EXPECT_EQ(usb.ConfigCount(), 1);
    EXPECT_EQ(usb.InterfaceCount(), 1);
    EXPECT_EQ(usb.AltSettingCount(), 3);
    EXPECT_EQ(usb.manufacturer(), u"Tavrix Labs");
    EXPECT_EQ(usb.product(), u"Radar front-end");
    EXPECT_TRUE(usb.serialNumber().empty()); // string index 0: nothing asked for
    EXPECT_FALSE(requested(driver, 0x0300, 0x0409));
    EXPECT_TRUE(usb.highSpeed());
    EXPECT_EQ(usb.driverFriendlyName().size(), UsbDevice::kMaxTextLength);

    // The driver reports setting 0, which has no endpoint but endpoint 0.
    EXPECT_EQ(usb.EndpointCount(), 1);
    ASSERT_NE(usb.endpoint(0), nullptr);
    EXPECT_EQ(usb.endpoint(0), usb.controlEndpoint());
    EXPECT_EQ(usb.controlEndpoint()->maxPacketSize, 64);
    EXPECT_EQ(usb.endpoint(1), nullptr);

    ASSERT_TRUE(usb.SelectAltSetting(1));
    EXPECT_EQ(driver.selectedSettings, std::vector<std::uint8_t>{1});
    EXPECT_EQ(usb.CurrentAltSetting(), 1);
    EXPECT_EQ(usb.EndpointCount(), 7);
    EXPECT_EQ(tableAddresses(usb), (std::vector<std::uint8_t>{0x01, 0x81, 0x02, 0x04, 0x86, 0x88}));
    EXPECT_EQ(usb.bulkOutEndpoint()->address, 0x01);
    EXPECT_EQ(usb.bulkInEndpoint()->address, 0x81);
    EXPECT_EQ(usb.isocInEndpoint(), nullptr);
    EXPECT_TRUE(usb.endpoint(5)->direct);
    EXPECT_NE(dynamic_cast<BulkEndPoint*>(usb.endpoint(5)), nullptr);

    // Setting 2 mixes kinds: the first of each kind is found.
    ASSERT_TRUE(usb.SelectAltSetting(2));
    EXPECT_EQ(usb.interruptOutEndpoint()->address, 0x01);
    EXPECT_EQ(usb.interruptInEndpoint()->address, 0x81);
    EXPECT_EQ(usb.isocOutEndpoint()->address, 0x02);
    EXPECT_EQ(usb.isocInEndpoint()->address, 0x86);
    EXPECT_EQ(usb.bulkOutEndpoint()->address, 0x04);
    EXPECT_EQ(usb.bulkInEndpoint()->address, 0x88);

    // Asking for the setting already running sends nothing.
    ASSERT_TRUE(usb.SelectAltSetting(2));
    EXPECT_EQ(driver.selectedSettings.size(), 2u);
    EXPECT_FALSE(usb.SelectAltSetting(7));
}

TEST(UsbDevice, OldDriversMoveDataThroughACopy) {
    BlockDriver driver = driverWith(controllerConfig());
    driver.devices[0].driverVersion = 0x01050400;
    UsbDevice usb(driver);
    ASSERT_TRUE(usb.SelectAltSetting(1));
    for (int i = 1; i < usb.EndpointCount(); ++i)
        EXPECT_FALSE(usb.endpoint(i)->direct);
    EXPECT_FALSE(usb.controlEndpoint()->direct);
}

TEST(UsbDevice, StartsWithTheSettingTheDriverReports) {
    BlockDriver driver = driverWith(controllerConfig());
    driver.devices[0].altSetting = 1;
    UsbDevice usb(driver);
    EXPECT_EQ(usb.EndpointCount(), 7);
    EXPECT_EQ(usb.currentAltIndex(), 1);
    EXPECT_TRUE(driver.selectedSettings.empty());
}

TEST(UsbDevice, FollowsTheDeviceBackToSettingZeroAfterAReset) {
    BlockDriver driver = driverWith(controllerConfig());
    UsbDevice usb(driver);
    ASSERT_TRUE(usb.SelectAltSetting(1));
    usb.ResetPort();
    EXPECT_EQ(driver.resets, 1);
    // The device runs setting 0 again; the endpoint table must not keep setting 1's.
    EXPECT_TRUE(usb.SelectAltSetting(0));
    EXPECT_EQ(usb.EndpointCount(), 1);
}

TEST(UsbDevice, RefusedAlternateSettingIsReported) {
    BlockDriver driver = driverWith(controllerConfig());
    driver.devices[0].refuseAltSetting = true;
    UsbDevice usb(driver);
    EXPECT_FALSE(usb.SelectAltSetting(1));
    EXPECT_EQ(usb.CurrentAltSetting(), 0);
}

TEST(UsbDevice, PrefersUsEnglishAndOtherwiseTakesTheFirstLanguage) {
    BlockDriver driver = driverWith(controllerConfig());
    auto& d = driver.devices[0].descriptors;
    d[{0x0300, 0}] = languageList({0x0407, 0x0409});
    d[{0x0301, 0x0407}] = stringDescriptor(u"Deutsch");
    {
        UsbDevice usb(driver);
        EXPECT_EQ(usb.stringLanguage(), 1033);
        EXPECT_EQ(usb.manufacturer(), u"Tavrix Labs");
    }
    d[{0x0300, 0}] = languageList({0x0407, 0x040C});
    {
        UsbDevice usb(driver);
        EXPECT_EQ(usb.stringLanguage(), 0x0407);
        EXPECT_EQ(usb.manufacturer(), u"Deutsch");
    }
    d[{0x0300, 0}] = languageList({});
    {
        UsbDevice usb(driver);
        EXPECT_EQ(usb.stringLanguage(), 0);
    }
}

TEST(UsbDevice, ShortOrForeignStringsLeaveTheTextAlone) {
    BlockDriver driver = driverWith(controllerConfig());
    auto& d = driver.devices[0].descriptors;
    d[{0x0301, 0x0409}] = Bytes{2, 3};                       // no text at all
    d[{0x0302, 0x0409}] = Bytes{8, 2, 'a', 0, 'b', 0, 0, 0}; // not a string descriptor
    UsbDevice usb(driver);
    EXPECT_TRUE(usb.manufacturer().empty());
    EXPECT_TRUE(usb.product().empty());
    EXPECT_TRUE(usb.isOpen());
}

TEST(UsbDevice, KeepsAtMostEightAlternateSettings) {
    Bytes body;
    for (int i = 0; i < 10; ++i) {
        Bytes intf = concat({interfaceDescriptor(static_cast<std::uint8_t>(i / 2),
                                                 static_cast<std::uint8_t>(i % 2), 1),
                             endpointDescriptor(static_cast<std::uint8_t>(0x81 + i), 2)});
        body.insert(body.end(), intf.begin(), intf.end());
    }
    BlockDriver driver = driverWith(configDescriptor(body, 5));
    UsbDevice usb(driver);
    ASSERT_TRUE(usb.isOpen());
    const UsbConfig* config = usb.config(0);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->builtInterfaces, 8);
    EXPECT_EQ(config->interface(7)->endpoint(1)->address, 0x88);
    EXPECT_EQ(config->interface(8), nullptr);
    EXPECT_EQ(usb.InterfaceCount(), 5);
    EXPECT_EQ(config->interface(6)->altSettingCount, 2);
}

TEST(UsbDevice, ReadsOnlyTheFirstTwoOfThreeConfigurations) {
    BlockDriver driver = driverWith(controllerConfig());
    auto& d = driver.devices[0].descriptors;
    d[{0x0100, 0}] = deviceDescriptor(0x04B4, 0x8613, 3);
    d[{0x0201, 0}] = configDescriptor(concat({interfaceDescriptor(0, 0, 0)}), 1, 2);
    d[{0x0202, 0}] = configDescriptor(concat({interfaceDescriptor(0, 0, 0)}), 1, 3);
    UsbDevice usb(driver);
    EXPECT_EQ(usb.ConfigCount(), 3);
    ASSERT_NE(usb.config(1), nullptr);
    EXPECT_EQ(usb.config(1)->configValue, 2);
    EXPECT_EQ(usb.config(2), nullptr);
    EXPECT_FALSE(requested(driver, 0x0202, 0));
}

TEST(UsbDevice, FindsEndpointsBehindOtherDescriptors) {
    // A class-specific descriptor and an isochronous endpoint with synchronisation bits and
    // three packets per microframe.
    BlockDriver driver = driverWith(
        configDescriptor(concat({interfaceDescriptor(0, 0, 2), classDescriptor(),
                                 endpointDescriptor(0x82, 2), classDescriptor(7, 0x25),
                                 classDescriptor(), endpointDescriptor(0x83, 0x05, 0x1400)}),
                         1));
    UsbDevice usb(driver);
    ASSERT_EQ(usb.EndpointCount(), 3);
    EXPECT_EQ(usb.endpoint(1)->address, 0x82);
    auto* isoc = dynamic_cast<IsocEndPoint*>(usb.endpoint(2));
    ASSERT_NE(isoc, nullptr);
    EXPECT_EQ(isoc->packetsPerMicroframe, 3);
    EXPECT_EQ(isoc->maxPacketSize, 3 * 1024);
    EXPECT_EQ(usb.isocInEndpoint(), isoc);
    EXPECT_EQ(usb.config(0)->interface(0)->totalLength, 9 + 5 + 7 + 7 + 5 + 7);
}

TEST(UsbDevice, StopsLookingForEndpointsAfterElevenOtherDescriptors) {
    auto withUnknown = [](int unknown) {
        Bytes body = interfaceDescriptor(0, 0, 1);
        for (int i = 0; i < unknown; ++i)
            body = concat({body, classDescriptor()});
        return configDescriptor(concat({body, endpointDescriptor(0x81, 2),
                                        interfaceDescriptor(0, 1, 1), endpointDescriptor(0x82, 3)}),
                                1);
    };
    {
        BlockDriver driver = driverWith(withUnknown(11));
        UsbDevice usb(driver);
        ASSERT_EQ(usb.EndpointCount(), 2);
        EXPECT_EQ(usb.endpoint(1)->address, 0x81);
        EXPECT_EQ(usb.config(0)->builtInterfaces, 2);
    }
    {
        BlockDriver driver = driverWith(withUnknown(12));
        UsbDevice usb(driver);
        ASSERT_EQ(usb.EndpointCount(), 2);
        EXPECT_EQ(usb.endpoint(1), nullptr);
        EXPECT_EQ(usb.bulkInEndpoint(), nullptr);
        // The walk resumes at the twelfth descriptor and still finds the next setting.
        ASSERT_EQ(usb.config(0)->builtInterfaces, 2);
        ASSERT_TRUE(usb.SelectAltSetting(1));
        EXPECT_EQ(usb.interruptInEndpoint()->address, 0x82);
    }
}

TEST(UsbDevice, DuplicateSettingNumbersSelectTheFirst) {
    BlockDriver driver = driverWith(
        configDescriptor(concat({interfaceDescriptor(0, 0, 0), interfaceDescriptor(1, 1, 1),
                                 endpointDescriptor(0x81, 2), interfaceDescriptor(0, 1, 1),
                                 endpointDescriptor(0x82, 2)}),
                         2));
    UsbDevice usb(driver);
    ASSERT_TRUE(usb.SelectAltSetting(1));
    EXPECT_EQ(usb.currentAltIndex(), 1);
    EXPECT_EQ(usb.endpoint(1)->address, 0x81);
}

TEST(UsbDevice, RejectsMalformedConfigurations) {
    const Bytes good = controllerConfig();
    std::vector<std::pair<const char*, Bytes>> bad = {
        {"zero-length descriptor",
         configDescriptor(concat({interfaceDescriptor(0, 0, 0), Bytes{0, 0x24, 0}}), 1)},
        {"descriptor past the total",
         configDescriptor(concat({interfaceDescriptor(0, 0, 0), Bytes{40, 0x24, 0}}), 1)},
        {"endpoints missing",
         configDescriptor(concat({interfaceDescriptor(0, 0, 3), endpointDescriptor(0x81, 2)}), 1)},
        {"short endpoint",
         configDescriptor(concat({interfaceDescriptor(0, 0, 1), Bytes{5, 5, 0x81, 2, 0}}), 1)},
        {"short interface", configDescriptor(Bytes{4, 4, 0, 0}, 1)},
        {"total below head", Bytes{9, 2, 5, 0, 1, 1, 0, 0x80, 50}},
        {"not a configuration", concat({Bytes{9, 3}, Bytes(good.begin() + 2, good.end())})},
    };
    for (const auto& [what, config] : bad) {
        SCOPED_TRACE(what);
        BlockDriver driver = driverWith(config);
        UsbDevice usb(driver);
        EXPECT_FALSE(usb.Open(0));
        EXPECT_EQ(usb.config(0), nullptr);
        EXPECT_EQ(usb.EndpointCount(), 0);
        EXPECT_EQ(usb.endpoint(0), nullptr);
    }
}

TEST(UsbDevice, NoPrefixOfAConfigurationIsReadOutOfBounds) {
    // Every cut of the descriptor, with its head still claiming the full length, is turned
    // down by the parser; with the head corrected it parses what is left or is turned down.
    const Bytes full = controllerConfig();
    for (std::size_t n = 0; n < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + n);
        EXPECT_EQ(UsbConfig::parse(cut.data(), cut.size(), nullptr, kInvalidUsbHandle), nullptr)
            << n;
        if (n >= 4) {
            cut[2] = static_cast<std::uint8_t>(n);
            cut[3] = static_cast<std::uint8_t>(n >> 8);
            auto config = UsbConfig::parse(cut.data(), cut.size(), nullptr, kInvalidUsbHandle);
            if (config) {
                int endpoints = 0;
                for (int i = 0; i < config->builtInterfaces; ++i)
                    endpoints += config->interface(i)->usedSlots();
                EXPECT_LE(9 + 9 * config->builtInterfaces + 7 * endpoints, static_cast<int>(n));
            }
        }
    }
}

TEST(UsbDevice, ShortDescriptorRepliesCountAsFailed) {
    {
        BlockDriver driver = driverWith(controllerConfig());
        Bytes& device = driver.devices[0].descriptors[{0x0100, 0}];
        device.resize(12);
        UsbDevice usb(driver);
        EXPECT_EQ(usb.vendorId(), 0);
        EXPECT_EQ(usb.ConfigCount(), 0);
        EXPECT_FALSE(usb.Open(0));
    }
    {
        // The device serves fewer bytes than the configuration's total length says.
        BlockDriver driver = driverWith(controllerConfig());
        driver.devices[0].descriptors[{0x0200, 0}].resize(40);
        UsbDevice usb(driver);
        EXPECT_EQ(usb.vendorId(), 0x04B4);
        EXPECT_FALSE(usb.Open(0));
        EXPECT_TRUE(usb.isOpen()); // opened, but without a usable configuration
        EXPECT_EQ(usb.config(0), nullptr);
        EXPECT_EQ(usb.EndpointCount(), 0);
    }
    {
        // An empty reply (the driver hands over no bytes at all).
        BlockDriver driver = driverWith(controllerConfig());
        driver.devices[0].descriptors[{0x0200, 0}].clear();
        UsbDevice usb(driver);
        EXPECT_FALSE(usb.Open(0));
        EXPECT_EQ(usb.config(0), nullptr);
    }
}

TEST(UsbDevice, OpenChecksIndexAndPath) {
    BlockDriver none;
    UsbDevice empty(none);
    EXPECT_EQ(empty.CountDevices(), 0);
    EXPECT_FALSE(empty.isOpen());
    EXPECT_EQ(empty.EndpointCount(), 0);
    EXPECT_EQ(empty.endpoint(0), nullptr);
    EXPECT_EQ(empty.CurrentAltSetting(), -1);
    EXPECT_FALSE(empty.SelectAltSetting(1));

    BlockDriver driver = driverWith(controllerConfig());
    UsbDevice usb(driver, false);
    EXPECT_FALSE(usb.isOpen());
    EXPECT_FALSE(usb.Open(1));
    driver.devices[0].path = "/" + std::string(UsbDevice::kMaxPathLength, 'p');
    EXPECT_FALSE(usb.Open(0));
    EXPECT_EQ(driver.openHandles, 0);
    driver.devices[0].path.pop_back();
    EXPECT_TRUE(usb.Open(0));
    EXPECT_EQ(usb.devicePath().size(), UsbDevice::kMaxPathLength);
}

TEST(UsbDevice, OpeningAnotherDeviceForgetsTheFirst) {
    BlockDriver driver = driverWith(controllerConfig());
    BlockDriver::Device other = BlockDriver::standardDevice(controllerConfig(), 0x1234, 0x5678);
    other.path = "/dev/bus/usb/001/003";
    other.descriptors.erase({0x0100, 0}); // its device descriptor cannot be read
    driver.devices.push_back(other);
    UsbDevice usb(driver);
    EXPECT_EQ(usb.vendorId(), 0x04B4);
    EXPECT_FALSE(usb.Open(1));
    EXPECT_EQ(usb.deviceIndex(), 1);
    EXPECT_EQ(usb.vendorId(), 0);
    EXPECT_EQ(usb.productId(), 0);
    EXPECT_EQ(driver.openHandles, 1);
}

TEST(UsbDevice, CloseReleasesEverythingAndReportsFailures) {
    BlockDriver driver = driverWith(controllerConfig());
    driver.devices[0].failClose = true;
    {
        UsbDevice usb(driver);
        ASSERT_TRUE(usb.SelectAltSetting(1));
        EXPECT_FALSE(usb.Close());
        EXPECT_STREQ(usb.closeError(), "Failed to close handle to driver.");
        EXPECT_FALSE(usb.isOpen());
        EXPECT_EQ(usb.EndpointCount(), 0);
        EXPECT_EQ(usb.bulkInEndpoint(), nullptr);
        EXPECT_EQ(usb.controlEndpoint(), nullptr);
        EXPECT_EQ(usb.ConfigCount(), 0);
        EXPECT_TRUE(usb.Close()); // nothing left to close
        EXPECT_STREQ(usb.closeError(), "");
        ASSERT_TRUE(usb.Open(0));
    } // destroyed while open, with a failing close: no exception, no crash
    EXPECT_EQ(driver.openHandles, 0);
}
