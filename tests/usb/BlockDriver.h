#pragma once

// A UsbDriver for transport tests that serves descriptors from byte blocks and completes every
// request at once. It is parsing input, not a device: data transfers only record what was
// asked and move no data.

#include "usb/UsbDriver.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Descriptor byte blocks.
Bytes deviceDescriptor(std::uint16_t vendor, std::uint16_t product, std::uint8_t configs,
                       std::uint8_t manufacturer = 1, std::uint8_t product_ = 2,
                       std::uint8_t serial = 0);
Bytes stringDescriptor(const std::u16string& text);
Bytes languageList(const std::vector<std::uint16_t>& ids);
Bytes interfaceDescriptor(std::uint8_t number, std::uint8_t alt, std::uint8_t endpoints,
                          std::uint8_t cls = 0xFF);
Bytes endpointDescriptor(std::uint8_t address, std::uint8_t attributes,
                         std::uint16_t packetSize = 512);
Bytes classDescriptor(std::uint8_t length = 5, std::uint8_t type = 0x24);
// A configuration: the 9-byte head (total length filled in) followed by `body`.
Bytes configDescriptor(const Bytes& body, std::uint8_t interfaces, std::uint8_t value = 1);
Bytes concat(std::initializer_list<Bytes> parts);

// The controller as it enumerates without a program: one interface with four alternate
// settings, setting 1 holding bulk OUT 0x02 and bulk IN 0x86 among others.
Bytes controllerConfig();

class BlockDriver : public UsbDriver {
public:
    struct Device {
        std::string path = "/dev/bus/usb/001/002";
        // (wValue, wIndex) of a GET_DESCRIPTOR request → the bytes served; a request for more
        // bytes than the block holds gets a short reply.
        std::map<std::pair<std::uint16_t, std::uint16_t>, Bytes> descriptors;
        std::uint8_t altSetting = 0;
        std::uint32_t driverVersion = 0x01050500;
        std::uint32_t speed = kUsbSpeedHigh;
        bool refuseAltSetting = false;
        bool failClose = false;
    };

    // A device serving `config` as configuration 0 and the usual strings in US English.
    static Device standardDevice(const Bytes& config, std::uint16_t vendor = 0x04B4,
                                 std::uint16_t product = 0x8613);

    std::vector<Device> devices;
    // What the transport asked for.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> descriptorRequests;
    std::vector<std::uint8_t> selectedSettings;
    int resets = 0;
    int openHandles = 0;

    int countDevices() override;
    std::string devicePath(int index) override;
    UsbHandle open(const std::string& path) override;
    bool close(UsbHandle handle) override;
    std::optional<std::uint32_t> driverVersion(UsbHandle handle) override;
    std::optional<std::uint32_t> busInterfaceVersion(UsbHandle handle) override;
    std::optional<std::uint8_t> busAddress(UsbHandle handle) override;
    std::optional<std::uint32_t> speed(UsbHandle handle) override;
    std::optional<std::string> driverName(UsbHandle handle) override;
    std::optional<std::string> driverFriendlyName(UsbHandle handle) override;
    std::optional<std::uint8_t> currentAltSetting(UsbHandle handle) override;
    bool selectAltSetting(UsbHandle handle, std::uint8_t setting) override;
    bool resetPort(UsbHandle handle) override;
    UsbBegin beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                          std::uint32_t timeoutSeconds) override;
    UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t isoPacketSize) override;
    UsbWait waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) override;
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override;
    bool abortEndpoint(UsbHandle handle, std::uint8_t endpoint) override;

private:
    Device* device(UsbHandle handle);
    UsbBegin complete(UsbTransferResult result);

    std::map<UsbHandle, int> handles; // handle → device index
    UsbHandle nextHandle = 1;
    std::map<UsbTransferId, UsbTransferResult> results;
    UsbTransferId nextId = 1;
};
