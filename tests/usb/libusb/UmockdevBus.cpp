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
#include <thread>
#include <utility>

namespace {

constexpr std::size_t kPacket = 512;
constexpr std::size_t kSetupSize = 8;

UMockdevIoctlData* resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    return umockdev_ioctl_data_resolve(data, offset, length, nullptr);
}

// Reads or writes the `T` at the caller's argument.
template <typename T> bool copyArg(UMockdevIoctlData* arg, T& value, bool write) {
    UMockdevIoctlData* data = resolve(arg, 0, sizeof(T));
    if (!data)
        return false;
    if (write)
        std::memcpy(data->data, &value, sizeof(T));
    else
        std::memcpy(&value, data->data, sizeof(T));
    g_object_unref(data);
    return true;
}

} // namespace

struct UmockdevBus::Urb {
    UMockdevIoctlData* data = nullptr;   // the usbdevfs_urb in the client, our reference
    UMockdevIoctlData* buffer = nullptr; // its data buffer
    bool stream = false;                 // an open read of the board's sample stream
    std::size_t charged = 0;             // usbfs memory it holds until reaped

    ~Urb() {
        g_clear_object(&buffer);
        g_clear_object(&data);
    }
    usbdevfs_urb& header() { return *reinterpret_cast<usbdevfs_urb*>(data->data); }
    std::uint8_t* bytes() { return buffer ? buffer->data : nullptr; }
    std::size_t length() const { return buffer ? static_cast<std::size_t>(buffer->data_len) : 0; }
};

struct UmockdevBus::Port {
    UmockdevBus* bus = nullptr;
    std::shared_ptr<sim::EmulatedBoard> board;
    std::shared_ptr<sim::VirtualClock> clock; // the board's
    std::string syspath, devnode;
    UMockdevIoctlBase* handler = nullptr;
    bool claimed = false;
    bool gone = false; // unplugged
    std::vector<std::unique_ptr<Urb>> pending, done;
    std::vector<std::uint32_t> submitted; // lengths of the data URBs
    bool streamedBefore = false;          // a stream URB was submitted before

    void finish(std::unique_ptr<Urb> urb, int status, std::size_t actual) {
        if (urb->stream)
            board->endStreamRead();
        urb->header().status = status;
        urb->header().actual_length = static_cast<int>(actual);
        done.push_back(std::move(urb));
    }

    std::unique_ptr<Urb> take(std::vector<std::unique_ptr<Urb>>& list, std::size_t i) {
        std::unique_ptr<Urb> urb = std::move(list[i]);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        return urb;
    }

    // The first stream URB queued: the one the board's packets go into.
    std::size_t streamHead() const {
        std::size_t i = 0;
        while (i < pending.size() && !(pending[i] && pending[i]->stream))
            ++i;
        return i;
    }

    // The host waits for a URB: board time runs until the oldest stream URB has its data.
    // Nothing more completes until the host has taken it, so the host answers each completion
    // while the URBs queued behind it are still pending.
    void progress() {
        const std::size_t i = streamHead();
        if (!done.empty() || i == pending.size())
            return;
        Urb& urb = *pending[i];
        const std::size_t need =
            std::min<std::size_t>(urb.length(), board->faults.shortRead.value_or(~0u));
        const double ready = board->streamReadyTime(need);
        if (!std::isfinite(ready))
            return;
        board->clock().sleepUntil(ready);
        const std::size_t got = board->readStream(urb.bytes(), need);
        finish(take(pending, i), 0, got);
    }

    void failAll(int status) {
        for (auto& urb : pending)
            finish(std::move(urb), status, 0);
        pending.clear();
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
        urb->header().status = 0;
        urb->header().actual_length = 0;
        urb->charged = urb->length();
        if (bus->urbMemory + urb->charged > bus->urbMemoryLimit)
            return ENOMEM;

        if (h.type == USBDEVFS_URB_TYPE_CONTROL) {
            if (urb->length() < kSetupSize)
                return EINVAL;
            bus->urbMemory += urb->charged;
            const std::uint8_t* s = urb->bytes();
            sim::ControlSetup setup;
            setup.requestType = s[0];
            setup.request = s[1];
            setup.value = static_cast<std::uint16_t>(s[2] | s[3] << 8);
            setup.index = static_cast<std::uint16_t>(s[4] | s[5] << 8);
            setup.length = static_cast<std::uint16_t>(
                std::min<std::size_t>(s[6] | s[7] << 8, urb->length() - kSetupSize));
            const auto moved = board->control(setup, urb->bytes() + kSetupSize);
            finish(std::move(urb), moved ? 0 : -EPIPE, moved.value_or(0));
            return 0;
        }
        if (h.type != USBDEVFS_URB_TYPE_BULK && h.type != USBDEVFS_URB_TYPE_INTERRUPT)
            return EINVAL; // nothing here streams isochronously
        if (!board->endpoint(h.endpoint))
            return ENOENT; // not an endpoint of the running alternate setting
        claimed = true;    // usbfs claims the interface of a data endpoint on first use
        bus->urbMemory += urb->charged;
        submitted.push_back(static_cast<std::uint32_t>(urb->length()));
        if (h.endpoint & 0x80) {
            urb->stream = h.endpoint == sim::EmulatedBoard::kStreamEndpoint;
            if (urb->stream) {
                // With no read queued the endpoint idled: the host needed its turnaround to
                // come back, and the board went on sampling into its FIFO.
                if (streamedBefore && streamHead() == pending.size())
                    clock->advance(kHostTurnaround);
                streamedBefore = true;
                board->beginStreamRead();
            }
            pending.push_back(std::move(urb));
        } else if (const std::size_t n = urb->length();
                   board->acceptOut(h.endpoint, urb->bytes(), n)) {
            finish(std::move(urb), 0, n);
        } else {
            pending.push_back(std::move(urb)); // NAKed until the host gives up
        }
        return 0;
    }

    int discard(UMockdevIoctlData* arg) {
        // The argument is the address of the caller's urb itself.
        gulong address = 0;
        std::memcpy(&address, arg->data,
                    std::min<std::size_t>(sizeof address, static_cast<std::size_t>(arg->data_len)));
        std::size_t i = 0;
        while (i < pending.size() && pending[i]->data->client_addr != address)
            ++i;
        if (i == pending.size())
            return EINVAL; // completed already
        const bool filling = i == streamHead();
        std::unique_ptr<Urb> urb = take(pending, i);
        // Whole packets that arrived before the cancel are in the buffer of the URB they went
        // into; those queued behind it have none.
        std::size_t got = 0;
        if (filling) {
            got = std::min(urb->length(), board->streamAvailableBy(board->clock().now()));
            got = board->readStream(urb->bytes(), got - got % kPacket);
        }
        finish(std::move(urb), -ENOENT, got);
        return 0;
    }

    // The errno for the client, 0 on success, -1 when the request was completed here.
    int handle(gulong request, UMockdevIoctlData* arg, UMockdevIoctlClient* client) {
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
            if (!gone)
                progress();
            if (done.empty())
                return gone ? ENODEV : EAGAIN;
            // The argument points at the caller's `struct usbdevfs_urb *`.
            UMockdevIoctlData* slot = resolve(arg, 0, sizeof(void*));
            if (!slot)
                return EFAULT;
            std::unique_ptr<Urb> urb = take(done, 0);
            bus->urbMemory -= urb->charged;
            umockdev_ioctl_data_set_ptr(slot, 0, urb->data);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(slot);
            return -1; // completed while the urb's data is still alive
        }
        if (request == USBDEVFS_DISCARDURB)
            return discard(arg);
        if (gone)
            return ENODEV;
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            // One URB per transfer, of any length.
            std::uint32_t caps = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
                                 USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_ZERO_PACKET;
            return copyArg(arg, caps, true) ? 0 : EFAULT;
        }
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            return ENODATA; // no kernel driver bound, none to reconnect
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: {
            unsigned int interface = 0;
            if (!copyArg(arg, interface, false))
                return EFAULT;
            claimed = claimed || interface == 0;
            return interface == 0 ? 0 : ENOENT;
        }
        case USBDEVFS_RELEASEINTERFACE:
            claimed = false;
            return 0;
        case USBDEVFS_SETINTERFACE: {
            usbdevfs_setinterface set{};
            if (!copyArg(arg, set, false))
                return EFAULT;
            // The kernel only switches an interface that someone claimed.
            if (!claimed)
                return EINVAL;
            return board->selectAltSetting(static_cast<std::uint8_t>(set.altsetting)) ? 0 : EPIPE;
        }
        case USBDEVFS_RESET:
            failAll(-ENOENT);
            board->resetPort();
            return 0;
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

UmockdevBus::UmockdevBus() : testbed(umockdev_testbed_new()) {}

UmockdevBus::~UmockdevBus() {
    for (auto& port : ports) {
        umockdev_testbed_detach_ioctl(testbed, port->devnode.c_str(), nullptr);
        g_object_unref(port->handler);
    }
    ports.clear(); // and with them the URBs still held
    g_object_unref(testbed);
}

int UmockdevBus::handleIoctl(void*, void* client, void* user) {
    auto* port = static_cast<Port*>(user);
    auto* c = static_cast<UMockdevIoctlClient*>(client);
    std::lock_guard<std::mutex> guard(port->bus->lock);
    const int error =
        port->handle(umockdev_ioctl_client_get_request(c), umockdev_ioctl_client_get_arg(c), c);
    if (error >= 0)
        umockdev_ioctl_client_complete(c, error == 0 ? 0 : -1, error);
    return TRUE;
}

int UmockdevBus::plug(const sim::Scene& scene) {
    auto clock = std::make_shared<sim::VirtualClock>();
    return attach(std::make_shared<sim::EmulatedBoard>(scene, clock), clock);
}

int UmockdevBus::plug(std::shared_ptr<sim::SampleSource> source) {
    auto clock = std::make_shared<sim::VirtualClock>();
    return attach(std::make_shared<sim::EmulatedBoard>(std::move(source), clock), clock);
}

int UmockdevBus::attach(std::shared_ptr<sim::EmulatedBoard> board,
                        std::shared_ptr<sim::VirtualClock> clock) {
    const int index = static_cast<int>(ports.size());
    const int address = 2 + index;
    auto port = std::make_unique<Port>();
    port->bus = this;
    port->board = std::move(board);
    port->clock = std::move(clock);
    port->board->setAddress(static_cast<std::uint8_t>(address));
    port->syspath = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(index + 1);
    const sim::BoardIdentity& id = port->board->identity();
    std::vector<std::uint8_t> descriptors = sim::deviceDescriptor(id);
    const std::vector<std::uint8_t> config = sim::configurationDescriptor(port->board->highSpeed());
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    std::string hex;
    for (std::uint8_t b : descriptors) {
        hex += "0123456789ABCDEF"[b >> 4];
        hex += "0123456789ABCDEF"[b & 15];
    }
    char node[32], text[1024];
    std::snprintf(node, sizeof node, "bus/usb/001/%03d", address);
    port->devnode = std::string("/dev/") + node;
    std::snprintf(text, sizeof text,
                  "P: %s\nN: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
                  "E: BUSNUM=001\nE: DEVNUM=%03d\nE: DEVNAME=%s\nE: PRODUCT=%04x/%04x/%x\n"
                  "A: busnum=1\nA: devnum=%d\nA: speed=480\nA: idVendor=%04x\nA: idProduct=%04x\n"
                  "A: bConfigurationValue=1\nA: bNumConfigurations=1\nH: descriptors=",
                  port->syspath.c_str(), node, address, port->devnode.c_str(), id.vendorId,
                  id.productId, id.deviceVersion, address, id.vendorId, id.productId);
    GError* error = nullptr;
    umockdev_testbed_add_from_string(testbed, (text + hex + "\n").c_str(), &error);
    g_assert_no_error(error);
    port->handler = umockdev_ioctl_base_new();
    g_signal_connect(port->handler, "handle-ioctl", G_CALLBACK(&UmockdevBus::handleIoctl),
                     port.get());
    umockdev_testbed_attach_ioctl(testbed, port->devnode.c_str(), port->handler, &error);
    g_assert_no_error(error);
    // The handler listens on umockdev's worker thread; announce the board only once its socket
    // takes connections, or libusb could open a node nobody serves yet (fatal to the preload).
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    sockaddr_un socketAddress{};
    socketAddress.sun_family = AF_UNIX;
    std::snprintf(socketAddress.sun_path, sizeof socketAddress.sun_path, "%s/ioctl%s", root,
                  port->devnode.c_str());
    g_free(root);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool listening = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&socketAddress),
                                                    sizeof socketAddress) == 0;
        if (fd >= 0)
            ::close(fd);
        if (listening)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    umockdev_testbed_uevent(testbed, ("/sys" + port->syspath).c_str(), "add");
    std::lock_guard<std::mutex> guard(lock);
    ports.push_back(std::move(port));
    return index;
}

void UmockdevBus::unplug(int board) {
    Port& port = *ports.at(static_cast<std::size_t>(board));
    {
        std::lock_guard<std::mutex> guard(lock);
        port.gone = true;
        port.failAll(-ESHUTDOWN);
        port.board->unplug();
    }
    umockdev_testbed_uevent(testbed, ("/sys" + port.syspath).c_str(), "remove");
    umockdev_testbed_remove_device(testbed, ("/sys" + port.syspath).c_str());
}

void UmockdevBus::withBoard(int board, const std::function<void(sim::EmulatedBoard&)>& f) {
    std::lock_guard<std::mutex> guard(lock);
    f(*ports.at(static_cast<std::size_t>(board))->board);
}

std::vector<std::uint32_t> UmockdevBus::takeSubmitted(int board) {
    std::lock_guard<std::mutex> guard(lock);
    return std::exchange(ports.at(static_cast<std::size_t>(board))->submitted, {});
}

void UmockdevBus::limitUrbMemory(std::size_t bytes) {
    std::lock_guard<std::mutex> guard(lock);
    urbMemoryLimit = bytes;
}
