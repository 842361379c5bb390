#pragma once

// A recording played through the chains as if it streamed from its board, but navigable:
// paused, stepped a frame at a time, moved to any sweep, looped over a region, faster or
// slower than it was taken. Frames follow each other without gaps; each says where in the
// recording it starts, so what is shown is where the data came from. The controls may be used
// from any thread while the worker reads.

#include "radar/FrameSource.h"
#include "radar/Settings.h"
#include "record/RecordingCursor.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace tavrix::radar {

class RecordingPlayer final : public FrameSource {
public:
    static constexpr double kMinSpeed = 0.25;
    static constexpr double kMaxSpeed = 10;

    // Samples [first, end) of the recording.
    struct Region {
        std::uint64_t first = 0;
        std::uint64_t end = 0;
    };

    // Opens `path` for playing. Null, with `error` naming the file and the reason, when it
    // cannot be read, has no header (FMCW triangle), fits no board or holds less than a sweep.
    static std::unique_ptr<RecordingPlayer>
    Open(const std::string& path, std::string& error,
         const record::RecordingCursor::Progress& progress = {});
    // Plays `cursor`, whose header gives `recorded`.
    RecordingPlayer(std::unique_ptr<record::RecordingCursor> cursor, const Settings& recorded);

    const std::string& Path() const { return cursor->path(); }
    const record::RecordingHeader& Header() const { return *cursor->header(); }
    // The mode and board choices the recording was made with, otherwise default settings.
    const Settings& Recorded() const { return recorded; }
    // Whole sweeps: a trailing part of one is never played.
    std::uint64_t SampleCount() const { return samples; }
    double SampleRate() const { return rate; }
    double Seconds(std::uint64_t sample) const { return static_cast<double>(sample) / rate; }
    double DurationSeconds() const { return Seconds(samples); }
    // The sweep holding the sample at `seconds` into the recording, clamped to it.
    std::uint64_t SampleAt(double seconds) const;

    // Where the next frame starts.
    std::uint64_t Position() const;
    bool Paused() const;
    // Played once to its end: paused there, and playing starts it again.
    bool AtEnd() const;
    void SetPaused(bool paused);
    // While paused: lets one frame through.
    void Step();
    // The next frame starts at the sweep holding `sample` (or, within the last frame's length
    // of the end, the last whole frame), and follows a jump; while paused it is shown (one
    // step). False, with `why`, for a sample past the end.
    bool Seek(std::uint64_t sample, std::string* why = nullptr);
    // Seeks made so far: frames read before the last one say fewer.
    std::uint64_t Seeks() const;

    double Speed() const;
    // Clamped to kMinSpeed..kMaxSpeed.
    void SetSpeed(double speed);
    bool Loop() const;
    void SetLoop(bool loop);
    // While looping, frames stay inside the region: a frame that would run past its end starts
    // again at its first sweep (a region shorter than a frame gives that one frame again and
    // again); a seek outside it is shown, and playing then goes back into it. False, with
    // `why`, for a region that is empty, reversed or not inside the recording (the region
    // stays as it was).
    bool SetLoopRegion(std::optional<Region> region, std::string* why = nullptr);
    std::optional<Region> LoopRegion() const;
    // Off, frames come as fast as they are read (tests); on, at Speed() times their rate.
    void SetPaced(bool paced);

    FrameRead Read(const Settings& settings, const FrameRequest& request, SampleBlock& frame,
                   const std::atomic<bool>& stop) override;

private:
    using Clock = std::chrono::steady_clock;
    std::uint64_t sweepStart(std::uint64_t sample) const;
    // The next frame is due at once, and the ones after it at the playing rate from there.
    void restartPacing();

    std::unique_ptr<record::RecordingCursor> cursor; // read by Read() only
    Settings recorded;
    std::uint64_t perSweep = 1;
    std::uint64_t samples = 0;
    double rate = 1.0;

    mutable std::mutex lock;
    std::condition_variable changed;
    std::uint64_t position = 0;
    bool jumpPending = true; // the first frame starts the chains afresh too
    bool seekPending = false;
    std::uint64_t seeks = 0;
    bool paused = false;
    bool atEnd = false;
    int steps = 0;
    double speed = 1.0;
    bool loop = true;
    std::optional<Region> region;
    bool paced = true;
    bool anchored = false;
    Clock::time_point anchorTime;
    std::uint64_t anchorSample = 0; // the sample due at anchorTime
};

} // namespace tavrix::radar
