#include "dsp/AlignedVector.h"
#include "dsp/Fft.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace tavrix::dsp;

namespace {

AlignedVector<Complex> Noise(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> value(0.0, 1000.0);
    AlignedVector<Complex> x(n);
    for (Complex& c : x)
        c = Complex(32768.0 + value(random), value(random));
    return x;
}

bool SameBits(const Complex* a, const Complex* b, std::size_t n) {
    return std::memcmp(a, b, n * sizeof(Complex)) == 0;
}

} // namespace

// The chains rely on the transform out of place being the very one in place: their results
// must not move by a bit. Rows of the chains' sizes and others, arrays on any alignment.
TEST(FftRowsInto, GivesTheInPlaceResultBitForBitAndKeepsTheInput) {
    const struct {
        std::size_t size, rows, inOffset, outOffset;
    } cases[] = {{1024, 1, 0, 0}, {1024, 16, 0, 0}, {1024, 5, 1, 0},
                 {1024, 3, 0, 1}, {7, 9, 1, 1},     {1, 4, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " x " << c.rows << ", offsets " << c.inOffset
                                        << "/" << c.outOffset);
        const std::size_t n = c.size * c.rows;
        AlignedVector<Complex> in = Noise(n + c.inOffset, static_cast<unsigned>(n));
        const AlignedVector<Complex> original = in;
        AlignedVector<Complex> out(n + c.outOffset);
        FftRowsInto(Span<const Complex>(in.data() + c.inOffset, n),
                    Span<Complex>(out.data() + c.outOffset, n), c.size);

        AlignedVector<Complex> inPlace(in.begin() + c.inOffset, in.end());
        FftRows(Span<Complex>(inPlace.data(), n), c.size);
        EXPECT_TRUE(SameBits(out.data() + c.outOffset, inPlace.data(), n));
        EXPECT_TRUE(SameBits(in.data(), original.data(), in.size()));
    }
}

TEST(FftRowsInto, TransformsOnlyTheWholeRowsBothHold) {
    const AlignedVector<Complex> in = Noise(3 * 64 + 10, 3);
    AlignedVector<Complex> out(2 * 64 + 5, Complex(-1.0, -1.0));
    FftRowsInto(Span<const Complex>(in.data(), in.size()), Span<Complex>(out.data(), out.size()),
                64);
    AlignedVector<Complex> expected(in.begin(), in.begin() + 2 * 64);
    FftRows(Span<Complex>(expected.data(), expected.size()), 64);
    EXPECT_TRUE(SameBits(out.data(), expected.data(), 2 * 64));
    for (std::size_t i = 2 * 64; i < out.size(); ++i)
        EXPECT_EQ(out[i], Complex(-1.0, -1.0)) << i;

    FftRowsInto(Span<const Complex>(in.data(), in.size()), Span<Complex>(out.data(), out.size()),
                0); // no rows at all: nothing happens
    EXPECT_TRUE(SameBits(out.data(), expected.data(), 2 * 64));
}
