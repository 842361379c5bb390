#include "tests/usb/BlockDriver.h"

#include <algorithm>

namespace {

std::uint8_t lo(unsigned v) {
    return static_cast<std::uint8_t>(v);
}
std::uint8_t hi(unsigned v) {
    return static_cast<std::uint8_t>(v >> 8);
}

} // namespace

Bytes deviceDescriptor(std::uint16_t vendor, std::uint16_t product, std::uint8_t configs) {
    return {18,         1,           0x00,        0x02, 0xFF, 0xFF, 0xFF, 64, lo(vendor),
            hi(vendor), lo(product), hi(product), 0x01, 0xA0, 1,    2,    0,  configs};
}

Bytes stringDescriptor(const std::u16string& units) {
    Bytes b{lo(2 + 2 * units.size()), 3};
    for (char16_t c : units)
        b.insert(b.end(), {lo(c), hi(c)});
    return b;
}

Bytes interfaceDescriptor(std::uint8_t number, std::uint8_t alt, std::uint8_t endpoints) {
    return {9, 4, number, alt, endpoints, 0xFF, 0xFF, 0xFF, 0};
}

Bytes endpointDescriptor(std::uint8_t address, std::uint8_t attributes, std::uint16_t packetSize) {
    return {7, 5, address, attributes, lo(packetSize), hi(packetSize), 0};
}

Bytes configDescriptor(const Bytes& body, std::uint8_t interfaces, std::uint8_t value) {
    const unsigned total = 9 + static_cast<unsigned>(body.size());
    return concat({{9, 2, lo(total), hi(total), interfaces, value, 0, 0x80, 50}, body});
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

BlockDriver::Device BlockDriver::standardDevice(const Bytes& config, std::uint16_t vendor,
                                                std::uint16_t product) {
    Device d;
    d.descriptors[{0x0100, 0}] = deviceDescriptor(vendor, product, 1);
    d.descriptors[{0x0300, 0}] = stringDescriptor(u"\u0409");
    d.descriptors[{0x0301, 0x0409}] = stringDescriptor(u"Tavrix Labs");
    d.descriptors[{0x0302, 0x0409}] = stringDescriptor(u"Radar front-end");
    d.descriptors[{0x0200, 0}] = config;
    return d;
}

BlockDriver::Device* BlockDriver::device(UsbHandle handle) {
    auto it = handles.find(handle);
    return it == handles.end() || it->second >= devices.size() ? nullptr : &devices[it->second];
}

std::string BlockDriver::devicePath(int index) {
    return index >= 0 && index < countDevices() ? devices[index].path : std::string();
}

UsbHandle BlockDriver::open(const std::string& path) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].path == path) {
            handles[nextHandle] = i;
            ++openHandles;
            return nextHandle++;
        }
    }
    return kInvalidUsbHandle;
}

bool BlockDriver::close(UsbHandle handle) {
    Device* d = device(handle);
    if (!d)
        return false;
    const bool ok = !d->failClose;
    handles.erase(handle);
    --openHandles;
    return ok;
}

std::optional<std::uint32_t> BlockDriver::driverVersion(UsbHandle handle) {
    if (Device* d = device(handle))
        return d->driverVersion;
    return std::nullopt;
}

std::optional<std::uint8_t> BlockDriver::currentAltSetting(UsbHandle handle) {
    if (Device* d = device(handle))
        return d->altSetting;
    return std::nullopt;
}

bool BlockDriver::selectAltSetting(UsbHandle handle, std::uint8_t setting) {
    Device* d = device(handle);
    if (d)
        d->altSetting = setting;
    return d;
}

bool BlockDriver::resetPort(UsbHandle handle) {
    return selectAltSetting(handle, 0);
}

UsbBegin BlockDriver::beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                                   std::uint32_t) {
    Device* d = device(handle);
    if (!d || setup.requestType != 0x80 || setup.request != 6)
        return {};
    UsbTransferResult result{true, 0, kUsbStatusStall, 0};
    auto it = d->descriptors.find({setup.value, setup.index});
    if (it != d->descriptors.end()) {
        result.bytes =
            static_cast<std::uint32_t>(std::min<std::size_t>(setup.length, it->second.size()));
        result.usbStatus = kUsbStatusOk;
        std::copy_n(it->second.begin(), result.bytes, data);
    }
    results[nextId] = result;
    return {result.usbStatus == kUsbStatusOk ? UsbBeginState::Completed : UsbBeginState::Failed,
            nextId++};
}

UsbTransferResult BlockDriver::finishTransfer(UsbTransferId id, UsbIsoPacket*) {
    auto it = results.find(id);
    if (it == results.end())
        return {};
    const UsbTransferResult r = it->second;
    results.erase(it);
    return r;
}
