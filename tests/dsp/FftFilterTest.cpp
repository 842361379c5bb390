#include "dsp/BandFilter.h"
#include "dsp/Fft.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tavrix::dsp;

TEST(Fft, RowsAreTransformedLikeSingleBlocksWhateverTheAlignment) {
    const std::size_t size = 64, rows = 5;
    ComplexVector data(size * rows + 7); // and a partial row that stays as it is
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = Complex(std::sin(0.7 * k) * 100 + k % 5, std::cos(1.9 * k) * 50 - k % 3);
    const ComplexVector original = data;
    FftRows(data, size);
    for (std::size_t r = 0; r < rows; ++r) {
        ComplexVector row(original.begin() + r * size, original.begin() + (r + 1) * size);
        Fft(row);
        for (std::size_t k = 0; k < size; ++k)
            ASSERT_NEAR(std::abs(data[r * size + k] - row[k]), 0.0, 1e-12) << r << ", " << k;
    }
    EXPECT_EQ(data.back(), original.back());

    // Planned once per layout; one element in, the array may fall in another SIMD
    // alignment class, which must not change the result.
    const std::size_t plans = FftPlanCache::Instance().PlanCount();
    ComplexVector reference(original.begin() + 1, original.begin() + 1 + size);
    Fft(reference);
    EXPECT_EQ(FftPlanCache::Instance().PlanCount(), plans);
    ComplexVector shifted = original;
    Fft(Span<Complex>(shifted.data() + 1, size));
    for (std::size_t k = 0; k < size; ++k)
        EXPECT_NEAR(std::abs(shifted[k + 1] - reference[k]), 0.0, 1e-9) << k;
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
    EXPECT_NEAR(std::abs(spectrum[128]), 0.5, 0.1);
    EXPECT_NEAR(std::abs(spectrum[1024 - 256]), 0.5, 0.1);

    DesignBandFilter(spectrum, 0.0, 0.5);
    for (std::size_t k = 0; k < spectrum.size(); ++k)
        EXPECT_NEAR(std::abs(spectrum[k]), 1.0, 1e-12) << k;
    DesignBandFilter(spectrum, 0.25, 0.25);
    for (const Complex& x : spectrum)
        EXPECT_EQ(std::abs(x), 0.0);
    ComplexVector one(1);
    DesignBandFilter(one, 0.1, 0.3);
    EXPECT_NEAR(one[0].real(), 0.4, 1e-15);
}
