#include "usb/UsbDevice.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kGetDescriptorRequestType = 0x80; // standard, device, IN
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint16_t kDeviceDescriptor = 0x0100;
constexpr std::uint16_t kConfigDescriptor = 0x0200;
constexpr std::uint16_t kStringDescriptor = 0x0300;
constexpr std::uint8_t kStringType = 3;
constexpr std::uint16_t kPreferredLanguage = 1033; // US English

std::string clipText(std::string text) {
    if (text.size() > UsbDevice::kMaxTextLength)
        text.resize(UsbDevice::kMaxTextLength);
    return text;
}

} // namespace

UsbDevice::UsbDevice(UsbDriver& driver, bool open) : driver(driver) {
    if (open)
        Open(0);
}

UsbDevice::~UsbDevice() {
    Close();
}

std::uint8_t UsbDevice::CountDevices() {
    const int count = driver.countDevices();
    deviceCount = static_cast<std::uint8_t>(std::clamp(count, 0, 255));
    return deviceCount;
}

bool UsbDevice::readDescriptor(std::uint16_t value, std::uint16_t index, std::uint8_t* data,
                               std::uint16_t length) {
    UsbSetup setup;
    setup.requestType = kGetDescriptorRequestType;
    setup.request = kGetDescriptor;
    setup.value = value;
    setup.index = index;
    setup.length = length;
    const UsbBegin begun = driver.beginControl(handle, setup, data, kDescriptorTimeoutSeconds);
    if (begun.id == kNoUsbTransfer)
        return false;
    if (begun.state == UsbBeginState::Pending)
        driver.waitTransfer(begun.id, kUsbWaitForever);
    const UsbTransferResult result = driver.finishTransfer(begun.id, nullptr);
    usbStatus = result.usbStatus;
    systemStatus = result.systemStatus;
    returned = result.bytes;
    // A reply shorter than asked leaves the rest of the buffer undefined: count it as failed.
    return result.succeeded() && result.bytes == length;
}

bool UsbDevice::readVariableDescriptor(std::uint16_t value, std::uint16_t index,
                                       std::vector<std::uint8_t>& out) {
    std::uint8_t head[2] = {0, 0};
    if (!readDescriptor(value, index, head, 2) || head[0] < 2)
        return false;
    std::vector<std::uint8_t> whole(head[0]);
    if (!readDescriptor(value, index, whole.data(), head[0]))
        return false;
    out = std::move(whole);
    return true;
}

void UsbDevice::readString(std::uint8_t stringIndex, std::u16string& text) {
    // Index 0 means the device has no such string (descriptor 0 is the language list).
    if (stringIndex == 0)
        return;
    std::vector<std::uint8_t> bytes;
    if (!readVariableDescriptor(kStringDescriptor | stringIndex, language, bytes))
        return;
    if (bytes.size() < 3 || bytes[1] != kStringType)
        return;
    const std::size_t units = std::min<std::size_t>((bytes.size() - 2) / 2, kMaxTextLength);
    std::u16string result(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
        result[i] = static_cast<char16_t>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
    text = std::move(result);
}

void UsbDevice::readStrings() {
    std::vector<std::uint8_t> languages;
    if (readVariableDescriptor(kStringDescriptor, 0, languages)) {
        const std::size_t count = (languages.size() - 2) / 2;
        language = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const auto id =
                static_cast<std::uint16_t>(languages[2 + 2 * i] | (languages[3 + 2 * i] << 8));
            if (i == 0 || id == kPreferredLanguage)
                language = id;
            if (id == kPreferredLanguage)
                break;
        }
    }
    readString(descriptor[14], manufacturerText);
    readString(descriptor[15], productText);
    readString(descriptor[16], serialText);
}

void UsbDevice::readConfigs() {
    const int count = std::min<int>(configCount, kMaxConfigs);
    for (int i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint16_t>(kConfigDescriptor | i);
        std::uint8_t head[9] = {};
        if (!readDescriptor(value, 0, head, sizeof head))
            continue;
        const std::uint16_t total = static_cast<std::uint16_t>(head[2] | (head[3] << 8));
        if (total < sizeof head)
            continue;
        std::vector<std::uint8_t> raw(total);
        if (!readDescriptor(value, 0, raw.data(), total))
            continue;
        auto config = UsbConfig::parse(raw.data(), raw.size(), &driver, handle);
        if (!config)
            continue;
        rawConfigs[i] = std::move(raw);
        configs[i] = std::move(config);
    }
}

bool UsbDevice::Open(std::uint8_t index) {
    if (isOpen())
        Close();

    const std::uint8_t count = CountDevices();
    if (count == 0 || index > count - 1) {
        devIndex = 0;
        return false;
    }
    std::string devPath = driver.devicePath(index);
    if (devPath.empty() || devPath.size() > kMaxPathLength) {
        devIndex = 0;
        return false;
    }
    handle = driver.open(devPath);
    if (handle == kInvalidUsbHandle) {
        devIndex = 0;
        return false;
    }
    path = std::move(devPath);
    devIndex = index;

    std::array<std::uint8_t, 18> device{};
    if (readDescriptor(kDeviceDescriptor, 0, device.data(), device.size())) {
        descriptor = device;
        bcdUsb = static_cast<std::uint16_t>(device[2] | (device[3] << 8));
        devClass = device[4];
        devSubClass = device[5];
        devProtocol = device[6];
        packetSize0 = device[7];
        idVendor = static_cast<std::uint16_t>(device[8] | (device[9] << 8));
        idProduct = static_cast<std::uint16_t>(device[10] | (device[11] << 8));
        bcdDevice = static_cast<std::uint16_t>(device[12] | (device[13] << 8));
        configCount = device[17];
    }
    readStrings();

    address = driver.busAddress(handle).value_or(0);
    if (auto text = driver.driverName(handle))
        driverNameText = clipText(*text);
    if (auto text = driver.driverFriendlyName(handle))
        driverFriendlyText = clipText(*text);
    driverVer = driver.driverVersion(handle).value_or(0);
    busInterfaceVer = driver.busInterfaceVersion(handle).value_or(0);
    isHighSpeed = driver.speed(handle).value_or(kUsbSpeedLow) == kUsbSpeedHigh;

    readConfigs();

    UsbEndpointDescriptor zero;
    zero.packetSizeField = packetSize0;
    control = std::make_unique<ControlEndPoint>(&driver, handle, zero);

    if (!configs[0] || configs[0]->builtInterfaces == 0)
        return false;
    SelectConfig(0);
    return true;
}

bool UsbDevice::SelectConfig(std::uint8_t index) {
    if (!isOpen() || index >= kMaxConfigs || !configs[index])
        return false;
    UsbConfig& config = *configs[index];
    cfgIndex = index;
    cfgValue = config.configValue;
    cfgAttributes = config.attributes;
    cfgMaxPower = config.maxPower;
    interfaceCount = config.interfaceCount;
    currentInterface = nullptr;
    if (config.builtInterfaces == 0)
        return false;
    intfNumber = config.interface(0)->interfaceNumber;

    const int setting = CurrentAltSetting();
    for (int i = 0; i < config.builtInterfaces; ++i) {
        UsbInterface* intf = config.interface(i);
        if (intf->altSetting == setting) {
            currentInterface = intf;
            altIndex = static_cast<std::uint8_t>(i);
            intfClass = intf->interfaceClass;
            intfSubClass = intf->subClass;
            intfProtocol = intf->protocol;
            break;
        }
    }
    RefreshEndpoints();
    return true;
}

int UsbDevice::CurrentAltSetting() {
    if (!isOpen())
        return -1;
    const std::optional<std::uint8_t> setting = driver.currentAltSetting(handle);
    return setting ? *setting : -1;
}

bool UsbDevice::SelectAltSetting(std::uint8_t setting) {
    // The model must follow the device too: after a port reset the device runs setting 0
    // while the endpoint table may still hold another one.
    if (CurrentAltSetting() == setting && currentInterface &&
        currentInterface->altSetting == setting)
        return true;
    UsbConfig* config = this->config(cfgIndex);
    if (!isOpen() || !config || config->builtInterfaces == 0)
        return false;
    for (int i = 0; i < config->builtInterfaces; ++i) {
        UsbInterface* intf = config->interface(i);
        if (intf->altSetting != setting)
            continue;
        currentInterface = intf;
        altIndex = static_cast<std::uint8_t>(i);
        const bool selected = driver.selectAltSetting(handle, setting);
        intfClass = intf->interfaceClass;
        intfSubClass = intf->subClass;
        intfProtocol = intf->protocol;
        RefreshEndpoints();
        return selected;
    }
    return false;
}

void UsbDevice::ResetPort() {
    if (isOpen())
        driver.resetPort(handle);
}

void UsbDevice::RefreshEndpoints() {
    isocIn = isocOut = bulkIn = bulkOut = interruptIn = interruptOut = nullptr;
    if (!currentInterface)
        return;
    const bool buffered = driverVer < kDirectDriverVersion;
    for (int slot = 1; slot <= currentInterface->usedSlots(); ++slot) {
        UsbEndPoint* ep = currentInterface->endpoint(slot);
        if (!ep)
            continue;
        if (buffered)
            ep->direct = false;
        UsbEndPoint** kind = nullptr;
        switch (ep->attributes & 3) {
        case 1:
            kind = ep->in ? &isocIn : &isocOut;
            break;
        case 2:
            kind = ep->in ? &bulkIn : &bulkOut;
            break;
        case 3:
            kind = ep->in ? &interruptIn : &interruptOut;
            break;
        default:
            break;
        }
        if (kind && !*kind)
            *kind = ep;
    }
}

UsbEndPoint* UsbDevice::endpoint(int index) const {
    if (!currentInterface || index < 0 || index >= UsbInterface::kSlots)
        return nullptr;
    if (index == 0)
        return control.get();
    return currentInterface->endpoint(index);
}

UsbConfig* UsbDevice::config(int index) const {
    if (index < 0 || index >= kMaxConfigs)
        return nullptr;
    return configs[index].get();
}

const std::vector<std::uint8_t>& UsbDevice::rawConfigDescriptor(int index) const {
    static const std::vector<std::uint8_t> none;
    if (index < 0 || index >= kMaxConfigs)
        return none;
    return rawConfigs[index];
}

std::uint8_t UsbDevice::EndpointCount() const {
    if (!isOpen() || !currentInterface)
        return 0;
    return static_cast<std::uint8_t>(currentInterface->usedSlots() + 1);
}

std::uint8_t UsbDevice::ConfigCount() const {
    return isOpen() ? configCount : 0;
}

std::uint8_t UsbDevice::InterfaceCount() const {
    return isOpen() ? interfaceCount : 0;
}

std::uint8_t UsbDevice::AltSettingCount() const {
    if (!isOpen() || !currentInterface || currentInterface->altSettingCount == 0)
        return 0;
    return static_cast<std::uint8_t>(currentInterface->altSettingCount - 1);
}

void UsbDevice::clearModel() {
    // What described the closed device goes with it, so that a failed read on the next
    // device cannot leave this one's identity behind.
    descriptor.fill(0);
    bcdUsb = idVendor = idProduct = bcdDevice = 0;
    devClass = devSubClass = devProtocol = packetSize0 = 0;
    language = 0;
    manufacturerText.clear();
    productText.clear();
    serialText.clear();
    driverNameText.clear();
    driverFriendlyText.clear();
    driverVer = busInterfaceVer = 0;
    address = 0;
    isHighSpeed = false;
    cfgValue = cfgAttributes = cfgMaxPower = 0;
    intfClass = intfSubClass = intfProtocol = 0;
    cfgIndex = intfNumber = altIndex = 0;
    currentInterface = nullptr;
    isocIn = isocOut = bulkIn = bulkOut = interruptIn = interruptOut = nullptr;
    for (auto& config : configs)
        config.reset();
    for (auto& raw : rawConfigs)
        raw.clear();
    control.reset();
    deviceCount = interfaceCount = configCount = 0;
}

bool UsbDevice::Close() {
    bool closed = true;
    closeErrorText = "";
    if (isOpen()) {
        // Pending requests belong to the endpoint objects' callers, which have finished them;
        // the driver cancels whatever is left before it lets go of the device.
        if (!driver.close(handle)) {
            closeErrorText = "Failed to close handle to driver.";
            closed = false;
        }
        handle = kInvalidUsbHandle;
    }
    clearModel();
    return closed;
}
