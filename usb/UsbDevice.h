#pragma once

// One USB device reached through a UsbDriver: its descriptors, its configurations and
// alternate settings, and the endpoint objects of the current alternate setting.
//
// Endpoint objects live as long as their configuration: pointers and endpoint-table indexes
// taken from a UsbDevice are void after Close() or a new Open().

#include "usb/UsbConfig.h"
#include "usb/UsbDriver.h"
#include "usb/UsbEndPoint.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class UsbDevice {
public:
    static constexpr std::size_t kMaxPathLength = 255;
    static constexpr std::size_t kMaxTextLength = 255;
    static constexpr int kMaxConfigs = 2;
    // Drivers older than this move bulk and interrupt data through a copy.
    static constexpr std::uint32_t kDirectDriverVersion = 0x01050500;
    // Time-out of the device's own descriptor requests, seconds.
    static constexpr std::uint32_t kDescriptorTimeoutSeconds = 5;

    // `driver` must outlive the device. With `open` set, opens device 0 at once.
    explicit UsbDevice(UsbDriver& driver, bool open = true);
    // Closes the device; never throws.
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    // Devices the driver serves now, at most 255.
    std::uint8_t CountDevices();
    // Opens device `index` (closing the current one first) and reads its descriptors. False
    // when there is no such device, it cannot be opened or its path is too long (then the
    // device is closed), or when configuration 0 is missing or has no interface (then the
    // device stays open).
    bool Open(std::uint8_t index);
    // Releases the device and every object built from it. False when the driver could not
    // close the handle cleanly (closeError() tells); the device is closed all the same.
    bool Close();
    const char* closeError() const { return closeErrorText; }

    // Alternate setting the driver reports, -1 on failure.
    int CurrentAltSetting();
    // Makes the first alternate setting with this number current (interface numbers are not
    // compared) and asks the driver to switch; returns the driver's result.
    bool SelectAltSetting(std::uint8_t setting);
    // Resets the port; the result is not reported (the device may come back re-enumerated).
    void ResetPort();
    // Makes configuration `index` current, with the alternate setting the driver reports.
    bool SelectConfig(std::uint8_t index);
    // Rebuilds the endpoint table and the first-of-kind references from the current
    // alternate setting.
    void RefreshEndpoints();

    // Endpoints of the current alternate setting plus endpoint 0; 0 without an endpoint table.
    std::uint8_t EndpointCount() const;
    std::uint8_t ConfigCount() const;
    std::uint8_t InterfaceCount() const;
    // Alternate settings of the current interface beyond the first.
    std::uint8_t AltSettingCount() const;

    bool isOpen() const { return handle != kInvalidUsbHandle; }
    // The endpoint table: slot 0 is endpoint 0, slots 1..15 the current alternate setting's
    // endpoints. Null for empty slots, out-of-range indexes and without a table.
    bool hasEndpointTable() const { return currentInterface != nullptr; }
    UsbEndPoint* endpoint(int index) const;
    ControlEndPoint* controlEndpoint() const { return control.get(); }
    // First endpoint of each kind in the current alternate setting, or null.
    UsbEndPoint* isocInEndpoint() const { return isocIn; }
    UsbEndPoint* isocOutEndpoint() const { return isocOut; }
    UsbEndPoint* bulkInEndpoint() const { return bulkIn; }
    UsbEndPoint* bulkOutEndpoint() const { return bulkOut; }
    UsbEndPoint* interruptInEndpoint() const { return interruptIn; }
    UsbEndPoint* interruptOutEndpoint() const { return interruptOut; }
    UsbConfig* config(int index) const;
    UsbInterface* currentAltInterface() const { return currentInterface; }

    // Device descriptor.
    const std::array<std::uint8_t, 18>& deviceDescriptor() const { return descriptor; }
    std::uint16_t usbVersion() const { return bcdUsb; }
    std::uint16_t vendorId() const { return idVendor; }
    std::uint16_t productId() const { return idProduct; }
    std::uint8_t deviceClass() const { return devClass; }
    std::uint8_t deviceSubClass() const { return devSubClass; }
    std::uint8_t deviceProtocol() const { return devProtocol; }
    std::uint8_t maxPacketSize0() const { return packetSize0; }
    std::uint16_t deviceVersion() const { return bcdDevice; }
    // Raw configuration descriptor `index` (empty when absent).
    const std::vector<std::uint8_t>& rawConfigDescriptor(int index) const;

    // Strings, in the language below.
    std::uint16_t stringLanguage() const { return language; }
    const std::u16string& manufacturer() const { return manufacturerText; }
    const std::u16string& product() const { return productText; }
    const std::u16string& serialNumber() const { return serialText; }

    // What the driver tells.
    const std::string& devicePath() const { return path; }
    std::uint32_t driverVersion() const { return driverVer; }
    std::uint32_t busInterfaceVersion() const { return busInterfaceVer; }
    std::uint8_t busAddress() const { return address; }
    bool highSpeed() const { return isHighSpeed; }
    const std::string& driverName() const { return driverNameText; }
    const std::string& driverFriendlyName() const { return driverFriendlyText; }

    // Current configuration and alternate setting.
    std::uint8_t configValue() const { return cfgValue; }
    std::uint8_t configAttributes() const { return cfgAttributes; }
    std::uint8_t maxPower() const { return cfgMaxPower; }
    std::uint8_t interfaceClass() const { return intfClass; }
    std::uint8_t interfaceSubClass() const { return intfSubClass; }
    std::uint8_t interfaceProtocol() const { return intfProtocol; }
    std::uint8_t deviceIndex() const { return devIndex; }
    std::uint8_t currentConfigIndex() const { return cfgIndex; }
    std::uint8_t currentInterfaceNumber() const { return intfNumber; }
    // Position of the current alternate setting in its configuration.
    std::uint8_t currentAltIndex() const { return altIndex; }

    // Status words and data length of the last descriptor request.
    std::uint32_t lastUsbStatus() const { return usbStatus; }
    std::uint32_t lastSystemStatus() const { return systemStatus; }
    std::uint32_t bytesReturned() const { return returned; }

private:
    // One synchronous endpoint-0 read; true only when it succeeds with exactly `length` bytes.
    bool readDescriptor(std::uint16_t value, std::uint16_t index, std::uint8_t* data,
                        std::uint16_t length);
    // Reads a descriptor whose length is its first byte (2-byte probe first).
    bool readVariableDescriptor(std::uint16_t value, std::uint16_t index,
                                std::vector<std::uint8_t>& out);
    void readStrings();
    void readString(std::uint8_t stringIndex, std::u16string& text);
    void readConfigs();
    void clearModel();

    UsbDriver& driver;
    UsbHandle handle = kInvalidUsbHandle;
    const char* closeErrorText = "";

    std::unique_ptr<ControlEndPoint> control;
    UsbInterface* currentInterface = nullptr;
    UsbEndPoint* isocIn = nullptr;
    UsbEndPoint* isocOut = nullptr;
    UsbEndPoint* bulkIn = nullptr;
    UsbEndPoint* bulkOut = nullptr;
    UsbEndPoint* interruptIn = nullptr;
    UsbEndPoint* interruptOut = nullptr;

    std::uint16_t language = 0;
    std::uint32_t usbStatus = 0;
    std::uint32_t systemStatus = 0;
    std::uint32_t returned = 0;
    std::uint32_t driverVer = 0;
    std::uint32_t busInterfaceVer = 0;
    std::string driverNameText;
    std::string driverFriendlyText;
    std::u16string manufacturerText;
    std::u16string productText;
    std::u16string serialText;
    std::string path;

    std::array<std::uint8_t, 18> descriptor{};
    std::uint16_t bcdUsb = 0;
    std::uint16_t idVendor = 0;
    std::uint16_t idProduct = 0;
    std::uint8_t address = 0;
    std::uint8_t devClass = 0;
    std::uint8_t devSubClass = 0;
    std::uint8_t devProtocol = 0;
    std::uint8_t packetSize0 = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t cfgValue = 0;
    std::uint8_t cfgAttributes = 0;
    std::uint8_t cfgMaxPower = 0;
    std::uint8_t intfClass = 0;
    std::uint8_t intfSubClass = 0;
    std::uint8_t intfProtocol = 0;
    bool isHighSpeed = false;

    std::array<std::vector<std::uint8_t>, kMaxConfigs> rawConfigs;
    std::array<std::unique_ptr<UsbConfig>, kMaxConfigs> configs;

    std::uint8_t deviceCount = 0;
    std::uint8_t interfaceCount = 0;
    std::uint8_t configCount = 0;
    std::uint8_t devIndex = 0;
    std::uint8_t cfgIndex = 0;
    std::uint8_t intfNumber = 0;
    std::uint8_t altIndex = 0;
};
