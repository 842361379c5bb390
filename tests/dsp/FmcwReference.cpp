#include "tests/dsp/FmcwReference.h"

#include "dsp/Blocks.h"
#include "dsp/Window.h"

#include <cmath>
#include <fftw3.h>

namespace tavrix::test {

using dsp::Complex;
using dsp::ComplexVector;

namespace {

fftw_complex* AsFftw(ComplexVector& v) {
    return reinterpret_cast<fftw_complex*>(v.data());
}

double Db(Complex x) {
    return 10.0 * std::log10(x.real() * x.real() + x.imag() * x.imag());
}

} // namespace

std::vector<double> ReferenceRangeProfile(ComplexVector sweep,
                                          const dsp::RangeProfileOptions& options) {
    const auto n = static_cast<std::uint32_t>(sweep.size());
    if (options.hammingWindow)
        dsp::ApplyHammingWindow(sweep, n, 1);
    sweep.resize(1024);
    fftw_plan plan =
        fftw_plan_dft_1d(1024, AsFftw(sweep), AsFftw(sweep), FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);

    std::vector<double> db(513);
    for (std::size_t k = 0; k < 513; ++k) {
        Complex x = sweep[k];
        if (!options.rangeFilter.empty())
            x *= options.rangeFilter[k];
        if (!options.rangeWeights.empty())
            x *= options.rangeWeights[k];
        db[k] = Db(x);
    }
    return db;
}

std::vector<double> ReferenceRangeVelocityMap(ComplexVector burst, std::uint32_t samplesPerSweep,
                                              std::uint32_t sweeps,
                                              const dsp::RangeVelocityOptions& options) {
    const std::uint32_t N = samplesPerSweep;
    const int Q = static_cast<int>(sweeps);
    burst.resize(std::size_t{N} * sweeps);
    if (options.hammingWindow)
        dsp::ApplyHammingWindow(burst, N, sweeps);
    dsp::ApplyIQCorrections(burst, sweeps, options.subtractDC, options.correctAmplitude);

    ComplexVector M(std::size_t{1024} * sweeps);
    for (std::size_t s = 0; s < sweeps; ++s)
        for (std::size_t n = 0; n < N; ++n)
            M[s * 1024 + n] = burst[s * N + n];

    // Fast time with the output transposed: bin k of sweep s lands at M[k * Q + s].
    int size = 1024;
    fftw_plan fast = fftw_plan_many_dft(1, &size, Q, AsFftw(M), &size, 1, 1024, AsFftw(M), &size, Q,
                                        1, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_execute(fast);
    fftw_destroy_plan(fast);

    for (std::size_t k = 0; k < 1024; ++k)
        for (std::size_t s = 0; s < sweeps; ++s) {
            Complex& x = M[k * Q + s];
            if (!options.rangeFilter.empty())
                x *= options.rangeFilter[k];
            if (!options.rangeWeights.empty() && k < options.rangeWeights.size())
                x *= options.rangeWeights[k];
        }
    M.resize(std::size_t{513} * sweeps);
    if (options.subtractDC)
        dsp::SubtractDC(M, sweeps, 513);

    ComplexVector D(std::size_t{513} * 1024);
    for (std::size_t k = 0; k < 513; ++k)
        for (std::size_t s = 0; s < sweeps; ++s)
            D[k * 1024 + s] = M[k * Q + s];
    fftw_plan slow = fftw_plan_many_dft(1, &size, 513, AsFftw(D), &size, 1, 1024, AsFftw(D), &size,
                                        1, 1024, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_execute(slow);
    fftw_destroy_plan(slow);

    std::vector<double> map(std::size_t{513} * 1024);
    for (std::size_t r = 0; r < 513; ++r)
        for (std::size_t d = 0; d < 1024; ++d) {
            Complex x = D[(512 - r) * 1024 + d];
            if (!options.velocityFilter.empty())
                x *= options.velocityFilter[d];
            map[r * 1024 + (d + 512) % 1024] = Db(x);
        }
    if (options.rows == dsp::MapRows::NearFirst)
        for (std::size_t r = 0; r < 256; ++r)
            for (std::size_t j = 0; j < 1024; ++j)
                std::swap(map[r * 1024 + j], map[(512 - r) * 1024 + j]);
    return map;
}

} // namespace tavrix::test
