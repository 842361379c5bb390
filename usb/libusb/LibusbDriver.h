#pragma once

// UsbDriver for real boards through libusb-1.0: serves the USB devices with the controller's
// vendor id, ordered by bus and port so that the order is stable.
//
// Requests are libusb's asynchronous transfers: begin submits, waitTransfer handles events
// until the request completes or the time-out passes, abortEndpoint cancels, and the cancelled
// request is reaped by waiting again. A data transfer larger than one piece moves in pieces
// that look like one request; several of them stay queued so that the endpoint never idles
// between two of them (the board's FIFO would overflow within a millisecond).

#include "usb/UsbDriver.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

class LibusbDriver : public UsbDriver {
public:
    static constexpr std::uint16_t kVendorId = 0x04B4;
    // Our own version as a driver: transfers move straight into the caller's buffer.
    static constexpr std::uint32_t kVersion = 0x02000000;
    // Largest piece of a data transfer, a multiple of 512 so that only the last piece can end
    // with a short packet.
    static constexpr std::uint32_t kMaxPiece = 1u << 20;
    // Pieces of one transfer queued at once. usbfs buffers of all programs count against a
    // system-wide limit (16 MB by default): a transfer holds at most 4 MiB of it, and goes on
    // with fewer pieces queued when the kernel has no room for another.
    static constexpr int kPiecesInFlight = 4;
    // Linux carries at most one page in the data stage of a control transfer.
    static constexpr std::uint16_t kMaxControlData = 4096;
    // How long a reset may take to bring back a device that re-enumerated.
    static constexpr int kReenumerateMs = 3000;

    LibusbDriver();
    ~LibusbDriver() override;
    LibusbDriver(const LibusbDriver&) = delete;
    LibusbDriver& operator=(const LibusbDriver&) = delete;

    // Why libusb could not be set up; empty when it was.
    const std::string& initError() const { return initErrorText; }

    int countDevices() override;
    std::string devicePath(int index) override;
    UsbHandle open(const std::string& path) override;
    bool lastOpenDenied() const override { return openDenied; }
    bool close(UsbHandle handle) override;
    std::optional<std::uint32_t> driverVersion(UsbHandle handle) override;
    std::optional<std::uint32_t> busInterfaceVersion(UsbHandle handle) override;
    std::optional<std::uint8_t> busAddress(UsbHandle handle) override;
    std::optional<std::uint32_t> speed(UsbHandle handle) override;
    std::optional<std::string> driverName(UsbHandle handle) override;
    std::optional<std::string> driverFriendlyName(UsbHandle handle) override;
    std::optional<std::uint8_t> currentAltSetting(UsbHandle handle) override;
    bool selectAltSetting(UsbHandle handle, std::uint8_t setting) override;
    bool resetPort(UsbHandle handle) override;
    UsbBegin beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                          std::uint32_t timeoutSeconds) override;
    UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t isoPacketSize) override;
    UsbWait waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) override;
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override;
    bool abortEndpoint(UsbHandle handle, std::uint8_t endpoint) override;

    struct ContextDeleter {
        void operator()(libusb_context* context) const;
    };
    struct HandleDeleter {
        void operator()(libusb_device_handle* handle) const;
    };
    struct TransferDeleter {
        void operator()(libusb_transfer* transfer) const;
    };
    struct Request;
    struct Piece;

private:
    struct Open {
        std::string path;
        std::unique_ptr<libusb_device_handle, HandleDeleter> handle;
        bool claimed = false;
    };
    // One board found by the enumeration.
    struct Found {
        std::string path;
        libusb_device* device; // valid while the list it came from lives
    };

    std::vector<Found> enumerate(std::shared_ptr<void>& keepList);
    libusb_device_handle* handleOf(UsbHandle handle);
    bool claim(Open& open);
    // Runs libusb's events until `done` is set or `timeoutMs` passed; false on time-out.
    bool handleEventsUntil(const int& done, std::uint32_t timeoutMs);
    // Cancels the requests in flight on `handle` (all endpoints) and waits for them to come
    // back; they stay to be finished.
    void cancelAndDrain(UsbHandle handle);
    UsbBegin failed(UsbHandle handle, std::uint8_t endpoint, int libusbError);
    // Submits the request's first piece (for data transfers: as many as may be queued).
    UsbBegin submit(std::unique_ptr<Request> request);
    // Sends `piece` off for the next part of its request's buffer.
    static int submitPiece(Piece& piece);
    // No further piece goes out; those in flight are cancelled. `why` is the outcome unless
    // the pieces that came back tell otherwise. False when a cancel failed.
    static bool endEarly(Request& request, int why, int libusbError = 0);
    static void onTransfer(libusb_transfer* transfer);
    static void completed(Piece& piece);
    static void dataPieceBack(Piece& piece);
    static void conclude(Request& request);

    std::unique_ptr<libusb_context, ContextDeleter> context;
    std::string initErrorText;
    std::map<UsbHandle, Open> opened;
    UsbHandle nextHandle = 1;
    bool openDenied = false;
    std::map<UsbTransferId, std::unique_ptr<Request>> requests;
    UsbTransferId nextId = 1;
};
