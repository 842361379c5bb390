#include "radar/AcquisitionWorker.h"

#include "device/OperatingWord.h"
#include "device/RadarDevice.h"

#include <chrono>

namespace tavrix::radar {

AcquisitionWorker::AcquisitionWorker(RadarDevice& device, Pipeline& pipeline)
    : device(device), pipeline(pipeline) {}

AcquisitionWorker::~AcquisitionWorker() {
    Stop();
}

void AcquisitionWorker::Start(const Settings& s, std::uint64_t g) {
    Stop();
    {
        const std::lock_guard<std::mutex> guard(lock);
        settings = s;
        generation = g;
        newest.reset();
        health = CaptureHealth();
    }
    stopping = false;
    thread = std::thread(&AcquisitionWorker::run, this);
}

void AcquisitionWorker::Update(const Settings& s, std::uint64_t g, bool reset) {
    {
        const std::lock_guard<std::mutex> guard(lock);
        settings = s;
        generation = g;
        resetClutter = resetClutter || reset;
    }
    changed.notify_all();
}

std::optional<FrameOutcome> AcquisitionWorker::TakeNewest() {
    const std::lock_guard<std::mutex> guard(lock);
    std::optional<FrameOutcome> taken = std::move(newest);
    newest.reset();
    return taken;
}

void AcquisitionWorker::Stop() {
    if (!thread.joinable())
        return;
    {
        // Under the lock, so that a worker about to wait for new settings sees it.
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

CaptureHealth AcquisitionWorker::Health() const {
    const std::lock_guard<std::mutex> guard(lock);
    return health;
}

void AcquisitionWorker::run() {
    using Clock = std::chrono::steady_clock;
    // Kept across frames: a fresh block would be zero-filled (16 MB at the largest map) only
    // to be overwritten.
    SampleBlock frame;
    while (!stopping) {
        FrameOutcome outcome;
        bool reset = false;
        {
            std::unique_lock<std::mutex> guard(lock);
            outcome.settings = settings;
            outcome.generation = generation;
            reset = resetClutter;
            resetClutter = false;
        }
        const std::optional<FrameRequest> request = Pipeline::Request(outcome.settings);
        if (!request) {
            // Nothing to read in these modes: wait for others.
            std::unique_lock<std::mutex> guard(lock);
            const std::uint64_t seen = outcome.generation;
            changed.wait(guard, [&] { return stopping || generation != seen; });
            continue;
        }
        if (reset)
            pipeline.ResetClutter();
        outcome.request = *request;

        const auto start = Clock::now();
        const CommandBlockBytes block = CommandBlock(outcome.settings.operatingWord());
        device.WriteBlock(block.data(), static_cast<std::int32_t>(block.size()));
        FrameCheck check;
        const std::int32_t received = device.ReadFrame(frame, request->count, request->timeoutMs,
                                                       request->samplesPerSweep, &stopping, &check);
        if (stopping)
            break;
        outcome.readFailed = received != request->count;
        if (!outcome.readFailed)
            outcome.processed = pipeline.Process(outcome.settings, frame, outcome.result);
        outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();

        const std::lock_guard<std::mutex> guard(lock);
        ++health.frames;
        health.sweepsReceived += check.sweeps - check.sweepsAfterStray;
        health.sweepsLost += check.sweepsAfterStray;
        if (check.strayFlags > 0)
            ++health.resyncs;
        if (outcome.readFailed && request->samplesPerSweep > 0)
            health.sweepsLost +=
                static_cast<std::uint64_t>(request->count - std::max(received, 0)) /
                request->samplesPerSweep;
        const bool failed = outcome.readFailed;
        newest = std::move(outcome);
        if (failed)
            break; // the window ends streaming when it takes this outcome
    }
}

} // namespace tavrix::radar
