#include "device/RadarDevice.h"

#include <algorithm>
#include <new>

RadarDevice::RadarDevice(UsbDriver& driver) : driver(driver) {}

RadarDevice::~RadarDevice() = default; // UsbDevice closes itself

bool RadarDevice::isRadarBoard() const {
    return usb && usb->isOpen() && usb->vendorId() == kRadarVendorId &&
           usb->productId() == kRadarProductId;
}

std::int32_t RadarDevice::EnumerateDevices() {
    usb.reset();
    usb = std::make_unique<UsbDevice>(driver, true);
    const std::uint8_t count = usb->CountDevices();

    devices.clear();
    deniedBoards = 0;
    int lastBoard = -1;
    for (int i = 0; i < count; ++i) {
        usb->Open(static_cast<std::uint8_t>(i));
        if (!usb->isOpen() && driver.lastOpenDenied())
            ++deniedBoards;
        if (!isRadarBoard())
            continue;
        devices.push_back({usb->vendorId(), usb->productId(), usb->ConfigCount(),
                           usb->EndpointCount(), usb->InterfaceCount(), usb->AltSettingCount()});
        lastBoard = i;
    }
    // Later requests (controller program included) must reach a board, not whatever device of
    // the driver happened to be enumerated last.
    if (lastBoard >= 0 && lastBoard != count - 1)
        usb->Open(static_cast<std::uint8_t>(lastBoard));
    return static_cast<std::int32_t>(devices.size());
}

bool RadarDevice::SetInterface() {
    if (!usb)
        return false;
    usb->ResetPort();
    usb->SelectAltSetting(kRadarAltSetting);
    return usb->CurrentAltSetting() == kRadarAltSetting;
}

std::int32_t RadarDevice::FindEndpoint(std::uint8_t address) {
    if (!usb)
        return 0;
    const int n = usb->EndpointCount();
    for (int i = 1; i < n; ++i) {
        const UsbEndPoint* endpoint = usb->endpoint(i);
        if (endpoint && endpoint->address == address)
            return i;
    }
    return 0;
}

UsbEndPoint* RadarDevice::streamEndpoint(std::int32_t index) const {
    // Index 0 is endpoint 0, whose vendor request fields would turn a stream transfer into a
    // write to controller memory.
    if (!usb || !usb->hasEndpointTable() || index < 1)
        return nullptr;
    return usb->endpoint(index);
}

std::int32_t RadarDevice::WriteBlock(const std::uint8_t* data, std::int32_t length) {
    UsbEndPoint* endpoint = streamEndpoint(outEndpoint);
    if (!endpoint || length < 0)
        return 0;
    std::vector<std::uint8_t> copy(data, data + length);
    std::uint32_t moved = static_cast<std::uint32_t>(length);
    endpoint->Transfer(copy.data(), moved);
    return static_cast<std::int32_t>(std::min<std::uint32_t>(moved, length));
}

std::unique_ptr<std::uint8_t[]> RadarDevice::readTransfer(std::int32_t count,
                                                          std::uint32_t timeoutMs,
                                                          const std::atomic<bool>* stop,
                                                          std::uint32_t& received) {
    const std::optional<std::int32_t> bytes = FrameTransferBytes(count);
    UsbEndPoint* endpoint = streamEndpoint(inEndpoint);
    if (!bytes || !endpoint)
        return nullptr;
    // Left uninitialised: the transfer fills what is decoded.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[*bytes]);
    if (!buffer)
        return nullptr;

    endpoint->timeout = timeoutMs;
    received = static_cast<std::uint32_t>(*bytes);
    if (stop) {
        // Slices short enough that a stop is felt long before anyone waits for it.
        constexpr std::uint32_t kStopSliceMs = 20;
        std::unique_ptr<UsbRequest> request = endpoint->BeginTransfer(buffer.get(), received);
        const bool waited = endpoint->WaitForTransfer(request.get(), *stop, kStopSliceMs);
        const bool finished =
            endpoint->FinishTransfer(buffer.get(), received, std::move(request), nullptr);
        if (!waited || !finished)
            return nullptr;
    } else if (!endpoint->Transfer(buffer.get(), received)) {
        return nullptr;
    }
    received = std::min(received, static_cast<std::uint32_t>(*bytes));
    return buffer;
}

std::int32_t RadarDevice::ReadFrame(SampleBlock& samples, std::int32_t count,
                                    std::uint32_t timeoutMs, std::uint32_t samplesPerSweep,
                                    const std::atomic<bool>* stop, FrameCheck* check) {
    std::uint32_t received = 0;
    const std::unique_ptr<std::uint8_t[]> buffer = readTransfer(count, timeoutMs, stop, received);
    if (!buffer)
        return 0;
    return DecodeFrame(buffer.get(), received, count, samplesPerSweep, samples, check);
}

std::int32_t RadarDevice::ReadPackedFrame(PackedFrame& frame, std::int32_t count,
                                          std::uint32_t timeoutMs, std::uint32_t samplesPerSweep,
                                          const std::atomic<bool>* stop, FrameCheck* check) {
    std::uint32_t received = 0;
    std::unique_ptr<std::uint8_t[]> buffer = readTransfer(count, timeoutMs, stop, received);
    if (!buffer)
        return 0;
    return LocateFrame(std::move(buffer), received, count, samplesPerSweep, frame, check);
}

bool RadarDevice::vendorRequest(bool in, std::uint16_t address, std::uint8_t* data,
                                std::uint32_t length) {
    ControlEndPoint* control = usb->controlEndpoint();
    control->target = 0;
    control->requestType = 2;
    control->direction = in ? 1 : 0;
    control->requestCode = kFirmwareLoadRequest;
    control->value = address;
    control->index = 0;
    std::uint32_t moved = length;
    return control->Transfer(data, moved) && moved == length;
}

std::int32_t RadarDevice::DownloadFirmware(std::vector<HexRecord> records) {
    for (const HexRecord& record : records) {
        if (!IsLoadableRecord(record))
            return -1;
    }
    if (!usb || !usb->controlEndpoint())
        return -1;

    std::uint8_t cpucs = 0;
    if (!vendorRequest(true, kCpucsAddress, &cpucs, 1))
        return -1;
    std::uint8_t reset = static_cast<std::uint8_t>(cpucs | 0x01);
    bool ok = vendorRequest(false, kCpucsAddress, &reset, 1);
    for (std::size_t i = 0; ok && i < records.size(); ++i) {
        HexRecord& record = records[i];
        const std::uint8_t count = record[0];
        if (count == 0)
            continue;
        const auto address = static_cast<std::uint16_t>(record[1] * 256 + record[2]);
        ok = vendorRequest(false, address, record.data() + 4, count);
    }
    std::uint8_t run = static_cast<std::uint8_t>(cpucs & ~0x01);
    const bool released = vendorRequest(false, kCpucsAddress, &run, 1);
    if (!ok || !released)
        return -1;
    return static_cast<std::int32_t>(records.size());
}

bool LoadControllerProgram(RadarDevice& device, std::string_view text) {
    HexImage image = ParseHexImage(text);
    if (!image.ok())
        return false;
    const auto count = static_cast<std::int32_t>(image.records.size());
    return device.DownloadFirmware(std::move(image.records)) == count;
}
