#include "tests/device/ScriptDriver.h"

#include <algorithm>
#include <cstring>

void ScriptDriver::addBoard(std::uint16_t vendor, std::uint16_t product) {
    BlockDriver::Device d = BlockDriver::standardDevice(controllerConfig(), vendor, product);
    d.path = "/dev/bus/usb/001/" + std::to_string(10 + devices.size());
    devices.push_back(d);
}

UsbBegin ScriptDriver::complete(std::uint32_t bytes, std::uint32_t status) {
    scripted[nextId] = {{true, bytes, status, 0}, false};
    return {status == kUsbStatusOk ? UsbBeginState::Completed : UsbBeginState::Failed, nextId++};
}

UsbBegin ScriptDriver::beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                                    std::uint32_t timeoutSeconds) {
    if (setup.request != 0xA0 || (setup.requestType & 0x7F) != 0x40)
        return BlockDriver::beginControl(handle, setup, data, timeoutSeconds);
    if (!currentAltSetting(handle))
        return {};
    const bool in = setup.requestType & 0x80;
    VendorRequest r{in, setup.value, Bytes(data, data + setup.length)};
    const bool stall = static_cast<int>(vendorRequests.size()) == stallVendorRequest;
    if (!stall && setup.value == 0xE600 && setup.length == 1) {
        if (in)
            r.data[0] = data[0] = cpucs;
        else
            cpucs = data[0];
    }
    vendorRequests.push_back(r);
    return complete(stall ? 0 : setup.length, stall ? kUsbStatusStall : kUsbStatusOk);
}

UsbBegin ScriptDriver::beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                                     std::uint32_t length, std::uint32_t) {
    if (!currentAltSetting(handle))
        return {};
    if (endpoint == 0x02) {
        commandBlocks.emplace_back(data, data + length);
        return complete(std::min(length, outLimit), kUsbStatusOk);
    }
    if (endpoint != 0x86)
        return complete(0, kUsbStatusStall);
    streamRequests.push_back(length);
    if (streamFault == Fault::Stall)
        return complete(0, kUsbStatusStall);
    if (streamFault == Fault::Hang) {
        scripted[nextId] = {{true, 0, kUsbStatusCancelled, 0}, true};
        return {UsbBeginState::Pending, nextId++};
    }
    const std::uint32_t n = std::min<std::uint32_t>(length, stream.size());
    std::memcpy(data, stream.data(), n);
    return complete(n, kUsbStatusOk);
}

UsbWait ScriptDriver::waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) {
    const auto it = scripted.find(id);
    if (it == scripted.end())
        return BlockDriver::waitTransfer(id, timeoutMs);
    streamWaits.push_back(timeoutMs);
    return it->second.hanging ? UsbWait::TimedOut : UsbWait::Completed;
}

UsbTransferResult ScriptDriver::finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) {
    const auto it = scripted.find(id);
    if (it == scripted.end())
        return BlockDriver::finishTransfer(id, isoPackets);
    if (it->second.hanging)
        return {};
    const UsbTransferResult result = it->second.result;
    scripted.erase(it);
    return result;
}

bool ScriptDriver::abortEndpoint(UsbHandle handle, std::uint8_t endpoint) {
    if (endpoint == 0x86)
        ++streamAborts;
    for (auto& [id, s] : scripted)
        s.hanging = false;
    return BlockDriver::abortEndpoint(handle, endpoint);
}
