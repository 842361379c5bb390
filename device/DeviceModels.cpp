#include "device/DeviceModels.h"

namespace {

constexpr std::array<double, 4> kNarrow{1e8, 1.5e8, 3e8, 4e8};
constexpr std::array<double, 4> kWide{5e8, 7.5e8, 1.5e9, 2e9};
constexpr std::array<double, 2> kFast{0.5e-3, 1e-3};
constexpr std::array<double, 2> kSlow{1e-3, 2e-3};
constexpr std::array<double, 2> kLongSweepsS{4e-3, 10e-3};

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

double SweepTimeSeconds(const DeviceModel& model, int code) {
    if (code == 2 || code == 3)
        return kLongSweepsS[static_cast<std::size_t>(code - 2)];
    return model.shortSweepS[code == 1 ? 1 : 0];
}

double CentreFrequency(const DeviceModel& model, int mode, double bandwidthHz) {
    const bool sweeping = mode == 0 || mode == 1;
    return model.carrierHz + (sweeping && model.sweepStartsAtCarrier ? bandwidthHz / 2 : 0);
}
