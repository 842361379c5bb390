// The libusb driver, unchanged, against emulated boards behind umockdev's usbdevfs emulation.

#include "tests/usb/libusb/UmockdevBus.h"

#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "sim/Scene.h"
#include "tests/device/CounterSource.h"
#include "usb/UsbDevice.h"
#include "usb/libusb/LibusbDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kPiece = LibusbDriver::kMaxPiece;
// The fastest stream: 1024 samples every 0.5 ms, 8 MB/s. The board's FIFO holds well under a
// millisecond of it.
const std::uint16_t kFullRate = OperatingWord(0, 0, 3, 0);

// Counts up like CounterSource, then runs dry.
class FiniteCounter : public CounterSource {
public:
    explicit FiniteCounter(std::uint64_t samples) : samples(samples) {}
    std::uint64_t length() const override { return samples; }

private:
    std::uint64_t samples;
};

// The number CounterSource gave sample k of a stream read into `bytes`.
std::uint64_t sampleNumber(const std::uint8_t* bytes, std::size_t k) {
    const std::uint8_t* s = bytes + 4 * k;
    const auto q = static_cast<std::uint64_t>((s[0] | s[1] << 8) & 0x7FFF);
    const auto i = static_cast<std::uint64_t>(s[2] | s[3] << 8);
    return i << 15 | q;
}

// Each sample follows the one before: none lost, repeated or out of order.
::testing::AssertionResult countsUp(const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t k = 1; k < length / 4; ++k) {
        if (sampleNumber(bytes, k) != sampleNumber(bytes, k - 1) + 1)
            return ::testing::AssertionFailure()
                   << "sample " << sampleNumber(bytes, k) << " follows "
                   << sampleNumber(bytes, k - 1) << " at byte " << 4 * k;
    }
    return ::testing::AssertionSuccess();
}

class LibusbBoard : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_unique<UmockdevBus>();
        if (!bus->active())
            GTEST_SKIP() << "needs umockdev's preload: run the binary under umockdev-wrapper";
    }

    // One board, then the activation as the program runs it: interface, endpoints,
    // controller program and the first command block.
    void activate(std::uint16_t word = 0xA010,
                  std::shared_ptr<sim::SampleSource> source = nullptr) {
        if (source)
            bus->plug(std::move(source));
        else
            bus->plug(sim::defaultScene());
        driver = std::make_unique<LibusbDriver>();
        radar = std::make_unique<RadarDevice>(*driver);
        ASSERT_EQ(radar->EnumerateDevices(), 1);
        ASSERT_TRUE(radar->SetInterface());
        radar->outEndpoint = radar->FindEndpoint(kCommandEndpoint);
        radar->inEndpoint = radar->FindEndpoint(kSampleEndpoint);
        ASSERT_TRUE(LoadControllerProgram(*radar, ControllerProgramText()));
        const CommandBlockBytes block = CommandBlock(word);
        ASSERT_EQ(radar->WriteBlock(block.data(), 2048), 2048);
        bus->takeSubmitted(0);
    }

    UsbEndPoint& samples() { return *radar->usb->endpoint(radar->inEndpoint); }

    // A read of several pieces from a board streaming at full rate.
    void expectUnbrokenLargeRead() {
        const std::uint32_t asked = 4 * kPiece + kPiece / 2 + 4096;
        std::vector<std::uint8_t> buffer(asked);
        std::uint32_t length = asked;
        ASSERT_TRUE(samples().Transfer(buffer.data(), length));
        EXPECT_EQ(length, asked);
        EXPECT_TRUE(countsUp(buffer.data(), length));
        EXPECT_EQ(bus->takeSubmitted(0),
                  (std::vector<std::uint32_t>{kPiece, kPiece, kPiece, kPiece, kPiece / 2 + 4096}));
    }

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

// Should the endpoint idle between two pieces, the FIFO would overflow meanwhile and the
// stream would have a gap: the pieces of a read are queued together.
TEST_F(LibusbBoard, LargeReadKeepsItsPiecesQueuedSoTheStreamArrivesUnbroken) {
    activate(kFullRate, std::make_shared<CounterSource>());
    bus->withBoard(0, [](sim::EmulatedBoard& b) {
        EXPECT_TRUE(b.controller().fifosReady()) << b.controller().diagnosis();
        EXPECT_EQ(b.acquisition().wordsReceived().back(), kFullRate);
    });
    expectUnbrokenLargeRead();
}

TEST_F(LibusbBoard, LargeReadGoesOnWithFewerPiecesQueuedWhenUsbfsIsShortOfMemory) {
    activate(kFullRate, std::make_shared<CounterSource>());
    bus->limitUrbMemory(kPiece * 5 / 2); // room for two pieces
    expectUnbrokenLargeRead();
}

TEST_F(LibusbBoard, ShortPieceEndsTheReadAtOnceWithItsOwnBytesOnly) {
    // The board ends a read after 250 samples and has 200 more, then falls silent. They went
    // into the piece queued behind the short one; nothing else will come.
    activate(kFullRate, std::make_shared<FiniteCounter>(450));
    bus->withBoard(0, [](sim::EmulatedBoard& b) {
        b.clock().sleepUntil(b.clock().now() + 0.01);
        b.faults.shortRead = 1000;
    });
    UsbEndPoint& ep = samples();
    ep.timeout = 5000;
    std::vector<std::uint8_t> buffer(3 * kPiece, 0xEE);
    std::uint32_t length = 3 * kPiece;
    const auto start = Clock::now();
    EXPECT_TRUE(ep.Transfer(buffer.data(), length));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ(buffer[1000], 0xEE);
    EXPECT_TRUE(countsUp(buffer.data(), length));
    EXPECT_EQ(sampleNumber(buffer.data() + kPiece, 0), 250u) << "the next piece had no packets";
}

TEST_F(LibusbBoard, TimedOutReadCancelsEveryPieceAndKeepsWhatArrived) {
    // The source runs dry 5000 bytes into the second piece.
    activate(kFullRate, std::make_shared<FiniteCounter>(kPiece / 4 + 1250));
    UsbEndPoint& ep = samples();
    ep.timeout = 250; // long enough for the first piece to come back first
    std::vector<std::uint8_t> buffer(3 * kPiece);
    std::unique_ptr<UsbRequest> request = ep.BeginTransfer(buffer.data(), 3 * kPiece);
    ASSERT_NE(request, nullptr);
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.clock().sleepUntil(b.clock().now() + 1); });
    EXPECT_FALSE(ep.WaitForTransfer(request.get()));
    std::uint32_t length = 0;
    EXPECT_FALSE(ep.FinishTransfer(buffer.data(), length, std::move(request), nullptr));
    EXPECT_EQ(ep.usbStatus, kUsbStatusCancelled);
    // The first piece and the whole packets of the second.
    EXPECT_EQ(length, kPiece + 4608);
    EXPECT_TRUE(countsUp(buffer.data(), length));
}

TEST_F(LibusbBoard, StalledReadIsCancelledAndAnUnplugEndsOneAtOnce) {
    activate();
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.noData = true; });
    UsbEndPoint& ep = samples();
    ep.timeout = 50;
    std::vector<std::uint8_t> buffer(2 * kPiece + 8704);
    std::uint32_t length = 2 * kPiece + 8704;
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
    std::unique_ptr<UsbRequest> request = ep.BeginTransfer(buffer.data(), 2 * kPiece + 8704);
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
