#pragma once

// Where the acquisition worker's frames come from: a radar board (the command block, then a
// frame read) or a recording being played. Both deliver whole frames of a request; only a
// recording can jump, and then the chains must forget what came before.

#include "device/FrameStream.h"
#include "radar/Pipeline.h"
#include "radar/Settings.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

class RadarDevice;

namespace tavrix::radar {

struct FrameRead {
    std::int32_t received = 0; // samples delivered; fewer than asked is a failure
    FrameCheck check;          // what a board's frame flags said
    // A recording's frame: seconds into it where the frame's first sample lies, and whether it
    // follows a jump (a seek, or a loop back), after which no history may carry over.
    std::optional<double> recordingSeconds;
    bool jumped = false;
    std::uint64_t seeks = 0; // seeks asked for before the frame was read
    std::string failure;     // why a read came back short, when the source can say
    // Nothing to read now (a recording paused, or played to its end): not a failure; ask again.
    bool idle = false;
    // A board's frame still in its pairs, when the request asked for that (FrameRequest::packed);
    // `frame` is then left as it was. Sources that cannot deliver pairs fill `frame`.
    PackedFrame packed;
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Reads one frame of `request` under `settings` into `frame` (or FrameRead::packed), or
    // says it is idle. Gives up soon after `stop` is set (what it returns then is not used).
    virtual FrameRead Read(const Settings& settings, const FrameRequest& request,
                           SampleBlock& frame, const std::atomic<bool>& stop) = 0;
};

// A radar board: each frame writes the command block of the settings' operating word, then
// reads the frame.
class DeviceFrames final : public FrameSource {
public:
    // `device` must outlive this.
    explicit DeviceFrames(RadarDevice& device) : device(device) {}
    FrameRead Read(const Settings& settings, const FrameRequest& request, SampleBlock& frame,
                   const std::atomic<bool>& stop) override;

private:
    RadarDevice& device;
};

} // namespace tavrix::radar
