#pragma once

// Drives an emulated board the way the host program does, for the board's own tests.

#include "sim/EmulatedBoard.h"

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

namespace simtest {

struct Record {
    std::uint16_t address;
    std::vector<std::uint8_t> bytes;
};

// The controller program's data records, in file order.
const std::vector<Record>& controllerProgram();

// Reads CPUCS, holds the core in reset, writes the records, releases the core.
void download(sim::EmulatedBoard& board, const std::vector<Record>& records);

// A board on a virtual clock, plugged in, alternate setting 1, program loaded.
struct Bench {
    explicit Bench(const sim::Scene& scene, bool load = true);
    // A board streaming from `source`, on `clock`.
    Bench(std::shared_ptr<sim::SampleSource> source, std::shared_ptr<sim::VirtualClock> clock);
    std::shared_ptr<sim::VirtualClock> clock;
    std::shared_ptr<sim::EmulatedBoard> board;
};

// Writes the command block (1024 copies of the word) to endpoint 2; false when refused.
bool command(sim::EmulatedBoard& board, std::uint16_t word);
// One read of `bytes` bytes as a host would make it: waits (on the board's clock) until they
// are there. Empty when none will come.
std::vector<std::uint16_t> read(sim::EmulatedBoard& board, std::size_t bytes);
// The frame reader of the host: sync search from word 2048 among the Q words (reads of the
// board start on a pair), then Q/I pairs.
std::vector<std::complex<double>> frame(const std::vector<std::uint16_t>& words, int count);
// Reads `count` frame-aligned samples the way the host does (count * 4 + 8192 bytes).
std::vector<std::complex<double>> readFrame(sim::EmulatedBoard& board, int count);

// A scene with nothing but the given targets: no noise, no imperfections.
sim::Scene quietScene(int model, std::vector<sim::SceneTarget> targets);

// Operating word for mode 0..3, sample-window code 0..3, bandwidth code 0..3, sweep code 0..3.
std::uint16_t word(int mode, int windowCode, int bandwidthCode = 1, int sweepCode = 0);

} // namespace simtest
