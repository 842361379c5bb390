// The emulated board behind the UsbDriver boundary, reached through the program's own
// UsbDevice and endpoint objects.

#include "BoardHelpers.h"

#include "sim/SimUsbDriver.h"
#include "usb/UsbDevice.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace simtest;

namespace {

struct Rig {
    explicit Rig(int boards = 1, const sim::Scene& scene = sim::defaultScene()) {
        for (int i = 0; i < boards; ++i)
            driver.attach(std::make_shared<sim::EmulatedBoard>(scene, clock));
    }
    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::SimUsbDriver driver;
};

bool vendor(UsbDevice& dev, bool in, std::uint16_t address, std::uint8_t* data,
            std::uint32_t length) {
    ControlEndPoint* ep0 = dev.controlEndpoint();
    ep0->target = 0;
    ep0->requestType = 2;
    ep0->direction = in ? 1 : 0;
    ep0->in = in;
    ep0->requestCode = 0xA0;
    ep0->value = address;
    ep0->index = 0;
    return ep0->Transfer(data, length);
}

void downloadThrough(UsbDevice& dev) {
    std::uint8_t cpucs = 0;
    ASSERT_TRUE(vendor(dev, true, 0xE600, &cpucs, 1));
    std::uint8_t held = cpucs | 1;
    ASSERT_TRUE(vendor(dev, false, 0xE600, &held, 1));
    for (Record r : controllerProgram())
        ASSERT_TRUE(vendor(dev, false, r.address, r.bytes.data(),
                           static_cast<std::uint32_t>(r.bytes.size())));
    std::uint8_t run = cpucs & 0xFE;
    ASSERT_TRUE(vendor(dev, false, 0xE600, &run, 1));
}

bool writeWord(UsbDevice& dev, std::uint16_t w) {
    std::vector<std::uint8_t> block(2048);
    for (std::size_t i = 0; i < block.size(); i += 2) {
        block[i] = static_cast<std::uint8_t>(w);
        block[i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    std::uint32_t length = 2048;
    return dev.endpoint(3)->Transfer(block.data(), length) && length == 2048;
}

// Port reset, alternate setting 1, program, command: the board streams.
void activate(UsbDevice& dev, std::uint16_t w = word(0, 0)) {
    dev.ResetPort();
    ASSERT_TRUE(dev.SelectAltSetting(1));
    downloadThrough(dev);
    ASSERT_TRUE(writeWord(dev, w));
}

} // namespace

TEST(SimDriver, BoardDescribesItselfAsTheUnprogrammedController) {
    Rig rig;
    UsbDevice dev(rig.driver);
    ASSERT_TRUE(dev.isOpen());
    EXPECT_EQ(dev.vendorId(), 0x04B4);
    EXPECT_EQ(dev.productId(), 0x8613);
    EXPECT_EQ(dev.stringLanguage(), 0x0409);
    EXPECT_EQ(dev.manufacturer(), u"Velmora");
    EXPECT_EQ(dev.serialNumber(), u"VR-000001");
    EXPECT_TRUE(dev.highSpeed());
    EXPECT_GE(dev.driverVersion(), UsbDevice::kDirectDriverVersion);
    EXPECT_EQ(dev.ConfigCount(), 1);
    EXPECT_EQ(dev.AltSettingCount(), 3);
    EXPECT_EQ(dev.CurrentAltSetting(), 0);
    EXPECT_EQ(dev.EndpointCount(), 7);
    EXPECT_EQ(dev.endpoint(3)->maxPacketSize, 0) << "setting 0 reserves no bandwidth";

    ASSERT_TRUE(dev.SelectAltSetting(1));
    EXPECT_EQ(dev.CurrentAltSetting(), 1);
    const UsbEndPoint* out = dev.endpoint(3);
    const UsbEndPoint* in = dev.endpoint(5);
    ASSERT_TRUE(out && in);
    EXPECT_EQ(out->address, 0x02);
    EXPECT_EQ(in->address, 0x86);
    EXPECT_TRUE(dynamic_cast<const BulkEndPoint*>(out) && dynamic_cast<const BulkEndPoint*>(in));
    EXPECT_EQ(in->maxPacketSize, 512);
    EXPECT_TRUE(in->in && !out->in && in->direct);
    EXPECT_EQ(dev.bulkOutEndpoint(), out);
    EXPECT_EQ(dev.bulkInEndpoint(), in);

    ASSERT_TRUE(dev.SelectAltSetting(3));
    EXPECT_TRUE(dynamic_cast<const IsocEndPoint*>(dev.endpoint(5)));
    EXPECT_EQ(dev.endpoint(5)->packetsPerMicroframe, 3);
    EXPECT_EQ(dev.endpoint(5)->maxPacketSize, 3072);

    rig.driver.setDriverVersion(0x01050400);
    ASSERT_TRUE(dev.Open(0));
    ASSERT_TRUE(dev.SelectAltSetting(1));
    EXPECT_FALSE(dev.endpoint(5)->direct) << "old drivers take the buffered path";
}

TEST(SimDriver, EnumeratesWhatIsPluggedIn) {
    Rig none(0);
    EXPECT_EQ(none.driver.countDevices(), 0);
    EXPECT_EQ(none.driver.open(none.driver.devicePath(0)), kInvalidUsbHandle);
    UsbDevice nothing(none.driver);
    EXPECT_FALSE(nothing.isOpen());

    Rig rig(2);
    sim::BoardIdentity other;
    other.productId = 0x1004;
    rig.driver.attach(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(), rig.clock, other));
    ASSERT_EQ(rig.driver.countDevices(), 3);
    UsbDevice dev(rig.driver);
    EXPECT_EQ(dev.CountDevices(), 3);
    ASSERT_TRUE(dev.Open(2));
    EXPECT_EQ(dev.productId(), 0x1004);
    ASSERT_TRUE(dev.Open(1));
    EXPECT_EQ(dev.productId(), 0x8613);

    // The second board goes away: it leaves the enumeration and its handle dies with it.
    const std::string third = rig.driver.devicePath(2);
    const UsbHandle h = rig.driver.open(rig.driver.devicePath(1));
    rig.driver.board(1).unplug();
    EXPECT_EQ(rig.driver.countDevices(), 2);
    EXPECT_EQ(rig.driver.devicePath(1), third);
    EXPECT_FALSE(rig.driver.currentAltSetting(h));
    EXPECT_EQ(dev.CurrentAltSetting(), -1);
    // Back in, it is a new device: old handles stay dead, a new open works.
    rig.driver.board(1).plug();
    EXPECT_EQ(rig.driver.countDevices(), 3);
    EXPECT_FALSE(rig.driver.currentAltSetting(h));
    ASSERT_TRUE(dev.Open(1));
    EXPECT_EQ(dev.CurrentAltSetting(), 0);
}

TEST(SimDriver, StreamsAtTheSampleRate) {
    Rig rig;
    UsbDevice dev(rig.driver);
    activate(dev); // 128 samples per 0.5 ms sweep: 256000 samples per second
    const double start = rig.clock->now();
    const std::uint32_t asked = 128 * 64 * 4 + 8192;
    std::vector<std::uint8_t> buffer(asked);
    std::uint32_t length = asked;
    ASSERT_TRUE(dev.endpoint(5)->Transfer(buffer.data(), length));
    EXPECT_EQ(length, asked);
    // Nothing was waiting in the FIFO: every byte had to be sampled first.
    EXPECT_NEAR(rig.clock->now() - start, asked / (4 * 256000.0), 1 / 256000.0);
    EXPECT_EQ(rig.driver.board(0).acquisition().wordsReceived().back(), word(0, 0));
}

TEST(SimDriver, PacedBoardTakesRealTime) {
    auto driver = sim::SimUsbDriver::withBoard(sim::defaultScene(), true);
    UsbDevice dev(*driver);
    activate(dev);
    const std::uint32_t asked = 128 * 64 * 4 + 8192; // 40 ms of samples
    std::vector<std::uint8_t> buffer(asked);
    std::uint32_t length = asked;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(dev.endpoint(5)->Transfer(buffer.data(), length));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(took, 0.9 * asked / (4 * 256000.0));
}

TEST(SimDriver, InjectedFaultsReachTheHost) {
    Rig rig;
    sim::EmulatedBoard& board = rig.driver.board(0);
    UsbDevice dev(rig.driver);

    // Without a program endpoint 2 NAKs until the host gives up.
    ASSERT_TRUE(dev.SelectAltSetting(1));
    dev.endpoint(3)->timeout = 100;
    EXPECT_FALSE(writeWord(dev, word(0, 0)));
    EXPECT_EQ(dev.endpoint(3)->usbStatus, kUsbStatusCancelled);

    activate(dev);
    UsbEndPoint* in = dev.endpoint(5);
    std::vector<std::uint8_t> buffer(16384);

    board.faults.shortRead = 1000;
    std::uint32_t length = 16384;
    EXPECT_TRUE(in->Transfer(buffer.data(), length));
    EXPECT_EQ(length, 1000u);
    board.faults.shortRead.reset();

    board.faults.noData = true;
    in->timeout = 250;
    const double before = rig.clock->now();
    length = 16384;
    EXPECT_FALSE(in->Transfer(buffer.data(), length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(in->usbStatus, kUsbStatusCancelled);
    EXPECT_NEAR(rig.clock->now() - before, 0.25, 1e-9);
    board.faults.noData = false;

    board.faults.noFrameFlag = true;
    length = 16384;
    ASSERT_TRUE(in->Transfer(buffer.data(), length));
    for (std::size_t i = 1; i < buffer.size(); i += 4) // the high bytes of the Q words
        ASSERT_EQ(buffer[i] & 0x80, 0) << "a frame flag in word " << i / 2;
    board.faults.noFrameFlag = false;

    board.faults.failControlRequests = true;
    std::uint8_t cpucs = 0;
    EXPECT_FALSE(vendor(dev, true, 0xE600, &cpucs, 1));
    EXPECT_EQ(dev.controlEndpoint()->usbStatus, kUsbStatusStall);
    board.faults.failControlRequests = false;

    board.faults.refuseAltSetting = true;
    dev.ResetPort();
    EXPECT_FALSE(dev.SelectAltSetting(1));
    board.faults.refuseAltSetting = false;

    // A reset that re-enumerates: new address, setting 0, the device still answers.
    board.faults.reenumerateOnReset = true;
    const std::uint8_t address = board.address();
    dev.ResetPort();
    EXPECT_NE(board.address(), address);
    EXPECT_EQ(dev.CurrentAltSetting(), 0);
    EXPECT_TRUE(dev.SelectAltSetting(1));

    // Unplugged in the middle of streaming.
    board.unplug();
    length = 16384;
    EXPECT_FALSE(dev.endpoint(5)->Transfer(buffer.data(), length));
    EXPECT_EQ(dev.endpoint(5)->usbStatus, kUsbStatusNoDevice);
}

TEST(SimDriver, AbortEndsAPendingReadWithWhatHadArrived) {
    Rig rig;
    UsbDevice dev(rig.driver);
    activate(dev);
    sim::SimUsbDriver& d = rig.driver;
    const UsbHandle h = d.open(d.devicePath(0));
    std::vector<std::uint8_t> buffer(1 << 20);
    const UsbBegin begun = d.beginTransfer(h, 0x86, buffer.data(), 1 << 20, 0);
    ASSERT_EQ(begun.state, UsbBeginState::Pending);
    EXPECT_EQ(d.waitTransfer(begun.id, 10), UsbWait::TimedOut); // 2560 samples by then
    EXPECT_EQ(d.finishTransfer(begun.id, nullptr).collected, false) << "still in flight";
    ASSERT_TRUE(d.abortEndpoint(h, 0x86));
    EXPECT_EQ(d.waitTransfer(begun.id, kUsbWaitForever), UsbWait::Completed);
    const UsbTransferResult r = d.finishTransfer(begun.id, nullptr);
    EXPECT_TRUE(r.collected);
    EXPECT_EQ(r.usbStatus, kUsbStatusCancelled);
    EXPECT_EQ(r.bytes, 10240u) << "whole packets of the 10 ms that passed";
    EXPECT_FALSE(d.finishTransfer(begun.id, nullptr).collected) << "collected once only";
    EXPECT_TRUE(d.close(h));
}
