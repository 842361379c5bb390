// Input: one flag byte, then a configuration descriptor as a device would send it.
//   bits 1..0: alternate setting the device runs when opened
//   bit 2:     old driver (data through a copy)
//   bit 3:     overwrite the total-length field with the real size, so the walk is reached
//   bit 4:     serve the same bytes as a second configuration
// The descriptor is parsed on its own and through a whole device open, alternate-setting
// changes and close; the models built must stay consistent with the bytes.
#include "tests/usb/BlockDriver.h"
#include "usb/UsbConfig.h"
#include "usb/UsbDevice.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void CheckConfig(const UsbConfig& config, std::size_t size) {
    Require(config.builtInterfaces <= UsbConfig::kMaxInterfaces);
    Require(config.totalLength <= size && config.descriptorLength <= config.totalLength);
    std::size_t walked = config.descriptorLength;
    for (int i = 0; i < UsbConfig::kMaxInterfaces; ++i) {
        const UsbInterface* intf = config.interface(i);
        Require((intf != nullptr) == (i < config.builtInterfaces));
        if (!intf)
            continue;
        Require(intf->descriptorLength >= 9 && intf->totalLength >= intf->descriptorLength);
        walked += intf->totalLength;
        int sharing = 0;
        for (int j = 0; j < config.builtInterfaces; ++j)
            sharing += config.interface(j)->interfaceNumber == intf->interfaceNumber;
        Require(intf->altSettingCount == sharing);
        Require(intf->usedSlots() <= 15 && intf->usedSlots() <= intf->endpointCount);
        for (int slot = 0; slot < UsbInterface::kSlots + 2; ++slot) {
            const UsbEndPoint* ep = intf->endpoint(slot);
            if (slot < 1 || slot > intf->usedSlots()) {
                Require(ep == nullptr);
                continue;
            }
            if (ep)
                Require(ep->descriptorType == 5 && ep->descriptorLength >= 7 &&
                        ep->in == ((ep->address & 0x80) != 0));
        }
    }
    // Interfaces and their descriptors never overlap and never leave the block.
    Require(walked <= config.totalLength);
}

// Same structure, field for field, down to the endpoint addresses.
void RequireSame(const UsbConfig& a, const UsbConfig& b) {
    Require(a.totalLength == b.totalLength && a.builtInterfaces == b.builtInterfaces);
    for (int i = 0; i < a.builtInterfaces; ++i) {
        const UsbInterface& x = *a.interface(i);
        const UsbInterface& y = *b.interface(i);
        Require(x.totalLength == y.totalLength && x.altSetting == y.altSetting &&
                x.interfaceNumber == y.interfaceNumber && x.endpointCount == y.endpointCount);
        for (int slot = 1; slot < UsbInterface::kSlots; ++slot) {
            const UsbEndPoint* p = x.endpoint(slot);
            const UsbEndPoint* q = y.endpoint(slot);
            Require((p == nullptr) == (q == nullptr));
            Require(!p || (p->address == q->address && p->attributes == q->attributes));
        }
    }
}

// The table of the current alternate setting and the first-of-kind references.
void CheckEndpointTable(const UsbDevice& device) {
    if (!device.hasEndpointTable()) {
        Require(device.EndpointCount() == 0 && device.endpoint(0) == nullptr);
        Require(!device.bulkInEndpoint() && !device.bulkOutEndpoint());
        return;
    }
    const UsbInterface* current = device.currentAltInterface();
    Require(device.EndpointCount() == current->usedSlots() + 1);
    Require(device.endpoint(0) == device.controlEndpoint() && device.endpoint(0));
    Require(device.endpoint(-1) == nullptr && device.endpoint(UsbInterface::kSlots) == nullptr);
    const bool buffered = device.driverVersion() < UsbDevice::kDirectDriverVersion;
    UsbEndPoint* firsts[2][4] = {};
    for (int slot = 1; slot < device.EndpointCount(); ++slot) {
        UsbEndPoint* ep = device.endpoint(slot);
        Require(ep == current->endpoint(slot));
        if (!ep)
            continue;
        if (buffered)
            Require(!ep->direct);
        UsbEndPoint*& first = firsts[ep->in][ep->attributes & 3];
        if (!first)
            first = ep;
    }
    Require(device.isocInEndpoint() == firsts[1][1] && device.isocOutEndpoint() == firsts[0][1]);
    Require(device.bulkInEndpoint() == firsts[1][2] && device.bulkOutEndpoint() == firsts[0][2]);
    Require(device.interruptInEndpoint() == firsts[1][3] &&
            device.interruptOutEndpoint() == firsts[0][3]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint8_t flags = data[0];
    Bytes raw(data + 1, data + size);
    if ((flags & 8) && raw.size() >= 4 && raw.size() <= 0xFFFF) {
        raw[2] = static_cast<std::uint8_t>(raw.size());
        raw[3] = static_cast<std::uint8_t>(raw.size() >> 8);
    }

    // Alone, on an exact-size copy (ASan sees any read past it), then with bytes after it that
    // must not change what was built.
    const Bytes exact(raw);
    const auto config = UsbConfig::parse(exact.data(), exact.size(), nullptr, kInvalidUsbHandle);
    if (config) {
        CheckConfig(*config, exact.size());
        Bytes longer(raw);
        longer.resize(raw.size() + 64, 0x05);
        const auto again =
            UsbConfig::parse(longer.data(), longer.size(), nullptr, kInvalidUsbHandle);
        Require(again != nullptr);
        RequireSame(*config, *again);
    }

    BlockDriver driver;
    BlockDriver::Device board = BlockDriver::standardDevice(raw);
    board.altSetting = flags & 3;
    board.driverVersion = (flags & 4) ? 0x01040000 : 0x01050500;
    if (flags & 16) {
        board.descriptors[{0x0100, 0}] = deviceDescriptor(0x04B4, 0x8613, 3);
        board.descriptors[{0x0201, 0}] = raw;
    }
    driver.devices.push_back(board);
    {
        UsbDevice device(driver);
        const bool complete = raw.size() >= 9 && std::size_t(raw[2] | (raw[3] << 8)) <= raw.size();
        const bool usable = complete && config && config->builtInterfaces > 0;
        auto known = [&](int setting) {
            for (int i = 0; usable && i < config->builtInterfaces; ++i)
                if (config->interface(i)->altSetting == setting)
                    return true;
            return false;
        };
        Require(device.isOpen());
        Require(device.hasEndpointTable() == known(flags & 3));
        CheckEndpointTable(device);
        for (int setting = 0; setting < 4; ++setting) {
            Require(device.SelectAltSetting(static_cast<std::uint8_t>(setting)) == known(setting));
            if (known(setting))
                Require(device.currentAltInterface()->altSetting == setting &&
                        device.CurrentAltSetting() == setting);
            CheckEndpointTable(device);
            device.ResetPort();
            CheckEndpointTable(device);
        }
        // Reopening tears the whole model down and builds it again.
        Require(device.Open(0) == usable);
        CheckEndpointTable(device);
        Require(device.Close());
        Require(!device.hasEndpointTable() && device.EndpointCount() == 0 &&
                device.config(0) == nullptr && device.config(1) == nullptr);
    }
    Require(driver.openHandles == 0);
    return 0;
}
