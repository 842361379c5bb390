#pragma once

// A test bus that shows emulated boards to the unmodified libusb: each board gets a sysfs
// record and a device node in a umockdev test bed, and a usbdevfs ioctl handler that turns
// libusb's requests (claims, alternate settings, resets, URBs) into calls on the board.
//
// The handler runs on umockdev's worker thread; the board is only touched under a lock, so a
// test reaches it through withBoard(). Boards run on a virtual clock: an IN URB completes as
// soon as the board has its data, and one the board never fills stays pending until libusb
// discards it.

#include "sim/EmulatedBoard.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

class UmockdevBus {
public:
    // What the handler saw, in order.
    struct Event {
        enum Kind { Claim, Release, SetInterface, Reset, Control, Submit, Discard } kind;
        std::uint8_t endpoint = 0; // Submit, Discard
        std::uint32_t length = 0;  // Submit: buffer length; Control: data stage length
        std::uint32_t value = 0;   // SetInterface: setting; Control: request code
        int result = 0;            // errno given back, 0 on success
    };

    UmockdevBus();
    ~UmockdevBus();
    UmockdevBus(const UmockdevBus&) = delete;
    UmockdevBus& operator=(const UmockdevBus&) = delete;

    // True when the test bed is what the process sees: inside umockdev-wrapper, whose preload
    // redirects /sys and /dev to it.
    bool active() const;

    // Plugs a board showing `scene` into the next port of bus 1; returns the board's index.
    int plug(const sim::Scene& scene);
    // Pulls the board out: URBs in flight fail as on a real disconnect, the node goes away.
    void unplug(int board);

    // Runs `f` on a board under the handler's lock.
    void withBoard(int board, const std::function<void(sim::EmulatedBoard&)>& f);
    // What the board's nodes were asked, in order (also across a re-enumeration).
    std::vector<Event> events(int board);
    void clearEvents(int board);
    int urbsInFlight(int board);

private:
    struct Port;
    struct Urb;
    static int handleIoctl(void* handler, void* client, void* port);
    void addDevice(Port& port);
    void removeDevice(Port& port);
    void reenumerator();

    UMockdevTestbed* testbed = nullptr;
    std::mutex lock;
    std::vector<std::shared_ptr<sim::EmulatedBoard>> boards;
    std::vector<std::vector<Event>> boardEvents;
    // Device nodes: one per board, and another each time a board re-enumerates.
    std::vector<std::unique_ptr<Port>> ports;

    // Re-enumeration after a reset happens off the handler's thread, as it changes the bed.
    std::thread worker;
    std::condition_variable wake;
    std::vector<Port*> toReenumerate;
    bool stopping = false;
};
