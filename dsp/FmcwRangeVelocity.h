#pragma once

#include "dsp/AlignedVector.h"
#include "dsp/FmcwRange.h"
#include "dsp/Types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrix::dsp {

// FMCW range-velocity processing: a burst of Q sweeps is turned into range profiles (fast
// time), and each range bin across the sweeps into a Doppler spectrum (slow time), giving a
// 513 x 1024 map in dB. Column j holds Doppler bin (j + 512) mod 1024, the signed velocity
// (j - 512) / 512 · Vmax: column 512 is standing still.

inline constexpr std::size_t kDopplerBins = 1024;
inline constexpr std::size_t kMapValues = kRangeBins * kDopplerBins;
inline constexpr std::uint32_t kMaxSweepCount = 1024;

// Read parameters of one burst: Q·N samples at fs = N / T, with a time-out of twice the
// burst's duration plus one second.
struct FmcwBurstScales {
    double sampleRate = 0.0; // samples/s
    std::int32_t sampleCount = 0;
    std::int64_t timeoutMs = 0;
};
FmcwBurstScales ComputeFmcwBurstScales(std::uint32_t samplesPerSweep, double sweepTimeMs,
                                       std::uint32_t sweeps);

// Row order of the map: FarFirst as the transforms leave it (row r = range bin 512 - r, what
// the velocity waterfall collapses), NearFirst as the map is drawn (row r = range bin r).
enum class MapRows { FarFirst, NearFirst };

struct RangeVelocityOptions {
    bool hammingWindow = true;
    // Removes each sweep's mean before the transforms, and each range bin's mean over the
    // sweeps (the echoes that stand still) before the Doppler transform.
    bool subtractDC = true;
    bool correctAmplitude = false;
    Span<const Complex> rangeFilter;    // 1024 factors, or empty while the range window is open
    Span<const Complex> rangeWeights;   // at least 513 factors, or empty when weighting is off
    Span<const Complex> velocityFilter; // 1024 factors, or empty while the window is open
    MapRows rows = MapRows::FarFirst;
};

// Builds range-velocity maps. Keeps its buffers (about 8.5 MB for the Doppler matrix), the
// Hamming window of the last sweep length and the transform plan between bursts.
class FmcwRangeVelocityMapper {
public:
    FmcwRangeVelocityMapper();

    // `burst`: Q sweeps of N samples after clutter cancellation (the first Q·N samples are
    // used). Per sweep, in this order: Hamming window, DC removal, amplitude correction (as the
    // options ask), zero-fill to 1024 and transform. Range bins 0..512 are multiplied by the
    // range filter and then the weight; each bin's Q values lose their mean when DC removal is
    // on, are zero-filled to 1024 and transformed; each Doppler bin is multiplied by the
    // velocity filter and written as 10·log10(re² + im²) to `map` (513 x 1024, row by row, in
    // the options' row order). Returns false, touching nothing, unless 1 <= N <= 1024,
    // 1 <= Q <= 1024, the burst holds Q·N samples, `map` 513 x 1024 values and each given
    // filter or weighting its stated length.
    bool Process(Span<const Complex> burst, std::uint32_t samplesPerSweep, std::uint32_t sweeps,
                 const RangeVelocityOptions& options, Span<double> map);

private:
    void CleanSweep(const Complex* sweep, std::size_t n, const RangeVelocityOptions& options,
                    Complex* row) const;
    void TransformSweeps(const Complex* burst, std::size_t first, std::size_t count, std::size_t n,
                         const RangeVelocityOptions& options);

    AlignedVector<Complex> scratch_; // a block of cleaned sweeps, or of Doppler spectra
    AlignedVector<Complex> sweeps_;  // a block of sweeps, 1024 values each
    AlignedVector<Complex> doppler_; // 513 rows of 1024: one row per range bin
    ComplexVector binSums_;          // each range bin summed over the sweeps
    std::vector<double> power_;
    std::vector<double> window_;
    std::size_t windowLength_ = 0;
};

// Collapses a FarFirst map to the velocity profile of the velocity waterfall:
// p[j] = (sum over r = 0..512 of map[r][j]) / 1024, every range bin alike; then
// p[511] = p[512], the column just below standing still repeating it. Returns
// false, touching nothing, when `map` is not 513 x 1024 or `profile` shorter than 1024.
bool VelocityProfile(Span<const double> farFirstMap, Span<double> profile);

} // namespace tavrix::dsp
