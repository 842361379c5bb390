// Cost of each primitive on one block of 1024 samples, as one sweep of the largest size.
// Primitives that change their block in place work on a fresh copy every iteration; the
// copy alone is BM_CopyBlock.
#include "dsp/BandFilter.h"
#include "dsp/Bessel.h"
#include "dsp/Blocks.h"
#include "dsp/Clutter.h"
#include "dsp/Decibel.h"
#include "dsp/Decimate.h"
#include "dsp/DynamicRange.h"
#include "dsp/Iq.h"
#include "dsp/Peak.h"
#include "dsp/Window.h"

#include <benchmark/benchmark.h>

#include <cmath>

using namespace tavrix::dsp;

namespace {

constexpr std::uint32_t L = 1024;

ComplexVector RawBlock(std::size_t n, double phase = 0.0) {
    ComplexVector block(n);
    for (std::size_t k = 0; k < n; ++k)
        block[k] = Complex(32768.0 + 9000.0 * std::cos(0.031 * k + phase),
                           16384.0 + 7000.0 * std::sin(0.031 * k + phase + 0.2));
    return block;
}

std::vector<double> DbValues(std::size_t n) {
    std::vector<double> db(n);
    for (std::size_t k = 0; k < n; ++k)
        db[k] = -40.0 + 60.0 * std::sin(0.01 * k) * std::sin(0.37 * k);
    return db;
}

template <typename Op> void RunOnFreshBlock(benchmark::State& state, Op op) {
    const ComplexVector raw = RawBlock(L);
    ComplexVector block(L);
    for (auto _ : state) {
        std::copy(raw.begin(), raw.end(), block.begin());
        op(block);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
}

void BM_CopyBlock(benchmark::State& state) {
    RunOnFreshBlock(state, [](ComplexVector&) {});
}

void BM_BesselI0(benchmark::State& state) {
    double x = 0.5;
    for (auto _ : state) {
        benchmark::DoNotOptimize(BesselI0(x));
        x = x < 8.0 ? x + 0.75 : 0.5; // both branches
    }
}

void BM_SubtractDC(benchmark::State& state) {
    RunOnFreshBlock(state, [](ComplexVector& b) { SubtractDC(b, L, 1); });
}

void BM_CorrectAmplitude(benchmark::State& state) {
    RunOnFreshBlock(state, [](ComplexVector& b) { CorrectAmplitude(b, L, 1); });
}

void BM_ApplyHammingWindow(benchmark::State& state) {
    RunOnFreshBlock(state, [](ComplexVector& b) { ApplyHammingWindow(b, L, 1); });
}

void BM_ApplyWindowPrecomputed(benchmark::State& state) {
    const std::vector<double> window = HammingWindow(L);
    RunOnFreshBlock(state, [&window](ComplexVector& b) { ApplyWindow(b, window, 1); });
}

void BM_CancelClutterReference(benchmark::State& state) {
    bool reset = true;
    ComplexVector reference;
    std::deque<ComplexVector> history;
    RunOnFreshBlock(state, [&](ComplexVector& b) {
        CancelDirectClutter(b, ClutterMode::Reference, 2, reset, reference, history);
    });
}

// Arg: blocks averaged.
void BM_CancelClutterMovingAverage(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    bool reset = true;
    ComplexVector reference;
    std::deque<ComplexVector> history;
    RunOnFreshBlock(state, [&](ComplexVector& b) {
        CancelDirectClutter(b, ClutterMode::MovingAverage, count, reset, reference, history);
    });
}

void BM_DesignBandFilter(benchmark::State& state) {
    ComplexVector spectrum(L);
    for (auto _ : state) {
        DesignBandFilter(spectrum, 0.05, 0.2);
        benchmark::DoNotOptimize(spectrum.data());
    }
}

// 128 raw sweeps of 1024 samples decimated by 128 to one block of 1024.
void BM_DecimateIQ(benchmark::State& state) {
    const ComplexVector raw = RawBlock(128 * L);
    ComplexVector block;
    for (auto _ : state) {
        block = raw;
        DecimateIQ(block, 128);
        benchmark::DoNotOptimize(block.data());
    }
}

void BM_SplitAndBalanceIQ(benchmark::State& state) {
    const ComplexVector raw = RawBlock(L);
    std::vector<double> i, q;
    for (auto _ : state) {
        SplitIQ(raw, i, q);
        BalanceIQ(i, q);
        benchmark::DoNotOptimize(q.data());
    }
}

void BM_PowerDb(benchmark::State& state) {
    const ComplexVector bins = RawBlock(L);
    std::vector<double> db(L);
    for (auto _ : state) {
        PowerDb(bins, db);
        benchmark::DoNotOptimize(db.data());
    }
}

void BM_FindPeak(benchmark::State& state) {
    const std::vector<double> db = DbValues(L);
    for (auto _ : state)
        benchmark::DoNotOptimize(FindPeak(db, 0, db.size()));
}

void BM_AutoDynamicRange(benchmark::State& state) {
    const std::vector<double> db = DbValues(L);
    for (auto _ : state) {
        benchmark::DoNotOptimize(AutoMaximum(db));
        benchmark::DoNotOptimize(AutoMinimum(db));
    }
}

} // namespace

BENCHMARK(BM_CopyBlock);
BENCHMARK(BM_BesselI0);
BENCHMARK(BM_SubtractDC);
BENCHMARK(BM_CorrectAmplitude);
BENCHMARK(BM_ApplyHammingWindow);
BENCHMARK(BM_ApplyWindowPrecomputed);
BENCHMARK(BM_CancelClutterReference);
BENCHMARK(BM_CancelClutterMovingAverage)->Arg(2)->Arg(64);
BENCHMARK(BM_DesignBandFilter);
BENCHMARK(BM_DecimateIQ);
BENCHMARK(BM_SplitAndBalanceIQ);
BENCHMARK(BM_PowerDb);
BENCHMARK(BM_FindPeak);
BENCHMARK(BM_AutoDynamicRange);
