#pragma once

#include "dsp/Types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrix::dsp {

// Two-tone FSK processing: every sweep period carries tone A in its first half and tone B,
// 6 MHz from A, in its second. One sample of each tone per sweep gives two Doppler spectra;
// their strongest common line gives the radial velocity and the phase difference of the tones
// there gives the range, unambiguous up to rFSK, once the turn of the line's own Doppler phase
// between the tone-A and the tone-B sample is taken out.

inline constexpr std::size_t kFskSpectrumSize = 1024;
inline constexpr double kFskToneSpacingHz = 6.0e6;
// rFSK = c / (2 x 6 MHz): the range at which the tones' phase difference wraps, m.
inline constexpr double kFskRangeSpan = kSpeedOfLight / (2.0 * kFskToneSpacingHz);
// Offset of the tone-A sample within its sweep period.
inline constexpr std::size_t kFskToneAOffset = 5;

struct FskScales {
    double sampleRate = 0.0;      // fs = samples per sweep / sweep time, samples/s
    std::int32_t sampleCount = 0; // samples to read: sweeps x samples per sweep
    std::int64_t timeoutMs = 0;   // twice the block's duration plus one second
    double velocitySpan = 0.0;    // vFSK = c / (4 f0 T): the largest velocity 1/T resolves, m/s
    std::int32_t toneBOffset = 0; // h: offset of the tone-B sample, half a period plus 5
};

FskScales ComputeFskScales(std::uint32_t samplesPerSweep, double sweepTimeMs, std::uint32_t sweeps,
                           double centerFrequency);

struct FskSpectra {
    ComplexVector toneA; // 1024 Doppler bins of tone A, FFT order
    ComplexVector toneB; // the same for tone B
    // Time from each tone-A sample to the tone-B sample of the same sweep, in sweep periods.
    double toneLag = 0.0;
    // dB of the bin-by-bin product A x B (B not conjugated), each part divided by 1024 before
    // squaring, by display position: bin i at (i + 512) mod 1024. Position 512 (zero
    // frequency) takes the value of position 513.
    std::vector<double> combined;
};

// Splits `block` into the two tones (A at 5, B at h samples into each of `sweeps` sweep
// periods), removes each tone's mean over the filled entries, optionally Hamming-windows
// them, zero-fills to 1024, transforms both and combines them; `velocityFilter`, when not
// empty, multiplies the product bin by bin. Returns false and leaves `out` as it was when the
// sweeps are not 1..1024, the block is too short for them, or a non-empty filter is not 1024
// long.
bool ComputeFskSpectra(Span<const Complex> block, std::uint32_t samplesPerSweep,
                       std::uint32_t sweeps, bool hamming, Span<const Complex> velocityFilter,
                       FskSpectra& out);

// Half-open range of display positions [lo, hi) of a velocity window [low, high] in m/s,
// truncated as positions and held inside the spectrum (lo <= 1023, lo <= hi <= 1024), so that
// even an empty window names a position that exists.
struct FskWindow {
    std::size_t lo = 0;
    std::size_t hi = kFskSpectrumSize;
};
FskWindow FskWindowPositions(double low, double high, double velocitySpan);

struct FskTarget {
    std::size_t peak = 0;   // first largest position in the window (lo for an empty one)
    std::size_t trough = 0; // first smallest position in the window
    double peakDb = 0.0;    // combined[peak]
    bool detected = false;  // peakDb strictly above the threshold
    double range = 0.0;     // m, 0 without detection; the target's own motion taken out
    double velocity = 0.0;  // m/s, 0 without detection
};
FskTarget DetectFskTarget(const FskSpectra& spectra, FskWindow window, double thresholdDb,
                          double velocitySpan);

// Range of a phase difference arg A - arg B, wrapped into [0, 2 pi) first.
double FskRangeFromPhase(double phaseDifference);

// Phase through which the Doppler line at display position `position` turns in `lag` sweep
// periods: the line runs at (position - 512) / 1024 cycles per sweep period. A moving target's
// tone B is sampled that much further on than its tone A; left in arg A - arg B it would read
// as v f0 lag T / 6 MHz of range.
double FskLineAdvance(std::size_t position, double lag);

// Velocity of a display position: (2 vFSK / 1023) p - vFSK, so 0 is -vFSK and 1023 is +vFSK.
double FskVelocityAt(std::size_t position, double velocitySpan);

// Velocity of each display position, as FskVelocityAt.
std::vector<double> FskVelocityAxis(double velocitySpan);

// Position of a range on the 1024-position track, int(r / rFSK x 1024). A phase a hair below
// zero wraps to exactly 2 pi, whose range would mark one past the row: it is held at 1023.
std::size_t FskTrackPosition(double range);

// Sets every value outside [lo, hi) to the value at `trough`, the window's minimum.
void FlattenOutsideWindow(std::vector<double>& spectrum, FskWindow window, std::size_t trough);

} // namespace tavrix::dsp
