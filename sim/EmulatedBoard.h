#pragma once

// The radar board as seen from the USB cable, independent of any host driver: its
// descriptors, endpoint-0 requests, interface alternate settings, bulk endpoints and the
// stream they carry. SimUsbDriver serves it to the program; other adapters may serve it to
// other host stacks.

#include "sim/AcquisitionLogic.h"
#include "sim/BoardClock.h"
#include "sim/ControllerCore.h"
#include "sim/Descriptors.h"
#include "sim/SampleSource.h"
#include "sim/Scene.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

struct ControlSetup {
    std::uint8_t requestType = 0; // bit 7 set: data stage device to host
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

// Faults tests switch on and off at will.
struct BoardFaults {
    bool noData = false;                    // the stream endpoint never delivers
    std::optional<std::uint32_t> shortRead; // every stream read ends after this many bytes
    bool noFrameFlag = false;               // samples go out without the frame flag
    bool refuseAltSetting = false;          // SET_INTERFACE is stalled
    bool failControlRequests = false;       // every endpoint-0 request is stalled
    bool reenumerateOnReset = false;        // a port reset makes the board enumerate anew
    bool accessDenied = false;              // its device file is not the user's: open fails
};

class EmulatedBoard {
public:
    static constexpr std::uint8_t kCommandEndpoint = 0x02;
    static constexpr std::uint8_t kStreamEndpoint = 0x86;
    static constexpr std::uint8_t kFirmwareRequest = 0xA0;

    EmulatedBoard(const Scene& scene, std::shared_ptr<BoardClock> clock, BoardIdentity id = {});
    // A board whose acquisition logic streams from `source` (a test's counting source, say).
    EmulatedBoard(std::shared_ptr<SampleSource> source, std::shared_ptr<BoardClock> clock,
                  BoardIdentity id = {});

    const BoardIdentity& identity() const { return id; }
    // The scene the board shows; one streaming from another source has an empty scene of its
    // device model.
    const Scene& scene() const { return sceneUsed; }
    BoardClock& clock() const { return *clk; }

    // --- Bus ---------------------------------------------------------------------------------
    bool plugged() const { return isPlugged; }
    void unplug();
    // Plugs the board (back) in: power-on state, a new address.
    void plug();
    std::uint8_t address() const { return busAddress; }
    void setAddress(std::uint8_t a) { busAddress = a; }
    // Changes whenever the board enumerates anew (plugged in, or a re-enumerating reset).
    int enumeration() const { return generation; }
    bool highSpeed() const { return true; }

    // --- Endpoint 0 ----------------------------------------------------------------------------
    // Standard requests and vendor request 0xA0. `data` holds setup.length bytes: sent for
    // host-to-device requests, filled for device-to-host ones. Returns the data-stage bytes
    // moved, or nullopt when the board stalls the request.
    std::optional<std::size_t> control(const ControlSetup& setup, std::uint8_t* data);

    // --- Interface 0 ---------------------------------------------------------------------------
    std::uint8_t altSetting() const { return alt; }
    bool selectAltSetting(std::uint8_t setting);
    // Port reset: alternate setting 0. The controller keeps running its program.
    void resetPort();
    // The endpoint with this address in the current alternate setting, when it can move data
    // (a packet size above 0).
    std::optional<EndpointInfo> endpoint(std::uint8_t address) const;

    // --- Data endpoints -----------------------------------------------------------------------
    // An OUT transfer: true when the board takes all of it now; false when the endpoint NAKs
    // (the transfer stays pending until the host gives up).
    bool acceptOut(std::uint8_t endpoint, const std::uint8_t* data, std::size_t length);
    // The stream on 0x86. A read begins, asks when enough bytes will be there (kNever when
    // none will come), takes what has arrived, and ends.
    void beginStreamRead();
    void endStreamRead();
    double streamReadyTime(std::size_t bytes);
    std::size_t streamAvailableBy(double t);
    std::size_t readStream(std::uint8_t* data, std::size_t length);

    BoardFaults faults;

    // --- Observation ---------------------------------------------------------------------------
    const ControllerCore& controller() const { return core; }
    const AcquisitionLogic& acquisition() const { return logic; }
    bool streaming() const { return logic.streaming(); }
    struct VendorRequest {
        ControlSetup setup;
        std::vector<std::uint8_t> data; // sent, or read back
    };
    const std::vector<VendorRequest>& vendorRequests() const { return log; }
    void clearVendorRequests() { log.clear(); }

private:
    std::optional<std::size_t> standardRequest(const ControlSetup& setup, std::uint8_t* data);
    std::optional<std::size_t> firmwareRequest(const ControlSetup& setup, std::uint8_t* data);
    void syncFifos();

    Scene sceneUsed;
    std::shared_ptr<BoardClock> clk;
    BoardIdentity id;
    ControllerCore core;
    AcquisitionLogic logic;
    bool isPlugged = true;
    std::uint8_t busAddress = 2;
    int generation = 0;
    std::uint8_t alt = 0;
    std::uint8_t configuration = 1;
    std::vector<VendorRequest> log;
};

} // namespace sim
