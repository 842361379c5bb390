#include "usb/UsbEndPoint.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using ::testing::_;
using ::testing::DoAll;
using ::testing::Eq;
using ::testing::Field;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::IsNull;
using ::testing::Ne;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SaveArg;

namespace {

class MockDriver : public UsbDriver {
public:
    MOCK_METHOD(int, countDevices, (), (override));
    MOCK_METHOD(std::string, devicePath, (int), (override));
    MOCK_METHOD(UsbHandle, open, (const std::string&), (override));
    MOCK_METHOD(bool, close, (UsbHandle), (override));
    MOCK_METHOD(std::optional<std::uint32_t>, driverVersion, (UsbHandle), (override));
    MOCK_METHOD(std::optional<std::uint32_t>, busInterfaceVersion, (UsbHandle), (override));
    MOCK_METHOD(std::optional<std::uint8_t>, busAddress, (UsbHandle), (override));
    MOCK_METHOD(std::optional<std::uint32_t>, speed, (UsbHandle), (override));
    MOCK_METHOD(std::optional<std::string>, driverName, (UsbHandle), (override));
    MOCK_METHOD(std::optional<std::string>, driverFriendlyName, (UsbHandle), (override));
    MOCK_METHOD(std::optional<std::uint8_t>, currentAltSetting, (UsbHandle), (override));
    MOCK_METHOD(bool, selectAltSetting, (UsbHandle, std::uint8_t), (override));
    MOCK_METHOD(bool, resetPort, (UsbHandle), (override));
    MOCK_METHOD(UsbBegin, beginControl, (UsbHandle, const UsbSetup&, std::uint8_t*, std::uint32_t),
                (override));
    MOCK_METHOD(UsbBegin, beginTransfer,
                (UsbHandle, std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t), (override));
    MOCK_METHOD(UsbWait, waitTransfer, (UsbTransferId, std::uint32_t), (override));
    MOCK_METHOD(UsbTransferResult, finishTransfer, (UsbTransferId, UsbIsoPacket*), (override));
    MOCK_METHOD(bool, abortEndpoint, (UsbHandle, std::uint8_t), (override));
};

using Bytes = std::vector<std::uint8_t>;

constexpr UsbHandle kHandle = 7;
constexpr UsbTransferId kId = 42;

UsbEndpointDescriptor endpointAt(std::uint8_t address, std::uint8_t attributes,
                                 std::uint16_t packetSize = 512) {
    UsbEndpointDescriptor d;
    d.address = address;
    d.attributes = attributes;
    d.packetSizeField = packetSize;
    return d;
}

UsbTransferResult moved(std::uint32_t bytes, std::uint32_t usbStatus = kUsbStatusOk) {
    return {true, bytes, usbStatus, 0};
}

} // namespace

TEST(ControlEndPoint, TimeoutInWholeSeconds) {
    ControlEndPoint ep;
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, 0}, {1, 1}, {500, 1}, {999, 1}, {1000, 1}, {2500, 2}, {10000, 10}};
    for (auto [ms, seconds] : cases) {
        ep.timeout = ms;
        EXPECT_EQ(ep.timeoutSeconds(), seconds) << ms;
    }
}

TEST(ControlEndPoint, VendorReadAndWriteCarryTheSetupFields) {
    NiceMock<MockDriver> driver;
    ControlEndPoint ep(&driver, kHandle, endpointAt(0, 0, 64));
    EXPECT_FALSE(ep.direct);
    ep.requestCode = 0xA0;
    ep.value = 0xE600;
    ep.timeout = 2500;

    // Read: the device's byte reaches the caller through the request's copy.
    UsbSetup setup;
    ep.direction = 1;
    EXPECT_CALL(driver, beginControl(kHandle, _, _, 2u))
        .WillOnce(DoAll(SaveArg<1>(&setup),
                        Invoke([](UsbHandle, const UsbSetup&, std::uint8_t* data, std::uint32_t) {
                            data[0] = 0x5A;
                            return UsbBegin{UsbBeginState::Completed, kId};
                        })));
    EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(1)));
    std::uint8_t byte = 0;
    std::uint32_t length = 1;
    EXPECT_TRUE(ep.Transfer(&byte, length));
    EXPECT_EQ(setup.requestType, 0xC0);
    EXPECT_EQ(setup.request, 0xA0);
    EXPECT_EQ(setup.value, 0xE600);
    EXPECT_EQ(setup.index, 0);
    EXPECT_EQ(setup.length, 1);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_TRUE(ep.in);

    // Write: the caller's bytes go out; the fields stay set from the last transfer.
    std::uint8_t program[3] = {0x02, 0x00, 0xB8};
    Bytes sent;
    ep.direction = 0;
    ep.value = 0x0000;
    EXPECT_CALL(driver, beginControl(kHandle, _, _, 2u))
        .WillOnce(Invoke([&](UsbHandle, const UsbSetup& s, std::uint8_t* data, std::uint32_t) {
            setup = s;
            sent.assign(data, data + s.length);
            return UsbBegin{UsbBeginState::Completed, kId};
        }));
    EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(3)));
    length = 3;
    EXPECT_TRUE(ep.Transfer(program, length));
    EXPECT_EQ(setup.requestType, 0x40);
    EXPECT_EQ(setup.request, 0xA0);
    EXPECT_EQ(setup.length, 3);
    EXPECT_EQ(sent, (Bytes{0x02, 0x00, 0xB8}));
    EXPECT_FALSE(ep.in);
}

TEST(UsbEndPoint, ImmediateCompletionIsNotWaitedFor) {
    MockDriver driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x02, 2));
    std::uint8_t block[2048] = {};
    EXPECT_CALL(driver, beginTransfer(kHandle, 0x02, block, 2048u, 0u))
        .WillOnce(Return(UsbBegin{UsbBeginState::Completed, kId}));
    EXPECT_CALL(driver, waitTransfer(_, _)).Times(0);
    EXPECT_CALL(driver, finishTransfer(kId, IsNull())).WillOnce(Return(moved(2048)));
    std::uint32_t length = sizeof block;
    EXPECT_TRUE(ep.Transfer(block, length));
    EXPECT_EQ(length, 2048u);
    EXPECT_EQ(ep.bytesTransferred, 2048u);
}

TEST(UsbEndPoint, PendingTransferIsWaitedForWithTheEndpointTimeout) {
    MockDriver driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x86, 2));
    ep.timeout = 1000;
    std::uint8_t frame[8704];
    InSequence order;
    EXPECT_CALL(driver, beginTransfer(kHandle, 0x86, frame, 8704u, 0u))
        .WillOnce(Return(UsbBegin{UsbBeginState::Pending, kId}));
    EXPECT_CALL(driver, waitTransfer(kId, 1000u)).WillOnce(Return(UsbWait::Completed));
    EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(8704)));
    std::uint32_t length = sizeof frame;
    EXPECT_TRUE(ep.Transfer(frame, length));
    EXPECT_EQ(length, 8704u);
}

TEST(UsbEndPoint, TimeoutAbortsAndWaitsForTheAbortedRequest) {
    MockDriver driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x86, 2));
    ep.timeout = 250;
    std::uint8_t frame[4096];
    InSequence order;
    EXPECT_CALL(driver, beginTransfer(kHandle, 0x86, frame, 4096u, 0u))
        .WillOnce(Return(UsbBegin{UsbBeginState::Pending, kId}));
    EXPECT_CALL(driver, waitTransfer(kId, 250u)).WillOnce(Return(UsbWait::TimedOut));
    EXPECT_CALL(driver, abortEndpoint(kHandle, 0x86)).WillOnce(Return(true));
    EXPECT_CALL(driver, waitTransfer(kId, kUsbWaitForever)).WillOnce(Return(UsbWait::Completed));
    // Whatever arrived before the cancel is still reported.
    EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(1024, kUsbStatusCancelled)));
    std::uint32_t length = sizeof frame;
    EXPECT_FALSE(ep.Transfer(frame, length));
    EXPECT_EQ(length, 1024u);
    EXPECT_EQ(ep.usbStatus, kUsbStatusCancelled);
}

TEST(UsbEndPoint, FailuresAreCollectedAndReported) {
    MockDriver driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x02, 2));
    std::uint8_t block[16] = {};
    std::uint32_t length = sizeof block;
    {
        SCOPED_TRACE("refused at once: not waited for, still finished");
        EXPECT_CALL(driver, beginTransfer(_, _, _, _, _))
            .WillOnce(Return(UsbBegin{UsbBeginState::Failed, kId}));
        EXPECT_CALL(driver, waitTransfer(_, _)).Times(0);
        EXPECT_CALL(driver, finishTransfer(kId, _))
            .WillOnce(Return(UsbTransferResult{true, 0, kUsbStatusNoDevice, 19}));
        EXPECT_FALSE(ep.Transfer(block, length));
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(ep.systemStatus, 19u);
        ::testing::Mock::VerifyAndClearExpectations(&driver);
    }
    {
        SCOPED_TRACE("stall after some bytes: failure with the length reported");
        length = sizeof block;
        EXPECT_CALL(driver, beginTransfer(_, _, _, _, _))
            .WillOnce(Return(UsbBegin{UsbBeginState::Pending, kId}));
        EXPECT_CALL(driver, waitTransfer(kId, 10000u)).WillOnce(Return(UsbWait::Completed));
        EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(8, kUsbStatusStall)));
        EXPECT_FALSE(ep.Transfer(block, length));
        EXPECT_EQ(length, 8u);
        ::testing::Mock::VerifyAndClearExpectations(&driver);
    }
    {
        SCOPED_TRACE("a driver claiming more than asked is not believed");
        length = 4;
        EXPECT_CALL(driver, beginTransfer(_, _, _, 4u, _))
            .WillOnce(Return(UsbBegin{UsbBeginState::Completed, kId}));
        EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(4096)));
        EXPECT_TRUE(ep.Transfer(block, length));
        EXPECT_EQ(length, 4u);
    }
}

TEST(UsbEndPoint, WithoutADeviceNothingIsSent) {
    MockDriver driver;
    EXPECT_CALL(driver, beginTransfer(_, _, _, _, _)).Times(0);
    EXPECT_CALL(driver, beginControl(_, _, _, _)).Times(0);
    std::uint8_t buffer[8];
    std::uint32_t length = sizeof buffer;

    BulkEndPoint noHandle(&driver, kInvalidUsbHandle, endpointAt(0x86, 2));
    EXPECT_FALSE(noHandle.Transfer(buffer, length));
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(noHandle.AbortPipe());

    ControlEndPoint defaultBuilt;
    length = sizeof buffer;
    EXPECT_FALSE(defaultBuilt.Transfer(buffer, length));

    // Nor without a buffer for the data.
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x86, 2));
    length = 8;
    EXPECT_FALSE(ep.Transfer(nullptr, length));
}

TEST(UsbEndPoint, ShortBufferedReadCopiesOnlyWhatArrived) {
    NiceMock<MockDriver> driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x86, 2));
    ep.direct = false;
    std::uint8_t buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_CALL(driver, beginTransfer(kHandle, 0x86, Ne(buffer), 16u, 0u))
        .WillOnce(
            Invoke([](UsbHandle, std::uint8_t, std::uint8_t* data, std::uint32_t, std::uint32_t) {
                std::memset(data, 0x11, 5); // a short packet ends the transfer after 5 bytes
                return UsbBegin{UsbBeginState::Completed, kId};
            }));
    EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(5)));
    std::uint32_t length = sizeof buffer;
    EXPECT_TRUE(ep.Transfer(buffer, length));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(buffer[4], 0x11);
    EXPECT_EQ(buffer[5], 0xEE);
}

TEST(UsbEndPoint, BufferedWriteSendsACopy) {
    NiceMock<MockDriver> driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x02, 2));
    ep.direct = false;
    std::uint8_t block[4] = {0x10, 0xA0, 0x10, 0xA0};
    Bytes sent;
    EXPECT_CALL(driver, beginTransfer(kHandle, 0x02, Ne(block), 4u, 0u))
        .WillOnce(Invoke(
            [&](UsbHandle, std::uint8_t, std::uint8_t* data, std::uint32_t n, std::uint32_t) {
                sent.assign(data, data + n);
                return UsbBegin{UsbBeginState::Completed, kId};
            }));
    EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(4)));
    std::uint32_t length = 4;
    EXPECT_TRUE(ep.Transfer(block, length));
    EXPECT_EQ(sent, (Bytes{0x10, 0xA0, 0x10, 0xA0}));
}

TEST(IsocEndPoint, PacketsCoverTheLengthAndNothingIsSentForNone) {
    NiceMock<MockDriver> driver;
    IsocEndPoint ep(&driver, kHandle, endpointAt(0x86, 0x05, 0x0800 | 512)); // 2 per microframe
    EXPECT_EQ(ep.maxPacketSize, 1024);
    EXPECT_EQ(ep.packetCount(0), 0u);
    EXPECT_EQ(ep.packetCount(1), 1u);
    EXPECT_EQ(ep.packetCount(1024), 1u);
    EXPECT_EQ(ep.packetCount(1025), 2u);

    std::uint8_t buffer[3000];
    std::uint32_t length = 0;
    EXPECT_CALL(driver, beginTransfer(_, _, _, _, _)).Times(0);
    EXPECT_FALSE(ep.Transfer(buffer, length));
    ::testing::Mock::VerifyAndClearExpectations(&driver);

    EXPECT_CALL(driver, beginTransfer(kHandle, 0x86, buffer, 3000u, 1024u))
        .WillOnce(Return(UsbBegin{UsbBeginState::Completed, kId}));
    EXPECT_CALL(driver, finishTransfer(kId, Ne(nullptr)))
        .WillOnce(Invoke([](UsbTransferId, UsbIsoPacket* packets) {
            for (int i = 0; i < 3; ++i)
                packets[i] = {i == 2 ? 952u : 1024u, kUsbStatusOk};
            return moved(3000);
        }));
    UsbIsoPacket table[3];
    length = sizeof buffer;
    EXPECT_TRUE(ep.Transfer(buffer, length, table));
    EXPECT_EQ(table[2].length, 952u);

    // A descriptor with packet size 0 cannot carry anything.
    IsocEndPoint empty(&driver, kHandle, endpointAt(0x86, 0x01, 0));
    length = 100;
    EXPECT_FALSE(empty.Transfer(buffer, length));
}
