#pragma once

// Configurations and alternate settings parsed from a raw configuration descriptor.

#include "usb/UsbEndPoint.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

// One interface descriptor, that is one alternate setting, with its endpoint objects.
class UsbInterface {
public:
    static constexpr int kSlots = 16; // slot 0 is endpoint 0, which the device owns

    // Parses the interface descriptor at `bytes` and the descriptors after it, up to `size`
    // bytes (the rest of the configuration). Null when they are malformed: a length below the
    // minimum, a descriptor running past `size`, or the end reached before the declared
    // endpoints were found.
    static std::unique_ptr<UsbInterface> parse(const std::uint8_t* bytes, std::size_t size,
                                               UsbDriver* driver, UsbHandle handle);

    // The endpoint in `slot` 1..15; null when empty or out of range.
    UsbEndPoint* endpoint(int slot) const;
    // Slots in use: the declared number of endpoints, at most 15.
    int usedSlots() const;

    std::uint8_t descriptorLength = 0;
    std::uint8_t descriptorType = 0;
    std::uint8_t interfaceNumber = 0;
    std::uint8_t altSetting = 0;
    std::uint8_t endpointCount = 0; // as declared by the descriptor
    std::uint8_t interfaceClass = 0;
    std::uint8_t subClass = 0;
    std::uint8_t protocol = 0;
    std::uint8_t stringIndex = 0;
    std::uint8_t altSettingCount = 0; // interface descriptors with this interface number
    std::uint16_t totalLength = 0;    // of its own descriptor and those walked after it

private:
    std::array<std::unique_ptr<UsbEndPoint>, kSlots> endpointSlots;
};

class UsbConfig {
public:
    static constexpr int kMaxInterfaces = 8;

    // Parses a whole configuration descriptor (its total length is the block size). Null when
    // it is malformed; never reads outside `raw`.
    static std::unique_ptr<UsbConfig> parse(const std::uint8_t* raw, std::size_t size,
                                            UsbDriver* driver, UsbHandle handle);

    UsbInterface* interface(int index) const;

    std::uint8_t descriptorLength = 0;
    std::uint8_t descriptorType = 0;
    std::uint16_t totalLength = 0;
    std::uint8_t interfaceCount = 0; // as declared by the descriptor
    std::uint8_t configValue = 0;
    std::uint8_t stringIndex = 0;
    std::uint8_t attributes = 0;
    std::uint8_t maxPower = 0;
    std::uint8_t builtInterfaces = 0; // UsbInterface objects built, at most 8

private:
    std::array<std::unique_ptr<UsbInterface>, kMaxInterfaces> interfaces;
};
