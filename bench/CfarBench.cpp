// CFAR detection on a range-velocity map (513 x 1024) and a range profile (513), beside the
// plain definition that sums each cell's training cells afresh; and the ordered-statistic
// variant, which visits every training cell, for comparison.

#include "dsp/Cfar.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

using namespace tavrix::dsp;

namespace {

constexpr std::size_t kRows = 513, kColumns = 1024;

// Exponential noise power with a few targets, in dB.
std::vector<double> Map(std::size_t rows, std::size_t columns) {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> db(rows * columns);
    for (double& v : db)
        v = 60.0 + 10.0 * std::log10(-std::log1p(-uniform(random)));
    for (std::size_t t = 0; t < 12; ++t)
        db[(t * 37 % rows) * columns + t * 83 % columns] += 25.0;
    return db;
}

CfarParams Params(CfarVariant variant, CfarRegion region) {
    CfarParams p;
    p.variant = variant;
    p.region = region;
    p.guard = {2, 2};
    p.training = {8, 8};
    p.pfa = 1e-6;
    return p;
}

// CA with a window, each cell's training cells summed one by one.
std::size_t PlainCellAveraging(const std::vector<double>& db, long rows, long columns) {
    std::vector<double> power(db.size());
    for (std::size_t i = 0; i < db.size(); ++i)
        power[i] = std::pow(10.0, db[i] / 10.0);
    const long guard = 2, reach = 10;
    std::size_t detections = 0;
    for (long r = 0; r < rows; ++r)
        for (long c = 0; c < columns; ++c) {
            double sum = 0.0;
            std::size_t n = 0;
            for (long rr = std::max(0L, r - reach); rr <= std::min(rows - 1, r + reach); ++rr)
                for (long cc = std::max(0L, c - reach); cc <= std::min(columns - 1, c + reach);
                     ++cc)
                    if (std::abs(rr - r) > guard || std::abs(cc - c) > guard) {
                        sum += power[rr * columns + cc];
                        ++n;
                    }
            detections += power[r * columns + c] * n > CaThresholdFactor(n, 1e-6) * sum;
        }
    return detections;
}

void Cfar2DMap(benchmark::State& state) {
    const std::vector<double> db = Map(kRows, kColumns);
    const CfarParams p = Params(CfarVariant::CellAveraging, CfarRegion::Window);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cfar2D(db, kRows, kColumns, p));
}
BENCHMARK(Cfar2DMap)->Unit(benchmark::kMillisecond);

void Cfar2DMapPlain(benchmark::State& state) {
    const std::vector<double> db = Map(kRows, kColumns);
    for (auto _ : state)
        benchmark::DoNotOptimize(PlainCellAveraging(db, kRows, kColumns));
}
BENCHMARK(Cfar2DMapPlain)->Unit(benchmark::kMillisecond);

void Cfar2DMapCross(benchmark::State& state) {
    const std::vector<double> db = Map(kRows, kColumns);
    const CfarParams p = Params(CfarVariant::CellAveraging, CfarRegion::Cross);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cfar2D(db, kRows, kColumns, p));
}
BENCHMARK(Cfar2DMapCross)->Unit(benchmark::kMillisecond);

// Arg: 0 cross, 1 window.
void Cfar2DMapOs(benchmark::State& state) {
    const std::vector<double> db = Map(kRows, kColumns);
    const CfarParams p = Params(CfarVariant::OrderedStatistic,
                                state.range(0) ? CfarRegion::Window : CfarRegion::Cross);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cfar2D(db, kRows, kColumns, p));
}
BENCHMARK(Cfar2DMapOs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void Cfar1DProfile(benchmark::State& state) {
    const std::vector<double> db = Map(1, kRows);
    const CfarParams p = Params(CfarVariant::CellAveraging, CfarRegion::Window);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cfar1D(db, p));
}
BENCHMARK(Cfar1DProfile)->Unit(benchmark::kMicrosecond);

void Cfar1DProfilePlain(benchmark::State& state) {
    const std::vector<double> db = Map(1, kRows);
    for (auto _ : state)
        benchmark::DoNotOptimize(PlainCellAveraging(db, 1, kRows));
}
BENCHMARK(Cfar1DProfilePlain)->Unit(benchmark::kMicrosecond);

} // namespace
