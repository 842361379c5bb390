#pragma once

#include "dsp/Types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrix::dsp {

// Continuous-wave Doppler processing: the raw block is decimated by 128, balanced and turned
// into a 1024-position velocity spectrum running from -vCW to +vCW.

inline constexpr std::int32_t kCwDecimation = 128;
inline constexpr std::size_t kCwSpectrumSize = 1024;

// The numbers of one CW cycle, derived from the operating parameters.
struct CwScales {
    double sampleRate = 0.0;       // fs = samples per sweep / sweep time, samples/s
    std::int32_t sampleCount = 0;  // samples to read: sweeps x samples per sweep
    std::int64_t timeoutMs = 0;    // twice the block's duration plus one second
    double decimatedSpacing = 0.0; // 128 / fs, s
    double velocitySpan = 0.0;     // vCW: the largest radial velocity fs / 128 resolves, m/s
};

CwScales ComputeCwScales(std::uint32_t samplesPerSweep, double sweepTimeMs, std::uint32_t sweeps,
                         double centerFrequency);

// Decimates the raw block by 128, removes the I/Q offsets and imbalance and, when asked,
// scales I and Q to a peak of 1. The block ends with size / 128 samples: what the time scope
// shows and what CwDopplerSpectrum transforms.
void CwConditionBlock(ComplexVector& block, bool correctAmplitude);

// Velocity spectrum of a conditioned block into `spectrum` (resized to 1024 positions):
// optionally Hamming-windowed over the whole block, cut or zero-extended to 1024 samples,
// transformed, each bin scaled by 1/1024 and converted to 10 log10 |X| (the magnitude, not the
// power), then rotated left by 513 places, so the zero-frequency bin lands at position 511
// and the Nyquist bin at 1023. The block itself is left as it is.
void CwDopplerSpectrum(Span<const Complex> block, bool hamming, std::vector<double>& spectrum);

// Radial velocity of each spectrum position: j * (2 vCW / 1024) - vCW.
std::vector<double> CwVelocityAxis(double velocitySpan);

} // namespace tavrix::dsp
