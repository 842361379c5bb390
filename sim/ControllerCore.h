#pragma once

// The board's USB controller as the host reaches it through vendor request 0xA0: 16 KiB of
// program/data RAM, 512 bytes of scratch RAM and the CPUCS register, whose bit 0 holds the
// 8051 core in reset. When the core leaves reset it runs what was loaded; the register writes
// of that program decide whether the slave FIFOs the acquisition logic needs are set up.
//
// Only the instructions a FIFO set-up program needs are executed (jumps, immediate moves,
// DPTR moves and increments, MOVX writes, the RAM clearing loop, RET); anything else stops
// the core, as a real core running into garbage would stop doing anything useful.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class ControllerCore {
public:
    static constexpr std::uint16_t kCpucs = 0xE600;

    ControllerCore();

    // Vendor request 0xA0 from the host. False (the request stalls) when the range is not
    // RAM, scratch RAM or CPUCS.
    bool hostRead(std::uint16_t address, std::uint8_t* data, std::size_t length) const;
    bool hostWrite(std::uint16_t address, const std::uint8_t* data, std::size_t length);

    // Power-on state: core held in reset, RAM holding whatever it powered up with.
    void powerOn();

    bool inReset() const { return (cpucs & 1) != 0; }
    // The core runs a program that set the FIFOs up for the acquisition logic.
    bool fifosReady() const { return ready; }
    // Why the FIFOs are not ready (empty when they are).
    const std::string& diagnosis() const { return why; }
    // Bytes the EP6 FIFO buffers hold (after set-up).
    std::size_t ep6BufferBytes() const;
    // The last value the program wrote to a controller register (0xE400..0xE7FF).
    std::uint8_t reg(std::uint16_t address) const;
    std::uint8_t ram(std::uint16_t address) const { return code[address & 0x3FFF]; }

private:
    void release();
    void halt(const std::string& reason);
    void run();
    void evaluateSetup();
    void xwrite(std::uint16_t address, std::uint8_t value);

    std::vector<std::uint8_t> code;         // 0x0000..0x3FFF
    std::vector<std::uint8_t> scratch;      // 0xE000..0xE1FF
    std::array<std::uint8_t, 0x400> regs{}; // 0xE400..0xE7FF
    std::array<std::uint8_t, 256> iram{};
    std::uint8_t cpucs = 0;
    bool running = false;
    bool ready = false;
    std::string why;
};

} // namespace sim
