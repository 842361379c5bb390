#pragma once

// Endpoint objects: each turns one transfer of the application (a buffer and a length) into
// one request to the UsbDriver, waits for it with the endpoint's time-out, and reports the
// bytes moved and whether it succeeded. UsbDevice creates and owns them.

#include "usb/UsbDriver.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// The seven bytes of an endpoint descriptor.
struct UsbEndpointDescriptor {
    std::uint8_t length = 7;
    std::uint8_t type = 5;
    std::uint8_t address = 0;
    std::uint8_t attributes = 0;
    std::uint16_t packetSizeField = 0; // wMaxPacketSize as sent by the device
    std::uint8_t interval = 0;

    // Reads the fields from `bytes` (at least 7 of them).
    static UsbEndpointDescriptor fromBytes(const std::uint8_t* bytes);
};

// One request handed to the driver; the caller owns it from BeginTransfer to FinishTransfer.
// Buffered requests carry their own copy of the data, which FinishTransfer copies back for IN.
struct UsbRequest {
    UsbTransferId id = kNoUsbTransfer;
    UsbBeginState state = UsbBeginState::Failed;
    std::uint32_t length = 0; // bytes asked for
    bool buffered = false;
    std::vector<std::uint8_t> data;       // the copy of a buffered request
    std::vector<UsbIsoPacket> isoPackets; // one entry per packet of an isochronous request
};

class UsbEndPoint {
public:
    // A default-built endpoint has no device: every transfer on it fails.
    UsbEndPoint() = default;
    UsbEndPoint(UsbDriver* driver, UsbHandle handle, const UsbEndpointDescriptor& descriptor);
    virtual ~UsbEndPoint() = default;
    UsbEndPoint(const UsbEndPoint&) = delete;
    UsbEndPoint& operator=(const UsbEndPoint&) = delete;

    // Request moving data straight between the device and `buffer`.
    virtual std::unique_ptr<UsbRequest> BeginDirect(std::uint8_t* buffer, std::uint32_t length);
    // Request moving data through a copy held in the request.
    virtual std::unique_ptr<UsbRequest> BeginBuffered(std::uint8_t* buffer, std::uint32_t length);
    // The request of this kind of endpoint; none when nothing was sent (no device).
    virtual std::unique_ptr<UsbRequest> BeginTransfer(std::uint8_t* buffer,
                                                      std::uint32_t length) = 0;
    // Collects the request: `length` becomes the bytes moved (also on failure), IN data of a
    // buffered request is copied into `buffer`, isochronous packet results into
    // `packetTable` when given. True when the request completed without error.
    virtual bool FinishTransfer(std::uint8_t* buffer, std::uint32_t& length,
                                std::unique_ptr<UsbRequest> request, UsbIsoPacket* packetTable);

    // Waits up to `timeout` ms. On time-out the endpoint's pending requests are aborted and the
    // aborted request is waited for, so that the buffers may be released; the result is false.
    bool WaitForTransfer(UsbRequest* request);
    // The same, waiting in slices of `sliceMs` and giving up (aborting) as soon as `stop` is
    // set between two of them, so that another thread can end a long read within a slice.
    bool WaitForTransfer(UsbRequest* request, const std::atomic<bool>& stop, std::uint32_t sliceMs);
    // One complete synchronous transfer; `length` in: bytes to move, out: bytes moved. A short
    // IN transfer succeeds with the smaller length.
    bool Transfer(std::uint8_t* buffer, std::uint32_t& length, UsbIsoPacket* packetTable = nullptr);
    // Cancels every pending request of this endpoint.
    bool AbortPipe();

    // Descriptor fields.
    std::uint8_t descriptorLength = 0;
    std::uint8_t descriptorType = 0;
    std::uint8_t address = 0; // bit 7 = IN
    std::uint8_t attributes = 0;
    std::uint16_t maxPacketSize = 0; // bits 10..0 of the packet-size field × packets per microframe
    std::uint16_t packetsPerMicroframe = 0; // bits 12..11 of the packet-size field + 1
    std::uint8_t interval = 0;

    std::uint32_t timeout = 10000; // milliseconds, for WaitForTransfer
    // Results of the last request.
    std::uint32_t usbStatus = 0;
    std::uint32_t systemStatus = 0;
    std::uint32_t bytesTransferred = 0;
    UsbBeginState lastBegin = UsbBeginState::Failed;

    bool in = false;
    bool direct = true; // false: data moves through a copy (old drivers, endpoint 0)

protected:
    // False (and nothing may be sent) without a device or without a buffer for the data.
    bool canSend(const std::uint8_t* buffer, std::uint32_t length);
    // A request for `length` bytes, with a copy of `buffer` when buffered.
    static std::unique_ptr<UsbRequest> makeRequest(const std::uint8_t* buffer, std::uint32_t length,
                                                   bool buffered);
    // Sends the request to the driver and records how it started.
    std::unique_ptr<UsbRequest> send(std::unique_ptr<UsbRequest> request, std::uint8_t* data,
                                     std::uint32_t length, std::uint32_t isoPacketSize);

    UsbDriver* driver = nullptr;
    UsbHandle handle = kInvalidUsbHandle;
};

class ControlEndPoint : public UsbEndPoint {
public:
    ControlEndPoint() : UsbEndPoint() { direct = false; }
    ControlEndPoint(UsbDriver* driver, UsbHandle handle, const UsbEndpointDescriptor& descriptor);

    // Endpoint-0 request built from the fields below; the data stage always moves through a
    // copy. Data stages above 65535 bytes are refused (nothing sent).
    std::unique_ptr<UsbRequest> BeginTransfer(std::uint8_t* buffer, std::uint32_t length) override;

    // The driver's own limit in whole seconds for the current time-out: 0 stays 0, below one
    // second counts as one, otherwise the seconds rounded down.
    std::uint32_t timeoutSeconds() const;
    // Bit 7 direction, bits 6..5 request type, bits 4..0 target.
    std::uint8_t requestTypeByte() const;

    // The caller sets these before each transfer; they stay set for the next one.
    std::uint32_t target = 0;      // 0 device, 1 interface, 2 endpoint, 3 other
    std::uint32_t requestType = 2; // 0 standard, 1 class, 2 vendor
    std::uint32_t direction = 0;   // 0 host to device, 1 device to host
    std::uint8_t requestCode = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
};

class IsocEndPoint : public UsbEndPoint {
public:
    using UsbEndPoint::UsbEndPoint;

    // Isochronous requests cover ceil(length / maxPacketSize) packets; with no packet (length
    // or packet size 0) nothing is sent.
    std::unique_ptr<UsbRequest> BeginDirect(std::uint8_t* buffer, std::uint32_t length) override;
    std::unique_ptr<UsbRequest> BeginBuffered(std::uint8_t* buffer, std::uint32_t length) override;
    std::unique_ptr<UsbRequest> BeginTransfer(std::uint8_t* buffer, std::uint32_t length) override;

    std::uint32_t packetCount(std::uint32_t length) const;
};

class BulkEndPoint : public UsbEndPoint {
public:
    using UsbEndPoint::UsbEndPoint;
    std::unique_ptr<UsbRequest> BeginTransfer(std::uint8_t* buffer, std::uint32_t length) override;
};

class InterruptEndPoint : public UsbEndPoint {
public:
    using UsbEndPoint::UsbEndPoint;
    std::unique_ptr<UsbRequest> BeginTransfer(std::uint8_t* buffer, std::uint32_t length) override;
};

// The endpoint object for a descriptor, chosen by the transfer type in bits 1..0 of its
// attributes.
std::unique_ptr<UsbEndPoint> makeEndPoint(UsbDriver* driver, UsbHandle handle,
                                          const UsbEndpointDescriptor& descriptor);
