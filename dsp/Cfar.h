#pragma once

#include "dsp/Types.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace tavrix::dsp {

// Constant-false-alarm-rate detection on dB values: each cell's power is compared with a
// multiple of the noise power estimated from training cells around it, beyond guard cells
// that keep the cell's own echo out of the estimate. The values are turned back into linear
// power for the estimate: cell averaging (CA) takes the mean of the training cells, ordered
// statistic (OS) the k-th smallest of them. The multiple follows from the false-alarm
// probability for exponentially distributed (square-law) noise power and for the number of
// training cells actually used, which is smaller at the edges: nothing outside the data is
// read.

enum class CfarVariant { CellAveraging, OrderedStatistic };
// Two-dimensional training region: the cells on the row and column through the cell (Cross),
// or a rectangle around it (Window). One-dimensional detection ignores it.
enum class CfarRegion { Cross, Window };

struct CfarExtent {
    std::size_t rows = 0;
    std::size_t columns = 0;
};

struct CfarParams {
    CfarVariant variant = CfarVariant::CellAveraging;
    CfarRegion region = CfarRegion::Window;
    // Cells on each side of the cell under test, counted in strides. One-dimensional
    // detection uses the column counts.
    CfarExtent guard{2, 2};
    CfarExtent training{8, 8}; // beyond the guard cells
    // Bins from one cell of the region to the next (values below 1 count as 1). A transform
    // zero-filled m times interpolates m bins per independent one; a stride of m keeps the
    // training cells independent, which the false-alarm law assumes.
    CfarExtent stride{1, 1};
    // False-alarm probability per cell, 0 < pfa < 1, unless a fixed threshold is given.
    double pfa = 1e-4;
    // Fixed threshold instead: a cell is detected when its SNR exceeds this many dB.
    std::optional<double> thresholdDb;
    // OS: k = rank · N rounded, held to 1..N, for the N training cells of each cell.
    double rank = 0.75;
    // One detection per target: of each 8-connected group of detected cells only the
    // strongest is kept (the first in row order among equals), and of those only the ones
    // outside the guard extent of a stronger one (side lobes rise there).
    bool groupPeaks = true;
};

struct CfarDetection {
    std::size_t row = 0;
    std::size_t column = 0;
    double powerDb = 0.0; // the cell's value
    double noiseDb = 0.0; // estimated mean noise power
    double snrDb = 0.0;   // powerDb - noiseDb
};

// Detections on a row-major map of rows × columns dB values, in row order. Empty when the
// map's size is not rows × columns or the parameters name no valid threshold. CA keeps running
// sums and takes about 2 ms on one core for 513 × 1024, window or cross, whatever their size.
// OS visits the training cells of every cell and is slower: about 12 ms there with a cross of
// 32 cells and 50 ms with a window of 416.
std::vector<CfarDetection> Cfar2D(Span<const double> db, std::size_t rows, std::size_t columns,
                                  const CfarParams& params);

// Detections on a profile or spectrum, as one row of Cfar2D (the column counts apply).
std::vector<CfarDetection> Cfar1D(Span<const double> db, const CfarParams& params);

// CA threshold factor alpha (the cell is detected above alpha times the training mean) for n
// training cells: Pfa = (1 + alpha / n)^-n, so alpha = n (Pfa^(-1/n) - 1).
double CaThresholdFactor(std::size_t n, double pfa);

// OS: the false-alarm probability of the factor alpha on the k-th smallest of n training
// cells, prod_{i=0}^{k-1} (n - i) / (n - i + alpha); and the factor that gives `pfa`, solved
// for numerically.
double OsFalseAlarm(std::size_t n, std::size_t k, double alpha);
double OsThresholdFactor(std::size_t n, std::size_t k, double pfa);
// The mean of the k-th smallest of n unit-mean exponential values, sum_{i=0}^{k-1} 1/(n - i):
// what turns the ordered statistic into an estimate of the mean noise power.
double OsMeanFactor(std::size_t n, std::size_t k);
// k for n training cells: rank · n rounded, held to 1..n.
std::size_t OsRank(std::size_t n, double rank);

// power[i] = 10^(db[i] / 10) to within a few parts in 1e13, dB held to ±300 and NaN taken as
// -300 dB (power 1e-30), so that no infinity or NaN reaches a running sum.
void PowerFromDecibels(const double* db, double* power, std::size_t n);

} // namespace tavrix::dsp
