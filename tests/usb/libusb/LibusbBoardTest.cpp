// The libusb driver, unchanged, against emulated boards behind umockdev's usbdevfs emulation:
// what the real libusb sends for our requests and what it makes of the board's answers.

#include "tests/usb/libusb/UmockdevBus.h"

#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "sim/Scene.h"
#include "usb/UsbDevice.h"
#include "usb/libusb/LibusbDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using Event = UmockdevBus::Event;

constexpr std::uint16_t kWord = 0xA010; // FMCW sawtooth, 128 samples per sweep

std::vector<Event> only(const std::vector<Event>& events, Event::Kind kind) {
    std::vector<Event> selected;
    for (const Event& e : events)
        if (e.kind == kind)
            selected.push_back(e);
    return selected;
}

class LibusbBoard : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_unique<UmockdevBus>();
        if (!bus->active())
            GTEST_SKIP() << "needs umockdev's preload: run the binary under umockdev-wrapper";
    }

    // Board 0 plugged in, then libusb started on the bus.
    void startWithOneBoard() {
        bus->plug(sim::defaultScene());
        driver = std::make_unique<LibusbDriver>();
        ASSERT_EQ(driver->initError(), "");
    }

    // The activation as the program runs it: interface, endpoints, controller program and
    // the first command block.
    void activate() {
        radar = std::make_unique<RadarDevice>(*driver);
        ASSERT_EQ(radar->EnumerateDevices(), 1);
        ASSERT_TRUE(radar->SetInterface());
        radar->outEndpoint = radar->FindEndpoint(kCommandEndpoint);
        radar->inEndpoint = radar->FindEndpoint(kSampleEndpoint);
        ASSERT_NE(radar->outEndpoint, 0);
        ASSERT_NE(radar->inEndpoint, 0);
        ASSERT_TRUE(LoadControllerProgram(*radar, ControllerProgramText()));
        const CommandBlockBytes block = CommandBlock(kWord);
        ASSERT_EQ(radar->WriteBlock(block.data(), static_cast<std::int32_t>(block.size())),
                  static_cast<std::int32_t>(block.size()));
    }

    UsbEndPoint& samples() { return *radar->usb->endpoint(radar->inEndpoint); }

    std::unique_ptr<UmockdevBus> bus; // first: libusb must not outlive the test bed
    std::unique_ptr<LibusbDriver> driver;
    std::unique_ptr<RadarDevice> radar;
};

} // namespace

TEST_F(LibusbBoard, EnumeratesBoardsInSocketOrderAndReadsTheirDescriptors) {
    bus->plug(sim::defaultScene());
    bus->plug(sim::defaultScene());
    driver = std::make_unique<LibusbDriver>();
    ASSERT_EQ(driver->countDevices(), 2);
    EXPECT_EQ(driver->devicePath(0), "usb:1-1");
    EXPECT_EQ(driver->devicePath(1), "usb:1-2");
    EXPECT_EQ(driver->devicePath(2), "");

    UsbDevice usb(*driver, false);
    ASSERT_TRUE(usb.Open(1));
    EXPECT_EQ(usb.busAddress(), 3); // the second board's address
    EXPECT_EQ(usb.vendorId(), 0x04B4);
    EXPECT_EQ(usb.productId(), 0x8613);
    EXPECT_TRUE(usb.highSpeed());
    EXPECT_GE(usb.driverVersion(), UsbDevice::kDirectDriverVersion);
    std::string manufacturer;
    bus->withBoard(1, [&](sim::EmulatedBoard& b) { manufacturer = b.identity().manufacturer; });
    EXPECT_EQ(std::string(usb.manufacturer().begin(), usb.manufacturer().end()), manufacturer);
    EXPECT_EQ(usb.AltSettingCount(), 3);
    EXPECT_EQ(usb.EndpointCount(), 7); // setting 0 declares its endpoints with no bandwidth
    EXPECT_TRUE(bus->events(0).empty());
}

TEST_F(LibusbBoard, ClaimsTheInterfaceBeforeSelectingTheSetting) {
    startWithOneBoard();
    UsbDevice usb(*driver);
    ASSERT_TRUE(usb.isOpen());
    ASSERT_TRUE(usb.SelectAltSetting(1));
    EXPECT_EQ(usb.CurrentAltSetting(), 1);
    EXPECT_EQ(usb.bulkOutEndpoint()->address, 0x02);

    const std::vector<Event> events = bus->events(0);
    std::size_t claim = events.size(), select = events.size();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == Event::Claim && claim == events.size())
            claim = i;
        if (events[i].kind == Event::SetInterface)
            select = i;
    }
    ASSERT_LT(select, events.size());
    EXPECT_LT(claim, select);
    EXPECT_EQ(events[select].value, 1u);
    EXPECT_EQ(events[select].result, 0);

    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.refuseAltSetting = true; });
    EXPECT_FALSE(usb.SelectAltSetting(2));
    EXPECT_EQ(usb.CurrentAltSetting(), 1);
}

TEST_F(LibusbBoard, ResetBringsTheBoardBackToSettingZero) {
    startWithOneBoard();
    UsbDevice usb(*driver);
    ASSERT_TRUE(usb.SelectAltSetting(1));
    usb.ResetPort();
    EXPECT_EQ(only(bus->events(0), Event::Reset).size(), 1u);
    EXPECT_EQ(usb.CurrentAltSetting(), 0);
    // libusb claimed the interface again after the reset: the setting can be chosen anew.
    EXPECT_TRUE(usb.SelectAltSetting(1));
    EXPECT_EQ(usb.CurrentAltSetting(), 1);
}

TEST_F(LibusbBoard, FindsABoardAgainThatReenumeratesOnReset) {
    startWithOneBoard();
    UsbDevice usb(*driver);
    ASSERT_TRUE(usb.isOpen());
    const std::uint8_t before = usb.busAddress();
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.reenumerateOnReset = true; });
    ASSERT_TRUE(driver->resetPort(1));
    std::uint8_t after = 0;
    bus->withBoard(0, [&](sim::EmulatedBoard& b) { after = b.address(); });
    ASSERT_NE(after, before);
    // The same handle now reaches the board at its new address.
    EXPECT_EQ(driver->busAddress(1), after);
    EXPECT_EQ(usb.CurrentAltSetting(), 0);
    EXPECT_TRUE(usb.SelectAltSetting(1));
    EXPECT_EQ(driver->countDevices(), 1);
}

TEST_F(LibusbBoard, DownloadsTheProgramWhileTheCoreIsHeldInReset) {
    startWithOneBoard();
    activate();
    std::vector<sim::EmulatedBoard::VendorRequest> requests;
    bool fifosReady = false;
    std::vector<std::uint8_t> ram;
    bus->withBoard(0, [&](sim::EmulatedBoard& b) {
        requests = b.vendorRequests();
        fifosReady = b.controller().fifosReady();
        for (std::uint16_t a = 0; a < 0xC4; ++a)
            ram.push_back(b.controller().ram(a));
    });
    ASSERT_GE(requests.size(), 4u);
    const auto& first = requests.front().setup;
    EXPECT_EQ(first.requestType, 0xC0);
    EXPECT_EQ(first.value, 0xE600);
    EXPECT_EQ(first.length, 1);
    const std::uint8_t cpucs = requests.front().data.at(0);
    ASSERT_EQ(requests[1].setup.requestType, 0x40);
    EXPECT_EQ(requests[1].setup.value, 0xE600);
    EXPECT_EQ(requests[1].data, std::vector<std::uint8_t>{static_cast<std::uint8_t>(cpucs | 1)});
    const auto& last = requests.back();
    EXPECT_EQ(last.setup.value, 0xE600);
    EXPECT_EQ(last.data, std::vector<std::uint8_t>{static_cast<std::uint8_t>(cpucs & ~1)});
    // Every record in between lands in RAM in file order: 0x0000 first, 0x00B3 last.
    std::size_t bytes = 0;
    for (std::size_t i = 2; i + 1 < requests.size(); ++i) {
        const auto& r = requests[i];
        EXPECT_EQ(r.setup.requestType, 0x40);
        ASSERT_LT(r.setup.value, 0xC4);
        for (std::size_t k = 0; k < r.data.size(); ++k)
            EXPECT_EQ(ram[r.setup.value + k], r.data[k]);
        bytes += r.data.size();
    }
    EXPECT_EQ(requests[2].setup.value, 0x0000);
    EXPECT_EQ(requests[requests.size() - 2].setup.value, 0x00B3);
    EXPECT_EQ(bytes, 196u);
    EXPECT_TRUE(fifosReady);
}

TEST_F(LibusbBoard, CommandBlockReachesTheAcquisitionLogic) {
    startWithOneBoard();
    activate();
    std::vector<std::uint16_t> words;
    bool streaming = false;
    bus->withBoard(0, [&](sim::EmulatedBoard& b) {
        words = b.acquisition().wordsReceived();
        streaming = b.streaming();
    });
    ASSERT_GE(words.size(), 1024u);
    EXPECT_EQ(std::count(words.end() - 1024, words.end(), kWord), 1024);
    EXPECT_TRUE(streaming);
    const auto submits = only(bus->events(0), Event::Submit);
    ASSERT_FALSE(submits.empty());
    EXPECT_EQ(submits.back().endpoint, 0x02);
    EXPECT_EQ(submits.back().length, 2048u);
}

TEST_F(LibusbBoard, LargeReadArrivesWholeAndWithoutAGapBetweenPieces) {
    startWithOneBoard();
    activate();
    bus->clearEvents(0);
    const std::uint32_t asked = LibusbDriver::kMaxPiece * 2 + 4096;
    std::vector<std::uint8_t> buffer(asked);
    std::uint32_t length = asked;
    ASSERT_TRUE(samples().Transfer(buffer.data(), length));
    EXPECT_EQ(length, asked);

    const auto submits = only(bus->events(0), Event::Submit);
    ASSERT_EQ(submits.size(), 3u);
    EXPECT_EQ(submits[0].length, LibusbDriver::kMaxPiece);
    EXPECT_EQ(submits[1].length, LibusbDriver::kMaxPiece);
    EXPECT_EQ(submits[2].length, 4096u);

    // The frame flag comes every 128 sample pairs, across the piece boundaries too.
    std::vector<std::size_t> flags;
    for (std::size_t w = 0; w < asked / 2; ++w)
        if (buffer[2 * w + 1] & 0x80)
            flags.push_back(w);
    ASSERT_GT(flags.size(), 1000u);
    for (std::size_t i = 1; i < flags.size(); ++i)
        ASSERT_EQ(flags[i] - flags[i - 1], 256u) << "at word " << flags[i];

    SampleBlock block;
    EXPECT_EQ(radar->ReadFrame(block, 128, 1000), 128);
}

TEST_F(LibusbBoard, ShortReadSucceedsWithWhatArrived) {
    startWithOneBoard();
    activate();
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.shortRead = 3000; });
    bus->clearEvents(0);
    // Even a read that would need several pieces ends with the short one.
    std::vector<std::uint8_t> buffer(LibusbDriver::kMaxPiece + 8704, 0xEE);
    std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
    EXPECT_TRUE(samples().Transfer(buffer.data(), length));
    EXPECT_EQ(length, 3000u);
    EXPECT_EQ(buffer[3000], 0xEE);
    EXPECT_EQ(only(bus->events(0), Event::Submit).size(), 1u);
}

TEST_F(LibusbBoard, TimeoutCancelsTheReadAndWaitsForItToComeBack) {
    startWithOneBoard();
    activate();
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.noData = true; });
    bus->clearEvents(0);
    UsbEndPoint& ep = samples();
    ep.timeout = 50;
    std::vector<std::uint8_t> buffer(8704);
    std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ep.Transfer(buffer.data(), length));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(50));
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ep.usbStatus, kUsbStatusCancelled);
    const auto discards = only(bus->events(0), Event::Discard);
    ASSERT_EQ(discards.size(), 1u);
    EXPECT_EQ(discards[0].endpoint, 0x86);
    EXPECT_EQ(bus->urbsInFlight(0), 0);

    // Nothing of the cancelled read lingers: the next one gets its data.
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.noData = false; });
    ep.timeout = 1000;
    length = static_cast<std::uint32_t>(buffer.size());
    EXPECT_TRUE(ep.Transfer(buffer.data(), length));
    EXPECT_EQ(length, buffer.size());
}

TEST_F(LibusbBoard, UnplugFailsTheReadAndTheBoardDisappears) {
    startWithOneBoard();
    activate();
    bus->withBoard(0, [](sim::EmulatedBoard& b) { b.faults.noData = true; });
    UsbEndPoint& ep = samples();
    std::vector<std::uint8_t> buffer(8704);
    std::unique_ptr<UsbRequest> request = ep.BeginTransfer(buffer.data(), 8704);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->state, UsbBeginState::Pending);
    bus->unplug(0);
    std::uint32_t length = 8704;
    // The read comes back at once, failed, instead of running into its time-out.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ep.WaitForTransfer(request.get()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(ep.FinishTransfer(buffer.data(), length, std::move(request), nullptr));
    EXPECT_EQ(ep.usbStatus, kUsbStatusNoDevice);
    EXPECT_EQ(length, 0u);

    length = 8704;
    EXPECT_FALSE(ep.Transfer(buffer.data(), length));
    int count = -1;
    for (int i = 0; i < 100 && count != 0; ++i) {
        count = driver->countDevices();
        if (count != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(count, 0);
    EXPECT_EQ(radar->EnumerateDevices(), 0);
}
