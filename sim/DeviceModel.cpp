#include "sim/DeviceModel.h"

namespace sim {

namespace {

constexpr std::array<double, 4> kNarrow{1e8, 1.5e8, 3e8, 4e8};
constexpr std::array<double, 4> kWide{5e8, 7.5e8, 1.5e9, 2e9};
constexpr std::array<double, 2> kFast{0.5e-3, 1e-3};
constexpr std::array<double, 2> kSlow{1e-3, 2e-3};

const std::array<DeviceModel, kDeviceModelCount> kModels{{
    {"Alder", 2.45e9, kNarrow, kFast, false},
    {"Birch", 5.8e9, kNarrow, kFast, false},
    {"Cedar", 6.2e9, kNarrow, kFast, false},
    {"Dogwood", 9.8e9, kNarrow, kFast, false},
    {"Elm", 2.5e10, kWide, kFast, false},
    {"Fir", 5.8e9, kNarrow, kSlow, false},
    {"Ginkgo", 9.8e9, kNarrow, kSlow, false},
    {"Hazel", 2.4e10, kWide, kSlow, true},
}};

} // namespace

const DeviceModel& deviceModel(int index) {
    if (index < 0 || index >= kDeviceModelCount)
        index = 0;
    return kModels[static_cast<std::size_t>(index)];
}

std::optional<int> deviceModelIndex(const std::string& name) {
    for (int i = 0; i < kDeviceModelCount; ++i)
        if (name == kModels[static_cast<std::size_t>(i)].name)
            return i;
    return std::nullopt;
}

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
    const int sweepCode = (word >> 6) & 3;
    static constexpr double kLongSweeps[2] = {4e-3, 10e-3};
    a.sweepTimeS = sweepCode < 2 ? model.shortSweepS[static_cast<std::size_t>(sweepCode)]
                                 : kLongSweeps[sweepCode - 2];
    return a;
}

} // namespace sim
