#pragma once

// Acquisition off the window's thread. While it runs, the worker owns the frame source (a
// radar board or a recording) and the pipeline: it reads a frame of the newest settings, runs
// the pipeline and keeps the newest outcome, then starts the next read at once. The window only
// hands it settings and takes the newest outcome when it draws; values cross, nothing else.

#include "device/FrameStream.h"
#include "radar/FrameSource.h"
#include "radar/Pipeline.h"
#include "radar/Settings.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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
    std::string failure;     // why, when the source could say
    double seconds = 0.0;    // read and processing
    // When the read ended, seconds since 1970 (UTC); and, for a frame of a recording, where in
    // it the frame's first sample lies.
    double takenAt = 0.0;
    std::optional<double> recordingSeconds;
    bool jumped = false;     // the recording jumped before this frame: histories start afresh
    std::uint64_t seeks = 0; // the recording's seeks before it was read
};

class AcquisitionWorker {
public:
    // `source` and `pipeline` must outlive the worker; between Start() and Stop() they are
    // the worker's alone (a recording's controls and Pipeline::ReturnMapValues excepted).
    AcquisitionWorker(FrameSource& source, Pipeline& pipeline);
    FrameSource& Source() const { return source; }
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

    FrameSource& source;
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
