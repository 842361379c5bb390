// The FMCW cores beside the plain chain (fresh plans per cycle, transposed-output batched plan,
// scalar log10) on the same data: one range profile with its peak, and one range-velocity
// map from the sample block to the dB map, at the start-up settings and the largest ones.

#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Peak.h"
#include "tests/dsp/FmcwReference.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using namespace tavrix::dsp;

namespace {

// bench/run gives its NumPy reference the same counts and compares its map with ours: with
// TAVRIX_BENCH_DATA set, inputs and the largest map are written there as raw doubles.
void Share(const std::string& name, const void* data, std::size_t bytes) {
    if (const char* dir = std::getenv("TAVRIX_BENCH_DATA")) {
        if (std::FILE* file = std::fopen((std::string(dir) + "/" + name).c_str(), "wb")) {
            std::fwrite(data, 1, bytes, file);
            std::fclose(file);
        }
    }
}

// Raw counts: the board's offsets, a few beat tones and noise.
ComplexVector RawCounts(std::size_t count) {
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 40.0);
    ComplexVector x(count);
    for (std::size_t i = 0; i < count; ++i)
        x[i] = Complex(32768.0 + 900.0 * std::sin(0.31 * i) + noise(random),
                       16384.0 + 700.0 * std::cos(0.83 * i) + noise(random));
    Share("fmcw_" + std::to_string(count) + ".c128", x.data(), x.size() * sizeof(Complex));
    return x;
}

void RangeProfile(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const ComplexVector sweep = RawCounts(n);
    FmcwRangeProfiler profiler;
    std::vector<double> db(kRangeBins);
    for (auto _ : state) {
        profiler.Process(sweep, {}, db);
        benchmark::DoNotOptimize(FindPeak(db, 0, kRangeBins));
        benchmark::ClobberMemory();
    }
}

void RangeProfilePlain(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const ComplexVector sweep = RawCounts(n);
    for (auto _ : state) {
        const std::vector<double> db = tavrix::test::ReferenceRangeProfile(sweep, {});
        benchmark::DoNotOptimize(FindPeak(db, 0, kRangeBins));
    }
}

// The mapper on `threads` threads, the calling one included.
void MapOn(benchmark::State& state, unsigned threads) {
    const auto q = static_cast<std::uint32_t>(state.range(0));
    const auto n = static_cast<std::uint32_t>(state.range(1));
    const ComplexVector burst = RawCounts(std::size_t{q} * n);
    FmcwRangeVelocityMapper mapper(threads);
    std::vector<double> map(kMapValues);
    RangeVelocityOptions options;
    options.rows = MapRows::NearFirst;
    for (auto _ : state) {
        mapper.Process(burst, n, q, options, map);
        benchmark::ClobberMemory();
    }
    if (threads == 1)
        Share("map_" + std::to_string(q) + "x" + std::to_string(n) + ".f64", map.data(),
              map.size() * sizeof(double));
}

void RangeVelocityMap(benchmark::State& state) {
    MapOn(state, 1);
}
void RangeVelocityMapTwoCores(benchmark::State& state) {
    MapOn(state, 2);
}

void RangeVelocityMapPlain(benchmark::State& state) {
    const auto q = static_cast<std::uint32_t>(state.range(0));
    const auto n = static_cast<std::uint32_t>(state.range(1));
    const ComplexVector burst = RawCounts(std::size_t{q} * n);
    RangeVelocityOptions options;
    options.rows = MapRows::NearFirst;
    for (auto _ : state)
        benchmark::DoNotOptimize(tavrix::test::ReferenceRangeVelocityMap(burst, n, q, options));
}

constexpr int kRepetitions = 9;

} // namespace

BENCHMARK(RangeProfile)
    ->Arg(128)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(RangeProfilePlain)
    ->Arg(128)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(RangeVelocityMap)
    ->Args({64, 128})
    ->Args({1024, 1024})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(RangeVelocityMapTwoCores)
    ->Args({1024, 1024})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(RangeVelocityMapPlain)
    ->Args({64, 128})
    ->Args({1024, 1024})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
