// Playing a recording: which board choices its header stands for, frames that follow each other
// and land where a seek puts them, loops over a region, an end that pauses, a file that shrinks,
// and chains that start afresh after a jump.

#include "radar/RecordingPlayer.h"
#include "radar/AcquisitionWorker.h"
#include "radar/RecordingSettings.h"
#include "record/RecordingWriter.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>
#include <tuple>

using namespace tavrix::radar;
using tavrix::record::RecordingHeader;

namespace {

// FMCW sawtooth on the first model: 128 samples in 0.5 ms.
const RecordingHeader kHeader{2.45e9, 0.5, 128, 1e8};

// Sample i holds i: I the low 16 bits, Q the rest.
std::complex<double> indexed(std::uint64_t i) {
    return {static_cast<double>(i % 65536), static_cast<double>(i / 65536)};
}
std::uint64_t indexOf(const std::complex<double>& v) {
    return static_cast<std::uint64_t>(v.real()) + 65536 * static_cast<std::uint64_t>(v.imag());
}

class Player : public ::testing::Test {
protected:
    // A recording of `sweeps` sweeps made by `sample`, opened unpaced.
    template <typename Sample> void record(int sweeps, Sample sample) {
        std::vector<std::complex<double>> samples;
        for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(sweeps) * 128; ++i)
            samples.push_back(sample(i));
        path = dir.filePath(QStringLiteral("played.dat")).toStdString();
        std::string error;
        ASSERT_TRUE(tavrix::record::writeRecording(path, kHeader, samples, error)) << error;
        player = RecordingPlayer::Open(path, error);
        ASSERT_TRUE(player) << error;
        player->SetPaced(false);
    }
    FrameRead read(int display = kRangeScope) {
        Settings s = player->Recorded();
        s.displayMode = display;
        s.sweepCount = 4;
        return player->Read(s, *Pipeline::Request(s), frame, never);
    }
    // The first sample of the frame read, checking the rest follow it.
    std::uint64_t frameStart() const {
        for (std::size_t k = 1; k < frame.size(); ++k)
            if (indexOf(frame[k]) != indexOf(frame[0]) + k)
                ADD_FAILURE() << "sample " << k << " of the frame is out of place";
        return indexOf(frame[0]);
    }
    double seconds(std::uint64_t sample) const { return static_cast<double>(sample) / 256000.0; }

    QTemporaryDir dir;
    std::string path;
    std::unique_ptr<RecordingPlayer> player;
    SampleBlock frame;
    const std::atomic<bool> never{false};
};

} // namespace

TEST(RecordingSettings, HeaderPicksModelModeAndChoices) {
    struct Case {
        const char* what;
        RecordingHeader header;
        int mode;
        int model;
    };
    const Case cases[] = {
        // Shared values: the first model that fits, unless only a later one offers the sweep.
        {"5.8 GHz, 1 ms", {5.8e9, 1.0, 128, 4e8}, kFmcwSawtooth, 1},
        {"5.8 GHz, 2 ms", {5.8e9, 2.0, 128, 4e8}, kFmcwSawtooth, 5},
        {"FSK", {5.8e9, 2.0, 512, 6e6}, kFsk, 5},
        {"eighth, CW", {2.4e10, 4.0, 128, 0}, kCw, 7},
        {"eighth sweeping up", {2.4375e10, 2.0, 256, 7.5e8}, kFmcwSawtooth, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string why;
        const std::optional<Settings> s = SettingsOfRecording(c.header, &why);
        ASSERT_TRUE(s) << why;
        EXPECT_EQ(s->operatingMode, c.mode);
        EXPECT_EQ(s->deviceModel, c.model);
        // The choices give back the header's values.
        EXPECT_DOUBLE_EQ(s->sweepTimeMs(), c.header.sweepTimeMs);
        EXPECT_EQ(s->samplesPerSweep(), static_cast<std::uint32_t>(c.header.samplesPerSweep));
        EXPECT_DOUBLE_EQ(s->centerFrequency(), c.header.centerFrequencyHz);
        if (c.mode == kFmcwSawtooth) {
            EXPECT_DOUBLE_EQ(s->bandwidthHz(), c.header.modeValue);
        }
    }

    const std::pair<RecordingHeader, const char*> refusals[] = {
        {{2.45e9, 1.0, 100, 1e8}, "samples per sweep (line 3) are 100"},
        {{2.45e9, 1.0, 128, 3e7}, "line 4 holds 30000000, which is no device model's"},
        {{9.8e9, 3.0, 128, 1e8}, "(Dogwood, Ginkgo)"},
    };
    for (const auto& [header, reason] : refusals) {
        std::string why;
        EXPECT_FALSE(SettingsOfRecording(header, &why));
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    }
}

TEST_F(Player, FramesFollowEachOtherAndASeekLandsOnTheSweepItShows) {
    record(100, indexed);
    EXPECT_EQ(player->SampleCount(), 12800u);

    FrameRead r = read(kRangeVelocityMap); // 4 sweeps
    EXPECT_EQ(r.received, 512);
    EXPECT_TRUE(r.jumped) << "the first frame starts the chains afresh";
    EXPECT_EQ(frameStart(), 0u);
    r = read(kRangeVelocityMap);
    EXPECT_FALSE(r.jumped);
    EXPECT_EQ(frameStart(), 512u);
    EXPECT_DOUBLE_EQ(*r.recordingSeconds, seconds(512));

    // Inside a sweep: the frame starts at that sweep, and says so.
    EXPECT_EQ(r.seeks, 0u);
    ASSERT_TRUE(player->Seek(5000));
    r = read();
    EXPECT_TRUE(r.jumped);
    EXPECT_EQ(r.seeks, 1u) << "the window drops frames read before a seek by this";
    EXPECT_EQ(frameStart(), 4992u);
    EXPECT_DOUBLE_EQ(*r.recordingSeconds, seconds(4992));
    EXPECT_EQ(player->SampleAt(*r.recordingSeconds), 4992u);
    read();
    EXPECT_EQ(frameStart(), 5120u);

    std::string why;
    EXPECT_FALSE(player->Seek(12800, &why));
    EXPECT_EQ(why, "sample 12800 is past the end of the recording (12800 samples)");
    EXPECT_EQ(player->Position(), 5248u) << "a refused seek moves nothing";
    EXPECT_EQ(player->SampleAt(1e9), 12800u - 128) << "time past the end: the last sweep";
}

TEST_F(Player, LoopsOverItsRegionAndPlayedOnceStopsAtTheEnd) {
    record(20, indexed);
    std::string why;
    EXPECT_FALSE(player->SetLoopRegion(RecordingPlayer::Region{1000, 900}, &why));
    EXPECT_FALSE(player->SetLoopRegion(RecordingPlayer::Region{2560, 9999}, &why));
    EXPECT_FALSE(player->LoopRegion());

    // Frame starts and jumps of `count` frames read in `display`.
    const auto play = [&](int count, int display) {
        std::vector<std::uint64_t> starts;
        std::vector<bool> jumps;
        for (int k = 0; k < count; ++k) {
            jumps.push_back(read(display).jumped);
            starts.push_back(frameStart());
        }
        return std::make_pair(starts, jumps);
    };
    // 896 (the sweep of 1000) to 1600: the frame from 1408 ends at 1536, the next would not fit.
    ASSERT_TRUE(player->SetLoopRegion(RecordingPlayer::Region{1000, 1600}));
    ASSERT_TRUE(player->Seek(896));
    auto [starts, jumps] = play(7, kRangeScope);
    EXPECT_EQ(starts, (std::vector<std::uint64_t>{896, 1024, 1152, 1280, 1408, 896, 1024}));
    EXPECT_EQ(jumps, (std::vector<bool>{true, false, false, false, false, true, false}));
    // A region of whole frames (as the window marks them) loops at its end; one shorter than
    // a frame gives that frame again; a seek past it is shown, then playing goes back into it.
    ASSERT_TRUE(player->SetLoopRegion(RecordingPlayer::Region{896, 1408}));
    ASSERT_TRUE(player->Seek(2048));
    std::tie(starts, jumps) = play(6, kRangeScope);
    EXPECT_EQ(starts, (std::vector<std::uint64_t>{2048, 896, 1024, 1152, 1280, 896}));
    ASSERT_TRUE(player->SetLoopRegion(RecordingPlayer::Region{1024, 1280}));
    std::tie(starts, jumps) = play(2, kRangeVelocityMap); // 512 samples
    EXPECT_EQ(starts, (std::vector<std::uint64_t>{1024, 1024}));
    EXPECT_EQ(jumps, (std::vector<bool>{false, true})) << "the first follows on from 896";
    // Within a frame of the end, a seek shows the last whole frame.
    ASSERT_TRUE(player->Seek(2500));
    read(kRangeVelocityMap);
    EXPECT_EQ(frameStart(), 2048u);

    // Played once, the recording pauses at its end; playing again starts it over.
    player->SetLoop(false);
    ASSERT_TRUE(player->Seek(2304));
    read();
    EXPECT_EQ(frameStart(), 2304u);
    read();
    EXPECT_EQ(frameStart(), 2432u);
    EXPECT_TRUE(read().idle);
    EXPECT_TRUE(player->AtEnd());
    EXPECT_TRUE(player->Paused());
    EXPECT_TRUE(read().idle) << "paused at the end it stays";
    player->SetPaused(false);
    EXPECT_FALSE(player->AtEnd());
    EXPECT_TRUE(read().jumped);
    EXPECT_EQ(frameStart(), 0u);
}

TEST_F(Player, AFileThatShrankWhilePlayingIsAFailedReadNamingIt) {
    record(20, indexed);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    ASSERT_TRUE(player->Seek(2304));
    const FrameRead r = read();
    EXPECT_NE(r.received, 128);
    EXPECT_NE(r.failure.find(path), std::string::npos) << r.failure;
}

TEST_F(Player, TheWorkersChainsAfterASeekEqualChainsStartedThere) {
    // A moving target's beat over a standing one, so that clutter cancellation has work.
    record(64, [](std::uint64_t i) {
        const double t = static_cast<double>(i % 128);
        const double sweep = static_cast<double>(i / 128);
        return std::complex<double>(32768 + 9000 * std::cos(0.3 * t + 0.2 * sweep) +
                                        4000 * std::cos(0.9 * t),
                                    16384 + 7000 * std::sin(0.3 * t + 0.2 * sweep));
    });
    Settings s = player->Recorded();
    s.clutter = tavrix::dsp::ClutterMode::MovingAverage;
    s.clutterAverage = 4;
    OpenWindows(s);
    Pipeline pipeline;
    AcquisitionWorker worker(*player, pipeline);
    const auto nextOutcome = [&] {
        for (;;) {
            if (std::optional<FrameOutcome> o = worker.TakeNewest())
                return std::move(*o);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    player->SetPaused(true);
    worker.Start(s, 1);
    for (int k = 0; k < 6; ++k) {
        player->Step();
        nextOutcome();
    }
    ASSERT_TRUE(player->Seek(40 * 128 + 5)); // paused: the frame there is shown
    const FrameOutcome at = nextOutcome();
    player->Step();
    const FrameOutcome after = nextOutcome();
    worker.Stop();
    EXPECT_TRUE(at.jumped);
    EXPECT_DOUBLE_EQ(*at.recordingSeconds, seconds(40 * 128));
    ASSERT_TRUE(after.processed);

    // The first frame after a reset cancels itself out; the second shows what carried over.
    std::string error;
    const auto cursor = tavrix::record::RecordingCursor::open(path, error);
    ASSERT_TRUE(cursor) << error;
    Pipeline fresh;
    Result expected;
    for (std::uint64_t sweep : {40, 41}) {
        SampleBlock there;
        ASSERT_TRUE(cursor->read(sweep * 128, 128, there));
        ASSERT_TRUE(fresh.Process(s, there, expected));
    }
    EXPECT_TRUE(std::isfinite(expected.values[30]));
    EXPECT_EQ(after.result.values, expected.values);
}
