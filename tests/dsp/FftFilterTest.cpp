#include "dsp/BandFilter.h"
#include "dsp/Fft.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tavrix::dsp;

namespace {

const double kTwoPi = 2 * std::acos(-1.0);

ComplexVector Signal(std::size_t n) {
    ComplexVector x(n);
    for (std::size_t k = 0; k < n; ++k)
        x[k] = Complex(std::sin(0.7 * k) * 100 + k % 5, std::cos(1.9 * k) * 50 - k % 3);
    return x;
}

ComplexVector NaiveDft(const ComplexVector& x, double sign) {
    const std::size_t n = x.size();
    ComplexVector X(n);
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t m = 0; m < n; ++m)
            X[k] += x[m] * std::polar(1.0, sign * kTwoPi * static_cast<double>((k * m) % n) /
                                               static_cast<double>(n));
    return X;
}

void ExpectNear(const Complex* actual, const ComplexVector& expected, double tolerance) {
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_NEAR(std::abs(actual[k] - expected[k]), 0.0, tolerance) << "bin " << k;
}

} // namespace

TEST(Fft, IsTheUnnormalisedDftInBothDirections) {
    for (std::size_t n : {1u, 8u, 12u, 1024u}) {
        const ComplexVector x = Signal(n);
        ComplexVector X = x;
        Fft(X);
        ExpectNear(X.data(), NaiveDft(x, -1.0), 1e-9 * n * 100);

        ComplexVector back = X;
        Fft(back, FftDirection::Backward);
        ComplexVector scaled = x;
        for (Complex& v : scaled)
            v *= static_cast<double>(n);
        ExpectNear(back.data(), scaled, 1e-9 * n * 100);
    }
    Fft(Span<Complex>()); // nothing to do
}

TEST(Fft, RowsAreTransformedLikeSingleBlocks) {
    const std::size_t size = 64, rows = 5;
    ComplexVector data = Signal(size * rows + 7); // and a partial row that stays as it is
    const ComplexVector original = data;
    FftRows(data, size);
    for (std::size_t r = 0; r < rows; ++r) {
        ComplexVector row(original.begin() + r * size, original.begin() + (r + 1) * size);
        Fft(row);
        ExpectNear(data.data() + r * size, row, 1e-12);
    }
    for (std::size_t k = size * rows; k < data.size(); ++k)
        EXPECT_EQ(data[k], original[k]);
    FftRows(data, 0);
    FftRows(data, data.size() + 1);
}

TEST(Fft, PlansOncePerLayoutAndRunsOnAnyAlignment) {
    ComplexVector a = Signal(256), b = Signal(256);
    Fft(a);
    const std::size_t plans = FftPlanCache::Instance().PlanCount();
    for (int i = 0; i < 5; ++i)
        Fft(b);
    EXPECT_EQ(FftPlanCache::Instance().PlanCount(), plans);
    ComplexVector c = Signal(257);
    Fft(c);
    EXPECT_EQ(FftPlanCache::Instance().PlanCount(), plans + 1);

    // One element in, the array may fall in another SIMD alignment class; the result must
    // not change.
    ComplexVector shifted(257);
    std::copy(b.begin(), b.end(), shifted.begin() + 1);
    ComplexVector reference(b.begin(), b.end());
    Fft(reference);
    Fft(Span<Complex>(shifted.data() + 1, 256));
    ExpectNear(shifted.data() + 1, reference, 1e-9);
}

TEST(DesignBandFilter, FullBandIsFlat) {
    ComplexVector spectrum(1024, Complex(7, 7));
    DesignBandFilter(spectrum, 0.0, 0.5);
    for (std::size_t k = 0; k < spectrum.size(); ++k)
        EXPECT_NEAR(std::abs(spectrum[k]), 1.0, 1e-12) << k;
}

TEST(DesignBandFilter, PassesTheBandAndItsMirrorAndStopsElsewhere) {
    const double fLow = 0.125, fHigh = 0.25; // edges on bins 128 and 256
    ComplexVector spectrum(1024);
    DesignBandFilter(spectrum, fLow, fHigh);
    for (std::size_t k = 0; k < 1024; ++k) {
        const double f = k < 512 ? k / 1024.0 : (1024.0 - k) / 1024.0; // |frequency|
        const double gain = std::abs(spectrum[k]);
        if (f > fLow + 0.01 && f < fHigh - 0.01) {
            EXPECT_NEAR(gain, 1.0, 0.01) << "bin " << k;
        } else if (f < fLow - 0.01 || f > fHigh + 0.01) {
            EXPECT_LT(gain, 0.01) << "bin " << k;
        }
    }
    // At the band edges the response is half way.
    EXPECT_NEAR(std::abs(spectrum[static_cast<std::size_t>(fLow * 1024 + 0.5)]), 0.5, 0.1);
    EXPECT_NEAR(std::abs(spectrum[1024 - static_cast<std::size_t>(fHigh * 1024 + 0.5)]), 0.5, 0.1);
}

TEST(DesignBandFilter, EmptyBandAndTinySizesStayFinite) {
    ComplexVector closed(1024, Complex(3, 3));
    DesignBandFilter(closed, 0.25, 0.25);
    for (const Complex& x : closed)
        EXPECT_EQ(std::abs(x), 0.0);

    ComplexVector one(1);
    DesignBandFilter(one, 0.1, 0.3);
    EXPECT_NEAR(one[0].real(), 0.4, 1e-15);
    for (std::size_t n : {2u, 3u}) {
        ComplexVector tiny(n);
        DesignBandFilter(tiny, 0.0, 0.5);
        for (const Complex& x : tiny)
            EXPECT_TRUE(std::isfinite(x.real()) && std::isfinite(x.imag()));
    }
    DesignBandFilter(Span<Complex>(), 0.1, 0.2);
}
