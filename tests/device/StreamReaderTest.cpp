// The stream read in parts against the emulated board, whose samples count up so that every
// gap, repeat or slip shows.

#include "device/StreamReader.h"
#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "sim/SimUsbDriver.h"
#include "tests/device/CounterSource.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kSweep = 256;

// An activated board streaming 256 samples per sweep from a counter.
struct Rig {
    Rig() {
        source->sweepOffset = 37;
        board = &driver.attach(std::make_shared<sim::EmulatedBoard>(source, clock));
        radar.EnumerateDevices();
        radar.SetInterface();
        radar.outEndpoint = radar.FindEndpoint(kCommandEndpoint);
        radar.inEndpoint = radar.FindEndpoint(kSampleEndpoint);
        LoadControllerProgram(radar, ControllerProgramText());
        const CommandBlockBytes block = CommandBlock(OperatingWord(0, 1, 1, 0));
        radar.WriteBlock(block.data(), 2048);
    }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    std::shared_ptr<CounterSource> source = std::make_shared<CounterSource>();
    sim::SimUsbDriver driver;
    sim::EmulatedBoard* board = nullptr;
    RadarDevice radar{driver};
};

class StreamReaderOnBoard : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void fresh() {
        rig = std::make_unique<Rig>();
        samples.clear();
        ASSERT_TRUE(rig->board->streaming());
        ASSERT_EQ(rig->source->samplesPerSweep(), kSweep);
    }

    // Reads to the end or the first failure, pausing `pause` seconds of board time after
    // every part as a slow disk would; the parts are appended to `samples`.
    bool readAll(StreamReader& reader, double pause = 0) {
        SampleBlock part;
        while (!reader.done()) {
            if (!reader.next(part))
                return false;
            EXPECT_FALSE(part.empty());
            EXPECT_LE(part.size(), options.requestBytes / 4);
            samples.insert(samples.end(), part.begin(), part.end());
            rig->clock->advance(pause);
        }
        return true;
    }

    // The samples continue one another from a sweep start on.
    void expectUnbroken() const {
        ASSERT_FALSE(samples.empty());
        const std::uint64_t first = CounterSource::number(samples[0]);
        EXPECT_EQ((first + static_cast<std::uint64_t>(rig->source->sweepOffset)) % kSweep, 0u);
        for (std::size_t j = 0; j < samples.size(); ++j)
            ASSERT_EQ(CounterSource::number(samples[j]), first + j) << "sample " << j;
    }

    // Nothing of a reading is left queued: ten seconds on, the board's FIFO has overflowed
    // and a frame read gets the present, not the samples that followed the reading.
    void expectNothingQueued() {
        rig->clock->advance(10);
        const double present = rig->clock->now() * rig->source->sampleRate();
        SampleBlock frame;
        ASSERT_EQ(rig->radar.ReadFrame(frame, 1024, 1000), 1024);
        EXPECT_GT(static_cast<double>(CounterSource::number(frame[0])), present - 2048);
    }

    std::unique_ptr<Rig> rig;
    // Small requests, so a short recording spans many of them.
    StreamReader::Options options{8192, 3, 1000};
    SampleBlock samples;
};

TEST_F(StreamReaderOnBoard, PartsContinueTheStreamWithoutGapOrRepeat) {
    // A consumer far slower than the board's FIFO allows: the queued requests keep it drained.
    const std::int64_t count = 50 * kSweep + 77;
    StreamReader reader(rig->radar, kSweep, count, options);
    ASSERT_TRUE(readAll(reader, 0.5)) << reader.error();
    EXPECT_EQ(reader.delivered(), count);
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(count));
    expectUnbroken();
    SampleBlock part{{1.0, 1.0}};
    EXPECT_TRUE(reader.next(part));
    EXPECT_TRUE(part.empty());

    reader.stop();
    expectNothingQueued();
}

TEST_F(StreamReaderOnBoard, LostAlignmentFailsTheReading) {
    struct Case {
        const char* what;
        std::function<void(std::uint64_t, std::uint16_t&, std::uint16_t&)> tweak;
        std::string error;
    };
    // Samples 0 to 1023 of the stream are the stale words; sample 1024 + 37 is the first
    // sweep start after them, the first sample read.
    constexpr std::uint64_t kFirst = 1024 + 256 - 37;
    const Case cases[] = {
        {"sweep start without flag",
         [](std::uint64_t m, std::uint16_t& q, std::uint16_t&) {
             if (m == kFirst + 9 * kSweep)
                 q &= 0x7FFF;
         },
         "alignment lost: no frame flag at sample 2304, where a sweep starts"},
        {"flag inside a sweep",
         [](std::uint64_t m, std::uint16_t& q, std::uint16_t&) {
             if (m == kFirst + 3001)
                 q |= 0x8000;
         },
         "alignment lost: a frame flag at sample 3001, inside a sweep"},
        // An I word with bit 15 before the first flag passes for the sync word; the pairs
        // are then one word off, and the next sweep start has no flag.
        {"sync word on an I word",
         [](std::uint64_t m, std::uint16_t&, std::uint16_t& i) {
             if (m == kFirst - 5)
                 i |= 0x8000;
         },
         "alignment lost: no frame flag at sample 256, where a sweep starts"},
        {"no flag at all", [](std::uint64_t, std::uint16_t& q, std::uint16_t&) { q &= 0x7FFF; },
         "no frame flag in the stream (words 2048 to 2559)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        rig->source->tweak = c.tweak;
        StreamReader reader(rig->radar, kSweep, 20 * kSweep, options);
        EXPECT_FALSE(readAll(reader));
        EXPECT_EQ(reader.error(), c.error);
        // Only whole parts that passed the check were delivered.
        EXPECT_EQ(reader.delivered(), static_cast<std::int64_t>(samples.size()));
        if (!samples.empty())
            expectUnbroken();
        SampleBlock part;
        EXPECT_FALSE(reader.next(part));
        EXPECT_EQ(reader.error(), c.error);
        rig->source->tweak = nullptr;
        expectNothingQueued();
    }
}

TEST_F(StreamReaderOnBoard, TransferFailuresEndTheReadingAndLeaveNothingQueued) {
    struct Case {
        const char* what;
        std::function<void()> fault;
        std::string error;
    };
    const Case cases[] = {
        {"short transfer", [&] { rig->board->faults.shortRead = 1000; },
         "the board ended a transfer early (1000 of 8192 bytes)"},
        {"silence", [&] { rig->board->faults.noData = true; },
         "no data from the board for 1000 ms"},
        {"unplugged", [&] { rig->board->unplug(); },
         "the stream transfer failed (USB status 4, system status 19)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        StreamReader reader(rig->radar, kSweep, 100 * kSweep, options);
        SampleBlock part;
        ASSERT_TRUE(reader.next(part)) << reader.error();
        c.fault();
        EXPECT_FALSE(readAll(reader));
        EXPECT_EQ(reader.error(), c.error);
        EXPECT_LT(reader.delivered(), 100 * kSweep);

        if (!rig->board->plugged())
            continue;
        rig->board->faults = {};
        expectNothingQueued();
    }
}

TEST_F(StreamReaderOnBoard, RequestsAreSizedToTheStreamRate) {
    struct Case {
        double rate;
        std::uint32_t bytes;
        std::uint32_t timeoutMs;
    };
    const Case cases[] = {
        {12800, 16384, 1640},     // floor: 16 KiB, 0.32 s
        {256000, 102400, 1200},   // a tenth of a second
        {300001, 120320, 1200},   // rounded up to whole packets
        {8192000, 1048576, 1064}, // ceiling
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        const StreamReader::Options o = StreamReader::optionsFor(c.rate);
        EXPECT_EQ(o.requestBytes, c.bytes);
        EXPECT_EQ(o.requestBytes % 512, 0u);
        EXPECT_EQ(o.timeoutMs, c.timeoutMs);
    }
}

} // namespace
