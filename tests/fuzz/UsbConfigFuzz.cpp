// Input: a flag byte (bits 1..0: the alternate setting the device runs; bit 2: an old driver,
// data through a copy; bit 3: the real size put in the total-length field), then a
// configuration descriptor. Parsed on an exact-size copy, with bytes after it that must change
// nothing, and through a device's open, setting changes, reset and close, the models built
// must stay consistent with the bytes.
#include "tests/fuzz/Fuzz.h"
#include "tests/usb/BlockDriver.h"
#include "usb/UsbConfig.h"
#include "usb/UsbDevice.h"

namespace {

// What a parse built, checked against the block it came from.
std::vector<int> Shape(const UsbConfig& c, std::size_t size) {
    std::vector<int> shape{c.totalLength, c.builtInterfaces};
    std::size_t walked = c.descriptorLength;
    for (int i = 0; i < c.builtInterfaces; ++i) {
        const UsbInterface& intf = *c.interface(i);
        Require(intf.descriptorLength >= 9 && intf.usedSlots() <= intf.endpointCount &&
                !intf.endpoint(intf.usedSlots() + 1));
        walked += intf.totalLength;
        shape.insert(shape.end(), {intf.totalLength, intf.altSetting, intf.altSettingCount});
        for (int slot = 1; slot <= intf.usedSlots(); ++slot) {
            const UsbEndPoint* ep = intf.endpoint(slot);
            Require(!ep || (ep->descriptorLength >= 7 && ep->in == ((ep->address & 0x80) != 0)));
            shape.push_back(ep ? ep->address : -1);
        }
    }
    Require(c.builtInterfaces <= UsbConfig::kMaxInterfaces && !c.interface(c.builtInterfaces) &&
            walked <= c.totalLength && c.totalLength <= size); // no overlap, nothing outside
    return shape;
}

// The endpoint table is the current alternate setting's, copies for an old driver.
void CheckEndpointTable(const UsbDevice& d) {
    const UsbInterface* current = d.currentAltInterface();
    Require(d.EndpointCount() == (current ? current->usedSlots() + 1 : 0) &&
            !d.endpoint(d.EndpointCount()) && (current || !d.bulkInEndpoint()));
    for (int slot = 1; slot < d.EndpointCount(); ++slot) {
        const UsbEndPoint* ep = d.endpoint(slot);
        Require(ep == current->endpoint(slot) &&
                (!ep || !ep->direct || d.driverVersion() >= UsbDevice::kDirectDriverVersion));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    Bytes raw(data + 1, data + size);
    if ((data[0] & 8) && raw.size() >= 4 && raw.size() <= 0xFFFF) {
        raw[2] = lo(static_cast<unsigned>(raw.size()));
        raw[3] = hi(static_cast<unsigned>(raw.size()));
    }
    const auto config = UsbConfig::parse(raw.data(), raw.size(), nullptr, kInvalidUsbHandle);
    Bytes longer(raw);
    longer.resize(raw.size() + 64, 0x05);
    const auto again = UsbConfig::parse(longer.data(), longer.size(), nullptr, kInvalidUsbHandle);
    Require(!config || (again && Shape(*config, raw.size()) == Shape(*again, longer.size())));

    BlockDriver driver;
    driver.devices.push_back(BlockDriver::standardDevice(raw));
    driver.devices[0].altSetting = data[0] & 3;
    driver.devices[0].driverVersion = (data[0] & 4) ? 0x01040000 : 0x01050500;
    {
        UsbDevice device(driver);
        const bool usable = config && config->builtInterfaces > 0 && raw.size() >= 9 &&
                            std::size_t(raw[2] | (raw[3] << 8)) <= raw.size();
        const auto known = [&](int setting) {
            for (int i = 0; usable && i < config->builtInterfaces; ++i)
                if (config->interface(i)->altSetting == setting)
                    return true;
            return false;
        };
        Require(device.isOpen() && device.hasEndpointTable() == known(data[0] & 3));
        CheckEndpointTable(device);
        for (std::uint8_t setting = 0; setting < 4; ++setting) {
            Require(device.SelectAltSetting(setting) == known(setting) &&
                    (!known(setting) || device.CurrentAltSetting() == setting));
            CheckEndpointTable(device);
            device.ResetPort();
            CheckEndpointTable(device);
        }
        Require(device.Open(0) == usable); // reopening builds the whole model again
        CheckEndpointTable(device);
        Require(device.Close() && !device.hasEndpointTable() && !device.config(0));
    }
    Require(driver.openHandles == 0);
    return 0;
}
