// The radar device handle against the emulated board: the same requests a real board gets.

#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "sim/SimUsbDriver.h"

#include <gtest/gtest.h>

namespace {

class RadarDeviceOnBoard : public ::testing::Test {
protected:
    sim::EmulatedBoard& plug(sim::BoardIdentity id = {}) {
        return driver.attach(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(), clock, id));
    }
    // Interface, endpoints and controller program, as the activation runs them.
    bool activate() {
        if (radar.EnumerateDevices() < 1 || !radar.SetInterface())
            return false;
        radar.outEndpoint = radar.FindEndpoint(kCommandEndpoint);
        radar.inEndpoint = radar.FindEndpoint(kSampleEndpoint);
        return radar.outEndpoint > 0 && radar.inEndpoint > 0 &&
               LoadControllerProgram(radar, ControllerProgramText());
    }
    std::int32_t command(std::uint16_t word) {
        const CommandBlockBytes block = CommandBlock(word);
        return radar.WriteBlock(block.data(), static_cast<std::int32_t>(block.size()));
    }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::SimUsbDriver driver;
    RadarDevice radar{driver};
};

} // namespace

TEST_F(RadarDeviceOnBoard, CountsRadarBoardsAndKeepsTheLast) {
    EXPECT_EQ(radar.EnumerateDevices(), 0);
    plug();
    plug();
    ASSERT_EQ(radar.EnumerateDevices(), 2);
    EXPECT_EQ(radar.usb->devicePath(), driver.devicePath(1));

    sim::BoardIdentity programmed;
    programmed.productId = 0x1004;
    plug(programmed);
    EXPECT_EQ(radar.EnumerateDevices(), 2);
    EXPECT_EQ(radar.usb->devicePath(), driver.devicePath(1));
}

TEST_F(RadarDeviceOnBoard, ProgramMakesTheBoardStream) {
    sim::EmulatedBoard& board = plug();
    ASSERT_TRUE(activate());
    EXPECT_EQ(radar.FindEndpoint(2), 3);
    EXPECT_EQ(radar.FindEndpoint(134), 5);
    EXPECT_EQ(radar.FindEndpoint(0x81), 2);
    EXPECT_EQ(radar.FindEndpoint(0x03), 0);

    // Controller RAM holds the image; the core was held throughout and runs now.
    for (const HexRecord& r : ParseHexImage(ControllerProgramText()).records) {
        for (std::size_t i = 0; i < r[0]; ++i)
            ASSERT_EQ(board.controller().ram(r[1] * 256 + r[2] + i), r[4 + i]);
    }
    const auto& log = board.vendorRequests();
    EXPECT_EQ(log.front().setup.value, 0xE600);
    EXPECT_EQ(log.back().setup.value, 0xE600);
    EXPECT_EQ(log.back().data[0] & 1, 0);
    EXPECT_FALSE(board.controller().inReset());
    EXPECT_TRUE(board.controller().fifosReady()) << board.controller().diagnosis();

    EXPECT_EQ(command(0xA010), 2048);
    EXPECT_EQ(board.acquisition().wordsReceived().back(), 0xA010);
    SampleBlock samples;
    ASSERT_EQ(radar.ReadFrame(samples, 128, 1000), 128);
    for (const auto& s : samples) {
        ASSERT_LE(s.imag(), 32767.0);
        ASSERT_GE(s.real(), 0.0);
    }
}

TEST_F(RadarDeviceOnBoard, BoardFaultsReachTheCaller) {
    sim::EmulatedBoard& board = plug();
    ASSERT_TRUE(activate());
    command(OperatingWord(0, 1, 3, 0));
    const SampleBlock before(2, {7.0, 7.0});
    SampleBlock samples = before;

    board.faults.noData = true;
    EXPECT_EQ(radar.ReadFrame(samples, 1024, 500), 0);
    EXPECT_EQ(samples, before);
    board.faults.noData = false;

    board.faults.shortRead = 4096 + 400;
    EXPECT_LT(radar.ReadFrame(samples, 1024, 1000), 1024);
    board.faults.shortRead.reset();

    board.faults.noFrameFlag = true;
    EXPECT_EQ(radar.ReadFrame(samples, 1024, 1000), 0);
    EXPECT_TRUE(samples.empty());
    board.faults.noFrameFlag = false;
    EXPECT_EQ(radar.ReadFrame(samples, 1024, 1000), 1024);

    board.faults.refuseAltSetting = true;
    EXPECT_FALSE(radar.SetInterface());
}

TEST_F(RadarDeviceOnBoard, FailingControlRequestsFailTheDownload) {
    sim::EmulatedBoard& board = plug();
    ASSERT_EQ(radar.EnumerateDevices(), 1);
    ASSERT_TRUE(radar.SetInterface());
    board.faults.failControlRequests = true;
    EXPECT_FALSE(LoadControllerProgram(radar, ControllerProgramText()));
    EXPECT_FALSE(board.controller().fifosReady());

    // A board without its program never streams.
    board.faults.failControlRequests = false;
    radar.outEndpoint = radar.FindEndpoint(kCommandEndpoint);
    radar.inEndpoint = radar.FindEndpoint(kSampleEndpoint);
    command(0xA010);
    SampleBlock samples;
    EXPECT_EQ(radar.ReadFrame(samples, 128, 200), 0);
}
