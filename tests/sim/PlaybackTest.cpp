// Playback of recordings by the emulated board: what a recording made from a scene streams
// back, when the board streams at all, its pace and end, and which headers and files it takes.

#include "BoardHelpers.h"
#include "record/RecordingFile.h"
#include "record/RecordingWriter.h"
#include "sim/PlaybackSource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace simtest;
using tavrix::record::RecordingHeader;
using Samples = std::vector<std::complex<double>>;

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
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
        return dir + "/" + name;
    }
    std::string record(const std::string& name, const RecordingHeader& header,
                       const Samples& samples) const {
        std::string error;
        EXPECT_TRUE(tavrix::record::writeRecording(dir + "/" + name, header, samples, error))
            << error;
        return dir + "/" + name;
    }
    std::shared_ptr<sim::PlaybackSource> load(const std::string& path,
                                              sim::PlaybackOptions options = {}) {
        std::string error;
        auto source = sim::PlaybackSource::load(path, options, clock, &error);
        EXPECT_TRUE(source) << error;
        return source;
    }
    // The reason a file is refused; empty if it is not.
    std::string refusal(const std::string& path, sim::PlaybackOptions options = {}) {
        std::string error;
        return sim::PlaybackSource::load(path, options, clock, &error) ? "" : error;
    }

    std::string dir;
    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
};

// Samples 0, 1, 2... with distinct I and Q, so any slip or reorder shows.
Samples ramp(int count) {
    Samples s;
    for (int i = 0; i < count; ++i)
        s.emplace_back(100 + 3 * i, 7 + i);
    return s;
}

} // namespace

TEST_F(Playback, RecordingOfASceneStreamsBackInFramesAndLoops) {
    // Model 0 ("Alder", 2.45 GHz), FMCW, 256 samples per sweep, the first sweep time (0.5 ms).
    const std::uint16_t asked = word(0, 1);
    Bench live(sim::defaultScene());
    ASSERT_TRUE(command(*live.board, asked));
    const Samples recorded = readFrame(*live.board, 8 * 256);
    ASSERT_EQ(recorded.size(), 8u * 256);
    const auto source = load(record("scene.dat", {2.45e9, 0.5, 256, 1e8}, recorded));
    ASSERT_TRUE(source);
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

    // What the host's frame reader makes of it: the sweep after the skipped 1024 samples.
    Bench again(source, clock);
    ASSERT_TRUE(command(*again.board, asked));
    const Samples frame = readFrame(*again.board, 4 * 256);
    ASSERT_EQ(frame.size(), 4u * 256);
    for (std::size_t j = 0; j < frame.size(); ++j)
        ASSERT_EQ(frame[j], recorded[(1024 + j) % total]) << j;
}

TEST_F(Playback, BoardStreamsOnlyWhenAskedForTheRecordedParameters) {
    const auto sawtooth = load(record("saw.dat", {2.45e9, 1.0, 128, 1.5e8}, ramp(512)));
    ASSERT_TRUE(sawtooth);
    // Second bandwidth (code 2), second sweep time (code 1), 128 samples.
    ASSERT_EQ(sawtooth->settings().operatingWord(), word(0, 0, 2, 1));
    Bench bench(sawtooth, clock);
    for (std::uint16_t other : {word(0, 1, 2, 1), word(0, 0, 1, 1), word(0, 0, 2, 0),
                                word(3, 0, 2, 1), word(1, 0, 2, 1)}) {
        ASSERT_TRUE(command(*bench.board, other));
        EXPECT_FALSE(bench.board->streaming()) << std::hex << other;
        EXPECT_EQ(bench.board->streamReadyTime(4), sim::AcquisitionLogic::kNever);
        EXPECT_TRUE(read(*bench.board, 4096).empty());
        EXPECT_EQ(sawtooth->positionSeconds(), 0.0);
    }
    ASSERT_TRUE(command(*bench.board, word(0, 0, 2, 1)));
    const auto words = read(*bench.board, 8);
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[0], 0x8000 | 7); // the recording's first sample, at a sweep start
    EXPECT_EQ(words[1], 100);

    // FSK and CW do not sweep: any bandwidth code plays them.
    const auto cw = load(record("cw.dat", {2.45e9, 1.0, 128, 0}, ramp(256)));
    ASSERT_TRUE(cw);
    Bench cwBench(cw, clock);
    ASSERT_TRUE(command(*cwBench.board, word(3, 0, 0, 1)));
    EXPECT_TRUE(cwBench.board->streaming());
}

TEST_F(Playback, PaceFollowsTheSpeedAndThePositionWraps) {
    // 1024 samples per 1 ms sweep: 1.024 MS/s; 16 sweeps, 16 ms.
    const Samples samples = ramp(16 * 1024);
    const std::string path = record("fast.dat", {2.45e9, 1.0, 1024, 1e8}, samples);
    for (double speed : {0.25, 2.0, 10.0}) {
        SCOPED_TRACE(speed);
        clock = std::make_shared<sim::VirtualClock>();
        const auto source = load(path, {speed, true});
        ASSERT_TRUE(source);
        EXPECT_DOUBLE_EQ(source->durationSeconds(), 0.016);
        Bench bench(source, clock);
        ASSERT_TRUE(command(*bench.board, source->settings().operatingWord()));
        const double begin = clock->now();
        const std::size_t got = read(*bench.board, 5000 * 4).size() / 2;
        ASSERT_EQ(got, 5000u);
        EXPECT_NEAR(clock->now() - begin, 5000 / (1.024e6 * speed), 1e-9);
        EXPECT_NEAR(source->positionSeconds(), 5000 / 1.024e6, 1e-9);

        // One and a half passes later (in board time at this speed) it is half-way through.
        clock->advance(0.016 * 1.5 / speed - 5000 / (1.024e6 * speed));
        EXPECT_NEAR(source->positionSeconds(), 0.008, 1e-6);
        EXPECT_EQ(source->remainingSamples(), sim::SampleSource::kEndless);
    }
}

TEST_F(Playback, WithoutLoopTheStreamEndsWithTheRecording) {
    const Samples samples = ramp(4 * 128);
    const auto source = load(record("once.dat", {5.8e9, 0.5, 128, 6e6}, samples), {1, false});
    ASSERT_TRUE(source);
    EXPECT_EQ(source->remainingSamples(), 0u); // not playing yet
    Bench bench(source, clock);
    ASSERT_TRUE(command(*bench.board, source->settings().operatingWord()));
    EXPECT_EQ(source->remainingSamples(), 512u);

    const auto words = read(*bench.board, 300 * 4);
    ASSERT_EQ(words.size(), 600u);
    EXPECT_EQ(source->remainingSamples(), 212u);
    // Asking for more than is left never completes; what is left still arrives.
    EXPECT_EQ(bench.board->streamReadyTime(213 * 4), sim::AcquisitionLogic::kNever);
    const auto rest = read(*bench.board, 212 * 4);
    ASSERT_EQ(rest.size(), 424u);
    EXPECT_EQ(rest[2 * 212 - 1], static_cast<std::uint16_t>(samples.back().real()));
    EXPECT_EQ(source->remainingSamples(), 0u);
    EXPECT_DOUBLE_EQ(source->positionSeconds(), source->durationSeconds());
    clock->advance(1);
    EXPECT_EQ(bench.board->streamAvailableBy(clock->now()), 0u);
    EXPECT_DOUBLE_EQ(source->positionSeconds(), source->durationSeconds());
}

TEST(PlaybackSettings, HeaderPicksModelModeAndChoices) {
    struct Case {
        const char* what;
        RecordingHeader header;
        sim::Mode mode;
        int model, sweepCode, windowCode, bandwidthChoice;
    };
    using sim::Mode;
    // The eighth model and the FSK and CW choices are checked through the window's controls.
    const Case cases[] = {
        {"sawtooth", {9.8e9, 4.0, 512, 3e8}, Mode::FmcwSawtooth, 3, 2, 2, 2},
        // Shared values: the first model that fits, unless only a later one offers the sweep.
        {"5.8 GHz, 1 ms", {5.8e9, 1.0, 128, 4e8}, Mode::FmcwSawtooth, 1, 1, 0, 3},
        {"5.8 GHz, 2 ms", {5.8e9, 2.0, 128, 4e8}, Mode::FmcwSawtooth, 5, 1, 0, 3},
        {"25 GHz, 2000 MHz, 2 ms", {2.5e10, 2.0, 128, 2e9}, Mode::FmcwSawtooth, 7, 1, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string why;
        const auto s = sim::playbackSettings(c.header, &why);
        ASSERT_TRUE(s) << why;
        EXPECT_EQ(s->mode, c.mode);
        EXPECT_EQ(s->deviceModel, c.model);
        EXPECT_EQ(s->sweepCode, c.sweepCode);
        EXPECT_EQ(s->windowCode, c.windowCode);
        EXPECT_EQ(s->bandwidthChoice, c.bandwidthChoice);
        // The board built as that model decodes the word back to the header's values.
        const auto a = sim::decodeOperatingWord(s->operatingWord(), s->deviceModel);
        EXPECT_DOUBLE_EQ(a->sweepTimeS * 1e3, c.header.sweepTimeMs);
        EXPECT_EQ(a->samplesPerSweep, c.header.samplesPerSweep);
        if (c.mode == Mode::FmcwSawtooth) {
            EXPECT_DOUBLE_EQ(a->bandwidthHz, c.header.modeValue);
        }
    }

    struct Refusal {
        RecordingHeader header;
        const char* reason;
    };
    const Refusal refusals[] = {
        {{2.45e9, 1.0, 100, 1e8}, "samples per sweep (line 3) are 100"},
        {{2.45e9, 1.0, 128, 2.5e8}, "line 4 holds 250000000"},
        {{2.45e9, 1.0, 128, 5e8},
         "centre frequency 2450000000 Hz (line 1) in FMCW sawtooth "
         "with a swept bandwidth of 500 MHz"},
        {{1e9, 1.0, 128, 0}, "centre frequency 1000000000 Hz (line 1) in CW"},
        {{2.4e10, 0.5, 128, 6e6},
         "sweep time 0.5 ms (line 2) is not one that the device "
         "model fitting the other lines (Hazel)"},
        {{9.8e9, 3.0, 128, 1e8}, "(Dogwood, Ginkgo)"},
    };
    for (const Refusal& r : refusals) {
        std::string why;
        EXPECT_FALSE(sim::playbackSettings(r.header, &why));
        EXPECT_NE(why.find(r.reason), std::string::npos) << why;
    }
}

TEST_F(Playback, UnplayableFilesAreRefusedWithFileAndReason) {
    const std::string header = "2450000000.000000\n1.000000\n128\n100000000.000000\n";
    std::string samples;
    for (int i = 0; i < 130; ++i)
        samples += "100+7i\n";
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case cases[] = {
        {put("triangle.dat", samples), "has no header"},
        {put("empty.dat", ""), "the file is empty"},
        {put("nomodel.dat", "1000.000000\n1.000000\n128\n0.000000\n" + samples),
         "no device model has the centre frequency"},
        {put("garbled.dat", header + "1+2i\n3+4j\n"), "line 6: expected a sample"},
        {put("cut.dat", header + "1+2i\n3+4"), "line 6: last line is incomplete"},
        {put("flagged.dat", header + "1+2i\n3+32768i\n"), "line 6: the sample 3+32768i"},
        {put("negative.dat", header + "-1+2i\n"), "line 5: the sample -1+2i"},
        {put("short.dat", header + "1+2i\n"), "holds 1 sample, less than one sweep of 128"},
        {dir + "/missing.dat", "No such file"},
    };
    for (const Case& c : cases) {
        const std::string why = refusal(c.path);
        EXPECT_NE(why.find(c.path), std::string::npos) << why;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }

    const std::string good = put("good.dat", header + samples);
    EXPECT_NE(refusal(good, {12, true}).find("speed 12 is not between 0.25 and 10"),
              std::string::npos);
    EXPECT_NE(refusal(good, {0.1, true}), "");
    // A trailing part of a sweep is left out.
    const auto source = load(good);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->sampleCount(), 128u);
}

TEST_F(Playback, SigmfRecordingPlaysAsItsTextDoes) {
    const std::string text = record("saw.dat", {2.45e9, 1.0, 128, 1.5e8}, ramp(512));
    const std::string sigmf = dir + "/saw.sigmf-data";
    std::string error;
    ASSERT_TRUE(tavrix::record::convertRecording(text, sigmf, error)) << error;
    const auto fromText = load(text);
    const auto fromSigmf = load(dir + "/saw.sigmf-meta");
    ASSERT_TRUE(fromText && fromSigmf);
    EXPECT_EQ(fromSigmf->settings().operatingWord(), fromText->settings().operatingWord());
    std::vector<std::uint16_t> a(2 * 600), b(2 * 600);
    fromText->generate(0, 600, a.data(), true);
    fromSigmf->generate(0, 600, b.data(), true);
    EXPECT_EQ(a, b);

    // Refusals name the SigMF key or sample, not a line.
    auto sink = tavrix::record::makeSink(dir + "/x.sigmf");
    const auto refusedFor = [&](const std::optional<RecordingHeader>& header,
                                const Samples& samples) {
        EXPECT_TRUE(sink->open(dir + "/x.sigmf", header, {}));
        EXPECT_TRUE(sink->write(samples.data(), samples.size()));
        EXPECT_TRUE(sink->close()) << sink->error();
        return refusal(dir + "/x.sigmf-data");
    };
    EXPECT_NE(refusedFor(std::nullopt, ramp(128)).find("no key global.tavrix:header"),
              std::string::npos);
    EXPECT_NE(refusedFor(RecordingHeader{2.45e9, 1.0, 100, 1e8}, ramp(128))
                  .find("(global.tavrix:header.samples_per_sweep) are 100"),
              std::string::npos);
    EXPECT_NE(refusedFor(RecordingHeader{2.45e9, 1.0, 128, 1e8}, {{1, 2}, {3, 32768}})
                  .find("sample 1 (byte 4): the sample 3+32768i"),
              std::string::npos);
}
