#include "dsp/FastDecibels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tavrix::dsp {
namespace {

// Four lanes; on targets without 256-bit registers the compiler splits them in two halves.
typedef double v4d __attribute__((vector_size(32)));
typedef std::int64_t v4i __attribute__((vector_size(32)));
typedef std::uint64_t v4u __attribute__((vector_size(32)));

// Natural-log reduction and minimax polynomial of the classic freely distributable libm:
// x = 2^k · m with m in [√2/2, √2), log(m) = f − (f²/2 − s·(f²/2 + R(s²))), s = f/(2 + f).
constexpr double kLg1 = 6.666666666666735130e-01;
constexpr double kLg2 = 3.999999999940941908e-01;
constexpr double kLg3 = 2.857142874366239149e-01;
constexpr double kLg4 = 2.222219843214978396e-01;
constexpr double kLg5 = 1.818357216161805012e-01;
constexpr double kLg6 = 1.531383769920937332e-01;
constexpr double kLg7 = 1.479819860511658591e-01;
constexpr double kDbPerOctave = 3.0102999566398119521; // 10·log10(2)
constexpr double kDbPerNeper = 4.3429448190325182765;  // 10/ln(10)
constexpr double kTwoPow54 = 18014398509481984.0;
constexpr double kTwoPow52 = 4503599627370496.0;

} // namespace

__attribute__((target_clones("avx2", "default"))) void
DecibelsFromPower(const double* power, double* db, std::size_t n) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const v4d inf = {kInf, kInf, kInf, kInf};
    const v4d minusInf = -inf;
    const v4d nan = inf - inf;
    const v4d one = {1.0, 1.0, 1.0, 1.0};
    // Vectors travel by reference: by value they would change the calling convention
    // between the two clones.
    const auto decibels = [&](const v4d& x, v4d& y) {
        // Subnormal powers are scaled into the normal range; the exponent is corrected below.
        const v4i tiny = x < std::numeric_limits<double>::min();
        const v4d xs = tiny ? x * kTwoPow54 : x;
        const v4u bits = reinterpret_cast<v4u>(xs);
        const v4u mant = bits & 0x000fffffffffffffULL;
        const v4u up = (mant + 0x00095f6400000000ULL) & 0x0010000000000000ULL; // m ≥ √2: halve
        const v4d m = reinterpret_cast<v4d>(mant | (up ^ 0x3ff0000000000000ULL));
        const v4u biasedExp = (bits >> 52) + (up >> 52);
        // Integer → double without a 64-bit conversion instruction: (2^52 + e) − 2^52.
        v4d k = reinterpret_cast<v4d>(biasedExp | 0x4330000000000000ULL) - (kTwoPow52 + 1023.0);
        k = tiny ? k - 54.0 : k;

        const v4d f = m - 1.0;
        const v4d s = f / (2.0 + f);
        const v4d z = s * s;
        const v4d w = z * z;
        const v4d t1 = w * (kLg2 + w * (kLg4 + w * kLg6));
        const v4d t2 = z * (kLg1 + w * (kLg3 + w * (kLg5 + w * kLg7)));
        const v4d r = t1 + t2;
        const v4d hfsq = 0.5 * f * f;
        const v4d logM = f - (hfsq - s * (hfsq + r));
        const v4d dbNormal = k * kDbPerOctave + logM * kDbPerNeper;

        const v4i finitePositive = (x > 0.0) & (x < inf);
        const v4d special = x == 0.0 ? minusInf : (x < 0.0 ? nan : x);
        y = finitePositive ? dbNormal : special;
    };

    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        v4d x, y;
        std::memcpy(&x, power + i, sizeof x);
        decibels(x, y);
        std::memcpy(db + i, &y, sizeof y);
    }
    if (i < n) {
        v4d x = one, y;
        std::memcpy(&x, power + i, (n - i) * sizeof(double));
        decibels(x, y);
        std::memcpy(db + i, &y, (n - i) * sizeof(double));
    }
}

void DecibelsFromSpectrum(const std::complex<double>* x, double* db, std::size_t n) {
    constexpr std::size_t kChunk = 256;
    double power[kChunk];
    for (std::size_t start = 0; start < n; start += kChunk) {
        const std::size_t count = std::min(kChunk, n - start);
        for (std::size_t i = 0; i < count; ++i) {
            const double re = x[start + i].real();
            const double im = x[start + i].imag();
            power[i] = re * re + im * im;
        }
        DecibelsFromPower(power, db + start, count);
    }
}

} // namespace tavrix::dsp
