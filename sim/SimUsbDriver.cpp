#include "sim/SimUsbDriver.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

namespace sim {

namespace {
constexpr std::uint32_t kMaxControlData = 4096;
constexpr std::uint32_t kPacket = 512;
} // namespace

SimUsbDriver::~SimUsbDriver() {
    for (auto& [id, t] : transfers)
        if (t.stream)
            ports[t.port].board->endStreamRead();
}

std::unique_ptr<SimUsbDriver> SimUsbDriver::withBoard(const Scene& scene, bool paced) {
    std::shared_ptr<BoardClock> clock;
    if (paced)
        clock = std::make_shared<WallClock>();
    else
        clock = std::make_shared<VirtualClock>();
    auto driver = std::make_unique<SimUsbDriver>();
    driver->attach(std::make_shared<EmulatedBoard>(scene, clock));
    return driver;
}

std::unique_ptr<SimUsbDriver> SimUsbDriver::withBoard(std::shared_ptr<SampleSource> source,
                                                      std::shared_ptr<BoardClock> clock) {
    auto driver = std::make_unique<SimUsbDriver>();
    driver->attach(std::make_shared<EmulatedBoard>(std::move(source), std::move(clock)));
    return driver;
}

EmulatedBoard& SimUsbDriver::attach(std::shared_ptr<EmulatedBoard> board) {
    const std::size_t port = ports.size() + 1;
    board->setAddress(static_cast<std::uint8_t>(1 + port));
    ports.push_back({std::move(board), "sim:usb1/1-" + std::to_string(port)});
    return *ports.back().board;
}

int SimUsbDriver::countDevices() {
    int n = 0;
    for (const Port& p : ports)
        n += p.board->plugged() ? 1 : 0;
    return n;
}

std::string SimUsbDriver::devicePath(int index) {
    for (const Port& p : ports)
        if (p.board->plugged() && index-- == 0)
            return p.path;
    return {};
}

UsbHandle SimUsbDriver::open(const std::string& path) {
    openDenied = false;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i].path == path && ports[i].board->plugged()) {
            if (ports[i].board->faults.accessDenied) {
                openDenied = true;
                return kInvalidUsbHandle;
            }
            const UsbHandle h = nextHandle++;
            handles[h] = {i, ports[i].board->enumeration()};
            return h;
        }
    }
    return kInvalidUsbHandle;
}

bool SimUsbDriver::close(UsbHandle handle) {
    auto it = handles.find(handle);
    if (it == handles.end())
        return false;
    for (auto t = transfers.begin(); t != transfers.end();) {
        if (t->second.handle == handle) {
            complete(t->second, kUsbStatusCancelled, ENOENT);
            t = transfers.erase(t);
        } else {
            ++t;
        }
    }
    handles.erase(it);
    return true;
}

EmulatedBoard* SimUsbDriver::live(UsbHandle handle) {
    auto it = handles.find(handle);
    if (it == handles.end())
        return nullptr;
    EmulatedBoard& b = *ports[it->second.port].board;
    // A board that was unplugged (even if plugged back in since) is a new device.
    if (!b.plugged() || b.enumeration() != it->second.enumeration)
        return nullptr;
    return &b;
}

std::optional<std::uint32_t> SimUsbDriver::driverVersion(UsbHandle handle) {
    if (!live(handle))
        return std::nullopt;
    return version_;
}

std::optional<std::uint32_t> SimUsbDriver::busInterfaceVersion(UsbHandle handle) {
    if (!live(handle))
        return std::nullopt;
    return 0x00020000u;
}

std::optional<std::uint8_t> SimUsbDriver::busAddress(UsbHandle handle) {
    EmulatedBoard* b = live(handle);
    if (!b)
        return std::nullopt;
    return b->address();
}

std::optional<std::uint32_t> SimUsbDriver::speed(UsbHandle handle) {
    EmulatedBoard* b = live(handle);
    if (!b)
        return std::nullopt;
    return b->highSpeed() ? kUsbSpeedHigh : kUsbSpeedFull;
}

std::optional<std::string> SimUsbDriver::driverName(UsbHandle handle) {
    if (!live(handle))
        return std::nullopt;
    return std::string("tavrix-sim");
}

std::optional<std::string> SimUsbDriver::driverFriendlyName(UsbHandle handle) {
    if (!live(handle))
        return std::nullopt;
    return std::string("Tavrix emulated radar board");
}

std::optional<std::uint8_t> SimUsbDriver::currentAltSetting(UsbHandle handle) {
    EmulatedBoard* b = live(handle);
    if (!b)
        return std::nullopt;
    return b->altSetting();
}

bool SimUsbDriver::selectAltSetting(UsbHandle handle, std::uint8_t setting) {
    EmulatedBoard* b = live(handle);
    return b && b->selectAltSetting(setting);
}

bool SimUsbDriver::resetPort(UsbHandle handle) {
    EmulatedBoard* b = live(handle);
    if (!b)
        return false;
    Handle& h = handles[handle];
    // A reset kills whatever is in flight on the device, for every handle on it.
    cancelWhere(h.port, -1, kInvalidUsbHandle);
    b->resetPort();
    // Re-find the board if the reset made it enumerate anew: same port, new address.
    for (auto& [id, other] : handles)
        if (other.port == h.port && other.enumeration == h.enumeration && &other != &h)
            other.enumeration = b->enumeration();
    h.enumeration = b->enumeration();
    return true;
}

UsbTransferId SimUsbDriver::add(Transfer t) {
    const UsbTransferId id = nextId++;
    transfers.emplace(id, t);
    return id;
}

UsbBegin SimUsbDriver::failed(UsbHandle handle, std::size_t port, std::uint8_t endpoint,
                              std::uint32_t usbStatus, std::uint32_t systemStatus) {
    Transfer t{handle, port, endpoint, nullptr, 0, 0};
    t.completed = true;
    t.usbStatus = usbStatus;
    t.systemStatus = systemStatus;
    return {UsbBeginState::Failed, add(t)};
}

void SimUsbDriver::complete(Transfer& t, std::uint32_t usbStatus, std::uint32_t systemStatus) {
    if (t.stream) {
        ports[t.port].board->endStreamRead();
        t.stream = false;
    }
    t.completed = true;
    t.usbStatus = usbStatus;
    t.systemStatus = systemStatus;
}

void SimUsbDriver::cancelWhere(std::size_t port, int endpoint, UsbHandle handle) {
    for (auto& [id, t] : transfers)
        if (!t.completed && t.port == port && (endpoint < 0 || t.endpoint == endpoint) &&
            (handle == kInvalidUsbHandle || t.handle == handle))
            complete(t, kUsbStatusCancelled, ENOENT);
}

UsbBegin SimUsbDriver::beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                                    std::uint32_t) {
    auto h = handles.find(handle);
    if (h == handles.end())
        return {};
    EmulatedBoard* b = live(handle);
    if (!b)
        return failed(handle, h->second.port, 0, kUsbStatusNoDevice, ENODEV);
    if (setup.length > kMaxControlData || (setup.length > 0 && !data))
        return failed(handle, h->second.port, 0, kUsbStatusError, EINVAL);
    const ControlSetup s{setup.requestType, setup.request, setup.value, setup.index, setup.length};
    Transfer t{handle, h->second.port, 0, data, setup.length, 0};
    t.completed = true;
    if (auto moved = b->control(s, data)) {
        t.bytes = static_cast<std::uint32_t>(*moved);
    } else {
        t.usbStatus = kUsbStatusStall;
        t.systemStatus = EPIPE;
    }
    return {UsbBeginState::Completed, add(t)};
}

UsbBegin SimUsbDriver::beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                                     std::uint32_t length, std::uint32_t isoPacketSize) {
    auto h = handles.find(handle);
    if (h == handles.end())
        return {};
    const std::size_t port = h->second.port;
    EmulatedBoard* b = live(handle);
    if (!b)
        return failed(handle, port, endpoint, kUsbStatusNoDevice, ENODEV);
    const auto ep = b->endpoint(endpoint);
    const bool iso = ep && (ep->attributes & 3) == 1;
    if (!ep || (length > 0 && !data) || iso != (isoPacketSize > 0))
        return failed(handle, port, endpoint, kUsbStatusError, EINVAL);
    Transfer t{handle, port, endpoint, data, length, isoPacketSize};
    const bool in = endpoint & 0x80;
    if (iso) {
        // Nothing streams through the isochronous endpoints: empty packets in, all taken out.
        t.completed = true;
        t.bytes = in ? 0 : length;
        return {UsbBeginState::Completed, add(t)};
    }
    if (!in) {
        if (b->acceptOut(endpoint, data, length)) {
            t.completed = true;
            t.bytes = length;
            return {UsbBeginState::Completed, add(t)};
        }
        return {UsbBeginState::Pending, add(t)}; // NAKed until the host gives up
    }
    if (endpoint == EmulatedBoard::kStreamEndpoint) {
        t.stream = true;
        b->beginStreamRead();
    }
    return {UsbBeginState::Pending, add(t)};
}

UsbWait SimUsbDriver::waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) {
    auto it = transfers.find(id);
    if (it == transfers.end())
        return UsbWait::Failed;
    Transfer& t = it->second;
    if (t.completed)
        return UsbWait::Completed;
    EmulatedBoard* b = live(t.handle);
    if (!b) {
        complete(t, kUsbStatusNoDevice, ENODEV);
        return UsbWait::Completed;
    }
    BoardClock& clock = b->clock();
    const double deadline = timeoutMs == kUsbWaitForever ? std::numeric_limits<double>::infinity()
                                                         : clock.now() + timeoutMs / 1000.0;
    if (t.stream) {
        std::uint32_t limit = t.length;
        if (b->faults.shortRead && *b->faults.shortRead < limit)
            limit = *b->faults.shortRead;
        const std::size_t need = limit > t.bytes ? limit - t.bytes : 0;
        const double ready = b->streamReadyTime(need);
        if (ready <= deadline) {
            clock.sleepUntil(ready);
            t.bytes += static_cast<std::uint32_t>(b->readStream(t.data + t.bytes, need));
            complete(t, kUsbStatusOk, 0);
            return UsbWait::Completed;
        }
        if (!std::isfinite(deadline))
            return UsbWait::Failed; // it would never complete
        clock.sleepUntil(deadline);
        // Whole packets that arrived before the deadline are in the buffer already.
        std::size_t got = std::min(need, b->streamAvailableBy(clock.now()));
        got -= got % kPacket;
        t.bytes += static_cast<std::uint32_t>(b->readStream(t.data + t.bytes, got));
        return UsbWait::TimedOut;
    }
    // A NAKed OUT transfer or an IN endpoint with nothing behind it: nothing will change.
    if (!std::isfinite(deadline))
        return UsbWait::Failed;
    clock.sleepUntil(deadline);
    return UsbWait::TimedOut;
}

UsbTransferResult SimUsbDriver::finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) {
    auto it = transfers.find(id);
    if (it == transfers.end() || !it->second.completed)
        return {};
    const Transfer t = it->second;
    transfers.erase(it);
    if (isoPackets && t.isoPacketSize > 0) {
        const std::uint32_t count = (t.length + t.isoPacketSize - 1) / t.isoPacketSize;
        std::uint32_t left = t.bytes;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t n = std::min(left, t.isoPacketSize);
            isoPackets[i] = {n, t.usbStatus};
            left -= n;
        }
    }
    return {true, t.bytes, t.usbStatus, t.systemStatus};
}

bool SimUsbDriver::abortEndpoint(UsbHandle handle, std::uint8_t endpoint) {
    auto h = handles.find(handle);
    if (h == handles.end())
        return false;
    cancelWhere(h->second.port, endpoint, handle);
    return true;
}

} // namespace sim
