// Input: a flag byte (bit 0: 4096 bytes of flagged words in front, which must all be ignored;
// bits 1..7: the sweep length, 0 for none), a signed 16-bit sample count, then the stream.
#include "device/FrameStream.h"
#include "tests/fuzz/Fuzz.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const std::size_t sweep = data[0] >> 1;
    const std::int32_t count = static_cast<std::int16_t>(Le16(data, 1));
    std::vector<std::uint8_t> stream(data[0] & 1 ? 4096 : 0, 0xFF);
    stream.insert(stream.end(), data + 3, data + size);
    const auto word = [&stream](std::size_t k) { return Le16(stream.data(), 2 * k); };

    SampleBlock samples(7, {-1.0, -1.0});
    const std::int32_t n = DecodeFrame(stream.data(), stream.size(), count, sweep, samples);
    const std::size_t words = stream.size() / 2;
    const std::size_t sync = FindSyncWord(stream.data(), stream.size(), sweep);
    Require(samples.size() == static_cast<std::size_t>(n) && n <= std::max(count, 0));
    Require(
        sync >= kSyncSearchStartWord &&
        (words <= sync ? sync == std::max(words, kSyncSearchStartWord) : word(sync) & kFrameFlag));
    // Either the count asked for or every whole pair after the sync word.
    Require(n == std::max(count, 0) ||
            static_cast<std::size_t>(n) == (words > sync ? (words - sync) / 2 : 0));
    for (std::int32_t i = 0; i < n; ++i) {
        const std::size_t k = sync + 2 * static_cast<std::size_t>(i);
        Require(samples[i] == std::complex<double>(word(k + 1), word(k) & 0x7FFF));
    }
    return 0;
}
