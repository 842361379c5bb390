// The stream read in parts against the emulated board, whose samples count up so that every
// gap, repeat or slip shows.

#include "device/StreamReader.h"
#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "sim/SimUsbDriver.h"
#include "tests/device/CounterSource.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr int kSweep = 256;

class StreamReaderOnBoard : public ::testing::Test {
protected:
    // A fresh activated board streaming sweeps of 256 samples from a counter.
    void SetUp() override {
        radar.reset(); // before the driver it holds a device of
        clock = std::make_shared<sim::VirtualClock>();
        source = std::make_shared<CounterSource>();
        source->sweepOffset = 37;
        driver = std::make_unique<sim::SimUsbDriver>();
        board = &driver->attach(std::make_shared<sim::EmulatedBoard>(source, clock));
        radar = std::make_unique<RadarDevice>(*driver);
        radar->EnumerateDevices();
        radar->SetInterface();
        radar->outEndpoint = radar->FindEndpoint(kCommandEndpoint);
        radar->inEndpoint = radar->FindEndpoint(kSampleEndpoint);
        ASSERT_TRUE(LoadControllerProgram(*radar, ControllerProgramText()));
        const CommandBlockBytes block = CommandBlock(OperatingWord(0, 1, 1, 0));
        radar->WriteBlock(block.data(), 2048);
        ASSERT_EQ(source->samplesPerSweep(), kSweep);
        samples.clear();
    }

    // Reads to the end or the first failure, pausing `pause` seconds of board time after
    // every part as a slow disk would.
    bool readAll(StreamReader& reader, double pause = 0) {
        SampleBlock part;
        while (!reader.done()) {
            if (!reader.next(part))
                return false;
            EXPECT_FALSE(part.empty());
            samples.insert(samples.end(), part.begin(), part.end());
            clock->advance(pause);
        }
        return true;
    }

    // The samples continue one another from a sweep start on.
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
    std::unique_ptr<sim::SimUsbDriver> driver;
    sim::EmulatedBoard* board = nullptr;
    std::unique_ptr<RadarDevice> radar;
    // Small requests, so a short recording spans many of them.
    StreamReader::Options options{8192, 3, 1000};
    SampleBlock samples;
};

} // namespace

TEST_F(StreamReaderOnBoard, PartsContinueTheStreamWithoutGapOrRepeat) {
    // A consumer far slower than the board's FIFO allows: the queued requests keep it drained.
    const std::int64_t count = 50 * kSweep + 77;
    StreamReader reader(*radar, kSweep, count, options);
    ASSERT_TRUE(readAll(reader, 0.5)) << reader.error();
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(reader.delivered(), count);
    expectUnbroken();
    SampleBlock part{{1.0, 1.0}};
    EXPECT_TRUE(reader.next(part));
    EXPECT_TRUE(part.empty());
    reader.stop();
    expectNothingQueued();
}

// Samples 0 to 1023 are the stale words; the first sweep start after them is read first.
constexpr std::uint64_t kFirst = 1024 + 256 - 37;

TEST_F(StreamReaderOnBoard, LostAlignmentFailsTheReading) {
    const struct {
        std::uint64_t sample;
        std::uint16_t qSet, qClear;
        std::string error;
    } cases[] = {
        {kFirst + 3001, 0x8000, 0, "alignment lost: a frame flag at sample 3001, inside a sweep"},
        {~0ull, 0, 0x8000, "no frame flag in the stream (words 2048 to 2559)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        SetUp();
        source->tweak = [&c](std::uint64_t m, std::uint16_t& q, std::uint16_t&) {
            if (m == c.sample || c.sample == ~0ull)
                q = static_cast<std::uint16_t>((q | c.qSet) & ~c.qClear);
        };
        StreamReader reader(*radar, kSweep, 20 * kSweep, options);
        EXPECT_FALSE(readAll(reader));
        EXPECT_EQ(reader.error(), c.error);
        // Only whole parts that passed the check were delivered.
        EXPECT_EQ(reader.delivered(), static_cast<std::int64_t>(samples.size()));
        if (!samples.empty())
            expectUnbroken();
        SampleBlock part;
        EXPECT_FALSE(reader.next(part));
        source->tweak = nullptr;
        expectNothingQueued();
    }
}

// What real boards send: an I channel at mid-scale, half of whose words carry bit 15 (here
// also the word just before the sync word), and a board that flags only the start of the
// stream; the requests are small, so the sync is judged over several of them.
TEST_F(StreamReaderOnBoard, RealBoardStreamsReadUnbroken) {
    const auto midScale = [](std::uint64_t m, std::uint16_t& i) {
        if ((m * 2654435761u >> 11) % 2 == 1 || m == kFirst - 1)
            i |= 0x8000;
    };
    const std::function<void(std::uint64_t, std::uint16_t&, std::uint16_t&)> tweaks[] = {
        [&](std::uint64_t m, std::uint16_t&, std::uint16_t& i) { midScale(m, i); },
        [&](std::uint64_t m, std::uint16_t& q, std::uint16_t& i) {
            midScale(m, i);
            if (m != kFirst)
                q &= 0x7FFF;
        },
    };
    for (std::size_t t = 0; t < std::size(tweaks); ++t) {
        SCOPED_TRACE(t);
        SetUp();
        source->tweak = tweaks[t];
        StreamReader reader(*radar, kSweep, 20 * kSweep, {2048, 3, 1000});
        ASSERT_TRUE(readAll(reader)) << reader.error();
        ASSERT_EQ(samples.size(), 20u * kSweep);
        for (std::complex<double>& x : samples) // the counter's I bits are far below bit 15
            x.real(static_cast<double>(static_cast<int>(x.real()) & 0x7FFF));
        expectUnbroken();
    }
}

TEST_F(StreamReaderOnBoard, TransferFailuresEndTheReadingAndLeaveNothingQueued) {
    const std::pair<std::function<void(sim::EmulatedBoard&)>, std::string> cases[] = {
        {[](auto& b) { b.faults.shortRead = 1000; },
         "the board ended a transfer early (1000 of 8192 bytes)"},
        {[](auto& b) { b.faults.noData = true; }, "no data from the board for 1000 ms"},
        {[](auto& b) { b.unplug(); },
         "the stream transfer failed (USB status 4, system status 19)"},
    };
    for (const auto& [fault, error] : cases) {
        SCOPED_TRACE(error);
        SetUp();
        StreamReader reader(*radar, kSweep, 100 * kSweep, options);
        SampleBlock part;
        ASSERT_TRUE(reader.next(part)) << reader.error();
        fault(*board);
        EXPECT_FALSE(readAll(reader));
        EXPECT_EQ(reader.error(), error);
        if (board->plugged()) {
            board->faults = {};
            expectNothingQueued();
        }
    }
}

TEST(StreamReader, RequestsStayWholePacketsOfAtMostOneMebibyte) {
    const double rates[] = {12800, 300001, 8192000, 1e12};
    const std::uint32_t bytes[] = {16384, 120320, 1048576, 1048576};
    for (int i = 0; i < 4; ++i) {
        const StreamReader::Options o = StreamReader::optionsFor(rates[i]);
        EXPECT_EQ(o.requestBytes, bytes[i]) << rates[i];
        // Twice the time the request takes to fill, and a second more.
        EXPECT_NEAR(o.timeoutMs, 2000.0 * o.requestBytes / (4 * rates[i]) + 1000, 1) << rates[i];
    }
}
