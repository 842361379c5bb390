#include "radar/AcquisitionWorker.h"

#include <chrono>

namespace tavrix::radar {

namespace {
// How soon a paused source is asked again: a step or seek shows within this.
constexpr auto kIdlePoll = std::chrono::milliseconds(10);
} // namespace

AcquisitionWorker::AcquisitionWorker(FrameSource& source, Pipeline& pipeline)
    : source(source), pipeline(pipeline) {}

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
        outcome.request = *request;

        const auto start = Clock::now();
        const FrameRead read = source.Read(outcome.settings, *request, frame, stopping);
        if (stopping)
            break;
        if (read.idle) {
            // A paused recording: look again soon, or at once when stopped. A reset asked for
            // waits for the next frame.
            std::unique_lock<std::mutex> guard(lock);
            resetClutter = resetClutter || reset;
            changed.wait_for(guard, kIdlePoll, [&] { return stopping.load(); });
            continue;
        }
        const FrameCheck& check = read.check;
        const std::int32_t received = read.received;
        outcome.readFailed = received != request->count;
        outcome.failure = read.failure;
        outcome.recordingSeconds = read.recordingSeconds;
        outcome.jumped = read.jumped;
        outcome.seeks = read.seeks;
        outcome.takenAt =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        // After a jump in a recording nothing from before it may shape the frames.
        if (reset || read.jumped)
            pipeline.ResetClutter();
        if (!outcome.readFailed)
            outcome.processed =
                pipeline.Process(outcome.settings, read.packed, frame, outcome.result);
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
        // A jump in a frame the window never took still parts what it draws next from before.
        if (newest && newest->jumped)
            outcome.jumped = true;
        newest = std::move(outcome);
        if (failed)
            break; // the window ends streaming when it takes this outcome
    }
}

} // namespace tavrix::radar
