#include "sim/DeviceModel.h"

namespace sim {

std::optional<Acquisition> decodeOperatingWord(std::uint16_t word, int modelIndex) {
    if ((word >> 8) != 0xA0)
        return std::nullopt;
    const DeviceModel& model = deviceModel(modelIndex);
    Acquisition a;
    a.word = word;
    a.mode = static_cast<Mode>(word & 3);
    a.samplesPerSweep = 128 << ((word >> 2) & 3);
    const int bandwidthCode = (word >> 4) & 3;
    a.bandwidthHz = model.bandwidthHz[static_cast<std::size_t>((bandwidthCode + 3) % 4)];
    a.sweepTimeS = SweepTimeSeconds(model, (word >> 6) & 3);
    return a;
}

} // namespace sim
