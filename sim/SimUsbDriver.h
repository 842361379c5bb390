#pragma once

// A UsbDriver whose devices are emulated boards plugged into the ports of one bus. The
// program runs it with one board on the wall clock (`--simulate`); tests plug in as many
// boards as they need, on a virtual clock, and inject faults through the boards.

#include "sim/EmulatedBoard.h"
#include "usb/UsbDriver.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class SimUsbDriver : public UsbDriver {
public:
    static constexpr std::uint32_t kDefaultDriverVersion = 0x01060000;

    SimUsbDriver() = default;
    ~SimUsbDriver() override;
    SimUsbDriver(const SimUsbDriver&) = delete;
    SimUsbDriver& operator=(const SimUsbDriver&) = delete;

    // One board showing `scene`, paced to real time or on a virtual clock.
    static std::unique_ptr<SimUsbDriver> withBoard(const Scene& scene, bool paced);
    // One board streaming from `source` on `clock` (a WallClock paces it to real time).
    static std::unique_ptr<SimUsbDriver> withBoard(std::shared_ptr<SampleSource> source,
                                                   std::shared_ptr<BoardClock> clock);

    // Plugs a board into the next free port.
    EmulatedBoard& attach(std::shared_ptr<EmulatedBoard> board);
    // The board in port `port` (0-based, in the order attached), plugged in or not.
    EmulatedBoard& board(std::size_t port) const { return *ports.at(port).board; }
    std::size_t portCount() const { return ports.size(); }

    // Below 0x01050500 the transport takes its buffered path.
    void setDriverVersion(std::uint32_t version) { version_ = version; }

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

private:
    struct Port {
        std::shared_ptr<EmulatedBoard> board;
        std::string path;
    };
    struct Handle {
        std::size_t port;
        int enumeration; // of the board when opened or re-found after a reset
    };
    struct Transfer {
        UsbHandle handle;
        std::size_t port;
        std::uint8_t endpoint;
        std::uint8_t* data;
        std::uint32_t length;
        std::uint32_t isoPacketSize;
        bool stream = false; // a read of the board's sample stream, still open on the board
        bool completed = false;
        std::uint32_t bytes = 0;
        std::uint32_t usbStatus = 0;
        std::uint32_t systemStatus = 0;
    };

    EmulatedBoard* live(UsbHandle handle);
    UsbBegin failed(UsbHandle handle, std::size_t port, std::uint8_t endpoint,
                    std::uint32_t usbStatus, std::uint32_t systemStatus);
    UsbTransferId add(Transfer t);
    void complete(Transfer& t, std::uint32_t usbStatus, std::uint32_t systemStatus);
    void cancelWhere(std::size_t port, int endpoint, UsbHandle handle);

    std::vector<Port> ports;
    std::map<UsbHandle, Handle> handles;
    std::map<UsbTransferId, Transfer> transfers;
    UsbHandle nextHandle = 1;
    bool openDenied = false;
    UsbTransferId nextId = 1;
    std::uint32_t version_ = kDefaultDriverVersion;
};

} // namespace sim
