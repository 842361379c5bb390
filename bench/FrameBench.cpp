// Raw words to complex samples for the largest read (1024 sweeps of 1024 samples), into a block
// that keeps its storage from read to read, beside the plain way that grows a new block
// sample by sample.

#include "device/FrameStream.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr std::int32_t kSamples = 1024 * 1024;

// One read as the board delivers it: stale words, the sync word at the first usable index,
// then I/Q pairs of raw counts.
std::vector<std::uint8_t> Read() {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*FrameTransferBytes(kSamples)));
    std::mt19937 random(3);
    std::uniform_int_distribution<unsigned> word(0, 0xFFFF);
    for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
        const std::size_t index = k / 2;
        unsigned w = word(random);
        if (index >= kSyncSearchStartWord && (index - kSyncSearchStartWord) % 2 == 0)
            w &= 0x7FFF; // imaginary words carry no flag...
        if (index == kSyncSearchStartWord)
            w |= kFrameFlag; // ...but the sync word
        if (index < kSyncSearchStartWord)
            w &= 0x7FFF;
        bytes[k] = static_cast<std::uint8_t>(w);
        bytes[k + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    return bytes;
}

void FrameConversion(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = Read();
    SampleBlock samples(kSamples);
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeFrame(bytes.data(), bytes.size(), kSamples, 1024, samples));
        benchmark::ClobberMemory();
    }
}

void FrameConversionPlain(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = Read();
    for (auto _ : state) {
        const std::size_t words = bytes.size() / 2;
        std::size_t k = kSyncSearchStartWord;
        const auto word = [&bytes](std::size_t i) {
            return bytes[2 * i] | (bytes[2 * i + 1] << 8);
        };
        while (k < words && !(word(k) & kFrameFlag))
            ++k;
        SampleBlock samples;
        for (; k + 1 < words && samples.size() < static_cast<std::size_t>(kSamples); k += 2)
            samples.push_back(
                {static_cast<double>(word(k + 1)), static_cast<double>(word(k) & 0x7FFF)});
        benchmark::DoNotOptimize(samples.data());
    }
}

constexpr int kRepetitions = 9;

} // namespace

BENCHMARK(FrameConversion)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(FrameConversionPlain)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
