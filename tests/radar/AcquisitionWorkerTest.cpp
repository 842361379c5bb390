// The acquisition worker on an emulated board, without a window: frames follow the settings
// they are handed, the capture's health is reported, and a stop cancels the read in flight.

#include "radar/AcquisitionWorker.h"
#include "tests/device/CounterSource.h"
#include "tests/radar/Board.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace tavrix::radar;

namespace {

class WorkerOnBoard : public ::testing::Test {
protected:
    void plug(std::shared_ptr<sim::EmulatedBoard> board) {
        board_ = &driver.attach(std::move(board));
        radar_test::bringUp(radar);
    }
    // The test's time-out ends a wait that never succeeds.
    FrameOutcome next(std::uint64_t generation) {
        for (;;) {
            if (std::optional<FrameOutcome> o = worker.TakeNewest();
                o && o->generation >= generation)
                return std::move(*o);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    sim::SimUsbDriver driver; // outlives the device
    RadarDevice radar{driver};
    Pipeline pipeline;
    DeviceFrames frames{radar};
    AcquisitionWorker worker{frames, pipeline};
    sim::EmulatedBoard* board_ = nullptr;
};

} // namespace

TEST_F(WorkerOnBoard, FramesFollowTheSettingsTheyAreHanded) {
    plug(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(),
                                              std::make_shared<sim::VirtualClock>()));
    Settings range; // FMCW range scope, 128 samples per sweep
    worker.Start(range, 1);
    const FrameOutcome first = next(1);
    EXPECT_TRUE(first.processed);
    EXPECT_EQ(first.result.chain, Chain::FmcwRange);

    Settings map = range;
    map.displayMode = kRangeVelocityMap;
    map.sweepCount = 16;
    map.sampleWindowCode = 1;
    worker.Update(map, 2, true);
    const FrameOutcome second = next(2);
    EXPECT_EQ(second.result.chain, Chain::FmcwRangeVelocity);
    worker.Stop();

    const CaptureHealth health = worker.Health();
    EXPECT_GE(health.frames, 2u);
    EXPECT_GE(health.sweepsReceived, 17u);
    EXPECT_EQ(health.sweepsLost, 0u);
    EXPECT_EQ(health.resyncs, 0u);
}

TEST_F(WorkerOnBoard, StopCancelsAReadThatWouldWaitForSeconds) {
    // Real time: a map of 1024 sweeps of 10 ms from a board that sends nothing would wait 21 s.
    plug(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(),
                                              std::make_shared<sim::WallClock>()));
    board_->faults.noData = true;
    Settings map;
    map.displayMode = kRangeVelocityMap;
    map.sweepTimeCode = 3;
    map.sweepCount = 1024;
    worker.Start(map, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto before = std::chrono::steady_clock::now();
    worker.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    EXPECT_FALSE(worker.TakeNewest().has_value()); // least of all a failed read
}

TEST_F(WorkerOnBoard, LostSamplesAndShortReadsShowInTheHealth) {
    auto source = std::make_shared<CounterSource>();
    plug(std::make_shared<sim::EmulatedBoard>(source, std::make_shared<sim::VirtualClock>()));
    // A flag in the middle of every 40th sweep: the sweeps after it in its frame are suspect.
    source->tweak = [](std::uint64_t m, std::uint16_t& q, std::uint16_t&) {
        if (m % (40 * 128) == 64)
            q |= 0x8000;
    };
    Settings map;
    map.displayMode = kRangeVelocityMap;
    map.sweepCount = 64;
    worker.Start(map, 1);
    next(1);
    next(1);
    worker.Stop();
    CaptureHealth health = worker.Health();
    EXPECT_GT(health.resyncs, 0u);
    EXPECT_GT(health.sweepsLost, 0u);
    EXPECT_LT(health.sweepsLost, health.frames * 64);

    // A read that ends early ends the worker's streaming with a failed outcome.
    source->tweak = nullptr;
    board_->faults.shortRead = 4096 + 1000;
    worker.Start(map, 2);
    const FrameOutcome failed = next(2);
    EXPECT_TRUE(failed.readFailed);
    EXPECT_FALSE(failed.processed);
    worker.Stop();
    health = worker.Health();
    EXPECT_EQ(health.frames, 1u);
    EXPECT_GT(health.sweepsLost, 50u);
}
