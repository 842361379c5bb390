#pragma once

// A UsbDriver that serves descriptors from byte blocks and completes every request at once:
// parsing input for the transport, not a device. Data transfers are refused.

#include "usb/UsbDriver.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Manufacturer string 1, product string 2, no serial number.
Bytes deviceDescriptor(std::uint16_t vendor, std::uint16_t product, std::uint8_t configs);
// A string descriptor; string 0, the language list, holds language ids as its units.
Bytes stringDescriptor(const std::u16string& units);
Bytes interfaceDescriptor(std::uint8_t number, std::uint8_t alt, std::uint8_t endpoints);
Bytes endpointDescriptor(std::uint8_t address, std::uint8_t attributes,
                         std::uint16_t packetSize = 512);
// The 9-byte head, total length filled in, followed by `body`.
Bytes configDescriptor(const Bytes& body, std::uint8_t interfaces, std::uint8_t value = 1);
Bytes concat(std::initializer_list<Bytes> parts);

class BlockDriver : public UsbDriver {
public:
    struct Device {
        std::string path = "/dev/bus/usb/001/002";
        // (wValue, wIndex) of a GET_DESCRIPTOR request -> the bytes served; a request for more
        // than the block holds gets a short reply, one for a missing block a stall.
        std::map<std::pair<std::uint16_t, std::uint16_t>, Bytes> descriptors;
        std::uint8_t altSetting = 0;
        std::uint32_t driverVersion = 0x01050500;
        bool failClose = false;
    };

    // Serves `config` as configuration 0 and two strings in US English.
    static Device standardDevice(const Bytes& config, std::uint16_t vendor = 0x04B4,
                                 std::uint16_t product = 0x8613);

    std::vector<Device> devices;
    int openHandles = 0;

    int countDevices() override { return static_cast<int>(devices.size()); }
    std::string devicePath(int index) override;
    UsbHandle open(const std::string& path) override;
    bool close(UsbHandle handle) override;
    std::optional<std::uint32_t> driverVersion(UsbHandle handle) override;
    std::optional<std::uint32_t> busInterfaceVersion(UsbHandle) override { return {}; }
    std::optional<std::uint8_t> busAddress(UsbHandle) override { return {}; }
    std::optional<std::uint32_t> speed(UsbHandle) override { return {}; }
    std::optional<std::string> driverName(UsbHandle) override { return {}; }
    std::optional<std::string> driverFriendlyName(UsbHandle) override { return {}; }
    std::optional<std::uint8_t> currentAltSetting(UsbHandle handle) override;
    bool selectAltSetting(UsbHandle handle, std::uint8_t setting) override;
    bool resetPort(UsbHandle handle) override;
    UsbBegin beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                          std::uint32_t timeoutSeconds) override;
    UsbBegin beginTransfer(UsbHandle, std::uint8_t, std::uint8_t*, std::uint32_t,
                           std::uint32_t) override {
        return {};
    }
    UsbWait waitTransfer(UsbTransferId id, std::uint32_t) override {
        return results.count(id) ? UsbWait::Completed : UsbWait::Failed;
    }
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override;
    bool abortEndpoint(UsbHandle handle, std::uint8_t) override { return device(handle); }

private:
    Device* device(UsbHandle handle);

    std::map<UsbHandle, std::size_t> handles; // handle -> index in devices
    UsbHandle nextHandle = 1;
    std::map<UsbTransferId, UsbTransferResult> results;
    UsbTransferId nextId = 1;
};
