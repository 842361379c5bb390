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
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// Board time a host needs at least to see a completion and submit the next URB.
constexpr double kHostTurnaround = 1e-3;
// A control URB starts with the setup packet, laid out as the board takes it.
static_assert(sizeof(sim::ControlSetup) == 8);

UMockdevIoctlData* resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    return umockdev_ioctl_data_resolve(data, offset, length, nullptr);
}

// Reads or writes the `T` at the caller's argument.
template <typename T> bool copyArg(UMockdevIoctlData* arg, T& value, bool write = false) {
    UMockdevIoctlData* data = resolve(arg, 0, sizeof(T));
    if (!data)
        return false;
    std::memcpy(write ? static_cast<void*>(data->data) : &value,
                write ? static_cast<const void*>(&value) : data->data, sizeof(T));
    g_object_unref(data);
    return true;
}

struct Urb {
    UMockdevIoctlData* data = nullptr;   // the usbdevfs_urb in the client, our reference
    UMockdevIoctlData* buffer = nullptr; // its data buffer
    bool stream = false;                 // an open read of the board's sample stream

    ~Urb() {
        g_clear_object(&buffer);
        g_clear_object(&data);
    }
    usbdevfs_urb& header() { return *reinterpret_cast<usbdevfs_urb*>(data->data); }
    std::uint8_t* bytes() { return buffer ? buffer->data : nullptr; }
    std::size_t length() const { return buffer ? static_cast<std::size_t>(buffer->data_len) : 0; }
};
using Urbs = std::vector<std::unique_ptr<Urb>>;

std::unique_ptr<Urb> take(Urbs& list, std::size_t i) {
    std::unique_ptr<Urb> urb = std::move(list[i]);
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
    return urb;
}

} // namespace

struct UmockdevBus::Port {
    UmockdevBus* bus = nullptr;
    std::shared_ptr<sim::EmulatedBoard> board;
    std::string syspath, devnode;
    UMockdevIoctlBase* handler = nullptr;
    bool claimed = false, gone = false, streamedBefore = false; // gone: unplugged
    Urbs pending, done;

    void finish(std::unique_ptr<Urb> urb, int status, std::size_t actual) {
        if (urb->stream)
            board->endStreamRead();
        urb->header().status = status;
        urb->header().actual_length = static_cast<int>(actual);
        done.push_back(std::move(urb));
    }

    // The first stream URB queued: the one the board's packets go into.
    std::size_t streamHead() const {
        return std::find_if(pending.begin(), pending.end(), [](auto& u) { return u->stream; }) -
               pending.begin();
    }

    // Board time runs until the oldest stream URB has its data; nothing more completes until
    // the host has taken it, so it answers each completion while those behind are pending.
    void progress() {
        const std::size_t i = streamHead();
        if (!done.empty() || i == pending.size())
            return;
        const std::size_t need =
            std::min<std::size_t>(pending[i]->length(), board->faults.shortRead.value_or(~0u));
        const double ready = board->streamReadyTime(need);
        if (!std::isfinite(ready))
            return;
        board->clock().sleepUntil(ready);
        const std::size_t got = board->readStream(pending[i]->bytes(), need);
        finish(take(pending, i), 0, got);
    }

    void failAll(int status) {
        for (auto& urb : pending)
            finish(std::move(urb), status, 0);
        pending.clear();
    }

    int submit(UMockdevIoctlData* arg) {
        auto urb = std::make_unique<Urb>();
        if (!(urb->data = resolve(arg, 0, sizeof(usbdevfs_urb))))
            return EFAULT;
        const usbdevfs_urb h = urb->header();
        if (h.buffer_length > 0 &&
            !(urb->buffer = resolve(urb->data, offsetof(usbdevfs_urb, buffer),
                                    static_cast<std::size_t>(h.buffer_length))))
            return EFAULT;
        urb->header().status = urb->header().actual_length = 0;
        if (bus->urbMemory + urb->length() > bus->urbMemoryLimit)
            return ENOMEM;
        sim::ControlSetup setup;
        if (h.type == USBDEVFS_URB_TYPE_CONTROL ? urb->length() < sizeof setup
                                                : !board->endpoint(h.endpoint))
            return EINVAL; // no setup packet, or not an endpoint of the running setting
        bus->urbMemory += urb->length();
        if (h.type == USBDEVFS_URB_TYPE_CONTROL) {
            std::memcpy(&setup, urb->bytes(), sizeof setup);
            setup.length = static_cast<std::uint16_t>(
                std::min<std::size_t>(setup.length, urb->length() - sizeof setup));
            const auto moved = board->control(setup, urb->bytes() + sizeof setup);
            finish(std::move(urb), moved ? 0 : -EPIPE, moved.value_or(0));
            return 0;
        }
        claimed = true; // usbfs claims the interface of a data endpoint on first use
        if ((urb->stream = h.endpoint == sim::EmulatedBoard::kStreamEndpoint)) {
            // With no read queued the endpoint idled: the host needed its turnaround to come
            // back, and the board went on sampling into its FIFO.
            if (streamedBefore && streamHead() == pending.size())
                board->clock().sleepUntil(board->clock().now() + kHostTurnaround);
            streamedBefore = true;
            board->beginStreamRead();
        }
        if (!(h.endpoint & 0x80) && board->acceptOut(h.endpoint, urb->bytes(), urb->length()))
            finish(std::move(urb), 0, h.buffer_length);
        else
            pending.push_back(std::move(urb)); // an OUT the board NAKs waits for the host
        return 0;
    }

    int discard(UMockdevIoctlData* arg) {
        // The argument is the address of the caller's urb itself.
        gulong address = 0;
        std::memcpy(&address, arg->data,
                    std::min<std::size_t>(sizeof address, static_cast<std::size_t>(arg->data_len)));
        const std::size_t i =
            std::find_if(pending.begin(), pending.end(),
                         [&](auto& u) { return u->data->client_addr == address; }) -
            pending.begin();
        if (i == pending.size())
            return EINVAL; // completed already
        const bool filling = i == streamHead();
        std::unique_ptr<Urb> urb = take(pending, i);
        // Whole packets that arrived before the cancel are in the buffer of the URB they went
        // into; those queued behind it have none.
        std::size_t got = 0;
        if (filling) {
            got = std::min(urb->length(), board->streamAvailableBy(board->clock().now()));
            got = board->readStream(urb->bytes(), got - got % 512);
        }
        finish(std::move(urb), -ENOENT, got);
        return 0;
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, Port* port) {
        std::lock_guard<std::mutex> guard(port->bus->lock);
        const int error = port->handle(umockdev_ioctl_client_get_request(client),
                                       umockdev_ioctl_client_get_arg(client), client);
        if (error >= 0)
            umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
        return TRUE;
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
            bus->urbMemory -= urb->length();
            umockdev_ioctl_data_set_ptr(slot, 0, urb->data);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(slot);
            return -1; // completed while the urb's data is still alive
        }
        if (request == USBDEVFS_DISCARDURB)
            return discard(arg);
        if (gone)
            return ENODEV;
        unsigned int interface = 0;
        usbdevfs_setinterface set{};
        // One URB per transfer, of any length.
        std::uint32_t caps = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
                             USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_ZERO_PACKET;
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            return copyArg(arg, caps, true) ? 0 : EFAULT;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
            if (!copyArg(arg, interface))
                return EFAULT;
            claimed = claimed || interface == 0;
            return interface == 0 ? 0 : ENOENT;
        case USBDEVFS_SETINTERFACE:
            if (!copyArg(arg, set))
                return EFAULT;
            if (!claimed)
                return EINVAL; // the kernel only switches an interface that someone claimed
            return board->selectAltSetting(static_cast<std::uint8_t>(set.altsetting)) ? 0 : EPIPE;
        case USBDEVFS_RESET:
            failAll(-ENOENT);
            board->resetPort();
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

void UmockdevBus::plug(std::shared_ptr<sim::SampleSource> source) {
    const int address = 2 + static_cast<int>(ports.size());
    auto port = std::make_unique<Port>();
    port->bus = this;
    port->board = std::make_shared<sim::EmulatedBoard>(std::move(source),
                                                       std::make_shared<sim::VirtualClock>());
    port->board->setAddress(static_cast<std::uint8_t>(address));
    port->syspath = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(address - 1);
    // libusb reads the descriptors from sysfs, as hex after the record.
    const sim::BoardIdentity& id = port->board->identity();
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
    std::string record = text;
    for (const auto& block : {sim::deviceDescriptor(id), sim::configurationDescriptor(true)})
        for (std::uint8_t b : block)
            record += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    GError* error = nullptr;
    umockdev_testbed_add_from_string(testbed, (record + "\n").c_str(), &error);
    g_assert_no_error(error);
    port->handler = umockdev_ioctl_base_new();
    g_signal_connect(port->handler, "handle-ioctl", G_CALLBACK(&Port::onIoctl), port.get());
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
    for (int attempt = 0, up = 0; attempt < 1000 && !up; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        up = ::connect(fd, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == 0;
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(1 - up));
    }
    umockdev_testbed_uevent(testbed, ("/sys" + port->syspath).c_str(), "add");
    std::lock_guard<std::mutex> guard(lock);
    ports.push_back(std::move(port));
}

void UmockdevBus::unplug(int board) {
    Port& port = *ports.at(static_cast<std::size_t>(board));
    withBoard(board, [&port](sim::EmulatedBoard& b) {
        port.gone = true;
        port.failAll(-ESHUTDOWN);
        b.unplug();
    });
    umockdev_testbed_uevent(testbed, ("/sys" + port.syspath).c_str(), "remove");
    umockdev_testbed_remove_device(testbed, ("/sys" + port.syspath).c_str());
}

void UmockdevBus::withBoard(int board, const std::function<void(sim::EmulatedBoard&)>& f) {
    std::lock_guard<std::mutex> guard(lock);
    f(*ports.at(static_cast<std::size_t>(board))->board);
}
