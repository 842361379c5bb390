#pragma once

// Shows emulated boards to the unmodified libusb: each gets a sysfs record and a device node in
// a umockdev test bed, and a usbdevfs ioctl handler (on umockdev's worker thread, touching a
// board only under the lock withBoard() takes) that turns libusb's requests into calls on it.
// Board time moves when the host waits for a URB: the oldest stream URB completes once the
// board has its data. With no other stream URB queued, the endpoint idles for a host's
// turnaround while the FIFO fills, as on a real bus. URBs may hold 16 MiB in all, as in usbfs.

#include "sim/EmulatedBoard.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

class UmockdevBus {
public:
    UmockdevBus();
    ~UmockdevBus();

    // True inside umockdev-wrapper, whose preload redirects /sys and /dev to the test bed.
    bool active() const;
    // Plugs a board streaming from `source` into the next port of bus 1.
    void plug(std::shared_ptr<sim::SampleSource> source);
    // URBs in flight fail as on a real disconnect, the node goes away.
    void unplug(int board);
    void withBoard(int board, const std::function<void(sim::EmulatedBoard&)>& f);
    // URBs beyond this many buffer bytes in flight are refused with ENOMEM.
    void limitUrbMemory(std::size_t bytes) { urbMemoryLimit = bytes; }

private:
    struct Port;

    UMockdevTestbed* testbed = nullptr;
    std::mutex lock;
    std::vector<std::unique_ptr<Port>> ports;
    std::size_t urbMemory = 0; // buffer bytes of the URBs submitted and not reaped
    std::atomic<std::size_t> urbMemoryLimit{std::size_t{16} << 20};
};
