#pragma once

// The narrow boundary between the USB transport (UsbDevice and its endpoint objects) and
// whatever actually moves bytes: libusb for real boards, the emulated board for tests and
// demos. Each operation is one request the transport makes; the transport keeps all the
// logic (descriptor parsing, selection rules, time-outs, abort on time-out).
//
// Threading: every call comes from one thread. Implementations need no locks of their own
// for the transport's sake.

#include <cstdint>
#include <optional>
#include <string>

// An open device. Handles are small positive numbers chosen by the driver; a handle stays
// valid until close(), also across a port reset (the driver re-finds a board that
// re-enumerates). Operations on an invalid, closed or unplugged handle fail; they never crash.
using UsbHandle = int;
constexpr UsbHandle kInvalidUsbHandle = -1;

// Identifies one request begun with beginControl() or beginTransfer(). Ids are unique for
// the driver's lifetime; 0 means "nothing was sent".
using UsbTransferId = std::uint64_t;
constexpr UsbTransferId kNoUsbTransfer = 0;

// waitTransfer() with this time-out waits until the request has completed, however long.
constexpr std::uint32_t kUsbWaitForever = 0xFFFFFFFFu;

// Speed codes of speed().
constexpr std::uint32_t kUsbSpeedLow = 0;
constexpr std::uint32_t kUsbSpeedFull = 1;
constexpr std::uint32_t kUsbSpeedHigh = 2;
constexpr std::uint32_t kUsbSpeedSuper = 3;

// The 8-byte setup packet of an endpoint-0 request. `length` is the length of the data
// stage; bit 7 of `requestType` gives its direction (set: device to host).
struct UsbSetup {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

// USB status word of a finished request (0 = success).
enum UsbStatus : std::uint32_t {
    kUsbStatusOk = 0,
    kUsbStatusStall = 1,     // the device stalled the endpoint / refused the request
    kUsbStatusTimeout = 2,   // the driver's own time-out of a control request expired
    kUsbStatusCancelled = 3, // aborted by abortEndpoint() (or by close)
    kUsbStatusNoDevice = 4,  // the device is gone
    kUsbStatusOverflow = 5,  // the device sent more than the buffer holds
    kUsbStatusError = 6,     // any other failure on the bus or in the host
};

// How a request stands right after it was begun.
enum class UsbBeginState {
    Completed, // finished already: waitTransfer() need not be called
    Pending,   // in flight: waitTransfer() until it completes
    Failed,    // refused at once (bad handle, bad arguments, device gone); nothing in flight
};

struct UsbBegin {
    UsbBeginState state = UsbBeginState::Failed;
    // Nonzero whenever the handle was valid, also when the request failed at once: the
    // caller passes it to finishTransfer() exactly once, which then reports the failure.
    UsbTransferId id = kNoUsbTransfer;
};

enum class UsbWait {
    Completed, // the request has finished (successfully or not: see finishTransfer)
    TimedOut,  // still in flight after the time-out; the request is left untouched
    Failed,    // unknown id, or the wait itself failed
};

// Result of one isochronous packet.
struct UsbIsoPacket {
    std::uint32_t length = 0; // bytes moved in this packet
    std::uint32_t status = 0; // UsbStatus of this packet
};

struct UsbTransferResult {
    // The driver collected the request (the id was known and it had completed). A request
    // that completed with an error still gives collected = true and a nonzero status.
    bool collected = false;
    std::uint32_t bytes = 0;        // bytes moved, also for failed and cancelled requests
    std::uint32_t usbStatus = 0;    // UsbStatus
    std::uint32_t systemStatus = 0; // errno-style code of the host side, 0 = none
    bool succeeded() const { return collected && usbStatus == 0 && systemStatus == 0; }
};

class UsbDriver {
public:
    virtual ~UsbDriver() = default;

    // --- Devices ---------------------------------------------------------------------------
    // Number of devices this driver serves right now, in a stable order (0 when none or when
    // the driver cannot work at all).
    virtual int countDevices() = 0;
    // A path naming the device at `index` of the current enumeration; empty when there is
    // none. The same board keeps the same path while it stays plugged into the same port.
    virtual std::string devicePath(int index) = 0;
    // Opens the device named by `path`; kInvalidUsbHandle on failure.
    virtual UsbHandle open(const std::string& path) = 0;
    // Whether the last open() failed because the system refused access to the device (no
    // permission on its device file), the commonest first-run failure on Linux.
    virtual bool lastOpenDenied() const { return false; }
    // Closes the handle. Requests still in flight are cancelled and reaped first. The handle
    // is invalid afterwards whatever the result; false reports that the driver could not
    // release the device cleanly.
    virtual bool close(UsbHandle handle) = 0;

    // --- Information (nullopt / false on failure) ------------------------------------------
    // Version of the driver, 0xMMmmrrbb; below 0x01050500 the transport moves bulk and
    // interrupt data through its own copy of the buffer ("buffered" path).
    virtual std::optional<std::uint32_t> driverVersion(UsbHandle handle) = 0;
    virtual std::optional<std::uint32_t> busInterfaceVersion(UsbHandle handle) = 0;
    virtual std::optional<std::uint8_t> busAddress(UsbHandle handle) = 0;
    // One of the kUsbSpeed codes.
    virtual std::optional<std::uint32_t> speed(UsbHandle handle) = 0;
    // Short and descriptive names of the driver, at most 255 characters each.
    virtual std::optional<std::string> driverName(UsbHandle handle) = 0;
    virtual std::optional<std::string> driverFriendlyName(UsbHandle handle) = 0;

    // --- Interface 0 ----------------------------------------------------------------------
    // Alternate setting that interface 0 runs now (0 after open and after a reset).
    virtual std::optional<std::uint8_t> currentAltSetting(UsbHandle handle) = 0;
    // Switches interface 0 to `setting`; false when the device refuses it. Pending
    // transfers of the interface's endpoints must have been finished before.
    virtual bool selectAltSetting(UsbHandle handle, std::uint8_t setting) = 0;
    // Resets the port. Afterwards the device runs alternate setting 0 and the handle is still
    // usable, even if the device re-enumerated.
    virtual bool resetPort(UsbHandle handle) = 0;

    // --- Requests --------------------------------------------------------------------------
    // Begins an endpoint-0 request. `data` holds setup.length bytes: sent for host-to-device
    // requests, filled for device-to-host ones. `timeoutSeconds` is the driver's own limit
    // for the whole request; 0 means no limit of its own. Data stages above 4096 bytes fail.
    virtual UsbBegin beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                                  std::uint32_t timeoutSeconds) = 0;
    // Begins a data transfer of `length` bytes on `endpoint` (bit 7 set = IN). The driver
    // moves the data straight between the device and `data`, splitting large transfers
    // itself. An IN transfer that ends early (short packet) completes successfully with the
    // smaller byte count. `isoPacketSize` is 0 for bulk and interrupt endpoints; for an
    // isochronous endpoint it is the packet size, the transfer then consisting of
    // ceil(length / isoPacketSize) packets.
    // `data` must stay valid until finishTransfer() for the returned id has been called.
    virtual UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                                   std::uint32_t length, std::uint32_t isoPacketSize) = 0;
    // Waits up to `timeoutMs` milliseconds (kUsbWaitForever: no limit, 0: just look) for the
    // request to complete. A time-out leaves it in flight: abort it, then wait again.
    virtual UsbWait waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) = 0;
    // Collects a completed request and forgets its id. Must be called exactly once for every
    // nonzero id, and only once the request has completed (after a Completed begin or wait);
    // an id that is unknown or still in flight gives collected = false and is kept.
    // `isoPackets`, when given, receives one entry per isochronous packet (room for
    // ceil(length / isoPacketSize) entries).
    virtual UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) = 0;
    // Cancels every request in flight on `endpoint` (0 = endpoint-0 requests). Cancelled
    // requests complete with kUsbStatusCancelled and the bytes moved before the cancel; they
    // still have to be waited for and finished. Returns false when the handle is invalid.
    virtual bool abortEndpoint(UsbHandle handle, std::uint8_t endpoint) = 0;
};
