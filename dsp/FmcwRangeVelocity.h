#pragma once

#include "dsp/AlignedVector.h"
#include "dsp/FmcwRange.h"
#include "dsp/Types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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
    // Called with each map row (its index in the map, its values) once written, on the thread
    // that wrote it: what a caller needs of a row is cheapest while the row is in the caches.
    std::function<void(std::size_t row, Span<const double> values)> rowWritten;
};

// Threads a mapper uses unless told otherwise: two where the machine has two cores or more.
unsigned DefaultMapperThreads();

// Builds range-velocity maps. Keeps its buffers (about 8.5 MB for the Doppler matrix and
// 0.5 MB per thread), the Hamming window of the last sweep length and the transform plan
// between bursts. With more than one thread, the calling thread and threads - 1 helpers, kept
// asleep between maps, share each burst's transforms; the map is bit for bit the one a single
// thread makes.
class FmcwRangeVelocityMapper {
public:
    // `threads` below 1 counts as 1. The helpers start with the first map; should they fail
    // to start, the mapper works on the calling thread alone.
    explicit FmcwRangeVelocityMapper(unsigned threads = DefaultMapperThreads());
    ~FmcwRangeVelocityMapper();
    FmcwRangeVelocityMapper(const FmcwRangeVelocityMapper&) = delete;
    FmcwRangeVelocityMapper& operator=(const FmcwRangeVelocityMapper&) = delete;

    unsigned threads() const { return static_cast<unsigned>(lanes_.size()); }

    // `burst`: Q sweeps of N samples after clutter cancellation (the first Q·N samples are
    // used). Per sweep, in this order: Hamming window, DC removal, amplitude correction (as the
    // options ask), zero-fill to 1024 and transform. Range bins 0..512 are multiplied by the
    // range filter and then the weight; each bin's Q values lose their mean when DC removal is
    // on, are zero-filled to 1024 and transformed; each Doppler bin is multiplied by the
    // velocity filter and written as 10·log10(re² + im²) to `map` (513 x 1024, row by row, in
    // the options' row order). Returns false, touching nothing, unless 1 <= N <= 1024,
    // 1 <= Q <= 1024, the burst holds Q·N samples, `map` 513 x 1024 values and each given
    // filter or weighting its stated length. Not to be called from two threads at once.
    bool Process(Span<const Complex> burst, std::uint32_t samplesPerSweep, std::uint32_t sweeps,
                 const RangeVelocityOptions& options, Span<double> map);

    // Writes the N samples of sweep `index` to `out`. Called from the mapper's threads at
    // once, each with an `out` of its own.
    using SweepReader = std::function<void(std::size_t index, Complex* out)>;
    // The same map, each sweep read through `read` as it is needed (converted from another
    // form, say) instead of taken from a burst held in memory.
    bool Process(const SweepReader& read, std::uint32_t samplesPerSweep, std::uint32_t sweeps,
                 const RangeVelocityOptions& options, Span<double> map);

private:
    class Helpers;
    // What one thread works in.
    struct Lane {
        AlignedVector<Complex> scratch; // a block of cleaned sweeps, or of Doppler spectra
        AlignedVector<Complex> sweeps;  // a block of sweeps, 1024 values each
        std::vector<double> power;
    };

    static bool Accepts(std::uint32_t samplesPerSweep, std::uint32_t sweeps,
                        const RangeVelocityOptions& options, Span<double> map);
    // `sweepAt(index, row)`: where sweep `index` lies, which may be `row` once written there.
    template <typename SweepAt>
    void Map(const SweepAt& sweepAt, std::size_t n, std::size_t q,
             const RangeVelocityOptions& options, Span<double> map);
    // `sweep` may be `row`.
    void CleanSweep(const Complex* sweep, std::size_t n, const RangeVelocityOptions& options,
                    Complex* row) const;
    template <typename SweepAt>
    void TransformSweeps(Lane& lane, const SweepAt& sweepAt, std::size_t block, std::size_t q,
                         std::size_t n, const RangeVelocityOptions& options);
    void TransformBins(Lane& lane, std::size_t block, std::size_t q,
                       const RangeVelocityOptions& options, Span<double> map);
    // Calls work(lane, block) once for each block 0..blocks-1, spread over the lanes.
    template <typename Work> void ForEachBlock(std::size_t blocks, Work&& work);

    std::vector<Lane> lanes_;
    AlignedVector<Complex> doppler_; // 513 rows of 1024: one row per range bin
    ComplexVector blockSums_;        // each range bin summed over each block of sweeps
    std::vector<double> window_;
    std::size_t windowLength_ = 0;
    std::unique_ptr<Helpers> helpers_;
};

// Collapses a FarFirst map to the velocity profile of the velocity waterfall:
// p[j] = (sum over r = 0..512 of map[r][j]) / 1024, every range bin alike; then
// p[511] = p[512], the column just below standing still repeating it. Returns
// false, touching nothing, when `map` is not 513 x 1024 or `profile` shorter than 1024.
bool VelocityProfile(Span<const double> farFirstMap, Span<double> profile);

} // namespace tavrix::dsp
