#pragma once

// An emulated board brought up by the program's own device code (enumeration, interface,
// controller program, command block, frame reader), for the board's own tests.

#include "device/HexImage.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "sim/SimUsbDriver.h"

#include <memory>
#include <vector>

namespace simtest {

// Finds the board, selects alternate setting 1 and its endpoints and, with `load`, loads the
// controller program, as the window's activation does.
void bringUp(RadarDevice& device, bool load = true);

// A board on a virtual clock, brought up, playing `scene` or `source`.
struct Bench {
    explicit Bench(const sim::Scene& scene, bool load = true);
    Bench(std::shared_ptr<sim::SampleSource> source, std::shared_ptr<sim::VirtualClock> clock);
    // `count` samples of sweeps of `samplesPerSweep`, read as the chains do.
    SampleBlock frame(int count, int samplesPerSweep);

    std::shared_ptr<sim::VirtualClock> clock;
    sim::SimUsbDriver driver;
    RadarDevice device{driver};
    sim::EmulatedBoard* board = nullptr;
};

// The controller program's records, with the byte at `address` (if any) replaced and the
// checksum made good again, as a corrupted program that still loads would have it.
std::vector<HexRecord> program(int address = -1, std::uint8_t value = 0);

// Writes the command block of `word` to endpoint 2; false when the board NAKs it.
bool command(sim::EmulatedBoard& board, std::uint16_t word);
// One read of `bytes` bytes, waiting on the board's clock; empty when none will come.
std::vector<std::uint16_t> read(sim::EmulatedBoard& board, std::size_t bytes);

// A scene with nothing but the given targets: no noise, no imperfections.
sim::Scene quietScene(int model, std::vector<sim::SceneTarget> targets);

} // namespace simtest
