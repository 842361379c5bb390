#include "device/FrameStream.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fromWords(const std::vector<std::uint16_t>& words) {
    Bytes bytes;
    for (const std::uint16_t w : words)
        bytes.insert(bytes.end(),
                     {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
    return bytes;
}

// Word by word, the way the frame format reads.
SampleBlock reference(const Bytes& bytes, std::int32_t count) {
    const auto word = [&bytes](std::size_t k) { return bytes[2 * k] | (bytes[2 * k + 1] << 8); };
    std::size_t k = kSyncSearchStartWord;
    while (k < bytes.size() / 2 && !(word(k) & kFrameFlag))
        ++k;
    SampleBlock samples;
    for (; k + 1 < bytes.size() / 2 && static_cast<std::int32_t>(samples.size()) < count; k += 2)
        samples.emplace_back(word(k + 1), word(k) & 0x7FFF);
    return samples;
}

} // namespace

TEST(FrameStream, TransferSizeNeverWraps) {
    EXPECT_EQ(FrameTransferBytes(128), 8704);
    EXPECT_EQ(FrameTransferBytes(536868863), 2147483644);
    for (std::int32_t count : {536868864, 0x7FFFFFFF, -1})
        EXPECT_FALSE(FrameTransferBytes(count)) << count;
}

TEST(FrameStream, SamplesFollowTheFirstFlagAfterTheStaleWords) {
    std::vector<std::uint16_t> words(2048 + 7, 0x1234);
    words[0] = 0xFFFF; // flags among the stale words are no sync
    words[2047] = 0x8001;
    words[2050] = 0x8123;
    words[2051] = 0xFFFF; // real words are unsigned: bit 15 is theirs
    words[2052] = 0x0042;
    words[2053] = 0x8007;
    Bytes bytes = fromWords(words);
    bytes.push_back(0x55); // an odd byte would complete the last lone word
    SampleBlock samples(3);
    ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), 128, samples), 2);
    EXPECT_EQ(samples[0], std::complex<double>(0xFFFF, 0x123));
    EXPECT_EQ(samples[1], std::complex<double>(0x8007, 0x42));
    EXPECT_EQ(DecodeFrame(bytes.data(), bytes.size(), 1, samples), 1);
    EXPECT_EQ(DecodeFrame(bytes.data(), bytes.size(), -5, samples), 0);

    // A flag only where a read of 2048 words or fewer ends: nothing usable.
    words.resize(2048);
    words.back() = 0x8000;
    samples.resize(5);
    EXPECT_EQ(DecodeFrame(fromWords(words).data(), 4096, 128, samples), 0);
    EXPECT_TRUE(samples.empty());
}

// Every bit pattern, every alignment of the sync word and of the end of the read, with the
// block reused from one read to the next as the chains reuse it; and reads large enough to
// take the path that writes past the caches.
TEST(FrameStream, AgreesWithWordByWordDecodingWhateverTheBitsAndAlignment) {
    std::mt19937 random(12);
    const auto fill = [&](Bytes& bytes, std::size_t sync) {
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random());
        for (std::size_t k = kSyncSearchStartWord; k < sync; ++k)
            bytes[2 * k + 1] &= 0x7F;
        if (2 * sync + 1 < bytes.size())
            bytes[2 * sync + 1] |= 0x80;
    };
    SampleBlock samples;
    for (int trial = 0; trial < 202; ++trial) {
        const bool large = trial >= 200;
        const std::int32_t count = large ? 1 << 20 : static_cast<std::int32_t>(random() % 301);
        const std::size_t sync = kSyncSearchStartWord + (large ? 3 * (trial - 200) : trial % 9);
        Bytes bytes(large ? *FrameTransferBytes(count) : 2 * sync + random() % 1204);
        fill(bytes, sync);
        const SampleBlock expected = reference(bytes, count);
        ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), count, samples),
                  static_cast<std::int32_t>(expected.size()))
            << "trial " << trial;
        ASSERT_EQ(samples, expected) << "trial " << trial;
    }
}
