#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Raw stream of bulk IN 0x86: 16-bit little-endian words in pairs. The first word of a pair
// holds the imaginary part in bits 14..0 and the frame flag in bit 15, the second the real
// part. The first 4096 bytes of every read are stale FIFO contents and never used.
constexpr std::size_t kSyncSearchStartWord = 2048;
constexpr std::uint16_t kFrameFlag = 0x8000;
// Sweeps after a sync candidate that are looked at to judge it: enough for a slowly moving I
// channel to show itself above mid-scale, little next to converting the read.
constexpr std::size_t kSyncSweepsChecked = 8;

using SampleBlock = std::vector<std::complex<double>>;

// Bytes one read of `count` samples asks for: count * 4 + 8192. Empty when count is negative or
// the size does not fit a signed 32-bit transfer length (count above 536 868 863).
std::optional<std::int32_t> FrameTransferBytes(std::int32_t count);

// Index of the sync word. The candidates are the words at or after index 2048 with the frame
// flag set. A real converter's I word sits near mid-scale, so half of all I words carry bit 15
// too; with `samplesPerSweep` known, a candidate counts only where the pairing holds: the
// first words of the sweep's other pairs (Q words) have bit 15 clear and, where the read
// holds it, the next sweep's first word has it set. When none passes, the first candidate
// whose sweep is clear is taken (a board may flag only the first sweep of a frame), else the
// first whose sweep the read ends in. Without a sweep length, the first candidate. The word
// count when there is none; 2048 when the read holds 2048 words or fewer.
std::size_t FindSyncWord(const std::uint8_t* bytes, std::size_t byteCount,
                         std::size_t samplesPerSweep);

// How a decoded frame's flags sat: one may open each sweep; one inside a sweep means the
// board lost samples (or the pairs slipped) after it.
struct FrameCheck {
    std::size_t sweeps = 0;           // whole sweeps delivered
    std::size_t strayFlags = 0;       // flags inside a sweep
    std::size_t sweepsAfterStray = 0; // sweeps from the first stray flag on, which are suspect
};

// The flags of the `count` pairs from the sync word on, sweeps of `samplesPerSweep`.
FrameCheck CheckFrame(const std::uint8_t* bytes, std::size_t byteCount, std::size_t sync,
                      std::size_t count, std::size_t samplesPerSweep);

// Converts the pairs that follow the sync word into at most `count` samples (real = second
// word, imaginary = first word without its flag). `samples` is resized to the number of
// samples delivered, which is returned. A trailing odd byte is ignored.
std::int32_t DecodeFrame(const std::uint8_t* bytes, std::size_t byteCount, std::int32_t count,
                         std::size_t samplesPerSweep, SampleBlock& samples,
                         FrameCheck* check = nullptr);

// A frame as the board sent it, not yet converted: a chain that converts each sweep as it
// works on it spares writing and reading again 16 bytes a sample.
struct PackedFrame {
    std::unique_ptr<std::uint8_t[]> bytes; // the whole read
    std::size_t sync = 0;                  // word index of the first pair
    std::size_t count = 0;                 // pairs delivered
    const std::uint8_t* pairs() const { return bytes.get() + 2 * sync; }
};

// What DecodeFrame does but the conversion: takes the read's `byteCount` bytes into `frame`,
// finds its sync word and looks at its flags. Returns the number of pairs it holds.
std::int32_t LocateFrame(std::unique_ptr<std::uint8_t[]> bytes, std::size_t byteCount,
                         std::int32_t count, std::size_t samplesPerSweep, PackedFrame& frame,
                         FrameCheck* check = nullptr);

// `n` pairs (imaginary word with its flag, real word) from `pairs` on into samples, as
// DecodeFrame converts them; returns how many carry the frame flag.
std::size_t ConvertFramePairs(const std::uint8_t* pairs, std::size_t n,
                              std::complex<double>* samples);
