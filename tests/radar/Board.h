#pragma once

// The emulated board and the pipeline as the window drives them, for the radar tests.

#include "device/ControllerProgram.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "dsp/Peak.h"
#include "radar/Pipeline.h"
#include "sim/SimUsbDriver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace radar_test {

namespace radar = tavrix::radar;
using namespace tavrix::dsp;

// A target that does not turn during a test, its echo `amplitude` counts at `range`.
inline sim::SceneTarget target(double range, double velocity, double amplitude) {
    return {"target", range, velocity, amplitude * (range / 10) * (range / 10), 0.5, 2000.0};
}

// Finds the board and loads its controller program, as the window's activation does.
inline void bringUp(RadarDevice& device) {
    ASSERT_EQ(device.EnumerateDevices(), 1);
    ASSERT_TRUE(device.SetInterface());
    device.outEndpoint = device.FindEndpoint(kCommandEndpoint);
    device.inEndpoint = device.FindEndpoint(kSampleEndpoint);
    ASSERT_TRUE(LoadControllerProgram(device, ControllerProgramText()));
}

// A board of one device model showing `targets` (noise and I/Q offsets, but no leakage, which
// would be every profile's strongest echo), read frame by frame as the window's cycle reads.
// A seed other than 0 replaces the scene's noise seed.
class Board {
public:
    Board(int model, std::vector<sim::SceneTarget> targets, std::uint64_t seed = 0) {
        sim::Scene scene = sim::defaultScene();
        scene.deviceModel = model;
        if (seed)
            scene.seed = seed;
        scene.imperfections.leakage = 0;
        scene.targets = std::move(targets);
        driver.attach(std::make_shared<sim::EmulatedBoard>(scene, clock));
        settings.deviceModel = model;
        bringUp(device);
    }

    // As the window's sliders reset when the parameters change.
    void openWindows() { radar::OpenWindows(settings); }

    void run(int frames = 1) {
        for (int f = 0; f < frames; ++f) {
            const CommandBlockBytes block = CommandBlock(settings.operatingWord());
            ASSERT_EQ(device.WriteBlock(block.data(), static_cast<std::int32_t>(block.size())),
                      static_cast<std::int32_t>(block.size()));
            const std::optional<radar::FrameRequest> request = radar::Pipeline::Request(settings);
            ASSERT_TRUE(request);
            // As the acquisition worker reads: in pairs where the chain takes them.
            SampleBlock frame;
            PackedFrame packed;
            ASSERT_EQ(request->packed && readPacked
                          ? device.ReadPackedFrame(packed, request->count, request->timeoutMs,
                                                   request->samplesPerSweep)
                          : device.ReadFrame(frame, request->count, request->timeoutMs,
                                             request->samplesPerSweep),
                      request->count);
            ASSERT_TRUE(pipeline.Process(settings, packed, frame, result));
            frameSeconds = request->count / request->sampleRate;
        }
    }

    // Board time halfway through the last frame.
    double middle() const { return clock->now() - frameSeconds / 2; }
    std::size_t peak(std::size_t begin = 0, std::size_t end = SIZE_MAX) const {
        return FindPeak(result.values, begin, end);
    }
    // Map row and column of `t` mid-burst on Alder (128 samples of 0.5 ms, 100 MHz): its range
    // shifted by the Doppler frequency at the sweep's start, its velocity from -Vmax to +Vmax.
    std::pair<double, double> alderMapCell(const sim::SceneTarget& t) const {
        const double v = t.velocityAt(middle()), doppler = 2 * v * 2.4e9 / kSpeedOfLight;
        return {512 * t.rangeAt(middle()) / FmcwMaxRange(128, 100e6) +
                    doppler * 0.5e-3 / 128 * 1024,
                512 + 512 * v / FmcwMaxVelocity(2.45e9, 0.5)};
    }

    radar::Settings settings;
    radar::Pipeline pipeline;
    radar::Result result;
    bool readPacked = true; // false: every frame converted as the board delivers it

private:
    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::SimUsbDriver driver; // outlives the device
    RadarDevice device{driver};
    double frameSeconds = 0;
};

} // namespace radar_test
