#pragma once

// A UsbDriver that passes every request to another one, so a test can change the answer of
// one request (a board whose descriptors lack an endpoint, a command write that fails) and
// keep the rest of the emulated board as it is.

#include "usb/UsbDriver.h"

#include <functional>

class ForwardingDriver : public UsbDriver {
public:
    explicit ForwardingDriver(UsbDriver& inner) : inner(inner) {}

    // Called on the data of every completed device-to-host endpoint-0 request.
    std::function<void(const UsbSetup&, std::uint8_t* data)> patchControlReply;
    // Returning true refuses the endpoint-0 request at once.
    std::function<bool(const UsbSetup&)> refuseControl;
    // Returning true refuses the data transfer at once.
    std::function<bool(std::uint8_t endpoint)> refuseTransfer;

    int countDevices() override { return inner.countDevices(); }
    std::string devicePath(int index) override { return inner.devicePath(index); }
    UsbHandle open(const std::string& path) override { return inner.open(path); }
    bool lastOpenDenied() const override { return inner.lastOpenDenied(); }
    bool close(UsbHandle handle) override { return inner.close(handle); }
    std::optional<std::uint32_t> driverVersion(UsbHandle handle) override {
        return inner.driverVersion(handle);
    }
    std::optional<std::uint32_t> busInterfaceVersion(UsbHandle handle) override {
        return inner.busInterfaceVersion(handle);
    }
    std::optional<std::uint8_t> busAddress(UsbHandle handle) override {
        return inner.busAddress(handle);
    }
    std::optional<std::uint32_t> speed(UsbHandle handle) override { return inner.speed(handle); }
    std::optional<std::string> driverName(UsbHandle handle) override {
        return inner.driverName(handle);
    }
    std::optional<std::string> driverFriendlyName(UsbHandle handle) override {
        return inner.driverFriendlyName(handle);
    }
    std::optional<std::uint8_t> currentAltSetting(UsbHandle handle) override {
        return inner.currentAltSetting(handle);
    }
    bool selectAltSetting(UsbHandle handle, std::uint8_t setting) override {
        return inner.selectAltSetting(handle, setting);
    }
    bool resetPort(UsbHandle handle) override { return inner.resetPort(handle); }

    UsbBegin beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                          std::uint32_t timeoutSeconds) override {
        if (refuseControl && refuseControl(setup))
            return UsbBegin{};
        UsbBegin begin = inner.beginControl(handle, setup, data, timeoutSeconds);
        if (begin.state == UsbBeginState::Completed && (setup.requestType & 0x80) != 0 &&
            patchControlReply)
            patchControlReply(setup, data);
        return begin;
    }
    UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t isoPacketSize) override {
        if (refuseTransfer && refuseTransfer(endpoint))
            return UsbBegin{};
        return inner.beginTransfer(handle, endpoint, data, length, isoPacketSize);
    }
    UsbWait waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) override {
        return inner.waitTransfer(id, timeoutMs);
    }
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override {
        return inner.finishTransfer(id, isoPackets);
    }
    bool abortEndpoint(UsbHandle handle, std::uint8_t endpoint) override {
        return inner.abortEndpoint(handle, endpoint);
    }

private:
    UsbDriver& inner;
};
