#include "sim/EmulatedBoard.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint8_t kGetStatus = 0, kClearFeature = 1, kGetDescriptor = 6, kGetConfiguration = 8,
                       kSetConfiguration = 9, kGetInterface = 10, kSetInterface = 11;

// Vendor requests are kept for tests to inspect; a runaway caller must not exhaust memory.
constexpr std::size_t kVendorLogLimit = 4096;

std::size_t copyOut(const std::vector<std::uint8_t>& from, std::uint8_t* to, std::size_t max) {
    const std::size_t n = std::min(from.size(), max);
    std::copy(from.begin(), from.begin() + static_cast<long>(n), to);
    return n;
}

} // namespace

EmulatedBoard::EmulatedBoard(const Scene& scene, std::shared_ptr<BoardClock> clock,
                             BoardIdentity identity)
    : sceneUsed(scene), clk(std::move(clock)), id(std::move(identity)), logic(scene, clk) {}

namespace {
Scene emptySceneOf(int model) {
    Scene scene;
    scene.deviceModel = model;
    return scene;
}
} // namespace

EmulatedBoard::EmulatedBoard(std::shared_ptr<SampleSource> source,
                             std::shared_ptr<BoardClock> clock, BoardIdentity identity)
    : sceneUsed(emptySceneOf(source->deviceModel())), clk(std::move(clock)),
      id(std::move(identity)), logic(std::move(source), clk) {}

void EmulatedBoard::unplug() {
    isPlugged = false;
    core.powerOn();
    syncFifos();
}

void EmulatedBoard::plug() {
    isPlugged = true;
    core.powerOn();
    syncFifos();
    alt = 0;
    configuration = 1;
    busAddress = static_cast<std::uint8_t>(busAddress % 127 + 1);
    ++generation;
}

void EmulatedBoard::syncFifos() {
    const bool ready = core.fifosReady();
    if (ready != logic.fifosReady() || !ready)
        logic.setFifos(ready, core.ep6BufferBytes());
}

std::optional<std::size_t> EmulatedBoard::control(const ControlSetup& setup, std::uint8_t* data) {
    if (!isPlugged || faults.failControlRequests)
        return std::nullopt;
    if ((setup.requestType & 0x60) == 0x40)
        return firmwareRequest(setup, data);
    if ((setup.requestType & 0x60) == 0)
        return standardRequest(setup, data);
    return std::nullopt;
}

std::optional<std::size_t> EmulatedBoard::firmwareRequest(const ControlSetup& setup,
                                                          std::uint8_t* data) {
    if (setup.request != kFirmwareRequest || (setup.requestType & 0x1F) != 0)
        return std::nullopt;
    const bool in = setup.requestType & 0x80;
    bool ok;
    if (in) {
        ok = core.hostRead(setup.value, data, setup.length);
    } else {
        ok = core.hostWrite(setup.value, data, setup.length);
        syncFifos();
    }
    if (log.size() < kVendorLogLimit)
        log.push_back({setup, ok ? std::vector<std::uint8_t>(data, data + setup.length)
                                 : std::vector<std::uint8_t>()});
    if (!ok)
        return std::nullopt;
    return setup.length;
}

std::optional<std::size_t> EmulatedBoard::standardRequest(const ControlSetup& setup,
                                                          std::uint8_t* data) {
    const std::uint8_t recipient = setup.requestType & 0x1F;
    const bool in = setup.requestType & 0x80;
    switch (setup.request) {
    case kGetDescriptor: {
        if (!in || recipient != 0)
            return std::nullopt;
        const int type = setup.value >> 8, index = setup.value & 0xFF;
        std::vector<std::uint8_t> d;
        if (type == 1 && index == 0)
            d = deviceDescriptor(id);
        else if (type == 2 && index == 0)
            d = configurationDescriptor(highSpeed());
        else if (type == 3)
            d = stringDescriptor(id, static_cast<std::uint8_t>(index));
        else if (type == 6 && index == 0)
            d = deviceQualifier();
        else if (type == 7 && index == 0)
            d = configurationDescriptor(!highSpeed(), true);
        if (d.empty())
            return std::nullopt;
        return copyOut(d, data, setup.length);
    }
    case kGetStatus:
        if (!in)
            return std::nullopt;
        return copyOut({0, 0}, data, setup.length);
    case kGetConfiguration:
        if (!in || recipient != 0)
            return std::nullopt;
        return copyOut({configuration}, data, setup.length);
    case kSetConfiguration:
        if (in || recipient != 0 || setup.value > 1)
            return std::nullopt;
        configuration = static_cast<std::uint8_t>(setup.value);
        alt = 0;
        return 0;
    case kGetInterface:
        if (!in || recipient != 1 || setup.index != 0)
            return std::nullopt;
        return copyOut({alt}, data, setup.length);
    case kSetInterface:
        if (in || recipient != 1 || setup.index != 0 || setup.value > 0xFF ||
            !selectAltSetting(static_cast<std::uint8_t>(setup.value)))
            return std::nullopt;
        return 0;
    case kClearFeature:
        if (in)
            return std::nullopt;
        return 0;
    default:
        return std::nullopt;
    }
}

bool EmulatedBoard::selectAltSetting(std::uint8_t setting) {
    if (!isPlugged || faults.refuseAltSetting || setting >= kAltSettings || configuration == 0)
        return false;
    alt = setting;
    return true;
}

void EmulatedBoard::resetPort() {
    if (!isPlugged)
        return;
    alt = 0;
    configuration = 1;
    if (faults.reenumerateOnReset) {
        busAddress = static_cast<std::uint8_t>(busAddress % 127 + 1);
        ++generation;
    }
}

std::optional<EndpointInfo> EmulatedBoard::endpoint(std::uint8_t address) const {
    if (!isPlugged || configuration == 0)
        return std::nullopt;
    for (const EndpointInfo& e : endpointsOf(alt, highSpeed()))
        if (e.address == address && (e.maxPacket & 0x7FF) > 0)
            return e;
    return std::nullopt;
}

bool EmulatedBoard::acceptOut(std::uint8_t ep, const std::uint8_t* data, std::size_t length) {
    if (!endpoint(ep))
        return false;
    if (ep != kCommandEndpoint)
        return true; // nothing behind the other OUT endpoints; the controller drops it
    // Without a program that passes endpoint 2 on to the logic, its buffers stay full.
    if (!core.fifosReady())
        return false;
    logic.command(data, length);
    return true;
}

void EmulatedBoard::beginStreamRead() {
    logic.dropFrameFlags = faults.noFrameFlag;
    logic.beginRead();
}

void EmulatedBoard::endStreamRead() {
    logic.endRead();
}

double EmulatedBoard::streamReadyTime(std::size_t bytes) {
    if (!isPlugged || faults.noData || !endpoint(kStreamEndpoint))
        return AcquisitionLogic::kNever;
    return logic.readyTime(bytes);
}

std::size_t EmulatedBoard::streamAvailableBy(double t) {
    if (!isPlugged || faults.noData || !endpoint(kStreamEndpoint))
        return 0;
    return logic.availableBy(t);
}

std::size_t EmulatedBoard::readStream(std::uint8_t* data, std::size_t length) {
    logic.dropFrameFlags = faults.noFrameFlag;
    return logic.read(data, length);
}

} // namespace sim
