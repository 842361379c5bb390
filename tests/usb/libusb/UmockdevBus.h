#pragma once

// Shows emulated boards to the unmodified libusb: each board gets a sysfs record and a device
// node in a umockdev test bed, and a usbdevfs ioctl handler that turns libusb's requests
// (claims, alternate settings, resets, URBs) into calls on the board.
//
// The handler runs on umockdev's worker thread and touches a board only under a lock; tests
// reach it through withBoard(). Boards run on a virtual clock: an IN URB completes as soon as
// the board has its data, and one the board never fills stays pending until it is discarded.

#include "sim/EmulatedBoard.h"

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
    // URBs in flight fail as on a real disconnect, the node goes away.
    void unplug(int board);

    void withBoard(int board, const std::function<void(sim::EmulatedBoard&)>& f);
    // Lengths of the data URBs submitted to the board since the last call.
    std::vector<std::uint32_t> takeSubmitted(int board);

private:
    struct Port;
    struct Urb;
    static int handleIoctl(void* handler, void* client, void* port);

    UMockdevTestbed* testbed = nullptr;
    std::mutex lock;
    std::vector<std::unique_ptr<Port>> ports;
};
