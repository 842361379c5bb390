#include "dsp/FastDecibels.h"

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

// 10·log10 of four positive, normal, finite values, given by their bits, from the octave k
// and log(m) of x = 2^k · m; `kOffset` octaves are taken off k.
__attribute__((always_inline)) inline void DecibelsOfNormal(const v4u& bits, const v4d& kOffset,
                                                            v4d& y) {
    const v4u mant = bits & 0x000fffffffffffffULL;
    const v4u up = (mant + 0x00095f6400000000ULL) & 0x0010000000000000ULL; // m ≥ √2: halve
    const v4d m = reinterpret_cast<v4d>(mant | (up ^ 0x3ff0000000000000ULL));
    const v4u biasedExp = (bits >> 52) + (up >> 52);
    // Integer → double without a 64-bit conversion instruction: (2^52 + e) − 2^52.
    const v4d k =
        reinterpret_cast<v4d>(biasedExp | 0x4330000000000000ULL) - (kTwoPow52 + 1023.0) - kOffset;

    const v4d f = m - 1.0;
    const v4d s = f / (2.0 + f);
    const v4d z = s * s;
    const v4d w = z * z;
    const v4d t1 = w * (kLg2 + w * (kLg4 + w * kLg6));
    const v4d t2 = z * (kLg1 + w * (kLg3 + w * (kLg5 + w * kLg7)));
    const v4d r = t1 + t2;
    const v4d hfsq = 0.5 * f * f;
    const v4d logM = f - (hfsq - s * (hfsq + r));
    y = k * kDbPerOctave + logM * kDbPerNeper;
}

// 10·log10 of four values. Inlined into each clone of its callers, so that it is compiled for
// the clone's instruction set; vectors travel by reference, since by value they would change
// the calling convention between clones.
__attribute__((always_inline)) inline void Decibels(const v4d& x, v4d& y) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const v4d zero = {0.0, 0.0, 0.0, 0.0};
    const v4i normal = (x >= std::numeric_limits<double>::min()) & (x < kInf);
    // Powers are nearly always normal numbers: their four lanes skip the special cases, which
    // cost a third of the work.
    if (__builtin_expect(((normal[0] & normal[1]) & (normal[2] & normal[3])) != 0, 1)) {
        DecibelsOfNormal(reinterpret_cast<v4u>(x), zero, y);
        return;
    }
    // Subnormal powers are scaled into the normal range and their octave corrected.
    const v4i tiny = x < std::numeric_limits<double>::min();
    const v4d xs = tiny ? x * kTwoPow54 : x;
    const v4d kOffset = tiny ? zero + 54.0 : zero;
    v4d dbNormal;
    DecibelsOfNormal(reinterpret_cast<v4u>(xs), kOffset, dbNormal);
    const v4d inf = zero + kInf;
    const v4i finitePositive = (x > 0.0) & (x < inf);
    const v4d special = x == 0.0 ? -inf : (x < 0.0 ? inf - inf : x);
    y = finitePositive ? dbNormal : special;
}

// Decibels of the last n < 4 values, the unused lanes fed with 1.
__attribute__((always_inline)) inline void DecibelsTail(const double* power, double* db,
                                                        std::size_t n) {
    if (n == 0)
        return;
    v4d x = {1.0, 1.0, 1.0, 1.0}, y;
    std::memcpy(&x, power, n * sizeof(double));
    Decibels(x, y);
    std::memcpy(db, &y, n * sizeof(double));
}

} // namespace

__attribute__((target_clones("avx2", "default"))) void
DecibelsFromPower(const double* power, double* db, std::size_t n) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        v4d x, y;
        std::memcpy(&x, power + i, sizeof x);
        Decibels(x, y);
        std::memcpy(db + i, &y, sizeof y);
    }
    DecibelsTail(power + i, db + i, n - i);
}

__attribute__((target_clones("avx2", "default"))) void
DecibelsFromSpectrum(const std::complex<double>* x, double* db, std::size_t n) {
    // Four values are two vectors of (re, im) pairs; their squares, even lanes added to odd
    // ones, are the four powers, each re² + im² as the scalar sum gives it.
    const double* parts = reinterpret_cast<const double*>(x);
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        v4d a, b, y;
        std::memcpy(&a, parts + 2 * i, sizeof a);
        std::memcpy(&b, parts + 2 * i + 4, sizeof b);
        a *= a;
        b *= b;
        const v4d re = __builtin_shufflevector(a, b, 0, 2, 4, 6);
        const v4d im = __builtin_shufflevector(a, b, 1, 3, 5, 7);
        Decibels(re + im, y);
        std::memcpy(db + i, &y, sizeof y);
    }
    double power[4];
    for (std::size_t j = i; j < n; ++j)
        power[j - i] = parts[2 * j] * parts[2 * j] + parts[2 * j + 1] * parts[2 * j + 1];
    DecibelsTail(power, db + i, n - i);
}

} // namespace tavrix::dsp
