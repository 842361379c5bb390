#include "BoardHelpers.h"

#include "device/ControllerProgram.h"

#include <gtest/gtest.h>

namespace simtest {

Bench::Bench(const sim::Scene& scene, bool load) : clock(std::make_shared<sim::VirtualClock>()) {
    board = &driver.attach(std::make_shared<sim::EmulatedBoard>(scene, clock));
    bringUp(device, load);
}

Bench::Bench(std::shared_ptr<sim::SampleSource> source, std::shared_ptr<sim::VirtualClock> c)
    : clock(std::move(c)) {
    board = &driver.attach(std::make_shared<sim::EmulatedBoard>(std::move(source), clock));
    bringUp(device);
}

void bringUp(RadarDevice& device, bool load) {
    ASSERT_EQ(device.EnumerateDevices(), 1);
    ASSERT_TRUE(device.SetInterface());
    device.outEndpoint = device.FindEndpoint(kCommandEndpoint);
    device.inEndpoint = device.FindEndpoint(kSampleEndpoint);
    if (load) {
        ASSERT_TRUE(LoadControllerProgram(device, ControllerProgramText()));
    }
}

SampleBlock Bench::frame(int count, int samplesPerSweep) {
    SampleBlock samples;
    device.ReadFrame(samples, count, 3600000, static_cast<std::uint32_t>(samplesPerSweep));
    return samples;
}

std::vector<HexRecord> program(int address, std::uint8_t value) {
    std::vector<HexRecord> records = ParseHexImage(ControllerProgramText()).records;
    for (HexRecord& r : records) {
        const int offset = address - (r[1] << 8 | r[2]);
        if (offset >= 0 && offset < r[0]) {
            r[4 + offset] = value;
            std::uint8_t sum = 0;
            for (std::size_t i = 0; i + 1 < r.size(); ++i)
                sum = static_cast<std::uint8_t>(sum + r[i]);
            r.back() = static_cast<std::uint8_t>(-sum);
        }
    }
    return records;
}

bool command(sim::EmulatedBoard& board, std::uint16_t word) {
    const CommandBlockBytes block = CommandBlock(word);
    return board.acceptOut(kCommandEndpoint, block.data(), block.size());
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

sim::Scene quietScene(int model, std::vector<sim::SceneTarget> targets) {
    sim::Scene s;
    s.deviceModel = model;
    s.noise = 0;
    s.imperfections = {};
    s.imperfections.leakage = 0;
    s.targets = std::move(targets);
    return s;
}

} // namespace simtest
