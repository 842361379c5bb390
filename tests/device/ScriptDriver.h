#pragma once

// A UsbDriver with radar boards whose endpoint-0 vendor requests and bulk transfers follow a
// script: descriptors come from BlockDriver, the stream on 0x86 is given byte for byte, and
// any vendor request can be made to stall.

#include "tests/usb/BlockDriver.h"

#include <map>

class ScriptDriver : public BlockDriver {
public:
    // Adds a device with the controller's configuration.
    void addBoard(std::uint16_t vendor = 0x04B4, std::uint16_t product = 0x8613);

    struct VendorRequest {
        bool in = false;
        std::uint16_t address = 0;
        Bytes data; // sent, or returned
    };
    std::vector<VendorRequest> vendorRequests;
    int stallVendorRequest = -1; // position in vendorRequests of the one the board stalls
    std::uint8_t cpucs = 0;      // controller register read and written at 0xE600

    enum class Fault { None, Stall, Hang };
    Bytes stream; // the next IN transfer on 0x86 delivers its first bytes, at most as asked
    Fault streamFault = Fault::None;
    std::vector<std::uint32_t> streamRequests; // lengths asked on 0x86
    std::vector<std::uint32_t> streamWaits;    // time-outs the waits on 0x86 used
    int streamAborts = 0;
    std::vector<Bytes> commandBlocks;     // OUT transfers on 0x02
    std::uint32_t outLimit = 0xFFFFFFFFu; // an OUT transfer moves at most this

    UsbBegin beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                          std::uint32_t timeoutSeconds) override;
    UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t isoPacketSize) override;
    UsbWait waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) override;
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override;
    bool abortEndpoint(UsbHandle handle, std::uint8_t endpoint) override;

private:
    UsbBegin complete(std::uint32_t bytes, std::uint32_t status);

    struct Scripted {
        UsbTransferResult result;
        bool hanging = false;
    };
    // Ids far above BlockDriver's own, so both can be told apart.
    std::map<UsbTransferId, Scripted> scripted;
    UsbTransferId nextId = UsbTransferId{1} << 40;
};
