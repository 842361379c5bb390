#include "tests/usb/BlockDriver.h"

#include <algorithm>

Bytes deviceDescriptor(std::uint16_t vendor, std::uint16_t product, std::uint8_t configs,
                       std::uint8_t manufacturer, std::uint8_t product_, std::uint8_t serial) {
    return {18,
            1,
            0x00,
            0x02,
            0xFF,
            0xFF,
            0xFF,
            64,
            static_cast<std::uint8_t>(vendor),
            static_cast<std::uint8_t>(vendor >> 8),
            static_cast<std::uint8_t>(product),
            static_cast<std::uint8_t>(product >> 8),
            0x01,
            0xA0,
            manufacturer,
            product_,
            serial,
            configs};
}

Bytes stringDescriptor(const std::u16string& text) {
    Bytes b{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char16_t c : text) {
        b.push_back(static_cast<std::uint8_t>(c));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return b;
}

Bytes languageList(const std::vector<std::uint16_t>& ids) {
    Bytes b{static_cast<std::uint8_t>(2 + 2 * ids.size()), 3};
    for (std::uint16_t id : ids) {
        b.push_back(static_cast<std::uint8_t>(id));
        b.push_back(static_cast<std::uint8_t>(id >> 8));
    }
    return b;
}

Bytes interfaceDescriptor(std::uint8_t number, std::uint8_t alt, std::uint8_t endpoints,
                          std::uint8_t cls) {
    return {9, 4, number, alt, endpoints, cls, 0xFF, 0xFF, 0};
}

Bytes endpointDescriptor(std::uint8_t address, std::uint8_t attributes, std::uint16_t packetSize) {
    return {7,
            5,
            address,
            attributes,
            static_cast<std::uint8_t>(packetSize),
            static_cast<std::uint8_t>(packetSize >> 8),
            0};
}

Bytes classDescriptor(std::uint8_t length, std::uint8_t type) {
    Bytes b(length, 0);
    b[0] = length;
    b[1] = type;
    return b;
}

Bytes configDescriptor(const Bytes& body, std::uint8_t interfaces, std::uint8_t value) {
    const std::size_t total = 9 + body.size();
    Bytes b{9,
            2,
            static_cast<std::uint8_t>(total),
            static_cast<std::uint8_t>(total >> 8),
            interfaces,
            value,
            0,
            0x80,
            50};
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes controllerConfig() {
    return configDescriptor(
        concat({interfaceDescriptor(0, 0, 0),    interfaceDescriptor(0, 1, 6),
                endpointDescriptor(0x01, 2),     endpointDescriptor(0x81, 2),
                endpointDescriptor(0x02, 2),     endpointDescriptor(0x04, 2),
                endpointDescriptor(0x86, 2),     endpointDescriptor(0x88, 2),
                interfaceDescriptor(0, 2, 6),    endpointDescriptor(0x01, 3, 64),
                endpointDescriptor(0x81, 3, 64), endpointDescriptor(0x02, 1),
                endpointDescriptor(0x04, 2),     endpointDescriptor(0x86, 1),
                endpointDescriptor(0x88, 2),     interfaceDescriptor(0, 3, 6),
                endpointDescriptor(0x01, 3, 64), endpointDescriptor(0x81, 3, 64),
                endpointDescriptor(0x02, 1),     endpointDescriptor(0x04, 1),
                endpointDescriptor(0x86, 1),     endpointDescriptor(0x88, 1)}),
        1);
}

BlockDriver::Device BlockDriver::standardDevice(const Bytes& config, std::uint16_t vendor,
                                                std::uint16_t product) {
    Device d;
    d.descriptors[{0x0100, 0}] = deviceDescriptor(vendor, product, 1);
    d.descriptors[{0x0300, 0}] = languageList({0x0409});
    d.descriptors[{0x0301, 0x0409}] = stringDescriptor(u"Tavrix Labs");
    d.descriptors[{0x0302, 0x0409}] = stringDescriptor(u"Radar front-end");
    d.descriptors[{0x0200, 0}] = config;
    return d;
}

BlockDriver::Device* BlockDriver::device(UsbHandle handle) {
    auto it = handles.find(handle);
    if (it == handles.end() || it->second >= static_cast<int>(devices.size()))
        return nullptr;
    return &devices[it->second];
}

int BlockDriver::countDevices() {
    return static_cast<int>(devices.size());
}

std::string BlockDriver::devicePath(int index) {
    if (index < 0 || index >= static_cast<int>(devices.size()))
        return {};
    return devices[index].path;
}

UsbHandle BlockDriver::open(const std::string& path) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].path == path) {
            handles[nextHandle] = static_cast<int>(i);
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

std::optional<std::uint32_t> BlockDriver::busInterfaceVersion(UsbHandle handle) {
    if (device(handle))
        return 0x00020000u;
    return std::nullopt;
}

std::optional<std::uint8_t> BlockDriver::busAddress(UsbHandle handle) {
    if (device(handle))
        return std::uint8_t{2};
    return std::nullopt;
}

std::optional<std::uint32_t> BlockDriver::speed(UsbHandle handle) {
    if (Device* d = device(handle))
        return d->speed;
    return std::nullopt;
}

std::optional<std::string> BlockDriver::driverName(UsbHandle handle) {
    if (device(handle))
        return std::string("blocks");
    return std::nullopt;
}

std::optional<std::string> BlockDriver::driverFriendlyName(UsbHandle handle) {
    if (device(handle))
        return std::string(300, 'x');
    return std::nullopt;
}

std::optional<std::uint8_t> BlockDriver::currentAltSetting(UsbHandle handle) {
    if (Device* d = device(handle))
        return d->altSetting;
    return std::nullopt;
}

bool BlockDriver::selectAltSetting(UsbHandle handle, std::uint8_t setting) {
    Device* d = device(handle);
    if (!d)
        return false;
    selectedSettings.push_back(setting);
    if (d->refuseAltSetting)
        return false;
    d->altSetting = setting;
    return true;
}

bool BlockDriver::resetPort(UsbHandle handle) {
    Device* d = device(handle);
    if (!d)
        return false;
    ++resets;
    d->altSetting = 0;
    return true;
}

UsbBegin BlockDriver::complete(UsbTransferResult result) {
    result.collected = true;
    results[nextId] = result;
    return {result.usbStatus == kUsbStatusOk ? UsbBeginState::Completed : UsbBeginState::Failed,
            nextId++};
}

UsbBegin BlockDriver::beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                                   std::uint32_t) {
    Device* d = device(handle);
    if (!d)
        return {};
    if (setup.requestType != 0x80 || setup.request != 6)
        return complete({true, setup.length, kUsbStatusOk, 0});
    descriptorRequests.emplace_back(setup.value, setup.index);
    auto it = d->descriptors.find({setup.value, setup.index});
    if (it == d->descriptors.end())
        return complete({true, 0, kUsbStatusStall, 0});
    const std::size_t n = std::min<std::size_t>(setup.length, it->second.size());
    std::copy_n(it->second.begin(), n, data);
    return complete({true, static_cast<std::uint32_t>(n), kUsbStatusOk, 0});
}

UsbBegin BlockDriver::beginTransfer(UsbHandle handle, std::uint8_t, std::uint8_t*,
                                    std::uint32_t length, std::uint32_t) {
    if (!device(handle))
        return {};
    return complete({true, length, kUsbStatusOk, 0});
}

UsbWait BlockDriver::waitTransfer(UsbTransferId id, std::uint32_t) {
    return results.count(id) ? UsbWait::Completed : UsbWait::Failed;
}

UsbTransferResult BlockDriver::finishTransfer(UsbTransferId id, UsbIsoPacket*) {
    auto it = results.find(id);
    if (it == results.end())
        return {};
    UsbTransferResult r = it->second;
    results.erase(it);
    return r;
}

bool BlockDriver::abortEndpoint(UsbHandle handle, std::uint8_t) {
    return device(handle);
}
