// The emulated board behind the UsbDriver boundary, reached through the program's own
// UsbDevice, endpoint and RadarDevice objects.

#include "BoardHelpers.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace simtest;

namespace {

const std::uint16_t kWord = OperatingWord(0, 1, 0, 0); // 128 samples per 0.5 ms sweep

std::shared_ptr<sim::EmulatedBoard> board(std::shared_ptr<sim::VirtualClock> clock) {
    return std::make_shared<sim::EmulatedBoard>(sim::defaultScene(), std::move(clock));
}

} // namespace

TEST(SimDriver, DescribesItselfAndFollowsPlugsOfSeveralBoards) {
    sim::SimUsbDriver driver;
    EXPECT_EQ(driver.open(driver.devicePath(0)), kInvalidUsbHandle);
    driver.attach(board(std::make_shared<sim::VirtualClock>()));
    UsbDevice dev(driver);
    ASSERT_TRUE(dev.isOpen());
    EXPECT_EQ(dev.CurrentAltSetting(), 0);
    EXPECT_EQ(dev.endpoint(3)->maxPacketSize, 0) << "setting 0 reserves no bandwidth";

    ASSERT_TRUE(dev.SelectAltSetting(1));
    const UsbEndPoint* out = dev.endpoint(3);
    const UsbEndPoint* in = dev.endpoint(5);
    ASSERT_TRUE(out && in);
    EXPECT_EQ(out->address, 0x02);
    EXPECT_EQ(in->address, 0x86);
    EXPECT_TRUE(dynamic_cast<const BulkEndPoint*>(out) && dynamic_cast<const BulkEndPoint*>(in));
    EXPECT_EQ(in->maxPacketSize, 512);
    EXPECT_TRUE(in->in && !out->in && in->direct);

    // Three boards; the second goes away: it leaves the enumeration and its handle dies.
    for (int i = 0; i < 2; ++i)
        driver.attach(board(std::make_shared<sim::VirtualClock>()));
    ASSERT_EQ(driver.countDevices(), 3);
    ASSERT_TRUE(dev.Open(1));
    const std::string third = driver.devicePath(2);
    const UsbHandle h = driver.open(driver.devicePath(1));
    driver.board(1).unplug();
    EXPECT_EQ(driver.countDevices(), 2);
    EXPECT_EQ(driver.devicePath(1), third);
    EXPECT_FALSE(driver.currentAltSetting(h));
    EXPECT_EQ(dev.CurrentAltSetting(), -1);
    // Back in, it is a new device: old handles stay dead, a new open works.
    driver.board(1).plug();
    EXPECT_EQ(driver.countDevices(), 3);
    EXPECT_FALSE(driver.currentAltSetting(h));
    driver.setDriverVersion(0x01050400);
    ASSERT_TRUE(dev.Open(1));
    EXPECT_EQ(dev.CurrentAltSetting(), 0);
    ASSERT_TRUE(dev.SelectAltSetting(1));
    EXPECT_FALSE(dev.endpoint(5)->direct) << "old drivers take the buffered path";
}

TEST(SimDriver, PacedBoardStreamsNoFasterThanItsSampleRate) {
    const std::uint32_t asked = 128 * 64 * 4 + 8192; // 40 ms of samples at 256000 per second
    std::vector<std::uint8_t> buffer(asked);
    std::uint32_t length = asked;
    auto paced = sim::SimUsbDriver::withBoard(sim::defaultScene(), true);
    RadarDevice device(*paced);
    bringUp(device);
    ASSERT_TRUE(command(paced->board(0), kWord));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.usb->endpoint(5)->Transfer(buffer.data(), length));
    EXPECT_EQ(length, asked);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(took, 0.9 * asked / (4 * 256000.0));
}

TEST(SimDriver, InjectedFaultsReachTheHost) {
    Bench bench(sim::defaultScene());
    sim::EmulatedBoard& board = *bench.board;
    UsbDevice& dev = *bench.device.usb;

    ASSERT_TRUE(command(board, kWord));
    UsbEndPoint* in = dev.endpoint(5);
    std::vector<std::uint8_t> buffer(16384);
    board.faults.noData = true;
    in->timeout = 250;
    const double before = bench.clock->now();
    std::uint32_t length = 16384;
    EXPECT_FALSE(in->Transfer(buffer.data(), length));
    EXPECT_EQ(length, 0u);
    EXPECT_NEAR(bench.clock->now() - before, 0.25, 1e-9);
    board.faults.noData = false;

    // A reset that re-enumerates: setting 0 again, the device still answers.
    board.faults.reenumerateOnReset = true;
    dev.ResetPort();
    EXPECT_EQ(dev.CurrentAltSetting(), 0);
    EXPECT_TRUE(dev.SelectAltSetting(1));

    // Unplugged in the middle of streaming.
    board.unplug();
    length = 16384;
    EXPECT_FALSE(dev.endpoint(5)->Transfer(buffer.data(), length));
    EXPECT_EQ(dev.endpoint(5)->usbStatus, kUsbStatusNoDevice);
}
