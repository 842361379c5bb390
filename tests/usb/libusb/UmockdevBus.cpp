#include "tests/usb/libusb/UmockdevBus.h"

#include "sim/BoardClock.h"
#include "sim/Descriptors.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::size_t kPacket = 512;
constexpr std::size_t kSetupSize = 8;

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::string threeDigits(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%03d", n);
    return text;
}

UMockdevIoctlData* resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    GError* error = nullptr;
    UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error) {
        g_error_free(error);
        return nullptr;
    }
    return child;
}

void unref(UMockdevIoctlData* data) {
    if (data)
        g_object_unref(data);
}

} // namespace

struct UmockdevBus::Urb {
    UMockdevIoctlData* data = nullptr;   // the usbdevfs_urb in the client, our reference
    UMockdevIoctlData* buffer = nullptr; // its data buffer
    std::uint8_t endpoint = 0;
    bool in = false;
    bool stream = false; // an open read of the board's sample stream

    Urb() = default;
    Urb(const Urb&) = delete;
    Urb& operator=(const Urb&) = delete;
    ~Urb() {
        unref(buffer);
        unref(data);
    }
    usbdevfs_urb& header() { return *reinterpret_cast<usbdevfs_urb*>(data->data); }
    std::uint8_t* bytes() { return buffer ? buffer->data : nullptr; }
    std::size_t length() const { return buffer ? static_cast<std::size_t>(buffer->data_len) : 0; }
};

struct UmockdevBus::Port {
    UmockdevBus* bus = nullptr;
    std::shared_ptr<sim::EmulatedBoard> board;
    std::string syspath;
    std::string devnode;
    UMockdevIoctlBase* handler = nullptr;
    bool claimed = false;
    bool gone = false; // unplugged, or the node is stale after a re-enumerating reset
    int enumeration = 0;
    std::vector<std::unique_ptr<Urb>> pending;
    std::vector<std::unique_ptr<Urb>> done;
    int boardIndex = 0;

    void log(Event e) { bus->boardEvents[static_cast<std::size_t>(boardIndex)].push_back(e); }

    void finish(std::unique_ptr<Urb> urb, int status, std::size_t actual) {
        if (urb->stream)
            board->endStreamRead();
        urb->stream = false;
        urb->header().status = status;
        urb->header().actual_length = static_cast<int>(actual);
        done.push_back(std::move(urb));
    }

    // Completes stream reads the board has data for. The clock is virtual: waiting for the
    // data costs no time.
    void progress() {
        for (auto it = pending.begin(); it != pending.end();) {
            Urb& urb = **it;
            if (!urb.stream) {
                ++it;
                continue;
            }
            std::size_t need = urb.length();
            if (board->faults.shortRead)
                need = std::min<std::size_t>(need, *board->faults.shortRead);
            const double ready = board->streamReadyTime(need);
            if (!std::isfinite(ready)) {
                ++it;
                continue;
            }
            board->clock().sleepUntil(ready);
            const std::size_t got = board->readStream(urb.bytes(), need);
            std::unique_ptr<Urb> taken = std::move(*it);
            it = pending.erase(it);
            finish(std::move(taken), 0, got);
        }
    }

    // Everything in flight ends with `status` (a disconnect, a reset).
    void failAll(int status) {
        while (!pending.empty()) {
            std::unique_ptr<Urb> urb = std::move(pending.front());
            pending.erase(pending.begin());
            finish(std::move(urb), status, 0);
        }
    }

    int submit(UMockdevIoctlData* arg) {
        auto urb = std::make_unique<Urb>();
        urb->data = resolve(arg, 0, sizeof(usbdevfs_urb));
        if (!urb->data)
            return EFAULT;
        const usbdevfs_urb h = urb->header();
        if (h.buffer_length > 0) {
            urb->buffer = resolve(urb->data, offsetof(usbdevfs_urb, buffer),
                                  static_cast<std::size_t>(h.buffer_length));
            if (!urb->buffer)
                return EFAULT;
        }
        urb->endpoint = h.endpoint;
        urb->in = (h.endpoint & 0x80) != 0;
        urb->header().status = 0;
        urb->header().actual_length = 0;

        if (h.type == USBDEVFS_URB_TYPE_CONTROL) {
            if (urb->length() < kSetupSize)
                return EINVAL;
            const std::uint8_t* s = urb->bytes();
            sim::ControlSetup setup;
            setup.requestType = s[0];
            setup.request = s[1];
            setup.value = static_cast<std::uint16_t>(s[2] | s[3] << 8);
            setup.index = static_cast<std::uint16_t>(s[4] | s[5] << 8);
            setup.length = static_cast<std::uint16_t>(
                std::min<std::size_t>(s[6] | s[7] << 8, urb->length() - kSetupSize));
            const auto moved = board->control(setup, urb->bytes() + kSetupSize);
            log({Event::Control, 0, setup.length, setup.request, moved ? 0 : EPIPE});
            finish(std::move(urb), moved ? 0 : -EPIPE, moved.value_or(0));
            return 0;
        }
        if (h.type != USBDEVFS_URB_TYPE_BULK && h.type != USBDEVFS_URB_TYPE_INTERRUPT)
            return EINVAL; // nothing here streams isochronously
        if (!board->endpoint(h.endpoint))
            return ENOENT; // not an endpoint of the running alternate setting
        claimed = true;    // usbfs claims the interface of a data endpoint on first use
        log({Event::Submit, h.endpoint, static_cast<std::uint32_t>(urb->length())});
        if (!urb->in) {
            // A board that cannot take the data NAKs until the host gives up.
            if (board->acceptOut(h.endpoint, urb->bytes(), urb->length()))
                finish(std::move(urb), 0, urb->length());
            else
                pending.push_back(std::move(urb));
            return 0;
        }
        if (h.endpoint == sim::EmulatedBoard::kStreamEndpoint) {
            urb->stream = true;
            board->beginStreamRead();
        }
        pending.push_back(std::move(urb));
        return 0;
    }

    int discard(UMockdevIoctlData* arg) {
        // The argument is the address of the caller's urb itself.
        gulong address = 0;
        std::memcpy(&address, arg->data,
                    std::min<std::size_t>(sizeof address, static_cast<std::size_t>(arg->data_len)));
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if ((*it)->data->client_addr != address)
                continue;
            std::unique_ptr<Urb> urb = std::move(*it);
            pending.erase(it);
            // Whole packets that arrived before the cancel are in the buffer.
            std::size_t got = 0;
            if (urb->stream) {
                got = std::min(urb->length(), board->streamAvailableBy(board->clock().now()));
                got -= got % kPacket;
                got = board->readStream(urb->bytes(), got);
            }
            log({Event::Discard, urb->endpoint, static_cast<std::uint32_t>(got)});
            finish(std::move(urb), -ENOENT, got);
            return 0;
        }
        return EINVAL; // completed already
    }

    // Returns the errno for the client, 0 on success.
    int handle(gulong request, UMockdevIoctlData* arg, UMockdevIoctlClient* client) {
        if (!gone)
            progress();
        switch (request) {
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            if (done.empty())
                return gone ? ENODEV : EAGAIN;
            // The argument points at the caller's `struct usbdevfs_urb *`.
            UMockdevIoctlData* slot = resolve(arg, 0, sizeof(void*));
            if (!slot)
                return EFAULT;
            std::unique_ptr<Urb> urb = std::move(done.front());
            done.erase(done.begin());
            umockdev_ioctl_data_set_ptr(slot, 0, urb->data);
            umockdev_ioctl_client_complete(client, 0, 0);
            unref(slot);
            return -1; // completed here, while the urb's data is still alive
        }
        case USBDEVFS_DISCARDURB:
            return discard(arg);
        default:
            break;
        }
        if (gone)
            return ENODEV;
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = resolve(arg, 0, sizeof(std::uint32_t));
            if (!caps)
                return EFAULT;
            // One URB per transfer, of any length.
            const std::uint32_t value = USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                        USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_ZERO_PACKET;
            std::memcpy(caps->data, &value, sizeof value);
            unref(caps);
            return 0;
        }
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            return ENODATA; // no kernel driver bound, none to reconnect
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: {
            UMockdevIoctlData* number = resolve(arg, 0, sizeof(unsigned int));
            if (!number)
                return EFAULT;
            const unsigned int interface = *reinterpret_cast<unsigned int*>(number->data);
            unref(number);
            if (interface != 0)
                return ENOENT;
            claimed = true;
            log({Event::Claim});
            return 0;
        }
        case USBDEVFS_RELEASEINTERFACE:
            claimed = false;
            log({Event::Release});
            return 0;
        case USBDEVFS_SETINTERFACE: {
            UMockdevIoctlData* data = resolve(arg, 0, sizeof(usbdevfs_setinterface));
            if (!data)
                return EFAULT;
            const auto setting = reinterpret_cast<usbdevfs_setinterface*>(data->data)->altsetting;
            unref(data);
            // The kernel only switches an interface that someone claimed.
            const int result = !claimed ? EINVAL
                               : board->selectAltSetting(static_cast<std::uint8_t>(setting))
                                   ? 0
                                   : EPIPE;
            log({Event::SetInterface, 0, 0, setting, result});
            return result;
        }
        case USBDEVFS_RESET: {
            failAll(-ENOENT);
            board->resetPort();
            log({Event::Reset});
            if (board->enumeration() == enumeration)
                return 0;
            // The board came back as a new device: this node is dead.
            gone = true;
            bus->toReenumerate.push_back(this);
            bus->wake.notify_one();
            return ENODEV;
        }
        case USBDEVFS_CLEAR_HALT:
            return 0;
        case USBDEVFS_SUBMITURB:
            return submit(arg);
        default:
            return ENOTTY;
        }
    }
};

bool UmockdevBus::active() const {
    return umockdev_in_mock_environment();
}

UmockdevBus::UmockdevBus() : testbed(umockdev_testbed_new()) {
    worker = std::thread([this] { reenumerator(); });
}

UmockdevBus::~UmockdevBus() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_one();
    worker.join();
    for (auto& port : ports) {
        if (port->handler) {
            umockdev_testbed_detach_ioctl(testbed, port->devnode.c_str(), nullptr);
            g_object_unref(port->handler);
        }
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto& port : ports) {
            port->failAll(-ESHUTDOWN);
            port->done.clear();
        }
    }
    g_object_unref(testbed);
}

int UmockdevBus::handleIoctl(void* handler, void* client, void* user) {
    static_cast<void>(handler);
    auto* port = static_cast<Port*>(user);
    auto* c = static_cast<UMockdevIoctlClient*>(client);
    std::lock_guard<std::mutex> guard(port->bus->lock);
    const int error =
        port->handle(umockdev_ioctl_client_get_request(c), umockdev_ioctl_client_get_arg(c), c);
    if (error >= 0)
        umockdev_ioctl_client_complete(c, error == 0 ? 0 : -1, error);
    return TRUE;
}

void UmockdevBus::addDevice(Port& port) {
    const int bus = 1;
    const int devnum = port.board->address();
    const std::string node = "bus/usb/" + threeDigits(bus) + "/" + threeDigits(devnum);
    port.devnode = "/dev/" + node;
    const sim::BoardIdentity& id = port.board->identity();
    char ids[32];
    std::snprintf(ids, sizeof ids, "%04x/%04x/%x", id.vendorId, id.productId, id.deviceVersion);
    char vendor[8], product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", id.vendorId);
    std::snprintf(product, sizeof product, "%04x", id.productId);
    std::vector<std::uint8_t> descriptors = sim::deviceDescriptor(id);
    const std::vector<std::uint8_t> config = sim::configurationDescriptor(port.board->highSpeed());
    descriptors.insert(descriptors.end(), config.begin(), config.end());

    const std::string record =
        "P: " + port.syspath + "\nN: " + node + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
        "E: DRIVER=usb\nE: BUSNUM=" + threeDigits(bus) + "\nE: DEVNUM=" + threeDigits(devnum) +
        "\nE: DEVNAME=" + port.devnode + "\nE: PRODUCT=" + ids +
        "\nA: busnum=" + std::to_string(bus) + "\nA: devnum=" + std::to_string(devnum) +
        "\nA: speed=480\nA: idVendor=" + vendor + "\nA: idProduct=" + product +
        "\nA: bConfigurationValue=1\nA: bNumConfigurations=1\nH: descriptors=" + hex(descriptors) +
        "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) {
        const std::string message = error ? error->message : "unknown error";
        if (error)
            g_error_free(error);
        throw std::runtime_error("umockdev refused the board: " + message);
    }
    port.handler = umockdev_ioctl_base_new();
    g_signal_connect(port.handler, "handle-ioctl", G_CALLBACK(&UmockdevBus::handleIoctl), &port);
    if (!umockdev_testbed_attach_ioctl(testbed, port.devnode.c_str(), port.handler, &error)) {
        const std::string message = error ? error->message : "unknown error";
        if (error)
            g_error_free(error);
        throw std::runtime_error("umockdev did not attach the handler: " + message);
    }
    // The handler starts listening on umockdev's worker thread; only announce the board once
    // its socket takes connections, or libusb could open a node nobody serves yet (which the
    // preload treats as fatal).
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::string socketPath = std::string(root) + "/ioctl" + port.devnode;
    g_free(root);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        const bool listening =
            fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0)
            ::close(fd);
        if (listening)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    umockdev_testbed_uevent(testbed, ("/sys" + port.syspath).c_str(), "add");
}

void UmockdevBus::removeDevice(Port& port) {
    umockdev_testbed_uevent(testbed, ("/sys" + port.syspath).c_str(), "remove");
    umockdev_testbed_remove_device(testbed, ("/sys" + port.syspath).c_str());
}

int UmockdevBus::plug(const sim::Scene& scene) {
    const int index = static_cast<int>(boards.size());
    auto board = std::make_shared<sim::EmulatedBoard>(scene, std::make_shared<sim::VirtualClock>());
    board->setAddress(static_cast<std::uint8_t>(2 + index));
    auto port = std::make_unique<Port>();
    port->bus = this;
    port->boardIndex = index;
    port->board = board;
    port->enumeration = board->enumeration();
    port->syspath = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(index + 1);
    {
        std::lock_guard<std::mutex> guard(lock);
        boards.push_back(board);
        boardEvents.emplace_back();
    }
    addDevice(*port);
    std::lock_guard<std::mutex> guard(lock);
    ports.push_back(std::move(port));
    return index;
}

void UmockdevBus::unplug(int board) {
    Port* live = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto& port : ports) {
            if (port->boardIndex != board || port->gone)
                continue;
            port->gone = true;
            port->failAll(-ESHUTDOWN);
            live = port.get();
        }
        boards.at(static_cast<std::size_t>(board))->unplug();
    }
    if (live)
        removeDevice(*live);
}

void UmockdevBus::reenumerator() {
    std::unique_lock<std::mutex> guard(lock);
    while (true) {
        wake.wait(guard, [this] { return stopping || !toReenumerate.empty(); });
        if (stopping)
            return;
        Port* port = toReenumerate.back();
        toReenumerate.pop_back();
        guard.unlock();
        // The old node stays attached for the handle libusb still holds on it; the board
        // answers on a new node at its new address, in the same socket.
        removeDevice(*port);
        auto reborn = std::make_unique<Port>();
        reborn->bus = this;
        reborn->boardIndex = port->boardIndex;
        reborn->board = port->board;
        reborn->syspath = port->syspath;
        reborn->enumeration = port->board->enumeration();
        Port* raw = reborn.get();
        addDevice(*raw);
        guard.lock();
        ports.push_back(std::move(reborn));
    }
}

void UmockdevBus::withBoard(int board, const std::function<void(sim::EmulatedBoard&)>& f) {
    std::lock_guard<std::mutex> guard(lock);
    f(*boards.at(static_cast<std::size_t>(board)));
}

std::vector<UmockdevBus::Event> UmockdevBus::events(int board) {
    std::lock_guard<std::mutex> guard(lock);
    return boardEvents.at(static_cast<std::size_t>(board));
}

void UmockdevBus::clearEvents(int board) {
    std::lock_guard<std::mutex> guard(lock);
    boardEvents.at(static_cast<std::size_t>(board)).clear();
}

int UmockdevBus::urbsInFlight(int board) {
    std::lock_guard<std::mutex> guard(lock);
    int n = 0;
    for (const auto& port : ports)
        if (port->boardIndex == board)
            n += static_cast<int>(port->pending.size());
    return n;
}
