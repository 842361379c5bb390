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

// 10·log10 of two groups of four positive, normal, finite values, `xA` and `xB`, from
// the octave k and log(m) of x = 2^k · m; `offset` octaves are taken off k. The groups go step
// by step side by side: the compiler keeps the order of the statements, and one group's long
// chain of dependent steps (the division first) leaves the processor idle where two give it
// work (0.8× the time). A group on its own is given twice, and the compiler folds the copy.
__attribute__((always_inline)) inline void DecibelsOfNormal(const v4d& xA, const v4d& xB,
                                                            const v4d& offsetA, const v4d& offsetB,
                                                            v4d& yA, v4d& yB) {
    const v4u bitsA = reinterpret_cast<v4u>(xA);
    const v4u bitsB = reinterpret_cast<v4u>(xB);
    const v4u mantA = bitsA & 0x000fffffffffffffULL;
    const v4u mantB = bitsB & 0x000fffffffffffffULL;
    // m ≥ √2: halve it.
    const v4u upA = (mantA + 0x00095f6400000000ULL) & 0x0010000000000000ULL;
    const v4u upB = (mantB + 0x00095f6400000000ULL) & 0x0010000000000000ULL;
    const v4d fA = reinterpret_cast<v4d>(mantA | (upA ^ 0x3ff0000000000000ULL)) - 1.0;
    const v4d fB = reinterpret_cast<v4d>(mantB | (upB ^ 0x3ff0000000000000ULL)) - 1.0;
    const v4d sA = fA / (2.0 + fA);
    const v4d sB = fB / (2.0 + fB);
    // Integer → double without a 64-bit conversion instruction: (2^52 + e) − 2^52.
    const v4u biasedExpA = (bitsA >> 52) + (upA >> 52);
    const v4u biasedExpB = (bitsB >> 52) + (upB >> 52);
    const v4d kA =
        reinterpret_cast<v4d>(biasedExpA | 0x4330000000000000ULL) - (kTwoPow52 + 1023.0) - offsetA;
    const v4d kB =
        reinterpret_cast<v4d>(biasedExpB | 0x4330000000000000ULL) - (kTwoPow52 + 1023.0) - offsetB;
    const v4d zA = sA * sA, zB = sB * sB;
    const v4d wA = zA * zA, wB = zB * zB;
    const v4d t1A = wA * (kLg2 + wA * (kLg4 + wA * kLg6));
    const v4d t1B = wB * (kLg2 + wB * (kLg4 + wB * kLg6));
    const v4d t2A = zA * (kLg1 + wA * (kLg3 + wA * (kLg5 + wA * kLg7)));
    const v4d t2B = zB * (kLg1 + wB * (kLg3 + wB * (kLg5 + wB * kLg7)));
    const v4d hfsqA = 0.5 * fA * fA, hfsqB = 0.5 * fB * fB;
    const v4d logMA = fA - (hfsqA - sA * (hfsqA + (t1A + t2A)));
    const v4d logMB = fB - (hfsqB - sB * (hfsqB + (t1B + t2B)));
    yA = kA * kDbPerOctave + logMA * kDbPerNeper;
    yB = kB * kDbPerOctave + logMB * kDbPerNeper;
}

// Whether the values of `x` (and of `more`, when given) are all positive, normal and finite.
__attribute__((always_inline)) inline bool AllNormal(const v4d& x, const v4d* more = nullptr) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    v4i normal = (x >= std::numeric_limits<double>::min()) & (x < kInf);
    if (more)
        normal &= (*more >= std::numeric_limits<double>::min()) & (*more < kInf);
    return ((normal[0] & normal[1]) & (normal[2] & normal[3])) != 0;
}

// 10·log10 of four values. Inlined into each clone of its callers, so that it is compiled for
// the clone's instruction set; vectors travel by reference, since by value they would change
// the calling convention between clones.
__attribute__((always_inline)) inline void Decibels(const v4d& x, v4d& y) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const v4d zero = {0.0, 0.0, 0.0, 0.0};
    // Powers are nearly always normal numbers: their four lanes skip the special cases, which
    // cost a third of the work.
    if (__builtin_expect(AllNormal(x), 1)) {
        v4d copy;
        DecibelsOfNormal(x, x, zero, zero, y, copy);
        return;
    }
    // Subnormal powers are scaled into the normal range and their octave corrected.
    const v4i tiny = x < std::numeric_limits<double>::min();
    const v4d xs = tiny ? x * kTwoPow54 : x;
    const v4d kOffset = tiny ? zero + 54.0 : zero;
    v4d dbNormal, copy;
    DecibelsOfNormal(xs, xs, kOffset, kOffset, dbNormal, copy);
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

// Decibels of eight values, four in `a` and four in `b`.
__attribute__((always_inline)) inline void DecibelsOfEight(const v4d& a, const v4d& b, v4d& yA,
                                                           v4d& yB) {
    if (__builtin_expect(AllNormal(a, &b), 1)) {
        const v4d zero = {0.0, 0.0, 0.0, 0.0};
        DecibelsOfNormal(a, b, zero, zero, yA, yB);
        return;
    }
    Decibels(a, yA);
    Decibels(b, yB);
}

// The powers of four complex values, given as their eight parts (re, im, re, im, ...): the
// squares, even lanes added to odd ones, each re² + im² as the scalar sum gives it.
__attribute__((always_inline)) inline void PowersOf(const double* parts, v4d& power) {
    v4d a, b;
    std::memcpy(&a, parts, sizeof a);
    std::memcpy(&b, parts + 4, sizeof b);
    a *= a;
    b *= b;
    power = __builtin_shufflevector(a, b, 0, 2, 4, 6) + __builtin_shufflevector(a, b, 1, 3, 5, 7);
}

} // namespace

// The clones for processors with AVX2 also fuse multiplications and additions: the results
// stay within a few ulp of 10·log10, and may differ from the other clone's in the last bits.
__attribute__((target_clones("arch=x86-64-v3", "default"))) void
DecibelsFromPower(const double* power, double* db, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        v4d a, b, yA, yB;
        std::memcpy(&a, power + i, sizeof a);
        std::memcpy(&b, power + i + 4, sizeof b);
        DecibelsOfEight(a, b, yA, yB);
        std::memcpy(db + i, &yA, sizeof yA);
        std::memcpy(db + i + 4, &yB, sizeof yB);
    }
    if (i + 4 <= n) {
        v4d x, y;
        std::memcpy(&x, power + i, sizeof x);
        Decibels(x, y);
        std::memcpy(db + i, &y, sizeof y);
        i += 4;
    }
    DecibelsTail(power + i, db + i, n - i);
}

__attribute__((target_clones("arch=x86-64-v3", "default"))) void
DecibelsFromSpectrum(const std::complex<double>* x, double* db, std::size_t n) {
    const double* parts = reinterpret_cast<const double*>(x);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        v4d a, b, yA, yB;
        PowersOf(parts + 2 * i, a);
        PowersOf(parts + 2 * i + 8, b);
        DecibelsOfEight(a, b, yA, yB);
        std::memcpy(db + i, &yA, sizeof yA);
        std::memcpy(db + i + 4, &yB, sizeof yB);
    }
    if (i + 4 <= n) {
        v4d p, y;
        PowersOf(parts + 2 * i, p);
        Decibels(p, y);
        std::memcpy(db + i, &y, sizeof y);
        i += 4;
    }
    if (i == n)
        return;
    // The last few through the same sums, the unused parts fed with ones.
    double rest[8] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    std::memcpy(rest, parts + 2 * i, 2 * (n - i) * sizeof(double));
    v4d p, y;
    PowersOf(rest, p);
    Decibels(p, y);
    std::memcpy(db + i, &y, (n - i) * sizeof(double));
}

} // namespace tavrix::dsp
