#include "usb/UsbDevice.h"
#include "tests/usb/BlockDriver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::Return;

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

class MockDriver : public BlockDriver {
public:
    MOCK_METHOD(UsbBegin, beginControl, (UsbHandle, const UsbSetup&, std::uint8_t*, std::uint32_t),
                (override));
    MOCK_METHOD(UsbBegin, beginTransfer,
                (UsbHandle, std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t), (override));
    MOCK_METHOD(UsbWait, waitTransfer, (UsbTransferId, std::uint32_t), (override));
    MOCK_METHOD(UsbTransferResult, finishTransfer, (UsbTransferId, UsbIsoPacket*), (override));
};

UsbEndpointDescriptor at(std::uint8_t address, std::uint8_t attributes) {
    return UsbEndpointDescriptor::fromBytes(endpointDescriptor(address, attributes, 64).data());
}

} // namespace

TEST(UsbDevice, EndpointTableFollowsTheAlternateSetting) {
    BlockDriver driver;
    driver.devices.push_back(BlockDriver::standardDevice(controllerConfig()));
    UsbDevice usb(driver);
    ASSERT_TRUE(usb.SelectAltSetting(1));
    EXPECT_EQ(usb.bulkInEndpoint()->address, 0x86);
    ASSERT_TRUE(usb.SelectAltSetting(2));
    EXPECT_EQ(usb.interruptInEndpoint()->address, 0x81);
    EXPECT_EQ(usb.bulkInEndpoint(), nullptr);
    EXPECT_FALSE(usb.SelectAltSetting(7));

    // After a reset the device runs setting 0 again; the table must not keep setting 2's.
    usb.ResetPort();
    EXPECT_TRUE(usb.SelectAltSetting(0));
    EXPECT_EQ(usb.EndpointCount(), 1);
    driver.devices[0].altSetting = 1; // a device found running another setting
    ASSERT_TRUE(usb.Open(0));
    EXPECT_EQ(usb.EndpointCount(), 3);
    driver.devices[0].altSetting = 5; // or one its configuration lacks: no table at all
    ASSERT_TRUE(usb.Open(0));
    EXPECT_FALSE(usb.hasEndpointTable());
    EXPECT_EQ(usb.AltSettingCount(), 0);
}

TEST(UsbDevice, CloseAndReopenLeaveNothingOfTheLastDevice) {
    BlockDriver driver;
    driver.devices.push_back(BlockDriver::standardDevice(controllerConfig()));
    driver.devices.push_back(BlockDriver::standardDevice(controllerConfig(), 0x1234));
    driver.devices[1].path = "/dev/bus/usb/001/003";
    driver.devices[1].descriptors.erase({0x0100, 0}); // its device descriptor cannot be read
    driver.devices[0].failClose = true;
    {
        UsbDevice usb(driver);
        ASSERT_TRUE(usb.SelectAltSetting(1));
        EXPECT_FALSE(usb.Close());
        EXPECT_EQ(usb.bulkInEndpoint(), nullptr);
        EXPECT_TRUE(usb.Close());

        ASSERT_TRUE(usb.Open(0));
        EXPECT_FALSE(usb.Open(1)); // the first device's identity must not stay behind
        EXPECT_EQ(usb.vendorId(), 0);
        EXPECT_EQ(driver.openHandles, 1);
        ASSERT_TRUE(usb.Open(0));
    } // destroyed while open, with a failing close: no exception, nothing left open
    EXPECT_EQ(driver.openHandles, 0);
}

// Nothing goes out that cannot go whole; failures are collected, and only what arrived is
// reported, even through the copy an old driver needs.
TEST(UsbEndPoint, OnlyWholeRequestsGoOutAndOnlyWhatArrivedComesBack) {
    ::testing::NiceMock<MockDriver> driver;
    Bytes buffer(0x10000, 0xEE);
    std::uint32_t length = 0x10000; // a control data stage has a 16-bit length
    EXPECT_CALL(driver, beginControl).Times(0);
    EXPECT_FALSE(ControlEndPoint(&driver, 7, at(0, 0)).Transfer(buffer.data(), length));
    ControlEndPoint control;
    for (auto [ms, seconds] : {std::pair{0u, 0u}, {999u, 1u}, {2500u, 2u}}) {
        control.timeout = ms; // the driver counts whole seconds; none is "no limit"
        EXPECT_EQ(control.timeoutSeconds(), seconds) << ms;
    }

    BulkEndPoint ep(&driver, 7, at(0x02, 2));
    const struct {
        UsbBeginState begun;
        UsbTransferResult result;
        std::uint32_t asked, length;
    } cases[] = {
        // Refused at once: not waited for, but still finished so that the driver forgets it.
        {UsbBeginState::Failed, {true, 0, kUsbStatusNoDevice, 19}, 16, 0},
        {UsbBeginState::Completed, {true, 4096, 0, 0}, 4, 4}, // more than asked: not believed
    };
    for (const auto& c : cases) {
        EXPECT_CALL(driver, beginTransfer(7, 0x02, buffer.data(), c.asked, 0u))
            .WillOnce(Return(UsbBegin{c.begun, 42}));
        EXPECT_CALL(driver, waitTransfer).Times(0);
        EXPECT_CALL(driver, finishTransfer).WillOnce(Return(c.result));
        length = c.asked;
        EXPECT_EQ(ep.Transfer(buffer.data(), length), c.result.succeeded()) << c.asked;
        EXPECT_EQ(length, c.length);
        ::testing::Mock::VerifyAndClearExpectations(&driver);
    }

    BulkEndPoint in(&driver, 7, at(0x86, 2));
    in.direct = false;
    EXPECT_CALL(driver, beginTransfer(7, 0x86, ::testing::Ne(buffer.data()), 16u, 0u))
        .WillOnce([](UsbHandle, std::uint8_t, std::uint8_t* data, std::uint32_t, std::uint32_t) {
            std::fill_n(data, 5, 0x11); // a short packet ends the transfer after 5 bytes
            return UsbBegin{UsbBeginState::Completed, 42};
        });
    EXPECT_CALL(driver, finishTransfer).WillOnce(Return(UsbTransferResult{true, 5, 0, 0}));
    length = 16;
    EXPECT_TRUE(in.Transfer(buffer.data(), length));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(buffer[4], 0x11);
    EXPECT_EQ(buffer[5], 0xEE);
}
