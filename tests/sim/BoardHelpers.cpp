#include "BoardHelpers.h"

#include <gtest/gtest.h>

namespace simtest {

using sim::ControlSetup;

const std::vector<Record>& controllerProgram() {
    static const std::vector<Record> records{
        {0x0000, {0x02, 0x00, 0xB8}},
        {0x00B8, {0x78, 0x7F, 0xE4, 0xF6, 0xD8, 0xFD, 0x75, 0x81, 0x07, 0x02, 0x00, 0x03}},
        {0x0003,
         {0x90, 0xE6, 0x00, 0x74, 0x12, 0xF0, 0x00, 0x00, 0x00, 0xA3, 0x74, 0xCB, 0xF0, 0x00, 0x00,
          0x00}},
        {0x0013,
         {0x90, 0xE6, 0x0B, 0x74, 0x01, 0xF0, 0x00, 0x00, 0x00, 0x90, 0xE6, 0x12, 0x74, 0xA2, 0xF0,
          0x00}},
        {0x0023,
         {0x00, 0x00, 0x90, 0xE6, 0x14, 0x74, 0xE0, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0x90, 0xE6, 0x13,
          0xF0}},
        {0x0033,
         {0x00, 0x00, 0x00, 0x90, 0xE6, 0x15, 0xF0, 0x00, 0x00, 0x00, 0x90, 0xE6, 0x04, 0x74, 0x80,
          0xF0}},
        {0x0043,
         {0x00, 0x00, 0x00, 0x74, 0x82, 0xF0, 0x00, 0x00, 0x00, 0x74, 0x84, 0xF0, 0x00, 0x00, 0x00,
          0x74}},
        {0x0053,
         {0x86, 0xF0, 0x00, 0x00, 0x00, 0x74, 0x88, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0xF0, 0x00, 0x00,
          0x00}},
        {0x0063,
         {0x90, 0xE6, 0x1A, 0x74, 0x0D, 0xF0, 0x00, 0x00, 0x00, 0x90, 0xE6, 0x18, 0x74, 0x01, 0xF0,
          0x00}},
        {0x0073,
         {0x00, 0x00, 0x74, 0x11, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0x90, 0xE6, 0x09, 0xF0, 0x00, 0x00,
          0x00}},
        {0x0083,
         {0x90, 0xE6, 0x02, 0x74, 0xE0, 0xF0, 0x00, 0x00, 0x00, 0xA3, 0x74, 0x08, 0xF0, 0x00, 0x00,
          0x00}},
        {0x0093,
         {0x90, 0xE6, 0x24, 0x74, 0x02, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0xA3, 0xF0, 0x00, 0x00, 0x00,
          0x90}},
        {0x00A3,
         {0xE6, 0x34, 0x74, 0x80, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0xA3, 0xF0, 0x90, 0xE6, 0x70, 0x74,
          0x40}},
        {0x00B3, {0xF0, 0x00, 0x00, 0x00, 0x22}},
    };
    return records;
}

void download(sim::EmulatedBoard& board, const std::vector<Record>& records) {
    std::uint8_t cpucs = 0;
    ASSERT_TRUE(board.control({0xC0, 0xA0, 0xE600, 0, 1}, &cpucs));
    std::uint8_t held = cpucs | 1;
    ASSERT_TRUE(board.control({0x40, 0xA0, 0xE600, 0, 1}, &held));
    for (Record r : records)
        board.control({0x40, 0xA0, r.address, 0, static_cast<std::uint16_t>(r.bytes.size())},
                      r.bytes.data());
    std::uint8_t run = cpucs & 0xFE;
    ASSERT_TRUE(board.control({0x40, 0xA0, 0xE600, 0, 1}, &run));
}

Bench::Bench(const sim::Scene& scene, bool load)
    : clock(std::make_shared<sim::VirtualClock>()),
      board(std::make_shared<sim::EmulatedBoard>(scene, clock)) {
    board->resetPort();
    EXPECT_TRUE(board->selectAltSetting(1));
    if (load)
        download(*board, controllerProgram());
}

Bench::Bench(std::shared_ptr<sim::SampleSource> source, std::shared_ptr<sim::VirtualClock> c)
    : clock(std::move(c)), board(std::make_shared<sim::EmulatedBoard>(std::move(source), clock)) {
    board->resetPort();
    EXPECT_TRUE(board->selectAltSetting(1));
    download(*board, controllerProgram());
}

bool command(sim::EmulatedBoard& board, std::uint16_t w) {
    std::vector<std::uint8_t> block(2048);
    for (std::size_t i = 0; i < block.size(); i += 2) {
        block[i] = static_cast<std::uint8_t>(w);
        block[i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    return board.acceptOut(0x02, block.data(), block.size());
}

std::vector<std::uint16_t> read(sim::EmulatedBoard& board, std::size_t bytes) {
    board.beginStreamRead();
    const double ready = board.streamReadyTime(bytes);
    std::vector<std::uint8_t> raw;
    if (ready != sim::AcquisitionLogic::kNever) {
        board.clock().sleepUntil(ready);
        raw.resize(bytes);
        raw.resize(board.readStream(raw.data(), bytes));
    }
    board.endStreamRead();
    std::vector<std::uint16_t> words(raw.size() / 2);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    return words;
}

std::vector<std::complex<double>> frame(const std::vector<std::uint16_t>& words, int count) {
    // Reads start on a pair, so the flag is looked for in Q words only.
    std::size_t k = 2048;
    while (k < words.size() && words[k] < 0x8000)
        k += 2;
    std::vector<std::complex<double>> out;
    for (; k + 1 < words.size() && out.size() < static_cast<std::size_t>(count); k += 2)
        out.emplace_back(words[k + 1], words[k] & 0x7FFF);
    return out;
}

std::vector<std::complex<double>> readFrame(sim::EmulatedBoard& board, int count) {
    return frame(read(board, static_cast<std::size_t>(count) * 4 + 8192), count);
}

sim::Scene quietScene(int model, std::vector<sim::SceneTarget> targets) {
    sim::Scene s;
    s.deviceModel = model;
    s.noise = 0;
    s.imperfections = {};
    s.imperfections.leakage = 0;
    s.targets = std::move(targets);
    return s;
}

std::uint16_t word(int mode, int windowCode, int bandwidthCode, int sweepCode) {
    return static_cast<std::uint16_t>(0xA000 + sweepCode * 64 + bandwidthCode * 16 +
                                      windowCode * 4 + mode);
}

} // namespace simtest
