#include "usb/libusb/LibusbDriver.h"

#include <libusb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kInterface = 0;
constexpr int kMaxPorts = 7; // the USB tree is at most 7 tiers deep

// Status words of a libusb transfer status.
void setStatus(UsbTransferResult& result, libusb_transfer_status status) {
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
        result.usbStatus = kUsbStatusOk;
        result.systemStatus = 0;
        return;
    case LIBUSB_TRANSFER_CANCELLED:
        result.usbStatus = kUsbStatusCancelled;
        result.systemStatus = ECANCELED;
        return;
    case LIBUSB_TRANSFER_TIMED_OUT:
        result.usbStatus = kUsbStatusTimeout;
        result.systemStatus = ETIMEDOUT;
        return;
    case LIBUSB_TRANSFER_STALL:
        result.usbStatus = kUsbStatusStall;
        result.systemStatus = EPIPE;
        return;
    case LIBUSB_TRANSFER_NO_DEVICE:
        result.usbStatus = kUsbStatusNoDevice;
        result.systemStatus = ENODEV;
        return;
    case LIBUSB_TRANSFER_OVERFLOW:
        result.usbStatus = kUsbStatusOverflow;
        result.systemStatus = EOVERFLOW;
        return;
    case LIBUSB_TRANSFER_ERROR:
        break;
    }
    result.usbStatus = kUsbStatusError;
    result.systemStatus = EIO;
}

// Status words of a libusb call that failed before anything moved.
void setError(UsbTransferResult& result, int libusbError) {
    switch (libusbError) {
    case LIBUSB_ERROR_NO_DEVICE:
        result.usbStatus = kUsbStatusNoDevice;
        result.systemStatus = ENODEV;
        return;
    case LIBUSB_ERROR_PIPE:
        result.usbStatus = kUsbStatusStall;
        result.systemStatus = EPIPE;
        return;
    case LIBUSB_ERROR_INVALID_PARAM:
        result.usbStatus = kUsbStatusError;
        result.systemStatus = EINVAL;
        return;
    case LIBUSB_ERROR_NO_MEM:
        result.usbStatus = kUsbStatusError;
        result.systemStatus = ENOMEM;
        return;
    case LIBUSB_ERROR_BUSY:
        result.usbStatus = kUsbStatusError;
        result.systemStatus = EBUSY;
        return;
    default:
        result.usbStatus = kUsbStatusError;
        result.systemStatus = EIO;
        return;
    }
}

// Debian binds a test module to the bare controller: let libusb unbind it when we claim the
// interface. Platforms without kernel drivers say NOT_SUPPORTED, which is fine.
bool autoDetach(libusb_device_handle* handle) {
    const int rc = libusb_set_auto_detach_kernel_driver(handle, 1);
    return rc == LIBUSB_SUCCESS || rc == LIBUSB_ERROR_NOT_SUPPORTED;
}

// "usb:<bus>-<port>.<port>…": names the socket the board sits in, so it survives a
// re-enumeration that changes the device address.
std::string pathOf(libusb_device* device) {
    std::uint8_t ports[kMaxPorts];
    const int count = libusb_get_port_numbers(device, ports, kMaxPorts);
    std::string path = "usb:" + std::to_string(libusb_get_bus_number(device));
    if (count <= 0)
        return path + "@" + std::to_string(libusb_get_device_address(device));
    for (int i = 0; i < count; ++i)
        path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return path;
}

} // namespace

// One libusb transfer of a request. Control and isochronous requests have one; a data
// transfer moves the caller's buffer in pieces, several of them queued at once.
struct LibusbDriver::Piece {
    Request* request = nullptr;
    std::unique_ptr<libusb_transfer, TransferDeleter> transfer;
    std::uint32_t offset = 0; // where in the caller's buffer it starts
    bool busy = false;        // submitted, and its callback has not run yet
};

// One request in flight or completed: its libusb transfers and what the caller asked for.
struct LibusbDriver::Request {
    UsbTransferId id = kNoUsbTransfer;
    UsbHandle handle = kInvalidUsbHandle;
    std::uint8_t endpoint = 0;
    std::vector<Piece> pieces; // never resized once one was submitted: libusb points into it
    int busy = 0;              // pieces in flight
    int done = 0;              // set once all pieces are back; libusb's event loop watches it
    UsbTransferResult result;

    // Data transfers: the caller's buffer.
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    std::uint32_t next = 0;       // start of the part no piece has been sent for yet
    std::uint32_t contiguous = 0; // bytes in place from the start, with no piece missing
    bool ending = false;          // no further piece goes out
    bool broken = false;          // a piece came back not full: `contiguous` is final
    libusb_transfer_status brokenBy = LIBUSB_TRANSFER_COMPLETED;
    UsbTransferResult endedBy; // status words of whatever ended the transfer early
    struct Back {
        std::uint32_t offset, moved;
        bool full;
        libusb_transfer_status status;
    };
    std::vector<Back> early; // pieces back before a piece in front of them

    // Control transfers: setup packet and data stage live in our own buffer.
    std::vector<std::uint8_t> control;
    std::uint8_t* controlData = nullptr; // the caller's data stage
    bool controlIn = false;

    std::uint32_t isoPackets = 0;
};

void LibusbDriver::ContextDeleter::operator()(libusb_context* context) const {
    libusb_exit(context);
}

void LibusbDriver::HandleDeleter::operator()(libusb_device_handle* handle) const {
    libusb_close(handle);
}

void LibusbDriver::TransferDeleter::operator()(libusb_transfer* transfer) const {
    libusb_free_transfer(transfer);
}

LibusbDriver::LibusbDriver() {
    libusb_context* ctx = nullptr;
    const int rc = libusb_init(&ctx);
    if (rc != LIBUSB_SUCCESS) {
        initErrorText = std::string("libusb could not be set up: ") + libusb_strerror(rc);
        return;
    }
    context.reset(ctx);
}

LibusbDriver::~LibusbDriver() {
    // No transfer may be freed while the kernel can still write into it.
    for (auto& [handle, open] : opened)
        cancelAndDrain(handle);
    requests.clear();
    for (auto& [handle, open] : opened) {
        if (open.claimed && open.handle)
            libusb_release_interface(open.handle.get(), kInterface);
    }
    opened.clear();
}

std::vector<LibusbDriver::Found> LibusbDriver::enumerate(std::shared_ptr<void>& keepList) {
    std::vector<Found> found;
    if (!context)
        return found;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context.get(), &list);
    if (count < 0)
        return found;
    keepList.reset(list,
                   [](void* l) { libusb_free_device_list(static_cast<libusb_device**>(l), 1); });
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS)
            continue;
        if (descriptor.idVendor == kVendorId)
            found.push_back({pathOf(list[i]), list[i]});
    }
    // Order by bus, then port chain: plugging another board in elsewhere keeps the others'
    // positions as long as it sits behind them.
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        const auto key = [](const Found& f) {
            std::uint8_t ports[kMaxPorts] = {};
            const int n = libusb_get_port_numbers(f.device, ports, kMaxPorts);
            return std::make_tuple(libusb_get_bus_number(f.device),
                                   std::vector<std::uint8_t>(ports, ports + std::max(n, 0)),
                                   libusb_get_device_address(f.device));
        };
        return key(a) < key(b);
    });
    return found;
}

int LibusbDriver::countDevices() {
    std::shared_ptr<void> list;
    return static_cast<int>(enumerate(list).size());
}

std::string LibusbDriver::devicePath(int index) {
    std::shared_ptr<void> list;
    const std::vector<Found> found = enumerate(list);
    if (index < 0 || index >= static_cast<int>(found.size()))
        return {};
    return found[index].path;
}

UsbHandle LibusbDriver::open(const std::string& path) {
    openDenied = false;
    std::shared_ptr<void> list;
    for (const Found& f : enumerate(list)) {
        if (f.path != path)
            continue;
        libusb_device_handle* raw = nullptr;
        const int rc = libusb_open(f.device, &raw);
        if (rc != LIBUSB_SUCCESS) {
            openDenied = rc == LIBUSB_ERROR_ACCESS;
            return kInvalidUsbHandle;
        }
        Open entry;
        entry.path = path;
        entry.handle.reset(raw);
        if (!autoDetach(raw))
            return kInvalidUsbHandle;
        const UsbHandle handle = nextHandle++;
        opened.emplace(handle, std::move(entry));
        return handle;
    }
    return kInvalidUsbHandle;
}

bool LibusbDriver::close(UsbHandle handle) {
    auto it = opened.find(handle);
    if (it == opened.end())
        return false;
    cancelAndDrain(handle);
    bool clean = true;
    if (it->second.claimed && it->second.handle) {
        const int rc = libusb_release_interface(it->second.handle.get(), kInterface);
        clean =
            rc == LIBUSB_SUCCESS || rc == LIBUSB_ERROR_NO_DEVICE || rc == LIBUSB_ERROR_NOT_FOUND;
    }
    opened.erase(it);
    return clean;
}

libusb_device_handle* LibusbDriver::handleOf(UsbHandle handle) {
    auto it = opened.find(handle);
    return it == opened.end() ? nullptr : it->second.handle.get();
}

bool LibusbDriver::claim(Open& open) {
    if (open.claimed)
        return true;
    if (!open.handle)
        return false;
    open.claimed = libusb_claim_interface(open.handle.get(), kInterface) == LIBUSB_SUCCESS;
    return open.claimed;
}

std::optional<std::uint32_t> LibusbDriver::driverVersion(UsbHandle handle) {
    if (!handleOf(handle))
        return std::nullopt;
    return kVersion;
}

std::optional<std::uint32_t> LibusbDriver::busInterfaceVersion(UsbHandle handle) {
    if (!handleOf(handle))
        return std::nullopt;
    const libusb_version* v = libusb_get_version();
    return static_cast<std::uint32_t>((v->major & 0xFF) << 24 | (v->minor & 0xFF) << 16 |
                                      (v->micro & 0xFF) << 8 | (v->nano & 0xFF));
}

std::optional<std::uint8_t> LibusbDriver::busAddress(UsbHandle handle) {
    libusb_device_handle* h = handleOf(handle);
    if (!h)
        return std::nullopt;
    return libusb_get_device_address(libusb_get_device(h));
}

std::optional<std::uint32_t> LibusbDriver::speed(UsbHandle handle) {
    libusb_device_handle* h = handleOf(handle);
    if (!h)
        return std::nullopt;
    switch (libusb_get_device_speed(libusb_get_device(h))) {
    case LIBUSB_SPEED_LOW:
        return kUsbSpeedLow;
    case LIBUSB_SPEED_FULL:
        return kUsbSpeedFull;
    case LIBUSB_SPEED_HIGH:
        return kUsbSpeedHigh;
    case LIBUSB_SPEED_SUPER:
    case LIBUSB_SPEED_SUPER_PLUS:
        return kUsbSpeedSuper;
    default:
        return std::nullopt;
    }
}

std::optional<std::string> LibusbDriver::driverName(UsbHandle handle) {
    if (!handleOf(handle))
        return std::nullopt;
    return std::string("libusb-1.0");
}

std::optional<std::string> LibusbDriver::driverFriendlyName(UsbHandle handle) {
    if (!handleOf(handle))
        return std::nullopt;
    const libusb_version* v = libusb_get_version();
    return "libusb " + std::to_string(v->major) + "." + std::to_string(v->minor) + "." +
           std::to_string(v->micro) + " on usbfs";
}

std::optional<std::uint8_t> LibusbDriver::currentAltSetting(UsbHandle handle) {
    auto it = opened.find(handle);
    if (it == opened.end() || !claim(it->second))
        return std::nullopt;
    // GET_INTERFACE: the device itself knows best which setting it runs.
    std::uint8_t setting = 0;
    const int rc = libusb_control_transfer(
        it->second.handle.get(), LIBUSB_ENDPOINT_IN | LIBUSB_RECIPIENT_INTERFACE,
        LIBUSB_REQUEST_GET_INTERFACE, 0, kInterface, &setting, 1, 1000);
    if (rc != 1)
        return std::nullopt;
    return setting;
}

bool LibusbDriver::selectAltSetting(UsbHandle handle, std::uint8_t setting) {
    auto it = opened.find(handle);
    // The kernel refuses a setting on an interface nobody claimed.
    if (it == opened.end() || !claim(it->second))
        return false;
    return libusb_set_interface_alt_setting(it->second.handle.get(), kInterface, setting) ==
           LIBUSB_SUCCESS;
}

bool LibusbDriver::resetPort(UsbHandle handle) {
    auto it = opened.find(handle);
    if (it == opened.end() || !it->second.handle)
        return false;
    cancelAndDrain(handle);
    Open& open = it->second;
    const std::uint8_t oldAddress = libusb_get_device_address(libusb_get_device(open.handle.get()));
    const int rc = libusb_reset_device(open.handle.get());
    if (rc == LIBUSB_SUCCESS)
        return true;
    if (rc != LIBUSB_ERROR_NOT_FOUND)
        return false;

    // The device came back as a new one: find it again in the same socket, under a new
    // address (the old one may still be listed until its removal has been processed).
    open.handle.reset();
    open.claimed = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReenumerateMs);
    while (true) {
        std::shared_ptr<void> list;
        for (const Found& f : enumerate(list)) {
            if (f.path != open.path || libusb_get_device_address(f.device) == oldAddress)
                continue;
            libusb_device_handle* raw = nullptr;
            if (libusb_open(f.device, &raw) == LIBUSB_SUCCESS) {
                open.handle.reset(raw);
                return autoDetach(raw);
            }
        }
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

UsbBegin LibusbDriver::failed(UsbHandle handle, std::uint8_t endpoint, int libusbError) {
    auto request = std::make_unique<Request>();
    request->id = nextId++;
    request->handle = handle;
    request->endpoint = endpoint;
    request->done = 1;
    request->result.collected = true;
    setError(request->result, libusbError);
    const UsbTransferId id = request->id;
    requests.emplace(id, std::move(request));
    return {UsbBeginState::Failed, id};
}

UsbBegin LibusbDriver::submit(std::unique_ptr<Request> request) {
    for (Piece& piece : request->pieces) {
        piece.request = request.get();
        piece.transfer->user_data = &piece;
        piece.transfer->callback = &LibusbDriver::onTransfer;
    }
    Request& r = *request;
    if (r.control.empty() && r.isoPackets == 0) {
        // All pieces that may be queued go out now, so the endpoint has the next one at hand
        // whenever one fills.
        for (std::size_t i = 0; i < r.pieces.size() && (i == 0 || r.next < r.length); ++i) {
            const int rc = submitPiece(r.pieces[i]);
            if (rc == LIBUSB_SUCCESS)
                continue;
            if (i == 0)
                return failed(r.handle, r.endpoint, rc);
            // usbfs memory is shared by all programs: with less of it, fewer pieces queue.
            if (rc != LIBUSB_ERROR_NO_MEM)
                endEarly(r, LIBUSB_TRANSFER_ERROR, rc);
            break;
        }
    } else {
        const int rc = libusb_submit_transfer(r.pieces[0].transfer.get());
        if (rc != LIBUSB_SUCCESS)
            return failed(r.handle, r.endpoint, rc);
        r.pieces[0].busy = true;
        r.busy = 1;
    }
    r.id = nextId++;
    const UsbTransferId id = r.id;
    requests.emplace(id, std::move(request));
    return {UsbBeginState::Pending, id};
}

int LibusbDriver::submitPiece(Piece& piece) {
    Request& r = *piece.request;
    libusb_transfer* t = piece.transfer.get();
    t->buffer = r.data + r.next;
    t->length = static_cast<int>(std::min(r.length - r.next, kMaxPiece));
    const int rc = libusb_submit_transfer(t);
    if (rc != LIBUSB_SUCCESS)
        return rc;
    piece.offset = r.next;
    piece.busy = true;
    ++r.busy;
    r.next += static_cast<std::uint32_t>(t->length);
    return rc;
}

bool LibusbDriver::endEarly(Request& request, int why, int libusbError) {
    if (!request.ending) {
        request.ending = true;
        if (libusbError != 0)
            setError(request.endedBy, libusbError);
        else
            setStatus(request.endedBy, static_cast<libusb_transfer_status>(why));
    }
    // Last piece first: were the first one cancelled first, the controller could move on to
    // the next and fill it with bytes that no longer follow on.
    std::vector<Piece*> busy;
    for (Piece& piece : request.pieces) {
        if (piece.busy)
            busy.push_back(&piece);
    }
    std::sort(busy.begin(), busy.end(),
              [](const Piece* a, const Piece* b) { return a->offset > b->offset; });
    bool cancelled = true;
    for (Piece* piece : busy) {
        // NOT_FOUND: the piece completed meanwhile (or is being cancelled already); its
        // callback comes with the next events all the same.
        const int rc = libusb_cancel_transfer(piece->transfer.get());
        cancelled = cancelled && (rc == LIBUSB_SUCCESS || rc == LIBUSB_ERROR_NOT_FOUND);
    }
    return cancelled;
}

UsbBegin LibusbDriver::beginControl(UsbHandle handle, const UsbSetup& setup, std::uint8_t* data,
                                    std::uint32_t timeoutSeconds) {
    libusb_device_handle* h = handleOf(handle);
    if (!h)
        return {};
    if (setup.length > kMaxControlData || (setup.length > 0 && !data))
        return failed(handle, 0, LIBUSB_ERROR_INVALID_PARAM);
    libusb_transfer* raw = libusb_alloc_transfer(0);
    if (!raw)
        return failed(handle, 0, LIBUSB_ERROR_NO_MEM);

    auto request = std::make_unique<Request>();
    request->pieces.resize(1);
    request->pieces[0].transfer.reset(raw);
    request->handle = handle;
    request->endpoint = 0;
    request->controlData = data;
    request->controlIn = (setup.requestType & LIBUSB_ENDPOINT_IN) != 0;
    request->control.assign(LIBUSB_CONTROL_SETUP_SIZE + setup.length, 0);
    libusb_fill_control_setup(request->control.data(), setup.requestType, setup.request,
                              setup.value, setup.index, setup.length);
    if (!request->controlIn && setup.length > 0)
        std::memcpy(request->control.data() + LIBUSB_CONTROL_SETUP_SIZE, data, setup.length);
    // libusb counts in milliseconds; 0 is "no limit" for both.
    const unsigned int timeoutMs =
        static_cast<unsigned int>(std::min<std::uint64_t>(timeoutSeconds * 1000ull, 0xFFFFFFFFu));
    libusb_fill_control_transfer(raw, h, request->control.data(), nullptr, nullptr, timeoutMs);
    return submit(std::move(request));
}

UsbBegin LibusbDriver::beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                                     std::uint32_t length, std::uint32_t isoPacketSize) {
    auto it = opened.find(handle);
    if (it == opened.end() || !it->second.handle)
        return {};
    if (length > 0 && !data)
        return failed(handle, endpoint, LIBUSB_ERROR_INVALID_PARAM);
    // Data endpoints belong to interface 0: claim it (detaching a kernel driver) first.
    if (!claim(it->second))
        return failed(handle, endpoint, LIBUSB_ERROR_BUSY);

    auto request = std::make_unique<Request>();
    request->handle = handle;
    request->endpoint = endpoint;
    request->data = data;
    request->length = length;
    libusb_device_handle* h = it->second.handle.get();

    if (isoPacketSize > 0) {
        const std::uint64_t packets = (std::uint64_t{length} + isoPacketSize - 1) / isoPacketSize;
        if (packets == 0 || packets > 0xFFFF || isoPacketSize > 0xFFFFFF)
            return failed(handle, endpoint, LIBUSB_ERROR_INVALID_PARAM);
        libusb_transfer* raw = libusb_alloc_transfer(static_cast<int>(packets));
        if (!raw)
            return failed(handle, endpoint, LIBUSB_ERROR_NO_MEM);
        request->pieces.resize(1);
        request->pieces[0].transfer.reset(raw);
        request->isoPackets = static_cast<std::uint32_t>(packets);
        libusb_fill_iso_transfer(raw, h, endpoint, data, static_cast<int>(length),
                                 static_cast<int>(packets), nullptr, nullptr, 0);
        for (std::uint32_t i = 0; i < packets; ++i) {
            const std::uint32_t left = length - i * isoPacketSize;
            raw->iso_packet_desc[i].length = std::min(left, isoPacketSize);
        }
        return submit(std::move(request));
    }

    const std::uint64_t pieces = (std::uint64_t{length} + kMaxPiece - 1) / kMaxPiece;
    request->pieces.resize(static_cast<std::size_t>(
        std::clamp<std::uint64_t>(pieces, 1, static_cast<std::uint64_t>(kPiecesInFlight))));
    for (Piece& piece : request->pieces) {
        libusb_transfer* raw = libusb_alloc_transfer(0);
        if (!raw)
            return failed(handle, endpoint, LIBUSB_ERROR_NO_MEM);
        piece.transfer.reset(raw);
        // Bulk also serves interrupt endpoints: the kernel sends each URB the endpoint's own
        // way. The time-out is the caller's business (waitTransfer), so libusb gets none.
        libusb_fill_bulk_transfer(raw, h, endpoint, nullptr, 0, nullptr, nullptr, 0);
    }
    return submit(std::move(request));
}

void LibusbDriver::onTransfer(libusb_transfer* transfer) {
    completed(*static_cast<Piece*>(transfer->user_data));
}

void LibusbDriver::completed(Piece& piece) {
    Request& request = *piece.request;
    piece.busy = false;
    --request.busy;
    libusb_transfer* t = piece.transfer.get();
    if (!request.control.empty()) {
        const auto moved = static_cast<std::uint32_t>(std::max(t->actual_length, 0));
        if (request.controlIn && moved > 0)
            std::memcpy(request.controlData, request.control.data() + LIBUSB_CONTROL_SETUP_SIZE,
                        moved);
        request.result.bytes = moved;
    } else if (request.isoPackets > 0) {
        std::uint32_t moved = 0;
        for (std::uint32_t i = 0; i < request.isoPackets; ++i)
            moved += t->iso_packet_desc[i].actual_length;
        request.result.bytes = moved;
    } else {
        dataPieceBack(piece);
        return;
    }
    request.result.collected = true;
    setStatus(request.result, t->status);
    request.done = 1;
}

void LibusbDriver::dataPieceBack(Piece& piece) {
    Request& r = *piece.request;
    libusb_transfer* t = piece.transfer.get();
    // Cancelled and failed pieces still report what they moved.
    const auto moved = static_cast<std::uint32_t>(std::max(t->actual_length, 0));
    const bool full =
        t->status == LIBUSB_TRANSFER_COMPLETED && moved == static_cast<std::uint32_t>(t->length);
    r.early.push_back({piece.offset, moved, full, t->status});
    // Count the pieces that continue the bytes in place. One that is not full ends them: what
    // the pieces behind it moved does not follow on.
    const auto atEnd = [&r](const Request::Back& b) { return b.offset == r.contiguous; };
    while (!r.broken) {
        const auto it = std::find_if(r.early.begin(), r.early.end(), atEnd);
        if (it == r.early.end())
            break;
        const Request::Back back = *it;
        r.early.erase(it);
        r.contiguous += back.moved;
        r.broken = !back.full;
        r.brokenBy = back.status;
    }

    if (!full) {
        // A short piece ends the transfer as it stands, an error or a cancel ends it so: the
        // pieces behind it must not wait for data that belongs to no one.
        if (!r.ending)
            endEarly(r, t->status);
    } else if (!r.ending && r.next < r.length) {
        const int rc = submitPiece(piece);
        // Out of usbfs memory with other pieces queued: go on with those.
        if (rc != LIBUSB_SUCCESS && (rc != LIBUSB_ERROR_NO_MEM || r.busy == 0))
            endEarly(r, LIBUSB_TRANSFER_ERROR, rc);
    }
    if (r.busy == 0 && (r.ending || r.next >= r.length))
        conclude(r);
}

void LibusbDriver::conclude(Request& r) {
    r.result.bytes = r.contiguous;
    if (r.broken ? r.brokenBy == LIBUSB_TRANSFER_COMPLETED : r.contiguous == r.length) {
        setStatus(r.result, LIBUSB_TRANSFER_COMPLETED);
    } else {
        // A piece cancelled because another failed shows the failure, not the cancel.
        r.result.usbStatus = r.endedBy.usbStatus;
        r.result.systemStatus = r.endedBy.systemStatus;
    }
    r.result.collected = true;
    r.done = 1;
}

bool LibusbDriver::handleEventsUntil(const int& done, std::uint32_t timeoutMs) {
    const bool forever = timeoutMs == kUsbWaitForever;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    while (!done) {
        auto left = std::chrono::milliseconds(100);
        if (!forever) {
            const auto remaining =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (remaining.count() <= 0)
                return false;
            left = std::chrono::duration_cast<std::chrono::milliseconds>(remaining) +
                   std::chrono::milliseconds(1);
        }
        timeval tv;
        tv.tv_sec = static_cast<time_t>(left.count() / 1000);
        tv.tv_usec = static_cast<suseconds_t>((left.count() % 1000) * 1000);
        // Errors here (an interrupted poll, mostly) only mean: look again.
        const int rc =
            libusb_handle_events_timeout_completed(context.get(), &tv, const_cast<int*>(&done));
        if (rc != LIBUSB_SUCCESS && rc != LIBUSB_ERROR_INTERRUPTED && rc != LIBUSB_ERROR_TIMEOUT)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

UsbWait LibusbDriver::waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) {
    auto it = requests.find(id);
    if (it == requests.end())
        return UsbWait::Failed;
    return handleEventsUntil(it->second->done, timeoutMs) ? UsbWait::Completed : UsbWait::TimedOut;
}

UsbTransferResult LibusbDriver::finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) {
    auto it = requests.find(id);
    if (it == requests.end() || !it->second->done)
        return {};
    Request& request = *it->second;
    if (isoPackets && request.isoPackets > 0) {
        for (std::uint32_t i = 0; i < request.isoPackets; ++i) {
            const libusb_iso_packet_descriptor& d = request.pieces[0].transfer->iso_packet_desc[i];
            UsbTransferResult packet;
            setStatus(packet, d.status);
            isoPackets[i] = {d.actual_length, packet.usbStatus};
        }
    }
    const UsbTransferResult result = request.result;
    requests.erase(it);
    return result;
}

bool LibusbDriver::abortEndpoint(UsbHandle handle, std::uint8_t endpoint) {
    if (opened.find(handle) == opened.end())
        return false;
    bool cancelled = true;
    for (auto& [id, request] : requests) {
        if (request->handle == handle && request->endpoint == endpoint && !request->done)
            cancelled = endEarly(*request, LIBUSB_TRANSFER_CANCELLED) && cancelled;
    }
    return cancelled;
}

void LibusbDriver::cancelAndDrain(UsbHandle handle) {
    // Whatever the cancels say (NOT_FOUND: completing already; NO_DEVICE: unplugged), every
    // piece comes back through its callback, which is what we wait for below.
    for (auto& [id, request] : requests) {
        if (request->handle == handle && !request->done)
            endEarly(*request, LIBUSB_TRANSFER_CANCELLED);
    }
    for (auto& [id, request] : requests) {
        if (request->handle == handle)
            handleEventsUntil(request->done, kUsbWaitForever);
    }
}
