// The CW and FSK numeric cores on raw blocks of the board's size, from raw counts to the
// detected target; plans are warm, as they are from the second cycle on.
#include "dsp/Blocks.h"
#include "dsp/CwVelocity.h"
#include "dsp/Fsk.h"
#include "dsp/Iq.h"
#include "dsp/Peak.h"
#include "tests/dsp/DecimateReference.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

using namespace tavrix::dsp;

namespace {

constexpr double kF0 = 24e9;

ComplexVector RawBlock(std::size_t n, std::uint32_t Ns, double cyclesPerSample) {
    ComplexVector block(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double phase = 2.0 * kPi * cyclesPerSample * static_cast<double>(k);
        const double toneB = k % Ns >= Ns / 2 ? 1.1 : 0.0;
        block[k] = Complex(32768.0 + 8000.0 * std::cos(phase + toneB),
                           16384.0 + 7000.0 * std::sin(phase + toneB + 0.1));
    }
    return block;
}

// Args: sweep count, samples per sweep. `condition` decimates and balances a fresh copy of the
// block; then window, transform, spectrum, peak.
template <typename Condition> void CwCycle(benchmark::State& state, Condition condition) {
    const auto sweeps = static_cast<std::uint32_t>(state.range(0));
    const auto Ns = static_cast<std::uint32_t>(state.range(1));
    const CwScales s = ComputeCwScales(Ns, 1.0, sweeps, kF0);
    const ComplexVector raw = RawBlock(static_cast<std::size_t>(s.sampleCount), Ns, 1e-3);
    ComplexVector block;
    std::vector<double> spectrum;
    for (auto _ : state) {
        state.PauseTiming();
        block = raw;
        state.ResumeTiming();
        condition(block);
        CwDopplerSpectrum(block, true, spectrum);
        benchmark::DoNotOptimize(FindPeak(spectrum, 0, spectrum.size()));
    }
    state.SetItemsProcessed(state.iterations() * s.sampleCount);
}

void BM_CwCore(benchmark::State& state) {
    CwCycle(state, [](ComplexVector& block) { CwConditionBlock(block, true); });
}
BENCHMARK(BM_CwCore)
    ->Args({64, 128})
    ->Args({128, 1024})
    ->Args({1024, 1024})
    ->Unit(benchmark::kMicrosecond);

// The same cycle with the stage-by-stage decimator as first written.
void BM_CwCorePlain(benchmark::State& state) {
    CwCycle(state, [](ComplexVector& block) {
        tavrix::test::PlainDecimate(block, kCwDecimation);
        // What CwConditionBlock does after decimating, on a block already decimated.
        std::vector<double> i, q;
        SplitIQ(block, i, q);
        BalanceIQ(i, q);
        for (std::size_t k = 0; k < block.size(); ++k)
            block[k] = Complex(i[k], q[k]);
        CorrectAmplitude(block, static_cast<std::uint32_t>(block.size()), 1);
    });
}
BENCHMARK(BM_CwCorePlain)->Args({1024, 1024})->Unit(benchmark::kMicrosecond);

// The spectrum alone, from 1024 conditioned samples.
void BM_CwSpectrum(benchmark::State& state) {
    ComplexVector block = RawBlock(1024, 1024, 0.01);
    std::vector<double> spectrum;
    for (auto _ : state) {
        CwDopplerSpectrum(block, true, spectrum);
        benchmark::DoNotOptimize(spectrum.data());
    }
}
BENCHMARK(BM_CwSpectrum)->Unit(benchmark::kMicrosecond);

// Args: sweep count, samples per sweep. Tone split, two transforms, product, detection.
void BM_FskCore(benchmark::State& state) {
    const auto sweeps = static_cast<std::uint32_t>(state.range(0));
    const auto Ns = static_cast<std::uint32_t>(state.range(1));
    const FskScales s = ComputeFskScales(Ns, 1.0, sweeps, kF0);
    const ComplexVector raw = RawBlock(static_cast<std::size_t>(s.sampleCount), Ns, 3e-4);
    FskSpectra spectra;
    for (auto _ : state) {
        ComputeFskSpectra(raw, Ns, sweeps, true, {}, spectra);
        const FskTarget t = DetectFskTarget(spectra, {}, 8.0, s.velocitySpan);
        benchmark::DoNotOptimize(t);
    }
}
BENCHMARK(BM_FskCore)->Args({64, 1024})->Args({1024, 1024})->Unit(benchmark::kMicrosecond);

} // namespace
