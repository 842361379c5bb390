// The device handle and the stream read against a board counting up: every slip shows.

#include "device/StreamReader.h"
#include "sim/SimUsbDriver.h"
#include "tests/device/CounterSource.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr int kSweep = 256;
// Samples 0 to 1023 are the stale words; the first sweep start after them is read first.
constexpr std::uint64_t kFirst = 1024 + 256 - 37;

// Stalls the vendor request at position `stallAt` and notes the address of every one.
struct StallingDriver : sim::SimUsbDriver {
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

class OnBoard : public ::testing::Test {
protected:
    void SetUp() override {
        radar.reset(); // before the driver it holds a device of
        clock = std::make_shared<sim::VirtualClock>();
        source = std::make_shared<CounterSource>();
        source->sweepOffset = 37;
        driver = std::make_unique<StallingDriver>();
        board = &driver->attach(std::make_shared<sim::EmulatedBoard>(source, clock));
        radar = std::make_unique<RadarDevice>(*driver);
        ASSERT_TRUE(ActivateBoard(*radar, OperatingWord(0, 1, 1, 0)));
        samples.clear();
    }

    // Reads `parts` parts, or to the end, or to the first failure, pausing `pause` seconds of
    // board time after every part as a slow disk would.
    bool read(StreamReader& reader, double pause = 0, int parts = -1) {
        SampleBlock part;
        for (; parts != 0 && !reader.done(); --parts) {
            if (!reader.next(part))
                return false;
            samples.insert(samples.end(), part.begin(), part.end());
            clock->advance(pause);
        }
        return true;
    }

    void expectUnbroken() const {
        const std::uint64_t first = CounterSource::number(samples.at(0));
        EXPECT_EQ((first + 37) % kSweep, 0u);
        for (std::size_t j = 0; j < samples.size(); ++j)
            ASSERT_EQ(CounterSource::number(samples[j]), first + j) << "sample " << j;
    }

    // Nothing of a reading is left queued: ten seconds on, the board's FIFO has overflowed
    // and a frame read gets the present, not the samples that followed the reading.
    void expectNothingQueued() {
        clock->advance(10);
        const double present = clock->now() * source->sampleRate();
        SampleBlock frame;
        ASSERT_EQ(radar->ReadFrame(frame, 1024, 1000, kSweep), 1024);
        EXPECT_GT(static_cast<double>(CounterSource::number(frame[0])), present - 2048);
    }

    std::shared_ptr<sim::VirtualClock> clock;
    std::shared_ptr<CounterSource> source;
    std::unique_ptr<StallingDriver> driver;
    sim::EmulatedBoard* board = nullptr;
    std::unique_ptr<RadarDevice> radar;
    StreamReader::Options options{8192, 3, 1000}; // small, so a reading spans many requests
    SampleBlock samples;
};

} // namespace

TEST_F(OnBoard, ProgramIsLoadedWhileTheCoreIsHeldAndFailedReadsLeaveTheBlockAlone) {
    EXPECT_EQ(radar->FindEndpoint(0x03), 0);
    const auto& log = board->vendorRequests();
    ASSERT_EQ(log.size(), ParseHexImage(ControllerProgramText()).records.size() + 3);
    EXPECT_EQ(log[1].data[0], log[0].data[0] | 1);      // CPUCS read, then the core held
    EXPECT_EQ(log.back().data[0], log[0].data[0] & ~1); // released, its clock bits kept

    const SampleBlock before(2, {7.0, 7.0});
    SampleBlock frame = before;
    board->faults.noData = true;
    EXPECT_EQ(radar->ReadFrame(frame, 1024, 500, kSweep), 0);
    board->faults.noData = false;
    EXPECT_EQ(frame, before);
    board->faults.shortRead = 4096 + 400;
    EXPECT_LT(radar->ReadFrame(frame, 1024, 1000, kSweep), 1024);
    board->faults.shortRead.reset();
    board->faults.noFrameFlag = true;
    EXPECT_EQ(radar->ReadFrame(frame, 1024, 1000, kSweep), 0);
    EXPECT_TRUE(frame.empty());
    board->faults.noFrameFlag = false;
    EXPECT_EQ(radar->ReadFrame(frame, 1024, 1000, kSweep), 1024);

    // Without the stream endpoints nothing moves, least of all through endpoint 0, where a
    // transfer would become a write to controller memory.
    driver->vendorAddresses.clear();
    radar->inEndpoint = radar->outEndpoint = 0;
    EXPECT_EQ(radar->ReadFrame(frame, 128, 1000, 128), 0);
    const CommandBlockBytes block = CommandBlock(0xA010);
    EXPECT_EQ(radar->WriteBlock(block.data(), 2048), 0);
    EXPECT_TRUE(driver->vendorAddresses.empty());
    EXPECT_EQ(frame.size(), 1024u);
}

TEST_F(OnBoard, BadProgramSendsNothingAndAFailedRequestStillReleasesTheCore) {
    driver->vendorAddresses.clear();
    std::string text(ControllerProgramText());
    text[text.find(":10001300") + 12] = 'F'; // one data digit changed, checksum now wrong
    EXPECT_FALSE(LoadControllerProgram(*radar, text));
    EXPECT_TRUE(driver->vendorAddresses.empty());
    const std::vector<HexRecord> program = ParseHexImage(ControllerProgramText()).records;
    RadarDevice unopened(*driver);
    EXPECT_EQ(unopened.FindEndpoint(kSampleEndpoint), 0);

    const int release = static_cast<int>(program.size()) + 2;
    // Stalled reading CPUCS: nothing else; on a record: then only the release.
    for (const auto& [stallAt, sent] : {std::pair{0, 1}, {4, 6}, {release, release + 1}}) {
        SCOPED_TRACE(stallAt);
        driver->stallAt = stallAt;
        driver->vendorAddresses.clear();
        EXPECT_EQ(radar->DownloadFirmware(program), -1);
        ASSERT_EQ(driver->vendorAddresses.size(), static_cast<std::size_t>(sent));
        EXPECT_EQ(driver->vendorAddresses.back(), kCpucsAddress);
        // The core runs again only where its release got through.
        EXPECT_EQ(board->controller().inReset(), stallAt == release);
    }
}

// A consumer far slower than the board's FIFO allows (the queued requests keep it drained);
// then what real boards send: I at mid-scale, half its words with bit 15 (also the one before
// the sync), and (2) a flag on the first sweep only; small requests judge the sync over several.
TEST_F(OnBoard, StreamPartsContinueWithoutGapOrRepeat) {
    for (const int hard : {0, 1, 2}) {
        SCOPED_TRACE(hard);
        SetUp();
        if (hard)
            source->tweak = [=](std::uint64_t m, std::uint16_t& q, std::uint16_t& i) {
                if ((m * 2654435761u >> 11) % 2 == 1 || m == kFirst - 1)
                    i |= 0x8000;
                if (hard == 2 && m != kFirst)
                    q &= 0x7FFF;
            };
        const std::int64_t count = 50 * kSweep + 77;
        StreamReader reader(*radar, kSweep, count,
                            hard ? StreamReader::Options{2048, 3, 1000} : options);
        ASSERT_TRUE(read(reader, hard ? 0 : 0.5)) << reader.error();
        ASSERT_EQ(samples.size(), static_cast<std::size_t>(count));
        EXPECT_EQ(reader.delivered(), count);
        for (std::complex<double>& x : samples) // the counter's I bits are far below bit 15
            x.real(static_cast<double>(static_cast<int>(x.real()) & 0x7FFF));
        expectUnbroken();
        reader.stop();
        source->tweak = nullptr;
        expectNothingQueued();
    }
}

// Faults in the samples strike from the start, faults of the transfer after the first part.
TEST_F(OnBoard, StreamFailuresEndTheReadingAndLeaveNothingQueued) {
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] {
             source->tweak = [](std::uint64_t m, std::uint16_t& q, std::uint16_t&) {
                 q |= m == kFirst + 3001 ? 0x8000 : 0;
             };
         },
         "alignment lost: a frame flag at sample 3001, inside a sweep"},
        {[&] { board->faults.noFrameFlag = true; },
         "no frame flag in the stream (words 2048 to 2559)"},
        {[&] { board->faults.noData = true; }, "no data from the board for 1000 ms"},
        {[&] { board->unplug(); }, "the stream transfer failed (USB status 4, system status 19)"},
    };
    for (std::size_t c = 0; c < std::size(cases); ++c) {
        SCOPED_TRACE(cases[c].second);
        SetUp();
        StreamReader reader(*radar, kSweep, 100 * kSweep, options);
        ASSERT_TRUE(c < 2 || read(reader, 0, 1)) << reader.error();
        cases[c].first();
        EXPECT_FALSE(read(reader));
        EXPECT_EQ(reader.error(), cases[c].second);
        // Only whole parts that passed the check were delivered, and nothing after a failure.
        EXPECT_EQ(reader.delivered(), static_cast<std::int64_t>(samples.size()));
        if (!samples.empty())
            expectUnbroken();
        if (board->plugged()) {
            board->faults = {};
            source->tweak = nullptr;
            expectNothingQueued();
        }
    }
}

// Whole packets of at most 1 MiB, waited for twice their filling time and a second more.
TEST(StreamReader, RequestsStayWholePacketsOfAtMostOneMebibyte) {
    for (const auto& [rate, bytes] : {std::pair{300001.0, 120320u}, {1e12, 1048576u}}) {
        const StreamReader::Options o = StreamReader::optionsFor(rate);
        EXPECT_EQ(o.requestBytes, bytes) << rate;
        EXPECT_NEAR(o.timeoutMs, 2000.0 * o.requestBytes / (4 * rate) + 1000, 1) << rate;
    }
}
