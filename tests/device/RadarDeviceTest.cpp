// The radar device handle against the emulated board: the same requests a real board gets.

#include "device/RadarDevice.h"
#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "sim/SimUsbDriver.h"

#include <gtest/gtest.h>

namespace {

// Stalls the vendor request at position `stallAt` and notes the address of every one.
class StallingDriver : public sim::SimUsbDriver {
public:
    int stallAt = -1;
    std::vector<std::uint16_t> vendorAddresses;

    UsbBegin beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                          std::uint32_t timeoutSeconds) override {
        const bool vendor = setup.request == kFirmwareLoadRequest;
        board(0).faults.failControlRequests =
            vendor && static_cast<int>(vendorAddresses.size()) == stallAt;
        if (vendor)
            vendorAddresses.push_back(setup.value);
        return SimUsbDriver::beginControl(handle, setup, data, timeoutSeconds);
    }
};

class RadarDeviceOnBoard : public ::testing::Test {
protected:
    sim::EmulatedBoard& plug(sim::BoardIdentity id = {}) {
        return driver.attach(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(), clock, id));
    }
    // Interface and endpoints as the activation finds them.
    void open() {
        ASSERT_GE(radar.EnumerateDevices(), 1);
        ASSERT_TRUE(radar.SetInterface());
        radar.outEndpoint = radar.FindEndpoint(kCommandEndpoint);
        radar.inEndpoint = radar.FindEndpoint(kSampleEndpoint);
    }
    std::int32_t command(std::uint16_t word) {
        const CommandBlockBytes block = CommandBlock(word);
        return radar.WriteBlock(block.data(), static_cast<std::int32_t>(block.size()));
    }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    StallingDriver driver;
    RadarDevice radar{driver};
};

} // namespace

TEST_F(RadarDeviceOnBoard, KeepsTheHandleOnTheLastRadarBoard) {
    EXPECT_EQ(radar.EnumerateDevices(), 0);
    plug();
    plug();
    sim::BoardIdentity other;
    other.productId = 0x1004;
    plug(other);
    ASSERT_EQ(radar.EnumerateDevices(), 2);
    EXPECT_EQ(radar.usb->devicePath(), driver.devicePath(1));
}

TEST_F(RadarDeviceOnBoard, ProgramIsLoadedWhileTheCoreIsHeldAndTheBoardStreams) {
    sim::EmulatedBoard& board = plug();
    open();
    EXPECT_EQ(radar.outEndpoint, 3);
    EXPECT_EQ(radar.inEndpoint, 5);
    EXPECT_EQ(radar.FindEndpoint(0x03), 0);
    ASSERT_TRUE(LoadControllerProgram(radar, ControllerProgramText()));

    const auto& log = board.vendorRequests();
    ASSERT_EQ(log.size(), ParseHexImage(ControllerProgramText()).records.size() + 3);
    EXPECT_EQ(log[0].setup.requestType, 0xC0);
    const std::uint8_t cpucs = log[0].data[0];
    EXPECT_EQ(log[1].data[0], cpucs | 1);
    EXPECT_EQ(log.back().setup.value, kCpucsAddress);
    EXPECT_EQ(log.back().data[0], cpucs & ~1); // the clock bits stay as they were
    EXPECT_TRUE(board.controller().fifosReady()) << board.controller().diagnosis();

    EXPECT_EQ(command(0xA010), 2048);
    SampleBlock samples;
    EXPECT_EQ(radar.ReadFrame(samples, 128, 1000, 128), 128);
}

TEST_F(RadarDeviceOnBoard, FailedRequestStopsTheDownloadAndStillReleasesTheCore) {
    sim::EmulatedBoard& board = plug();
    open();
    const std::size_t records = ParseHexImage(ControllerProgramText()).records.size();
    const struct {
        int stallAt;
        std::size_t sent;
    } cases[] = {
        {0, 1},                                       // reading CPUCS: nothing else
        {4, 6},                                       // a record: then only the release
        {static_cast<int>(records) + 2, records + 3}, // the release itself
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stallAt);
        driver.stallAt = c.stallAt;
        driver.vendorAddresses.clear();
        EXPECT_FALSE(LoadControllerProgram(radar, ControllerProgramText()));
        ASSERT_EQ(driver.vendorAddresses.size(), c.sent);
        EXPECT_EQ(driver.vendorAddresses.back(), kCpucsAddress);
        // The core runs again only where its release got through.
        EXPECT_EQ(board.controller().inReset(), c.stallAt != 4);
    }
}

TEST_F(RadarDeviceOnBoard, MalformedProgramSendsNothing) {
    plug();
    open();
    std::string text(ControllerProgramText());
    text[text.find(":10001300") + 12] = 'F'; // one data digit changed, checksum now wrong
    EXPECT_FALSE(LoadControllerProgram(radar, text));
    HexRecord cut = ParseHexImage(ControllerProgramText()).records[2];
    cut.resize(8); // count 16 with 3 data bytes left
    const HexRecord end = {0x00, 0x00, 0x00, 0x01, 0xFF};
    EXPECT_EQ(radar.DownloadFirmware({cut}), -1);
    EXPECT_EQ(radar.DownloadFirmware({end}), -1);
    EXPECT_TRUE(driver.vendorAddresses.empty());
    RadarDevice unopened(driver);
    EXPECT_EQ(unopened.DownloadFirmware(ParseHexImage(ControllerProgramText()).records), -1);
}

TEST_F(RadarDeviceOnBoard, FailedReadsLeaveTheBlockAlone) {
    sim::EmulatedBoard& board = plug();
    open();
    ASSERT_TRUE(LoadControllerProgram(radar, ControllerProgramText()));
    command(OperatingWord(0, 1, 3, 0));
    const SampleBlock before(2, {7.0, 7.0});
    SampleBlock samples = before;

    board.faults.noData = true;
    EXPECT_EQ(radar.ReadFrame(samples, 1024, 500, 1024), 0);
    board.faults.noData = false;
    // Sizes that would wrap past a signed 32-bit length are not read at all.
    EXPECT_EQ(radar.ReadFrame(samples, 536868864, 1000, 1024), 0);
    EXPECT_EQ(radar.ReadFrame(samples, -1, 1000, 1024), 0);
    EXPECT_EQ(samples, before);

    board.faults.shortRead = 4096 + 400;
    EXPECT_LT(radar.ReadFrame(samples, 1024, 1000, 1024), 1024);
    board.faults.shortRead.reset();
    board.faults.noFrameFlag = true;
    EXPECT_EQ(radar.ReadFrame(samples, 1024, 1000, 1024), 0);
    EXPECT_TRUE(samples.empty());
    board.faults.noFrameFlag = false;
    EXPECT_EQ(radar.ReadFrame(samples, 1024, 1000, 1024), 1024);

    // Without the stream endpoints nothing moves, least of all through endpoint 0, where a
    // transfer would become a write to controller memory.
    driver.vendorAddresses.clear();
    radar.inEndpoint = radar.outEndpoint = 0;
    EXPECT_EQ(radar.ReadFrame(samples, 128, 1000, 128), 0);
    EXPECT_EQ(command(0xA010), 0);
    EXPECT_TRUE(driver.vendorAddresses.empty());
    EXPECT_EQ(samples.size(), 1024u);
}
