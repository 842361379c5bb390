#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "radar/FrameSource.h"

namespace tavrix::radar {

FrameRead DeviceFrames::Read(const Settings& settings, const FrameRequest& request,
                             SampleBlock& frame, const std::atomic<bool>& stop) {
    const CommandBlockBytes block = CommandBlock(settings.operatingWord());
    device.WriteBlock(block.data(), static_cast<std::int32_t>(block.size()));
    FrameRead read;
    read.received = request.packed
                        ? device.ReadPackedFrame(read.packed, request.count, request.timeoutMs,
                                                 request.samplesPerSweep, &stop, &read.check)
                        : device.ReadFrame(frame, request.count, request.timeoutMs,
                                           request.samplesPerSweep, &stop, &read.check);
    return read;
}

} // namespace tavrix::radar
