#include "device/FrameStream.h"

#include <algorithm>
#include <limits>

namespace {

inline std::uint16_t WordAt(const std::uint8_t* bytes, std::size_t index) {
    return static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

} // namespace

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

std::size_t FindSyncWord(const std::uint8_t* bytes, std::size_t byteCount) {
    const std::size_t words = byteCount / 2;
    if (words <= kSyncSearchStartWord)
        return kSyncSearchStartWord;
    for (std::size_t k = kSyncSearchStartWord; k < words; ++k) {
        if (WordAt(bytes, k) & kFrameFlag)
            return k;
    }
    return words;
}

std::int32_t DecodeFrame(const std::uint8_t* bytes, std::size_t byteCount, std::int32_t count,
                         SampleBlock& samples) {
    const std::size_t words = byteCount / 2;
    const std::size_t sync = FindSyncWord(bytes, byteCount);
    const std::size_t pairs = words > sync ? (words - sync) / 2 : 0;
    const std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
    const std::size_t n = std::min(wanted, pairs);

    samples.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = sync + 2 * i;
        const unsigned imag = WordAt(bytes, k) & 0x7FFFu;
        const unsigned real = WordAt(bytes, k + 1);
        samples[i] = {static_cast<double>(real), static_cast<double>(imag)};
    }
    return static_cast<std::int32_t>(n);
}
