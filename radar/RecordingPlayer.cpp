#include "radar/RecordingPlayer.h"

#include "radar/RecordingSettings.h"

#include <algorithm>
#include <cmath>

namespace tavrix::radar {

namespace {

// How long a wait lasts before the stop flag is looked at again.
constexpr auto kStopPoll = std::chrono::milliseconds(20);
// A frame this late is not caught up with: playing goes on at its rate from now.
constexpr auto kGiveUpCatchingUp = std::chrono::milliseconds(250);

} // namespace

std::unique_ptr<RecordingPlayer>
RecordingPlayer::Open(const std::string& path, std::string& error,
                      const record::RecordingCursor::Progress& progress) {
    std::unique_ptr<record::RecordingCursor> cursor =
        record::RecordingCursor::open(path, error, progress);
    if (!cursor)
        return nullptr;
    if (!cursor->header()) {
        error = path + ": the recording has no header, so the parameters it was made with are "
                       "unknown (recordings made in FMCW triangle mode have none)";
        return nullptr;
    }
    std::string why;
    const std::optional<Settings> made = SettingsOfRecording(*cursor->header(), &why);
    if (!made) {
        error = path + ": " + why;
        return nullptr;
    }
    const std::uint64_t perSweep = made->samplesPerSweep();
    if (cursor->sampleCount() < perSweep) {
        error = path + ": holds " + std::to_string(cursor->sampleCount()) +
                " samples, less than one sweep of " + std::to_string(perSweep);
        return nullptr;
    }
    return std::make_unique<RecordingPlayer>(std::move(cursor), *made);
}

RecordingPlayer::RecordingPlayer(std::unique_ptr<record::RecordingCursor> c, const Settings& made)
    : cursor(std::move(c)), recorded(made),
      perSweep(std::max<std::uint64_t>(1, made.samplesPerSweep())),
      samples(cursor->sampleCount() / perSweep * perSweep), rate(made.sampleRate()) {}

std::uint64_t RecordingPlayer::sweepStart(std::uint64_t sample) const {
    return sample / perSweep * perSweep;
}

std::uint64_t RecordingPlayer::SampleAt(double seconds) const {
    if (!(seconds > 0) || samples == 0)
        return 0;
    // Nearest, so that a time shown for a sample gives that sample back.
    const double at = std::round(seconds * rate);
    const std::uint64_t last = samples - perSweep;
    return at >= static_cast<double>(last) ? last : sweepStart(static_cast<std::uint64_t>(at));
}

std::uint64_t RecordingPlayer::Position() const {
    const std::lock_guard<std::mutex> guard(lock);
    return position;
}

bool RecordingPlayer::Paused() const {
    const std::lock_guard<std::mutex> guard(lock);
    return paused;
}

bool RecordingPlayer::AtEnd() const {
    const std::lock_guard<std::mutex> guard(lock);
    return atEnd;
}

void RecordingPlayer::restartPacing() {
    anchored = false;
}

void RecordingPlayer::SetPaused(bool on) {
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (!on && atEnd) {
            position = loop && region ? region->first : 0;
            jumpPending = true;
            atEnd = false;
        }
        paused = on;
        steps = 0;
        restartPacing();
    }
    changed.notify_all();
}

void RecordingPlayer::Step() {
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (!paused || atEnd)
            return;
        ++steps;
    }
    changed.notify_all();
}

bool RecordingPlayer::Seek(std::uint64_t sample, std::string* why) {
    if (sample >= samples) {
        if (why)
            *why = "sample " + std::to_string(sample) + " is past the end of the recording (" +
                   std::to_string(samples) + " samples)";
        return false;
    }
    {
        const std::lock_guard<std::mutex> guard(lock);
        position = sweepStart(sample);
        ++seeks;
        jumpPending = true;
        seekPending = true;
        atEnd = false;
        steps = paused ? 1 : 0;
        restartPacing();
    }
    changed.notify_all();
    return true;
}

std::uint64_t RecordingPlayer::Seeks() const {
    const std::lock_guard<std::mutex> guard(lock);
    return seeks;
}

double RecordingPlayer::Speed() const {
    const std::lock_guard<std::mutex> guard(lock);
    return speed;
}

void RecordingPlayer::SetSpeed(double s) {
    {
        const std::lock_guard<std::mutex> guard(lock);
        speed = std::isfinite(s) ? std::clamp(s, kMinSpeed, kMaxSpeed) : 1.0;
        restartPacing();
    }
    changed.notify_all();
}

bool RecordingPlayer::Loop() const {
    const std::lock_guard<std::mutex> guard(lock);
    return loop;
}

void RecordingPlayer::SetLoop(bool on) {
    {
        const std::lock_guard<std::mutex> guard(lock);
        loop = on;
    }
    changed.notify_all();
}

bool RecordingPlayer::SetLoopRegion(std::optional<Region> r, std::string* why) {
    if (r) {
        if (r->end <= r->first || r->first >= samples) {
            if (why)
                *why = r->end == r->first ? "the loop region is empty"
                                          : "the loop region ends before it starts or lies "
                                            "past the end of the recording";
            return false;
        }
        r->first = sweepStart(r->first);
        r->end = std::min(r->end, samples);
    }
    {
        const std::lock_guard<std::mutex> guard(lock);
        region = r;
    }
    changed.notify_all();
    return true;
}

std::optional<RecordingPlayer::Region> RecordingPlayer::LoopRegion() const {
    const std::lock_guard<std::mutex> guard(lock);
    return region;
}

void RecordingPlayer::SetPaced(bool on) {
    const std::lock_guard<std::mutex> guard(lock);
    paced = on;
    restartPacing();
}

FrameRead RecordingPlayer::Read(const Settings&, const FrameRequest& request, SampleBlock& frame,
                                const std::atomic<bool>& stop) {
    FrameRead read;
    const auto count = static_cast<std::uint64_t>(std::max(request.count, 0));
    if (count > samples) {
        read.failure = Path() + " holds " + std::to_string(samples / perSweep) +
                       " sweeps, fewer than the " +
                       std::to_string((count + perSweep - 1) / perSweep) + " of one frame";
        return read;
    }
    std::uint64_t first = 0;
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            if (stop)
                return read;
            if (paused && steps == 0) {
                read.idle = true;
                return read;
            }
            std::uint64_t p = position;
            bool jumped = jumpPending;
            // Looping over a region, frames stay inside it; a seek is shown where it asked
            // (moved back to the last whole frame), then playing goes on from there.
            const std::uint64_t end = loop && region && !seekPending ? region->end : samples;
            if (seekPending && p + count > samples) {
                p = samples - count;
            } else if (p + count > end) {
                if (!loop) {
                    atEnd = true;
                    paused = true;
                    steps = 0;
                    read.idle = true;
                    return read;
                }
                const std::uint64_t start = region ? region->first : 0;
                if (p != start) {
                    p = start;
                    jumped = true;
                }
                // A region shorter than the frame: the frame runs past it, inside the file.
                if (p + count > samples)
                    p = samples - count;
            }
            const bool stepping = steps > 0;
            if (paced && !stepping) {
                const Clock::time_point now = Clock::now();
                const auto duration = [&](std::uint64_t n) {
                    return std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(n) / (rate * speed)));
                };
                if (!anchored || jumped) {
                    anchorTime = now;
                    anchorSample = p + count;
                    anchored = true;
                }
                const Clock::time_point due =
                    anchorTime + duration(p + count) - duration(anchorSample);
                if (now < due) {
                    changed.wait_until(guard, std::min(due, now + kStopPoll));
                    continue;
                }
                if (now - due > kGiveUpCatchingUp) {
                    anchorTime = now;
                    anchorSample = p + count;
                }
            }
            if (stepping)
                --steps;
            position = p + count;
            jumpPending = false;
            seekPending = false;
            first = p;
            read.jumped = jumped;
            read.seeks = seeks;
            break;
        }
    }
    if (!cursor->read(first, static_cast<std::size_t>(count), frame) || frame.size() != count) {
        read.failure = cursor->error();
        return read;
    }
    read.received = static_cast<std::int32_t>(count);
    read.check.sweeps = count / perSweep;
    read.recordingSeconds = Seconds(first);
    return read;
}

} // namespace tavrix::radar
