#include "device/FrameStream.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>

#if defined(__SSE2__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include <emmintrin.h>
#define TAVRIX_FRAME_SSE2 1
#endif

namespace {

inline std::uint16_t WordAt(const std::uint8_t* bytes, std::size_t index) {
    return static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

#ifdef TAVRIX_FRAME_SSE2
constexpr std::size_t kStreamingPairs = std::size_t{1} << 18; // 4 MiB of samples
#endif

} // namespace

std::size_t ConvertFramePairs(const std::uint8_t* pairs, std::size_t n, std::complex<double>* out) {
    std::size_t i = 0;
    std::size_t flagged = 0;
#ifdef TAVRIX_FRAME_SSE2
    // Four pairs at a time; a pair read as one little-endian 32-bit lane holds the imaginary
    // word in its low half and the real word in its high half. A block far larger than the
    // caches is written past them, which spares reading every line before writing it.
    auto* values = reinterpret_cast<double*>(out);
    const bool stream = n >= kStreamingPairs && reinterpret_cast<std::uintptr_t>(values) % 16 == 0;
    const __m128i imaginaryBits = _mm_set1_epi32(0x7FFF);
    // Flags seen, per lane (a read holds far fewer than 2^32 pairs).
    __m128i flags = _mm_setzero_si128();
    const auto convert = [&](auto store) {
        for (; i + 4 <= n; i += 4) {
            const __m128i lanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 4 * i));
            flags = _mm_add_epi32(flags, _mm_srli_epi32(_mm_slli_epi32(lanes, 16), 31));
            const __m128i real = _mm_srli_epi32(lanes, 16);
            const __m128i imaginary = _mm_and_si128(lanes, imaginaryBits);
            const __m128i first = _mm_unpacklo_epi32(real, imaginary);
            const __m128i second = _mm_unpackhi_epi32(real, imaginary);
            double* o = values + 2 * i;
            store(o, _mm_cvtepi32_pd(first));
            store(o + 2, _mm_cvtepi32_pd(_mm_unpackhi_epi64(first, first)));
            store(o + 4, _mm_cvtepi32_pd(second));
            store(o + 6, _mm_cvtepi32_pd(_mm_unpackhi_epi64(second, second)));
        }
    };
    if (stream) {
        convert([](double* o, __m128d v) { _mm_stream_pd(o, v); });
        _mm_sfence();
    } else {
        convert([](double* o, __m128d v) { _mm_storeu_pd(o, v); });
    }
    std::uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), flags);
    flagged = std::size_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
#endif
    for (; i < n; ++i) {
        const unsigned first = WordAt(pairs, 2 * i);
        const unsigned real = WordAt(pairs, 2 * i + 1);
        flagged += (first & kFrameFlag) != 0;
        out[i] = {static_cast<double>(real), static_cast<double>(first & 0x7FFFu)};
    }
    return flagged;
}

std::optional<std::int32_t> FrameTransferBytes(std::int32_t count) {
    // The 4096 stale bytes plus as much again of slack in which to meet the sync word.
    constexpr std::int64_t kHeadroomBytes = 8192;
    if (count < 0)
        return std::nullopt;
    const std::int64_t bytes = std::int64_t{count} * 4 + kHeadroomBytes;
    if (bytes > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(bytes);
}

namespace {

// How well a flag fits a frame start, best first.
enum class Pairing { Holds, FirstSweepOnly, ReadEnds, Broken };

// How well a flag at word `k` fits a frame start with sweeps of `n` pairs. Words at the flag's
// position in later pairs must be Q words: clear, but at sweep starts, which may be flagged.
Pairing CheckPairing(const std::uint8_t* bytes, std::size_t words, std::size_t k, std::size_t n) {
    bool startFlagged = false;
    bool partnerAboveMidScale = false; // the other word of the pairs reaches bit 15: an I word
    std::size_t j = 1;
    for (; j < kSyncSweepsChecked * n; ++j) {
        const std::size_t at = k + 2 * j;
        if (at >= words)
            break;
        partnerAboveMidScale = partnerAboveMidScale || (WordAt(bytes, at - 1) & kFrameFlag);
        const bool flagged = WordAt(bytes, at) & kFrameFlag;
        if (j % n == 0)
            startFlagged = startFlagged || flagged;
        else if (flagged)
            return Pairing::Broken;
    }
    if (j < n)
        return Pairing::ReadEnds; // what there is agrees, but it is little
    if (startFlagged || j == n)
        return Pairing::Holds;
    // A board may flag only the first sweep of a frame. Then an I word that happens to carry
    // bit 15 before a stretch below mid-scale looks alike, unless its partners are Q words.
    return partnerAboveMidScale ? Pairing::FirstSweepOnly : Pairing::Broken;
}

} // namespace

std::size_t FindSyncWord(const std::uint8_t* bytes, std::size_t byteCount,
                         std::size_t samplesPerSweep) {
    const std::size_t words = byteCount / 2;
    if (words <= kSyncSearchStartWord)
        return kSyncSearchStartWord;
    // The earliest flag of each kind of fit; the best kind found wins. A flag the read
    // contradicts is no frame start at all.
    std::size_t best[3] = {words, words, words};
    // A flag that fits a board flagging only its first sweep is beaten only by one that fits
    // better within the sweeps it was checked over; searching further would only cost time
    // (the whole read, on such a board with a mid-scale I channel).
    std::size_t end = words;
    for (std::size_t k = kSyncSearchStartWord; k < end; ++k) {
        if (!(WordAt(bytes, k) & kFrameFlag))
            continue;
        if (samplesPerSweep == 0)
            return k;
        const Pairing pairing = CheckPairing(bytes, words, k, samplesPerSweep);
        if (pairing == Pairing::Holds)
            return k;
        if (pairing == Pairing::Broken)
            continue;
        std::size_t& first = best[static_cast<int>(pairing)];
        first = std::min(first, k);
        if (pairing == Pairing::FirstSweepOnly)
            end = std::min(end, k + 2 * kSyncSweepsChecked * samplesPerSweep);
    }
    for (const std::size_t k : best)
        if (k < words)
            return k;
    return words;
}

namespace {

// Flags on the first pairs of the sweeps of `n` pairs: where they are all there are, no sweep
// holds one inside it.
std::size_t FlagsAtSweepStarts(const std::uint8_t* pairs, std::size_t n,
                               std::size_t samplesPerSweep) {
    std::size_t flagged = 0;
    for (std::size_t start = 0; start < n; start += samplesPerSweep)
        flagged += (WordAt(pairs, 2 * start) & kFrameFlag) != 0;
    return flagged;
}

} // namespace

FrameCheck CheckFrame(const std::uint8_t* bytes, std::size_t byteCount, std::size_t sync,
                      std::size_t count, std::size_t samplesPerSweep) {
    FrameCheck check;
    if (samplesPerSweep == 0)
        return check;
    const std::size_t words = byteCount / 2;
    const std::size_t pairs = words > sync ? std::min(count, (words - sync) / 2) : 0;
    check.sweeps = pairs / samplesPerSweep;
    std::size_t firstStray = pairs;
    // Sweep by sweep, so no division per word; a sweep's first word may carry the flag.
    for (std::size_t start = 0; start < pairs; start += samplesPerSweep) {
        const std::size_t end = std::min(pairs, start + samplesPerSweep);
        for (std::size_t i = start + 1; i < end; ++i) {
            if (WordAt(bytes, sync + 2 * i) & kFrameFlag) {
                ++check.strayFlags;
                firstStray = std::min(firstStray, i);
            }
        }
    }
    if (firstStray < pairs)
        check.sweepsAfterStray = check.sweeps - firstStray / samplesPerSweep;
    return check;
}

namespace {

// The frame check of `n` pairs from the sync word on, of which `flagged` carry the flag: the
// frame is walked again only when a flag came that no sweep opens with.
FrameCheck CheckCountedFrame(const std::uint8_t* bytes, std::size_t byteCount, std::size_t sync,
                             std::size_t n, std::size_t samplesPerSweep, std::size_t flagged) {
    return samplesPerSweep > 0 &&
                   flagged == FlagsAtSweepStarts(bytes + 2 * sync, n, samplesPerSweep)
               ? FrameCheck{n / samplesPerSweep, 0, 0}
               : CheckFrame(bytes, byteCount, sync, n, samplesPerSweep);
}

// Flags among `n` pairs, four pairs at a time where it can.
std::size_t CountFlags(const std::uint8_t* pairs, std::size_t n) {
    std::size_t i = 0;
    std::size_t flagged = 0;
#ifdef TAVRIX_FRAME_SSE2
    const __m128i flagBit = _mm_set1_epi32(kFrameFlag);
    __m128i flags = _mm_setzero_si128(); // per lane: a read holds far fewer than 2^32 pairs
    for (; i + 4 <= n; i += 4) {
        const __m128i lanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 4 * i));
        flags = _mm_sub_epi32(flags, _mm_cmpeq_epi32(_mm_and_si128(lanes, flagBit), flagBit));
    }
    std::uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), flags);
    flagged = std::size_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
#endif
    for (; i < n; ++i)
        flagged += (WordAt(pairs, 2 * i) & kFrameFlag) != 0;
    return flagged;
}

// Pairs of a read of `byteCount` bytes from `sync` on, at most `count`.
std::size_t PairsFrom(std::size_t byteCount, std::size_t sync, std::int32_t count) {
    const std::size_t words = byteCount / 2;
    const std::size_t pairs = words > sync ? (words - sync) / 2 : 0;
    return std::min(count > 0 ? static_cast<std::size_t>(count) : 0, pairs);
}

} // namespace

std::int32_t DecodeFrame(const std::uint8_t* bytes, std::size_t byteCount, std::int32_t count,
                         std::size_t samplesPerSweep, SampleBlock& samples, FrameCheck* check) {
    const std::size_t sync = FindSyncWord(bytes, byteCount, samplesPerSweep);
    const std::size_t n = PairsFrom(byteCount, sync, count);
    samples.resize(n);
    const std::size_t flagged = n > 0 ? ConvertFramePairs(bytes + 2 * sync, n, samples.data()) : 0;
    if (check)
        *check = CheckCountedFrame(bytes, byteCount, sync, n, samplesPerSweep, flagged);
    return static_cast<std::int32_t>(n);
}

std::int32_t LocateFrame(std::unique_ptr<std::uint8_t[]> bytes, std::size_t byteCount,
                         std::int32_t count, std::size_t samplesPerSweep, PackedFrame& frame,
                         FrameCheck* check) {
    frame.sync = FindSyncWord(bytes.get(), byteCount, samplesPerSweep);
    frame.count = PairsFrom(byteCount, frame.sync, count);
    frame.bytes = std::move(bytes);
    if (check)
        *check = CheckCountedFrame(frame.bytes.get(), byteCount, frame.sync, frame.count,
                                   samplesPerSweep, CountFlags(frame.pairs(), frame.count));
    return static_cast<std::int32_t>(frame.count);
}
