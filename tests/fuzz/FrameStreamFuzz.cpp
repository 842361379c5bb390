// Input: one flag byte (bit 0: put 4096 bytes of flagged words in front, which must all be
// ignored; bits 1..7: the sweep length, 0 for none), a signed 16-bit sample count, then the
// stream.
#include "device/FrameStream.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

std::uint16_t Word(const std::vector<std::uint8_t>& s, std::size_t k) {
    return static_cast<std::uint16_t>(s[2 * k] | (s[2 * k + 1] << 8));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const bool stale = data[0] & 1;
    const std::size_t sweep = data[0] >> 1;
    const std::int32_t count = static_cast<std::int16_t>(data[1] | (data[2] << 8));
    std::vector<std::uint8_t> stream;
    if (stale)
        stream.assign(4096, 0xFF);
    stream.insert(stream.end(), data + 3, data + size);

    const auto bytes = FrameTransferBytes(count);
    Require(bytes.has_value() == (count >= 0));
    Require(!bytes || *bytes == count * 4 + 8192);

    SampleBlock samples(7, {-1.0, -1.0});
    const std::int32_t n = DecodeFrame(stream.data(), stream.size(), count, sweep, samples);
    const std::size_t words = stream.size() / 2;
    const std::size_t sync = FindSyncWord(stream.data(), stream.size(), sweep);

    const std::int32_t wanted = count > 0 ? count : 0;
    Require(n >= 0 && n <= wanted);
    Require(samples.size() == static_cast<std::size_t>(n));
    Require(sync >= kSyncSearchStartWord);
    if (words > kSyncSearchStartWord) {
        Require(sync <= words);
        // Without a sweep length the first flag; with one, a flag or none.
        if (sweep == 0)
            for (std::size_t k = kSyncSearchStartWord; k < sync; ++k)
                Require((Word(stream, k) & kFrameFlag) == 0);
        Require(sync == words || (Word(stream, sync) & kFrameFlag) != 0);
    }
    // Either the count asked for or every whole pair after the sync word.
    const std::size_t pairs = words > sync ? (words - sync) / 2 : 0;
    Require(static_cast<std::size_t>(n) == pairs || n == wanted);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::size_t k = sync + 2 * static_cast<std::size_t>(i);
        Require(samples[i].imag() == (Word(stream, k) & 0x7FFF));
        Require(samples[i].real() == Word(stream, k + 1));
    }
    return 0;
}
