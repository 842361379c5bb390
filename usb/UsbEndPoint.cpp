#include "usb/UsbEndPoint.h"

#include <algorithm>
#include <cstring>

UsbEndpointDescriptor UsbEndpointDescriptor::fromBytes(const std::uint8_t* bytes) {
    UsbEndpointDescriptor d;
    d.length = bytes[0];
    d.type = bytes[1];
    d.address = bytes[2];
    d.attributes = bytes[3];
    d.packetSizeField = static_cast<std::uint16_t>(bytes[4] | (bytes[5] << 8));
    d.interval = bytes[6];
    return d;
}

UsbEndPoint::UsbEndPoint(UsbDriver* driver, UsbHandle handle,
                         const UsbEndpointDescriptor& descriptor)
    : descriptorLength(descriptor.length), descriptorType(descriptor.type),
      address(descriptor.address), attributes(descriptor.attributes), interval(descriptor.interval),
      in((descriptor.address & 0x80) != 0), driver(driver), handle(handle) {
    packetsPerMicroframe = static_cast<std::uint16_t>(((descriptor.packetSizeField >> 11) & 3) + 1);
    maxPacketSize =
        static_cast<std::uint16_t>((descriptor.packetSizeField & 0x7FF) * packetsPerMicroframe);
}

bool UsbEndPoint::canSend(const std::uint8_t* buffer, std::uint32_t length) {
    if (driver && handle != kInvalidUsbHandle && (buffer || length == 0))
        return true;
    lastBegin = UsbBeginState::Failed;
    return false;
}

std::unique_ptr<UsbRequest> UsbEndPoint::makeRequest(const std::uint8_t* buffer,
                                                     std::uint32_t length, bool buffered) {
    auto request = std::make_unique<UsbRequest>();
    request->length = length;
    request->buffered = buffered;
    // The copy is made in either direction: the driver sees one block going in and out.
    if (buffered && length > 0)
        request->data.assign(buffer, buffer + length);
    return request;
}

std::unique_ptr<UsbRequest> UsbEndPoint::send(std::unique_ptr<UsbRequest> request,
                                              std::uint8_t* data, std::uint32_t length,
                                              std::uint32_t isoPacketSize) {
    const UsbBegin begun = driver->beginTransfer(handle, address, data, length, isoPacketSize);
    request->id = begun.id;
    request->state = begun.state;
    lastBegin = begun.state;
    return request;
}

std::unique_ptr<UsbRequest> UsbEndPoint::BeginDirect(std::uint8_t* buffer, std::uint32_t length) {
    if (!canSend(buffer, length))
        return nullptr;
    return send(makeRequest(buffer, length, false), buffer, length, 0);
}

std::unique_ptr<UsbRequest> UsbEndPoint::BeginBuffered(std::uint8_t* buffer, std::uint32_t length) {
    if (!canSend(buffer, length))
        return nullptr;
    auto request = makeRequest(buffer, length, true);
    std::uint8_t* copy = request->data.data();
    return send(std::move(request), copy, length, 0);
}

bool UsbEndPoint::WaitForTransfer(UsbRequest* request) {
    if (!request)
        return false;
    lastBegin = request->state;
    if (request->state == UsbBeginState::Completed)
        return true;
    if (request->state != UsbBeginState::Pending)
        return false;
    switch (driver->waitTransfer(request->id, timeout)) {
    case UsbWait::Completed:
        return true;
    case UsbWait::Failed:
        return false;
    case UsbWait::TimedOut:
        break;
    }
    // The driver may still be writing into the buffers: abort, then wait until the aborted
    // request has really come back before anyone releases them.
    AbortPipe();
    driver->waitTransfer(request->id, kUsbWaitForever);
    return false;
}

bool UsbEndPoint::WaitForTransfer(UsbRequest* request, const std::atomic<bool>& stop,
                                  std::uint32_t sliceMs) {
    if (!request)
        return false;
    lastBegin = request->state;
    if (request->state == UsbBeginState::Completed)
        return true;
    if (request->state != UsbBeginState::Pending)
        return false;
    const std::uint32_t slice = std::max<std::uint32_t>(sliceMs, 1);
    std::uint32_t waited = 0;
    while (!stop.load()) {
        const std::uint32_t wait =
            timeout == kUsbWaitForever ? slice : std::min(slice, timeout - waited);
        const UsbWait outcome = driver->waitTransfer(request->id, wait);
        if (outcome == UsbWait::Completed)
            return true;
        if (outcome == UsbWait::Failed)
            return false;
        if (timeout != kUsbWaitForever) {
            waited += wait;
            if (waited >= timeout)
                break;
        }
    }
    AbortPipe();
    driver->waitTransfer(request->id, kUsbWaitForever);
    return false;
}

bool UsbEndPoint::FinishTransfer(std::uint8_t* buffer, std::uint32_t& length,
                                 std::unique_ptr<UsbRequest> request, UsbIsoPacket* packetTable) {
    if (!request || !driver) {
        length = 0;
        bytesTransferred = 0;
        return false;
    }
    UsbIsoPacket* packets = request->isoPackets.empty() ? nullptr : request->isoPackets.data();
    const UsbTransferResult result = driver->finishTransfer(request->id, packets);
    // Never report (or copy) more than was asked for, whatever the driver says.
    const std::uint32_t moved = std::min(result.bytes, request->length);
    length = moved;
    bytesTransferred = moved;
    usbStatus = result.usbStatus;
    systemStatus = result.systemStatus;
    if (in && request->buffered && length >= 1 && buffer)
        std::memcpy(buffer, request->data.data(), length);
    if (packetTable && length >= 1 && packets)
        std::copy(request->isoPackets.begin(), request->isoPackets.end(), packetTable);
    return result.succeeded();
}

bool UsbEndPoint::Transfer(std::uint8_t* buffer, std::uint32_t& length, UsbIsoPacket* packetTable) {
    std::unique_ptr<UsbRequest> request = BeginTransfer(buffer, length);
    const bool waited = WaitForTransfer(request.get());
    const bool finished = FinishTransfer(buffer, length, std::move(request), packetTable);
    return waited && finished;
}

bool UsbEndPoint::AbortPipe() {
    if (!driver || handle == kInvalidUsbHandle)
        return false;
    return driver->abortEndpoint(handle, address);
}

ControlEndPoint::ControlEndPoint(UsbDriver* driver, UsbHandle handle,
                                 const UsbEndpointDescriptor& descriptor)
    : UsbEndPoint(driver, handle, descriptor) {
    direct = false;
}

std::uint32_t ControlEndPoint::timeoutSeconds() const {
    if (timeout == 0 || timeout >= 1000)
        return timeout / 1000;
    return 1;
}

std::uint8_t ControlEndPoint::requestTypeByte() const {
    return static_cast<std::uint8_t>(((direction & 1) << 7) | ((requestType & 3) << 5) |
                                     (target & 0x1F));
}

std::unique_ptr<UsbRequest> ControlEndPoint::BeginTransfer(std::uint8_t* buffer,
                                                           std::uint32_t length) {
    in = direction == 1;
    if (length > 0xFFFF) {
        lastBegin = UsbBeginState::Failed;
        return nullptr;
    }
    if (!canSend(buffer, length))
        return nullptr;
    auto request = makeRequest(buffer, length, true);

    UsbSetup setup;
    setup.requestType = requestTypeByte();
    setup.request = requestCode;
    setup.value = value;
    setup.index = index;
    setup.length = static_cast<std::uint16_t>(length);
    const UsbBegin begun =
        driver->beginControl(handle, setup, request->data.data(), timeoutSeconds());
    request->id = begun.id;
    request->state = begun.state;
    lastBegin = begun.state;
    return request;
}

std::uint32_t IsocEndPoint::packetCount(std::uint32_t length) const {
    if (maxPacketSize == 0)
        return 0;
    return (length + maxPacketSize - 1u) / maxPacketSize;
}

std::unique_ptr<UsbRequest> IsocEndPoint::BeginDirect(std::uint8_t* buffer, std::uint32_t length) {
    const std::uint32_t count = packetCount(length);
    if (count == 0) {
        lastBegin = UsbBeginState::Failed;
        return nullptr;
    }
    if (!canSend(buffer, length))
        return nullptr;
    auto request = makeRequest(buffer, length, false);
    request->isoPackets.resize(count);
    return send(std::move(request), buffer, length, maxPacketSize);
}

std::unique_ptr<UsbRequest> IsocEndPoint::BeginBuffered(std::uint8_t* buffer,
                                                        std::uint32_t length) {
    const std::uint32_t count = packetCount(length);
    if (count == 0) {
        lastBegin = UsbBeginState::Failed;
        return nullptr;
    }
    if (!canSend(buffer, length))
        return nullptr;
    auto request = makeRequest(buffer, length, true);
    request->isoPackets.resize(count);
    std::uint8_t* copy = request->data.data();
    return send(std::move(request), copy, length, maxPacketSize);
}

std::unique_ptr<UsbRequest> IsocEndPoint::BeginTransfer(std::uint8_t* buffer,
                                                        std::uint32_t length) {
    return direct ? BeginDirect(buffer, length) : BeginBuffered(buffer, length);
}

std::unique_ptr<UsbRequest> BulkEndPoint::BeginTransfer(std::uint8_t* buffer,
                                                        std::uint32_t length) {
    return direct ? BeginDirect(buffer, length) : BeginBuffered(buffer, length);
}

std::unique_ptr<UsbRequest> InterruptEndPoint::BeginTransfer(std::uint8_t* buffer,
                                                             std::uint32_t length) {
    return direct ? BeginDirect(buffer, length) : BeginBuffered(buffer, length);
}

std::unique_ptr<UsbEndPoint> makeEndPoint(UsbDriver* driver, UsbHandle handle,
                                          const UsbEndpointDescriptor& descriptor) {
    switch (descriptor.attributes & 3) {
    case 0:
        return std::make_unique<ControlEndPoint>(driver, handle, descriptor);
    case 1:
        return std::make_unique<IsocEndPoint>(driver, handle, descriptor);
    case 2:
        return std::make_unique<BulkEndPoint>(driver, handle, descriptor);
    default:
        return std::make_unique<InterruptEndPoint>(driver, handle, descriptor);
    }
}
