#pragma once

// Shows emulated boards to the unmodified libusb: each board gets a sysfs record and a device
// node in a umockdev test bed, and a usbdevfs ioctl handler that turns libusb's requests
// (claims, alternate settings, resets, URBs) into calls on the board.
//
// The handler runs on umockdev's worker thread and touches a board only under a lock; tests
// reach it through withBoard(). Boards run on a virtual clock that moves when the host waits
// for a URB: the oldest stream URB completes as soon as the board has its data, and one the
// board never fills stays pending until it is discarded. The host reacts to a completion
// without delay while another stream URB is queued; when none is, the endpoint idles for a
// host's turnaround and the board's FIFO fills meanwhile, as on a real bus. As in usbfs, URBs
// in flight may hold 16 MiB of buffers in all.

#include "sim/BoardClock.h"
#include "sim/EmulatedBoard.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

class UmockdevBus {
public:
    UmockdevBus();
    ~UmockdevBus();
    UmockdevBus(const UmockdevBus&) = delete;
    UmockdevBus& operator=(const UmockdevBus&) = delete;

    // True inside umockdev-wrapper, whose preload redirects /sys and /dev to the test bed.
    bool active() const;
    // Plugs a board showing `scene` into the next port of bus 1; returns its index.
    int plug(const sim::Scene& scene);
    // Plugs a board streaming from `source`.
    int plug(std::shared_ptr<sim::SampleSource> source);
    // URBs in flight fail as on a real disconnect, the node goes away.
    void unplug(int board);

    void withBoard(int board, const std::function<void(sim::EmulatedBoard&)>& f);
    // Lengths of the data URBs the board accepted since the last call.
    std::vector<std::uint32_t> takeSubmitted(int board);
    // Buffers of the URBs in flight may hold this many bytes in all; a URB beyond is refused
    // with ENOMEM.
    void limitUrbMemory(std::size_t bytes);

    // Board time a host needs at least to see a completion and submit the next URB.
    static constexpr double kHostTurnaround = 1e-3;

private:
    struct Port;
    struct Urb;
    static int handleIoctl(void* handler, void* client, void* port);
    int attach(std::shared_ptr<sim::EmulatedBoard> board, std::shared_ptr<sim::VirtualClock> clock);

    UMockdevTestbed* testbed = nullptr;
    std::mutex lock;
    std::vector<std::unique_ptr<Port>> ports;
    std::size_t urbMemory = 0; // buffer bytes of the URBs submitted and not reaped
    std::size_t urbMemoryLimit = std::size_t{16} << 20;
};
