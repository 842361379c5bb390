// A 1024-point forward transform with the cached plan against a plan made, run and
// destroyed per call, the way each cycle would otherwise do it. Each iteration transforms
// a fresh copy of the block (BM_CopyBlock is the copy alone).
#include "dsp/Fft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>

using namespace tavrix::dsp;

namespace {

constexpr std::size_t N = 1024;

ComplexVector Block() {
    ComplexVector block(N);
    for (std::size_t k = 0; k < N; ++k)
        block[k] = Complex(std::cos(0.1 * k) * 900.0 + 30.0, std::sin(0.13 * k) * 700.0);
    return block;
}

void BM_CopyBlock(benchmark::State& state) {
    const ComplexVector raw = Block();
    ComplexVector data(N);
    for (auto _ : state) {
        std::copy(raw.begin(), raw.end(), data.begin());
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
}

void BM_FftCachedPlan(benchmark::State& state) {
    const ComplexVector raw = Block();
    ComplexVector data(N);
    for (auto _ : state) {
        std::copy(raw.begin(), raw.end(), data.begin());
        Fft(data);
        benchmark::DoNotOptimize(data.data());
    }
}

// The plan held by the caller: the transform without the cache look-up.
void BM_FftHeldPlan(benchmark::State& state) {
    const ComplexVector raw = Block();
    ComplexVector data(N);
    const FftPlan& plan =
        FftPlanCache::Instance().Plan(FftLayoutFor(data.data(), N, 1, FftDirection::Forward));
    for (auto _ : state) {
        std::copy(raw.begin(), raw.end(), data.begin());
        plan.Execute(data.data());
        benchmark::DoNotOptimize(data.data());
    }
}

void BM_FftPlanPerCall(benchmark::State& state) {
    const ComplexVector raw = Block();
    ComplexVector data(N);
    auto* buffer = reinterpret_cast<fftw_complex*>(data.data());
    for (auto _ : state) {
        std::copy(raw.begin(), raw.end(), data.begin());
        fftw_plan plan = fftw_plan_dft_1d(N, buffer, buffer, FFTW_FORWARD, FFTW_ESTIMATE);
        fftw_execute(plan);
        fftw_destroy_plan(plan);
        benchmark::DoNotOptimize(data.data());
    }
}

} // namespace

BENCHMARK(BM_CopyBlock);
BENCHMARK(BM_FftCachedPlan);
BENCHMARK(BM_FftHeldPlan);
BENCHMARK(BM_FftPlanPerCall);
