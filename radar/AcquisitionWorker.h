#pragma once

// Acquisition off the window's thread. While it runs, the worker owns the radar device and
// the pipeline: it writes the command block of the newest settings, reads a frame, runs the
// pipeline and keeps the newest outcome, then starts the next read at once. The window only
// hands it settings and takes the newest outcome when it draws; values cross, nothing else.

#include "device/FrameStream.h"
#include "radar/Pipeline.h"
#include "radar/Settings.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

class RadarDevice;

namespace tavrix::radar {

// How healthy the capture has been since Start(): a lossy one shows lost sweeps and re-syncs.
struct CaptureHealth {
    std::uint64_t frames = 0;
    std::uint64_t sweepsReceived = 0;
    // Sweeps after a frame flag inside a sweep (samples lost in the board or on the bus, or
    // the pairs slipped), and the sweeps a short read did not deliver.
    std::uint64_t sweepsLost = 0;
    // Frames whose alignment broke inside them; the next frame aligns afresh.
    std::uint64_t resyncs = 0;
};

struct FrameOutcome {
    std::uint64_t generation = 0; // of the settings it was read with
    Settings settings;
    FrameRequest request;
    Result result;
    bool processed = false;  // the pipeline made a result of it
    bool readFailed = false; // the read came back short: the worker has stopped
    double seconds = 0.0;    // read and processing
};

class AcquisitionWorker {
public:
    // `device` and `pipeline` must outlive the worker; between Start() and Stop() they are
    // the worker's alone.
    AcquisitionWorker(RadarDevice& device, Pipeline& pipeline);
    ~AcquisitionWorker();
    AcquisitionWorker(const AcquisitionWorker&) = delete;
    AcquisitionWorker& operator=(const AcquisitionWorker&) = delete;

    void Start(const Settings& settings, std::uint64_t generation);
    // Takes effect with the next frame read; `resetClutter` starts the clutter history afresh.
    void Update(const Settings& settings, std::uint64_t generation, bool resetClutter);
    // The newest outcome not taken yet; older ones were superseded and are gone.
    std::optional<FrameOutcome> TakeNewest();
    // Cancels the read in flight and waits for the thread to end.
    void Stop();
    bool Running() const { return thread.joinable(); }
    CaptureHealth Health() const;

private:
    void run();

    RadarDevice& device;
    Pipeline& pipeline;
    std::thread thread;
    std::atomic<bool> stopping{false};

    mutable std::mutex lock;
    std::condition_variable changed;
    Settings settings;
    std::uint64_t generation = 0;
    bool resetClutter = false;
    std::optional<FrameOutcome> newest;
    CaptureHealth health;
};

} // namespace tavrix::radar
