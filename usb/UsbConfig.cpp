#include "usb/UsbConfig.h"

namespace {

constexpr std::uint8_t kConfigType = 2;
constexpr std::uint8_t kInterfaceType = 4;
constexpr std::uint8_t kEndpointType = 5;
constexpr std::size_t kConfigHeadLength = 9;
constexpr std::size_t kInterfaceLength = 9;
constexpr std::size_t kEndpointLength = 7;
// Unknown descriptors between the endpoints of one alternate setting that are passed over;
// from the next one on the remaining slots stay empty.
constexpr int kSkippableDescriptors = 11;

// Length of the descriptor at `offset`, or 0 when it is malformed (shorter than its own
// length and type bytes, or running past `size`).
std::size_t descriptorLengthAt(const std::uint8_t* bytes, std::size_t size, std::size_t offset) {
    if (offset + 2 > size)
        return 0;
    const std::size_t length = bytes[offset];
    if (length < 2 || offset + length > size)
        return 0;
    return length;
}

} // namespace

std::unique_ptr<UsbInterface> UsbInterface::parse(const std::uint8_t* bytes, std::size_t size,
                                                  UsbDriver* driver, UsbHandle handle) {
    const std::size_t headLength = descriptorLengthAt(bytes, size, 0);
    if (headLength < kInterfaceLength)
        return nullptr;
    auto intf = std::make_unique<UsbInterface>();
    intf->descriptorLength = bytes[0];
    intf->descriptorType = bytes[1];
    intf->interfaceNumber = bytes[2];
    intf->altSetting = bytes[3];
    intf->endpointCount = bytes[4];
    intf->interfaceClass = bytes[5];
    intf->subClass = bytes[6];
    intf->protocol = bytes[7];
    intf->stringIndex = bytes[8];

    std::size_t offset = headLength;
    int skipped = 0;
    const int slotsToFill = intf->usedSlots();
    for (int slot = 1; slot <= slotsToFill && skipped < kSkippableDescriptors + 1; ++slot) {
        // Class-specific and other descriptors before an endpoint do not use up its slot.
        while (true) {
            const std::size_t length = descriptorLengthAt(bytes, size, offset);
            if (length == 0)
                return nullptr; // truncated: declared endpoints missing, or a bad length
            if (bytes[offset + 1] == kEndpointType) {
                if (length < kEndpointLength)
                    return nullptr;
                intf->endpointSlots[slot] =
                    makeEndPoint(driver, handle, UsbEndpointDescriptor::fromBytes(bytes + offset));
                offset += length;
                break;
            }
            if (++skipped > kSkippableDescriptors)
                break; // this slot and all after it stay empty; the walk ends here
            offset += length;
        }
    }
    intf->totalLength = static_cast<std::uint16_t>(offset);
    return intf;
}

UsbEndPoint* UsbInterface::endpoint(int slot) const {
    if (slot < 1 || slot >= kSlots)
        return nullptr;
    return endpointSlots[slot].get();
}

int UsbInterface::usedSlots() const {
    return endpointCount < kSlots - 1 ? endpointCount : kSlots - 1;
}

std::unique_ptr<UsbConfig> UsbConfig::parse(const std::uint8_t* raw, std::size_t size,
                                            UsbDriver* driver, UsbHandle handle) {
    if (!raw || size < kConfigHeadLength)
        return nullptr;
    auto config = std::make_unique<UsbConfig>();
    config->descriptorLength = raw[0];
    config->descriptorType = raw[1];
    config->totalLength = static_cast<std::uint16_t>(raw[2] | (raw[3] << 8));
    config->interfaceCount = raw[4];
    config->configValue = raw[5];
    config->stringIndex = raw[6];
    config->attributes = raw[7];
    config->maxPower = raw[8];
    const std::size_t total = config->totalLength;
    if (config->descriptorType != kConfigType || config->descriptorLength < kConfigHeadLength ||
        total > size || config->descriptorLength > total)
        return nullptr;

    std::size_t offset = config->descriptorLength;
    int built = 0;
    while (offset < total && built < kMaxInterfaces) {
        const std::size_t length = descriptorLengthAt(raw, total, offset);
        if (length == 0)
            return nullptr;
        if (raw[offset + 1] != kInterfaceType) {
            offset += length;
            continue;
        }
        auto intf = UsbInterface::parse(raw + offset, total - offset, driver, handle);
        if (!intf)
            return nullptr;
        offset += intf->totalLength;
        config->interfaces[built++] = std::move(intf);
    }
    config->builtInterfaces = static_cast<std::uint8_t>(built);

    for (int i = 0; i < built; ++i) {
        int sharing = 0;
        for (int j = 0; j < built; ++j)
            sharing +=
                config->interfaces[j]->interfaceNumber == config->interfaces[i]->interfaceNumber;
        config->interfaces[i]->altSettingCount = static_cast<std::uint8_t>(sharing);
    }
    return config;
}

UsbInterface* UsbConfig::interface(int index) const {
    if (index < 0 || index >= builtInterfaces)
        return nullptr;
    return interfaces[index].get();
}
