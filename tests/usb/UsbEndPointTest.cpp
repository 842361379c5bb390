#include "usb/UsbEndPoint.h"
#include "tests/usb/BlockDriver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::_;
using ::testing::Invoke;
using ::testing::Ne;
using ::testing::NiceMock;
using ::testing::Return;

namespace {

// The requests are scripted per test; nothing else of the driver is asked.
class MockDriver : public BlockDriver {
public:
    MOCK_METHOD(UsbBegin, beginControl, (UsbHandle, const UsbSetup&, std::uint8_t*, std::uint32_t),
                (override));
    MOCK_METHOD(UsbBegin, beginTransfer,
                (UsbHandle, std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t), (override));
    MOCK_METHOD(UsbWait, waitTransfer, (UsbTransferId, std::uint32_t), (override));
    MOCK_METHOD(UsbTransferResult, finishTransfer, (UsbTransferId, UsbIsoPacket*), (override));
    MOCK_METHOD(bool, abortEndpoint, (UsbHandle, std::uint8_t), (override));
};

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

TEST(UsbEndPoint, NothingIsSentThatCannotBeSentWhole) {
    MockDriver driver;
    EXPECT_CALL(driver, beginTransfer).Times(0);
    EXPECT_CALL(driver, beginControl).Times(0);
    Bytes buffer(0x10000);
    const auto fails = [&](UsbEndPoint&& ep, std::uint8_t* data, std::uint32_t length) {
        return !ep.Transfer(data, length) && length == 0;
    };
    EXPECT_TRUE(
        fails(BulkEndPoint(&driver, kInvalidUsbHandle, endpointAt(0x86, 2)), &buffer[0], 8));
    EXPECT_TRUE(fails(ControlEndPoint(), &buffer[0], 8));
    EXPECT_TRUE(fails(BulkEndPoint(&driver, kHandle, endpointAt(0x86, 2)), nullptr, 8));
    // The data stage of a control request has a 16-bit length.
    EXPECT_TRUE(
        fails(ControlEndPoint(&driver, kHandle, endpointAt(0, 0, 64)), &buffer[0], 0x10000));
    // An isochronous request needs at least one packet.
    EXPECT_TRUE(fails(IsocEndPoint(&driver, kHandle, endpointAt(0x86, 1)), &buffer[0], 0));
    EXPECT_TRUE(fails(IsocEndPoint(&driver, kHandle, endpointAt(0x86, 1, 0)), &buffer[0], 100));
    EXPECT_FALSE(BulkEndPoint(&driver, kInvalidUsbHandle, endpointAt(0x86, 2)).AbortPipe());
}

TEST(ControlEndPoint, ShortTimeoutDoesNotBecomeNoLimit) {
    ControlEndPoint ep;
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, 0}, {1, 1}, {999, 1}, {1000, 1}, {2500, 2}};
    for (auto [ms, seconds] : cases) {
        ep.timeout = ms;
        EXPECT_EQ(ep.timeoutSeconds(), seconds) << ms;
    }
}

TEST(UsbEndPoint, TimeoutAbortsAndWaitsForTheAbortedRequest) {
    MockDriver driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x86, 2));
    ep.timeout = 250;
    std::uint8_t frame[4096];
    ::testing::InSequence order;
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
    NiceMock<MockDriver> driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x02, 2));
    std::uint8_t block[16] = {};
    const struct {
        UsbBeginState begun;
        UsbTransferResult result;
        std::uint32_t asked, length;
        bool ok;
    } cases[] = {
        // Refused at once: not waited for, but still finished so that the driver forgets it.
        {UsbBeginState::Failed, {true, 0, kUsbStatusNoDevice, 19}, 16, 0, false},
        {UsbBeginState::Pending, moved(8, kUsbStatusStall), 16, 8, false},
        {UsbBeginState::Completed, moved(4096), 4, 4, true}, // more than asked is not believed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        EXPECT_CALL(driver, beginTransfer(kHandle, 0x02, block, c.asked, 0u))
            .WillOnce(Return(UsbBegin{c.begun, kId}));
        EXPECT_CALL(driver, waitTransfer(kId, _)).Times(c.begun == UsbBeginState::Pending);
        EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(c.result));
        std::uint32_t length = c.asked;
        EXPECT_EQ(ep.Transfer(block, length), c.ok);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(ep.systemStatus, c.result.systemStatus);
        ::testing::Mock::VerifyAndClearExpectations(&driver);
    }
}

TEST(UsbEndPoint, BufferedReadCopiesOnlyWhatArrived) {
    NiceMock<MockDriver> driver;
    BulkEndPoint ep(&driver, kHandle, endpointAt(0x86, 2));
    ep.direct = false;
    Bytes buffer(16, 0xEE);
    EXPECT_CALL(driver, beginTransfer(kHandle, 0x86, Ne(buffer.data()), 16u, 0u))
        .WillOnce(
            Invoke([](UsbHandle, std::uint8_t, std::uint8_t* data, std::uint32_t, std::uint32_t) {
                std::fill_n(data, 5, 0x11); // a short packet ends the transfer after 5 bytes
                return UsbBegin{UsbBeginState::Completed, kId};
            }));
    EXPECT_CALL(driver, finishTransfer(kId, _)).WillOnce(Return(moved(5)));
    std::uint32_t length = 16;
    EXPECT_TRUE(ep.Transfer(buffer.data(), length));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(buffer[4], 0x11);
    EXPECT_EQ(buffer[5], 0xEE);
}
