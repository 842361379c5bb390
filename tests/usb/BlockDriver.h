#pragma once

// A UsbDriver serving descriptors from byte blocks, every request completed at once: parsing
// input for the transport, not a device. Data transfers are refused unless a test scripts them.

#include "usb/UsbDriver.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline std::uint8_t lo(unsigned v) {
    return static_cast<std::uint8_t>(v);
}
inline std::uint8_t hi(unsigned v) {
    return static_cast<std::uint8_t>(v >> 8);
}
inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
inline Bytes interfaceDescriptor(std::uint8_t number, std::uint8_t alt, std::uint8_t endpoints) {
    return {9, 4, number, alt, endpoints, 0xFF, 0xFF, 0xFF, 0};
}
inline Bytes endpointDescriptor(std::uint8_t address, std::uint8_t attributes,
                                std::uint16_t packetSize = 512) {
    return {7, 5, address, attributes, lo(packetSize), hi(packetSize), 0};
}
// The 9-byte head, total length filled in, followed by `body`.
inline Bytes configDescriptor(const Bytes& body, std::uint8_t interfaces) {
    const unsigned total = 9 + static_cast<unsigned>(body.size());
    return concat({{9, 2, lo(total), hi(total), interfaces, 1, 0, 0x80, 50}, body});
}

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
        int handles = 0; // open; handle k + 1 is device k's while it has any
    };

    // Serves `config` as configuration 0, no strings.
    static Device standardDevice(const Bytes& config, std::uint16_t vendor = 0x04B4) {
        Device d;
        d.descriptors = {{{0x0100, 0},
                          {18, 1, 0, 2, 0xFF, 0xFF, 0xFF, 64, lo(vendor), hi(vendor), 0x13, 0x86, 1,
                           0xA0, 0, 0, 0, 1}},
                         {{0x0200, 0}, config}};
        return d;
    }

    std::vector<Device> devices;
    int openHandles = 0;

    int countDevices() override { return static_cast<int>(devices.size()); }
    std::string devicePath(int index) override {
        return index >= 0 && index < countDevices() ? devices[index].path : std::string();
    }
    UsbHandle open(const std::string& path) override {
        for (std::size_t i = 0; i < devices.size(); ++i)
            if (devices[i].path == path)
                return ++openHandles, ++devices[i].handles, static_cast<UsbHandle>(i + 1);
        return kInvalidUsbHandle;
    }
    bool close(UsbHandle h) override {
        Device* d = device(h);
        openHandles -= d != nullptr;
        return d && d->handles-- && !d->failClose;
    }
    std::optional<std::uint32_t> driverVersion(UsbHandle h) override {
        return device(h) ? std::optional(device(h)->driverVersion) : std::nullopt;
    }
    std::optional<std::uint32_t> busInterfaceVersion(UsbHandle) override { return {}; }
    std::optional<std::uint8_t> busAddress(UsbHandle) override { return {}; }
    std::optional<std::uint32_t> speed(UsbHandle) override { return {}; }
    std::optional<std::string> driverName(UsbHandle) override { return {}; }
    std::optional<std::string> driverFriendlyName(UsbHandle) override { return {}; }
    std::optional<std::uint8_t> currentAltSetting(UsbHandle h) override {
        return device(h) ? std::optional(device(h)->altSetting) : std::nullopt;
    }
    bool selectAltSetting(UsbHandle h, std::uint8_t setting) override {
        return device(h) && (device(h)->altSetting = setting, true);
    }
    bool resetPort(UsbHandle h) override { return selectAltSetting(h, 0); }
    UsbBegin beginControl(UsbHandle h, const UsbSetup& setup, std::uint8_t* data,
                          std::uint32_t) override {
        if (!device(h) || setup.requestType != 0x80 || setup.request != 6)
            return {};
        UsbTransferResult result{true, 0, kUsbStatusStall, 0};
        const auto it = device(h)->descriptors.find({setup.value, setup.index});
        if (it != device(h)->descriptors.end()) {
            result = {true, std::min<std::uint32_t>(setup.length, it->second.size()), 0, 0};
            std::copy_n(it->second.begin(), result.bytes, data);
        }
        results[nextId] = result;
        return {result.usbStatus ? UsbBeginState::Failed : UsbBeginState::Completed, nextId++};
    }
    UsbBegin beginTransfer(UsbHandle, std::uint8_t, std::uint8_t*, std::uint32_t,
                           std::uint32_t) override {
        return {};
    }
    UsbWait waitTransfer(UsbTransferId id, std::uint32_t) override {
        return results.count(id) ? UsbWait::Completed : UsbWait::Failed;
    }
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket*) override {
        const auto it = results.find(id);
        return it == results.end() ? UsbTransferResult{} : results.extract(it).mapped();
    }
    bool abortEndpoint(UsbHandle h, std::uint8_t) override { return device(h); }

private:
    Device* device(UsbHandle h) {
        return h >= 1 && h <= countDevices() && devices[h - 1].handles ? &devices[h - 1] : nullptr;
    }

    std::map<UsbTransferId, UsbTransferResult> results;
    UsbTransferId nextId = 1;
};
