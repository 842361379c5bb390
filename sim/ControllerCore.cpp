#include "sim/ControllerCore.h"

#include <cstdio>

namespace sim {

namespace {

constexpr std::uint16_t kIfconfig = 0xE601;
constexpr std::uint16_t kPinflagsAb = 0xE602;
constexpr std::uint16_t kPinflagsCd = 0xE603;
constexpr std::uint16_t kFifoReset = 0xE604;
constexpr std::uint16_t kFifoPinPolar = 0xE609;
constexpr std::uint16_t kEp2Cfg = 0xE612;
constexpr std::uint16_t kEp6Cfg = 0xE614;
constexpr std::uint16_t kEp2FifoCfg = 0xE618;
constexpr std::uint16_t kEp6FifoCfg = 0xE61A;
constexpr std::uint16_t kEp6AutoInLenH = 0xE624;
constexpr std::uint16_t kEp6AutoInLenL = 0xE625;
constexpr std::uint16_t kPortACfg = 0xE670;

// Internal-data addresses of the special function registers the programs touch.
constexpr int kSp = 0x81, kDpl = 0x82, kDph = 0x83, kPsw = 0xD0, kAcc = 0xE0;

// A FIFO set-up program runs a few hundred instructions per pass; a pass that has not come
// round after this many is looping elsewhere and has set up whatever it was going to.
constexpr int kStepLimit = 200000;

std::string hex(unsigned v, int digits) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%0*X", digits, v);
    return buf;
}

} // namespace

ControllerCore::ControllerCore() : code(0x4000), scratch(0x200) {
    powerOn();
}

void ControllerCore::powerOn() {
    // RAM powers up with leftovers, not zeros; a program that relies on cleared memory
    // without clearing it must not get away with it.
    for (std::size_t i = 0; i < code.size(); ++i)
        code[i] = static_cast<std::uint8_t>(i * 151 + 89);
    for (std::size_t i = 0; i < scratch.size(); ++i)
        scratch[i] = static_cast<std::uint8_t>(i * 29 + 7);
    for (std::size_t i = 0; i < iram.size(); ++i)
        iram[i] = static_cast<std::uint8_t>(i * 37 + 11);
    regs.fill(0);
    cpucs = 0x03; // clock output on, core held in reset
    running = false;
    ready = false;
    why = "the core is held in reset";
}

bool ControllerCore::hostRead(std::uint16_t address, std::uint8_t* data, std::size_t length) const {
    const std::size_t a = address;
    if (a + length <= 0x4000) {
        std::copy(code.begin() + static_cast<long>(a), code.begin() + static_cast<long>(a + length),
                  data);
        return true;
    }
    if (a >= 0xE000 && a + length <= 0xE200) {
        std::copy(scratch.begin() + static_cast<long>(a - 0xE000),
                  scratch.begin() + static_cast<long>(a - 0xE000 + length), data);
        return true;
    }
    if (a == kCpucs && length == 1) {
        data[0] = cpucs;
        return true;
    }
    return false;
}

bool ControllerCore::hostWrite(std::uint16_t address, const std::uint8_t* data,
                               std::size_t length) {
    const std::size_t a = address;
    if (a == kCpucs && length == 1) {
        // Only the reset bit answers the host; the clock bits belong to the program.
        const bool wasReset = inReset();
        cpucs = static_cast<std::uint8_t>((cpucs & ~1u) | (data[0] & 1u));
        if (!wasReset && inReset()) {
            running = false;
            ready = false;
            regs.fill(0);
            why = "the core is held in reset";
        } else if (wasReset && !inReset()) {
            release();
        }
        return true;
    }
    std::uint8_t* target = nullptr;
    if (a + length <= 0x4000)
        target = code.data() + a;
    else if (a >= 0xE000 && a + length <= 0xE200)
        target = scratch.data() + (a - 0xE000);
    if (!target)
        return false;
    std::copy(data, data + length, target);
    // Rewriting memory under a running program leaves it in an unknown state.
    if (running && a < 0x4000)
        halt("program memory was written while the core was running");
    return true;
}

std::uint8_t ControllerCore::reg(std::uint16_t address) const {
    if (address == kCpucs)
        return cpucs;
    if (address >= 0xE400 && address < 0xE800)
        return regs[address - 0xE400u];
    return 0;
}

std::size_t ControllerCore::ep6BufferBytes() const {
    const std::uint8_t cfg = regs[kEp6Cfg - 0xE400];
    const std::size_t packet = (cfg & 0x08) ? 1024 : 512;
    static constexpr int kBuffers[4] = {4, 2, 2, 3}; // quad, (invalid: double), double, triple
    return packet * static_cast<std::size_t>(kBuffers[cfg & 3]);
}

void ControllerCore::halt(const std::string& reason) {
    running = false;
    ready = false;
    regs.fill(0);
    why = reason;
}

void ControllerCore::xwrite(std::uint16_t address, std::uint8_t value) {
    if (address < 0x4000) {
        code[address] = value;
    } else if (address >= 0xE000 && address < 0xE200) {
        scratch[address - 0xE000u] = value;
    } else if (address == kCpucs) {
        cpucs = value;
    } else if (address >= 0xE400 && address < 0xE800) {
        regs[address - 0xE400u] = value;
    }
}

void ControllerCore::release() {
    // The 8051 comes out of reset with PC 0, SP 7, A and PSW 0, register bank 0.
    regs.fill(0);
    iram[kSp] = 0x07;
    iram[kDpl] = iram[kDph] = iram[kPsw] = iram[kAcc] = 0;
    running = true;
    ready = false;
    why.clear();
    run();
    if (running)
        evaluateSetup();
}

void ControllerCore::run() {
    std::uint16_t pc = 0;
    auto fetch = [&]() { return code[pc++ & 0x3FFF]; };
    auto r0 = [&]() -> std::uint8_t& { return iram[(iram[kPsw] & 0x18) + 0u]; };
    auto dptr = [&]() { return static_cast<std::uint16_t>(iram[kDph] << 8 | iram[kDpl]); };
    for (int step = 0; step < kStepLimit; ++step) {
        if (step > 0 && pc == 0)
            return; // one whole pass of a program that restarts itself
        if (pc >= 0x4000) {
            halt("the program ran past the end of RAM");
            return;
        }
        const std::uint16_t at = pc;
        const std::uint8_t op = fetch();
        switch (op) {
        case 0x00: // NOP
            break;
        case 0x02: { // LJMP addr16
            const std::uint8_t hi = fetch();
            pc = static_cast<std::uint16_t>(hi << 8 | fetch());
            break;
        }
        case 0x22: { // RET
            const std::uint8_t hi = iram[iram[kSp]--];
            const std::uint8_t lo = iram[iram[kSp]--];
            pc = static_cast<std::uint16_t>(hi << 8 | lo);
            break;
        }
        case 0x74: // MOV A,#data
            iram[kAcc] = fetch();
            break;
        case 0x75: { // MOV direct,#data
            const std::uint8_t direct = fetch();
            iram[direct] = fetch();
            if (direct >= 0x80 && direct != kSp && direct != kDpl && direct != kDph &&
                direct != kPsw && direct != kAcc) {
                halt("write to special function register 0x" + hex(direct, 2) + " at 0x" +
                     hex(at, 4));
                return;
            }
            break;
        }
        case 0x78: // MOV R0,#data
            r0() = fetch();
            break;
        case 0x90: { // MOV DPTR,#data16
            iram[kDph] = fetch();
            iram[kDpl] = fetch();
            break;
        }
        case 0xA3: { // INC DPTR
            const std::uint16_t d = static_cast<std::uint16_t>(dptr() + 1);
            iram[kDph] = static_cast<std::uint8_t>(d >> 8);
            iram[kDpl] = static_cast<std::uint8_t>(d);
            break;
        }
        case 0xD8: { // DJNZ R0,rel
            const auto rel = static_cast<std::int8_t>(fetch());
            if (--r0() != 0)
                pc = static_cast<std::uint16_t>(pc + rel);
            break;
        }
        case 0xE4: // CLR A
            iram[kAcc] = 0;
            break;
        case 0xF0: // MOVX @DPTR,A
            xwrite(dptr(), iram[kAcc]);
            if (inReset()) {
                halt("the program put the core into reset");
                return;
            }
            break;
        case 0xF6: // MOV @R0,A
            iram[r0()] = iram[kAcc];
            break;
        default:
            halt("instruction 0x" + hex(op, 2) + " at 0x" + hex(at, 4) +
                 " is not one the board runs");
            return;
        }
    }
}

void ControllerCore::evaluateSetup() {
    auto r = [&](std::uint16_t a) { return regs[a - 0xE400u]; };
    ready = false;
    if ((r(kIfconfig) & 0x03) != 0x03)
        why = "the interface is not in slave FIFO mode";
    else if (!(r(kIfconfig) & 0x08))
        why = "the slave FIFOs are not asynchronous";
    else if ((r(kEp2Cfg) & 0xF0) != 0xA0)
        why = "endpoint 2 is not a valid bulk OUT endpoint";
    else if ((r(kEp6Cfg) & 0xF0) != 0xE0)
        why = "endpoint 6 is not a valid bulk IN endpoint";
    else if ((r(kEp2FifoCfg) & 0x11) != 0x11)
        why = "endpoint 2 does not pass OUT packets to a 16-bit FIFO automatically";
    else if ((r(kEp6FifoCfg) & 0x09) != 0x09)
        why = "endpoint 6 does not commit a 16-bit FIFO automatically";
    else if ((r(kEp6AutoInLenH) << 8 | r(kEp6AutoInLenL)) != ((r(kEp6Cfg) & 0x08) ? 1024 : 512))
        why = "endpoint 6 commits packets of the wrong length";
    else if ((r(kPinflagsAb) & 0xF0) != 0xE0 || (r(kPinflagsCd) & 0x0F) != 0x08)
        why = "the flag pins do not carry endpoint 6 full and endpoint 2 empty";
    else if (r(kFifoPinPolar) != 0)
        why = "the FIFO pins are not active low";
    else if (!(r(kPortACfg) & 0x40))
        why = "PA7 is not the FIFO chip select";
    else if (r(kFifoReset) & 0x80)
        why = "the FIFOs still refuse host transfers";
    else
        ready = true;
    if (ready)
        why.clear();
}

} // namespace sim
