#include "device/RadarDevice.h"
#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "tests/device/ScriptDriver.h"

#include <gtest/gtest.h>

namespace {

// A read as the board would deliver it: stale words, the sync word at `sync`, then pairs.
Bytes StreamWithSync(std::size_t words, std::size_t sync) {
    Bytes bytes(2 * words, 0x00);
    for (std::size_t k = sync; k + 1 < words; k += 2) {
        const auto n = static_cast<std::uint16_t>((k - sync) / 2);
        bytes[2 * k] = static_cast<std::uint8_t>(n);
        bytes[2 * k + 1] = static_cast<std::uint8_t>((n >> 8) | (k == sync ? 0x80 : 0));
        bytes[2 * k + 2] = 0xFF;
        bytes[2 * k + 3] = 0xFF;
    }
    return bytes;
}

class RadarDeviceTest : public ::testing::Test {
protected:
    // One board, enumerated, streaming interface and endpoints found.
    void activate() {
        driver.addBoard();
        ASSERT_EQ(radar.EnumerateDevices(), 1);
        ASSERT_TRUE(radar.SetInterface());
        radar.outEndpoint = radar.FindEndpoint(kCommandEndpoint);
        radar.inEndpoint = radar.FindEndpoint(kSampleEndpoint);
    }

    ScriptDriver driver;
    RadarDevice radar{driver};
};

} // namespace

TEST_F(RadarDeviceTest, EnumerationCountsBoardsOnly) {
    EXPECT_EQ(radar.EnumerateDevices(), 0);
    EXPECT_TRUE(radar.devices.empty());

    driver.addBoard();
    driver.addBoard();
    ASSERT_EQ(radar.EnumerateDevices(), 2);
    EXPECT_EQ(radar.usb->devicePath(), driver.devices[1].path);
    const DeviceIdentity& id = radar.devices[1];
    EXPECT_EQ(id.vendorId, 0x04B4u);
    EXPECT_EQ(id.productId, 0x8613u);
    EXPECT_EQ(id.configCount, 1u);
    EXPECT_EQ(id.endpointCount, 1u); // alternate setting 0 has endpoint 0 only
    EXPECT_EQ(id.interfaceCount, 1u);
    EXPECT_EQ(id.altSettingCount, 3u);
    // A refresh rebuilds the device: the previous handle is closed.
    EXPECT_EQ(radar.EnumerateDevices(), 2);
    EXPECT_EQ(driver.openHandles, 1);
}

TEST_F(RadarDeviceTest, HandleStaysOnTheLastBoardNotOnAnotherDevice) {
    driver.addBoard();
    driver.addBoard(0x04B4, 0x1004); // same maker, other product: not a radar board
    ASSERT_EQ(radar.EnumerateDevices(), 1);
    EXPECT_EQ(radar.usb->devicePath(), driver.devices[0].path);
    EXPECT_EQ(radar.usb->productId(), 0x8613);
}

TEST_F(RadarDeviceTest, InterfaceAndEndpoints) {
    driver.addBoard();
    ASSERT_EQ(radar.EnumerateDevices(), 1);
    EXPECT_EQ(radar.FindEndpoint(0x86), 0); // setting 0 has no bulk endpoints
    ASSERT_TRUE(radar.SetInterface());
    EXPECT_EQ(driver.resets, 1);
    EXPECT_EQ(radar.FindEndpoint(2), 3);
    EXPECT_EQ(radar.FindEndpoint(134), 5);
    EXPECT_EQ(radar.FindEndpoint(0x03), 0);
    EXPECT_EQ(radar.FindEndpoint(0x00), 0); // endpoint 0 is not an answer

    driver.devices[0].refuseAltSetting = true;
    EXPECT_FALSE(radar.SetInterface());
    RadarDevice empty(driver);
    EXPECT_FALSE(empty.SetInterface());
    EXPECT_EQ(empty.FindEndpoint(2), 0);
}

TEST_F(RadarDeviceTest, CommandBlockGoesOutWhole) {
    activate();
    const CommandBlockBytes block = CommandBlock(0xA010);
    EXPECT_EQ(radar.WriteBlock(block.data(), 2048), 2048);
    ASSERT_EQ(driver.commandBlocks.size(), 1u);
    EXPECT_EQ(driver.commandBlocks[0], Bytes(block.begin(), block.end()));

    driver.outLimit = 1024;
    EXPECT_EQ(radar.WriteBlock(block.data(), 2048), 1024);

    // Without the endpoint nothing is written, not even to endpoint 0.
    radar.outEndpoint = 0;
    EXPECT_EQ(radar.WriteBlock(block.data(), 2048), 0);
    EXPECT_EQ(driver.commandBlocks.size(), 2u);
    EXPECT_TRUE(driver.vendorRequests.empty());
}

TEST_F(RadarDeviceTest, ReadFrameAlignsOnTheSyncWord) {
    activate();
    SampleBlock samples;
    driver.stream = StreamWithSync(4352, 2048);
    ASSERT_EQ(radar.ReadFrame(samples, 128, 1000), 128);
    EXPECT_EQ(driver.streamRequests.back(), 8704u);
    EXPECT_EQ(samples[0], std::complex<double>(65535.0, 0.0));
    EXPECT_EQ(samples[127], std::complex<double>(65535.0, 127.0));

    // Decoding details are the decoder's; here only that a late sync shortens the frame.
    driver.stream = StreamWithSync(4352, 4097);
    EXPECT_EQ(radar.ReadFrame(samples, 128, 1000), 127);
}

TEST_F(RadarDeviceTest, FailedReadsLeaveTheBlockAlone) {
    activate();
    const SampleBlock before(3, {1.0, 2.0});
    SampleBlock samples = before;

    driver.streamFault = ScriptDriver::Fault::Stall;
    EXPECT_EQ(radar.ReadFrame(samples, 128, 1000), 0);
    EXPECT_EQ(samples, before);

    driver.streamFault = ScriptDriver::Fault::Hang;
    EXPECT_EQ(radar.ReadFrame(samples, 128, 250), 0);
    EXPECT_EQ(samples, before);
    EXPECT_EQ(driver.streamWaits.front(), 250u);
    EXPECT_EQ(driver.streamAborts, 1);

    // Sizes that would wrap, and reads without the endpoint, send nothing.
    const std::size_t asked = driver.streamRequests.size();
    driver.streamFault = ScriptDriver::Fault::None;
    EXPECT_EQ(radar.ReadFrame(samples, 536868864, 1000), 0);
    EXPECT_EQ(radar.ReadFrame(samples, -1, 1000), 0);
    radar.inEndpoint = 0;
    EXPECT_EQ(radar.ReadFrame(samples, 128, 1000), 0);
    EXPECT_EQ(driver.streamRequests.size(), asked);
    EXPECT_EQ(samples, before);
    EXPECT_TRUE(driver.vendorRequests.empty());
}

TEST_F(RadarDeviceTest, ControllerProgramIsWrittenWhileTheCoreIsHeld) {
    activate();
    driver.cpucs = 0x12; // clock bits set by an earlier program, core running
    ASSERT_TRUE(LoadControllerProgram(radar, ControllerProgramText()));

    const HexImage image = ParseHexImage(ControllerProgramText());
    const auto& requests = driver.vendorRequests;
    ASSERT_EQ(requests.size(), image.records.size() + 3);
    EXPECT_TRUE(requests.front().in);
    EXPECT_EQ(requests.front().address, 0xE600);
    EXPECT_EQ(requests[1].address, 0xE600);
    EXPECT_EQ(requests[1].data, Bytes{0x13});
    for (std::size_t i = 0; i < image.records.size(); ++i) {
        const HexRecord& r = image.records[i];
        const auto& q = requests[2 + i];
        EXPECT_FALSE(q.in);
        EXPECT_EQ(q.address, r[1] * 256 + r[2]) << i;
        EXPECT_EQ(q.data, Bytes(r.begin() + 4, r.end() - 1)) << i;
    }
    EXPECT_EQ(requests[2].address, 0x0000);
    EXPECT_EQ(requests[3].address, 0x00B8);
    EXPECT_EQ(requests.back().address, 0xE600);
    EXPECT_EQ(requests.back().data, Bytes{0x12});
}

TEST_F(RadarDeviceTest, FailedRequestEndsTheDownloadAndReleasesTheCore) {
    activate();
    driver.cpucs = 0x03;
    driver.stallVendorRequest = 4; // the third record
    EXPECT_FALSE(LoadControllerProgram(radar, ControllerProgramText()));
    ASSERT_EQ(driver.vendorRequests.size(), 6u);
    EXPECT_EQ(driver.vendorRequests[4].address, 0x0003);
    EXPECT_EQ(driver.vendorRequests[5].address, 0xE600);
    EXPECT_EQ(driver.vendorRequests[5].data, Bytes{0x02});

    // The first read failing: nothing else is attempted.
    driver.vendorRequests.clear();
    driver.stallVendorRequest = 0;
    EXPECT_EQ(radar.DownloadFirmware(ParseHexImage(ControllerProgramText()).records), -1);
    EXPECT_EQ(driver.vendorRequests.size(), 1u);

    // The release itself failing is a failure too.
    driver.vendorRequests.clear();
    driver.stallVendorRequest = 16;
    EXPECT_EQ(radar.DownloadFirmware(ParseHexImage(ControllerProgramText()).records), -1);
    EXPECT_EQ(driver.vendorRequests.size(), 17u);
}

TEST_F(RadarDeviceTest, MalformedProgramSendsNothing) {
    activate();
    std::string text(ControllerProgramText());
    text[text.find(":10001300") + 12] = 'F'; // one data digit changed, checksum now wrong
    EXPECT_FALSE(LoadControllerProgram(radar, text));

    HexRecord cut = ParseHexImage(ControllerProgramText()).records[2];
    cut.resize(8); // count 16 with 3 data bytes left
    EXPECT_EQ(radar.DownloadFirmware({cut}), -1);
    HexRecord end = {0x00, 0x00, 0x00, 0x01, 0xFF};
    EXPECT_EQ(radar.DownloadFirmware({end}), -1);
    EXPECT_TRUE(driver.vendorRequests.empty());

    RadarDevice unopened(driver);
    EXPECT_EQ(unopened.DownloadFirmware(ParseHexImage(ControllerProgramText()).records), -1);
}
