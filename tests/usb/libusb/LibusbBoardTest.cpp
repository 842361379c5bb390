// The libusb driver, unchanged, against emulated boards behind umockdev's usbdevfs emulation.

#include "tests/device/CounterSource.h"
#include "tests/usb/libusb/UmockdevBus.h"
#include "usb/libusb/LibusbDriver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kPiece = LibusbDriver::kMaxPiece;

// The number CounterSource gave sample k of a stream read into `bytes`.
std::uint64_t sampleNumber(const std::uint8_t* bytes, std::size_t k) {
    const std::uint8_t* s = bytes + 4 * k;
    return static_cast<std::uint64_t>(s[2] | s[3] << 8) << 15 | ((s[0] | s[1] << 8) & 0x7FFF);
}

// The samples before the first that does not follow its predecessor (lost, repeated, moved).
std::size_t unbroken(const std::uint8_t* bytes, std::size_t length) {
    std::size_t k = 1;
    while (k < length / 4 && sampleNumber(bytes, k) == sampleNumber(bytes, k - 1) + 1)
        ++k;
    return std::min(k, length / 4);
}

class LibusbBoard : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.active())
            GTEST_SKIP() << "needs umockdev's preload: run the binary under umockdev-wrapper";
    }

    // One board counting up, running dry after `total` samples, activated at the fastest
    // stream: 8 MB/s, which the board's FIFO holds for well under a millisecond.
    UsbEndPoint& activate(std::uint64_t total = sim::SampleSource::kEndless) {
        auto source = std::make_shared<CounterSource>();
        source->total = total;
        bus.plug(source);
        driver = std::make_unique<LibusbDriver>();
        radar = std::make_unique<RadarDevice>(*driver);
        EXPECT_TRUE(ActivateBoard(*radar, OperatingWord(0, 0, 3, 0)));
        return *radar->usb->endpoint(radar->inEndpoint);
    }
    void board(const std::function<void(sim::EmulatedBoard&)>& f) { bus.withBoard(0, f); }

    UmockdevBus bus; // first: libusb must not outlive the test bed
    std::unique_ptr<LibusbDriver> driver;
    std::unique_ptr<RadarDevice> radar;
};

} // namespace

TEST_F(LibusbBoard, EnumeratesAndSwitchesSettingsOnAClaimedInterface) {
    bus.plug(std::make_shared<CounterSource>());
    bus.plug(std::make_shared<CounterSource>());
    driver = std::make_unique<LibusbDriver>();
    ASSERT_EQ(driver->countDevices(), 2);
    EXPECT_EQ(driver->devicePath(1), "usb:1-2");
    UsbDevice usb(*driver, false);
    ASSERT_TRUE(usb.Open(1));
    EXPECT_EQ(usb.busAddress(), 3); // the second board's
    EXPECT_EQ(usb.AltSettingCount(), 3);

    // The handler refuses a setting on an interface nobody claimed, as the kernel does.
    ASSERT_TRUE(usb.SelectAltSetting(1));
    bus.withBoard(1, [](sim::EmulatedBoard& b) { b.faults.refuseAltSetting = true; });
    EXPECT_FALSE(usb.SelectAltSetting(2));
    EXPECT_EQ(usb.CurrentAltSetting(), 1);
    usb.ResetPort();
    EXPECT_EQ(usb.CurrentAltSetting(), 0);

    // Unknown paths, handles and requests fail; refused requests get ids of their own.
    EXPECT_EQ(driver->open("usb:0-0"), kInvalidUsbHandle);
    EXPECT_FALSE(driver->close(12345));
    EXPECT_FALSE(driver->finishTransfer(999, nullptr).collected);
    const UsbHandle h = driver->open(driver->devicePath(0));
    std::uint8_t descriptor[18];
    const UsbTransferId refused = driver->beginTransfer(h, 0x86, nullptr, 8, 0).id;
    ASSERT_NE(driver->beginControl(h, {0x80, 6, 0x0100, 0, 18}, descriptor, 1).id, kNoUsbTransfer);
    EXPECT_NE(driver->beginTransfer(h, 0x86, nullptr, 8, 0).id, refused);
    EXPECT_EQ(driver->finishTransfer(refused, nullptr).systemStatus, EINVAL);
    EXPECT_TRUE(driver->close(h));
}

// Should the endpoint idle between two pieces, the FIFO would overflow and leave a gap: the
// pieces of a read are queued together, fewer of them when usbfs is short of memory.
TEST_F(LibusbBoard, LargeReadKeepsItsPiecesQueuedSoTheStreamArrivesUnbroken) {
    UsbEndPoint& ep = activate();
    std::uint32_t asked = 4 * kPiece + kPiece / 2 + 4096, length;
    std::vector<std::uint8_t> buffer(asked);
    for (const std::size_t memory : {std::size_t{16} << 20, std::size_t{kPiece} * 5 / 2}) {
        bus.limitUrbMemory(memory);
        ASSERT_TRUE(ep.Transfer(buffer.data(), length = asked)) << memory;
        EXPECT_EQ(length, asked);
        // After the FIFO's stale words, which follow a gap when the endpoint idled before.
        EXPECT_EQ(unbroken(buffer.data() + 4096, length - 4096), (length - 4096) / 4) << memory;
    }
}

TEST_F(LibusbBoard, ShortPieceEndsTheReadAtOnceWithItsOwnBytesOnly) {
    // The board ends a read after 250 samples and has 200 more, then falls silent. They went
    // into the piece queued behind the short one; nothing else will come.
    UsbEndPoint& ep = activate(450);
    board([](sim::EmulatedBoard& b) {
        b.clock().sleepUntil(b.clock().now() + 0.01);
        b.faults.shortRead = 1000;
    });
    ep.timeout = 5000;
    std::vector<std::uint8_t> buffer(3 * kPiece, 0xEE);
    std::uint32_t length = 3 * kPiece;
    const auto start = Clock::now();
    EXPECT_TRUE(ep.Transfer(buffer.data(), length));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ(buffer[1000], 0xEE);
    EXPECT_EQ(unbroken(buffer.data(), length), 250u);
    EXPECT_EQ(sampleNumber(buffer.data() + kPiece, 0), 250u) << "the next piece had no packets";
}

// A read that times out is cancelled whole: nothing of it lingers into the next one.
TEST_F(LibusbBoard, StalledReadIsCancelledAndAnUnplugEndsOneAtOnce) {
    UsbEndPoint& ep = activate();
    board([](sim::EmulatedBoard& b) { b.faults.noData = true; });
    ep.timeout = 50;
    const std::uint32_t asked = 2 * kPiece + 8704;
    std::vector<std::uint8_t> buffer(asked);
    std::uint32_t length = asked;
    EXPECT_FALSE(ep.Transfer(buffer.data(), length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ep.usbStatus, kUsbStatusCancelled);

    board([](sim::EmulatedBoard& b) { b.faults.noData = false; });
    ep.timeout = 1000;
    EXPECT_TRUE(ep.Transfer(buffer.data(), length = 8704));
    EXPECT_EQ(length, 8704u);

    // A read waiting on a board that is pulled out fails at once, not at its time-out.
    board([](sim::EmulatedBoard& b) { b.faults.noData = true; });
    ep.timeout = 10000;
    std::unique_ptr<UsbRequest> request = ep.BeginTransfer(buffer.data(), asked);
    ASSERT_NE(request, nullptr);
    bus.unplug(0);
    const auto start = Clock::now();
    EXPECT_TRUE(ep.WaitForTransfer(request.get()));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(ep.FinishTransfer(buffer.data(), length, std::move(request), nullptr));
    EXPECT_EQ(ep.usbStatus, kUsbStatusNoDevice);
}
