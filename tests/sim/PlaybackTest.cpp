// Playback of recordings by the emulated board: what a recording made from a scene streams
// back, when the board streams at all, its pace and end, and which headers and files it takes.
// The window's side of playback is in tests/e2e.

#include "BoardHelpers.h"
#include "record/RecordingWriter.h"
#include "sim/PlaybackSource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace simtest;
using tavrix::record::RecordingHeader;

namespace {

class Playback : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrix-playback-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string put(const std::string& name, const std::string& text) const {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string record(const std::string& name, const RecordingHeader& header,
                       const SampleBlock& samples) {
        const std::string path = put(name, "");
        EXPECT_TRUE(tavrix::record::writeRecording(path, header, samples, error)) << error;
        return path;
    }
    // The source playing `path`; null, with the reason in `error`, when it is refused.
    std::shared_ptr<sim::PlaybackSource> load(const std::string& path,
                                              sim::PlaybackOptions options = {}) {
        error.clear();
        return sim::PlaybackSource::load(path, options, clock, &error);
    }

    std::string dir, error;
    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
};

// Samples 0, 1, 2... with distinct I and Q, so any slip or reorder shows.
SampleBlock ramp(int count) {
    SampleBlock s;
    for (int i = 0; i < count; ++i)
        s.emplace_back(100 + 3 * i, 7 + i);
    return s;
}

} // namespace

TEST_F(Playback, RecordingOfASceneStreamsBackInFramesAndLoops) {
    // Model 0 ("Alder", 2.45 GHz), FMCW, 256 samples per sweep, the first sweep time (0.5 ms).
    const std::uint16_t asked = OperatingWord(0, 1, 1, 0);
    Bench live(sim::defaultScene());
    ASSERT_TRUE(command(*live.board, asked));
    const SampleBlock recorded = live.frame(8 * 256, 256);
    ASSERT_EQ(recorded.size(), 8u * 256);
    const auto source = load(record("scene.dat", {2.45e9, 0.5, 256, 1e8}, recorded));
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->settings().operatingWord(), asked);

    Bench playback(source, clock);
    ASSERT_TRUE(command(*playback.board, asked));
    // Three passes through the recording, straight from the start of the stream, in reads
    // that end mid-sweep.
    const std::size_t total = recorded.size();
    auto words = read(*playback.board, 1000 * 4);
    const auto rest = read(*playback.board, (3 * total - 1000) * 4);
    words.insert(words.end(), rest.begin(), rest.end());
    ASSERT_EQ(words.size(), 3 * total * 2);
    for (std::size_t p = 0; p < 3 * total; ++p) {
        const std::complex<double>& s = recorded[p % total];
        const std::uint16_t flag = p % 256 == 0 ? 0x8000 : 0;
        ASSERT_EQ(words[2 * p], static_cast<std::uint16_t>(s.imag()) | flag) << "sample " << p;
        ASSERT_EQ(words[2 * p + 1], static_cast<std::uint16_t>(s.real())) << "sample " << p;
    }
}

TEST_F(Playback, BoardStreamsOnlyWhenAskedForTheRecordedParameters) {
    const auto sawtooth = load(record("saw.dat", {2.45e9, 1.0, 128, 1.5e8}, ramp(512)));
    ASSERT_TRUE(sawtooth) << error;
    // Second bandwidth (code 2), second sweep time (code 1), 128 samples.
    ASSERT_EQ(sawtooth->settings().operatingWord(), OperatingWord(1, 2, 0, 0));
    Bench bench(sawtooth, clock);
    // Another window, bandwidth or mode: nothing streams and the recording does not move.
    for (std::uint16_t other :
         {OperatingWord(1, 2, 1, 0), OperatingWord(1, 1, 0, 0), OperatingWord(1, 2, 0, 3)}) {
        ASSERT_TRUE(command(*bench.board, other));
        EXPECT_TRUE(read(*bench.board, 4096).empty()) << std::hex << other;
        EXPECT_EQ(sawtooth->positionSeconds(), 0.0);
    }
    ASSERT_TRUE(command(*bench.board, OperatingWord(1, 2, 0, 0)));
    const auto words = read(*bench.board, 8);
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[0], 0x8000 | 7); // the recording's first sample, at a sweep start
    EXPECT_EQ(words[1], 100);
}

TEST_F(Playback, PaceFollowsTheSpeedAndThePositionWraps) {
    // 1024 samples per 1 ms sweep: 1.024 MS/s; 16 sweeps, 16 ms.
    const std::string path = record("fast.dat", {2.45e9, 1.0, 1024, 1e8}, ramp(16 * 1024));
    for (double speed : {0.25, 10.0}) {
        SCOPED_TRACE(speed);
        clock = std::make_shared<sim::VirtualClock>();
        const auto source = load(path, {speed, true});
        ASSERT_TRUE(source) << error;
        EXPECT_DOUBLE_EQ(source->durationSeconds(), 0.016);
        Bench bench(source, clock);
        ASSERT_TRUE(command(*bench.board, source->settings().operatingWord()));
        const double begin = clock->now();
        ASSERT_EQ(read(*bench.board, 5000 * 4).size(), 10000u);
        EXPECT_NEAR(clock->now() - begin, 5000 / (1.024e6 * speed), 1e-9);
        EXPECT_NEAR(source->positionSeconds(), 5000 / 1.024e6, 1e-9);

        // One and a half passes later (in board time at this speed) it is half-way through.
        clock->advance(0.016 * 1.5 / speed - 5000 / (1.024e6 * speed));
        EXPECT_NEAR(source->positionSeconds(), 0.008, 1e-6);
        EXPECT_EQ(source->remainingSamples(), sim::SampleSource::kEndless);
    }
}

TEST(PlaybackSettings, HeaderPicksModelModeAndChoices) {
    struct Case {
        const char* what;
        RecordingHeader header;
        sim::Mode mode;
        int model;
    };
    using sim::Mode;
    const Case cases[] = {
        // Shared values: the first model that fits, unless only a later one offers the sweep.
        {"5.8 GHz, 1 ms", {5.8e9, 1.0, 128, 4e8}, Mode::FmcwSawtooth, 1},
        {"5.8 GHz, 2 ms", {5.8e9, 2.0, 128, 4e8}, Mode::FmcwSawtooth, 5},
        {"FSK", {5.8e9, 2.0, 512, 6e6}, Mode::Fsk, 5},
        {"eighth, CW", {2.4e10, 4.0, 128, 0}, Mode::Cw, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string why;
        const auto s = sim::playbackSettings(c.header, &why);
        ASSERT_TRUE(s) << why;
        EXPECT_EQ(s->mode, c.mode);
        EXPECT_EQ(s->deviceModel, c.model);
        // The board built as that model decodes the word back to the header's values.
        const auto a = sim::decodeOperatingWord(s->operatingWord(), s->deviceModel);
        EXPECT_DOUBLE_EQ(a->sweepTimeS * 1e3, c.header.sweepTimeMs);
        EXPECT_EQ(a->samplesPerSweep, c.header.samplesPerSweep);
        if (c.mode == Mode::FmcwSawtooth) {
            EXPECT_DOUBLE_EQ(a->bandwidthHz, c.header.modeValue);
        }
    }

    const std::pair<RecordingHeader, const char*> refusals[] = {
        {{2.45e9, 1.0, 100, 1e8}, "samples per sweep (line 3) are 100"},
        {{9.8e9, 3.0, 128, 1e8}, "(Dogwood, Ginkgo)"},
    };
    for (const auto& [header, reason] : refusals) {
        std::string why;
        EXPECT_FALSE(sim::playbackSettings(header, &why));
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    }
}

TEST_F(Playback, UnplayableFilesAreRefusedWithFileAndReason) {
    const std::string header = "2450000000.000000\n1.000000\n128\n100000000.000000\n";
    std::string samples;
    for (int i = 0; i < 130; ++i)
        samples += "100+7i\n";
    const std::pair<std::string, const char*> cases[] = {
        {put("triangle.dat", samples), "has no header"},
        {put("flagged.dat", header + "1+2i\n3+32768i\n"), "line 6: the sample 3+32768i"},
        {put("short.dat", header + "1+2i\n"), "holds 1 sample, less than one sweep of 128"},
        {dir + "/missing.dat", "No such file"},
    };
    for (const auto& [path, reason] : cases) {
        EXPECT_FALSE(load(path));
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }

    const std::string good = put("good.dat", header + samples);
    EXPECT_FALSE(load(good, {12, true}));
    EXPECT_NE(error.find("speed 12 is not between 0.25 and 10"), std::string::npos) << error;
    // Samples after the last whole sweep are left out.
    const auto source = load(good);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->sampleCount(), 128u);
}
