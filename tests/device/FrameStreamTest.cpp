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
    ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), 128, 0, samples), 2);
    EXPECT_EQ(samples[0], std::complex<double>(0xFFFF, 0x123));
    EXPECT_EQ(samples[1], std::complex<double>(0x8007, 0x42));
    EXPECT_EQ(DecodeFrame(bytes.data(), bytes.size(), 1, 0, samples), 1);
    EXPECT_EQ(DecodeFrame(bytes.data(), bytes.size(), -5, 0, samples), 0);

    // A flag only where a read of 2048 words or fewer ends: nothing usable.
    words.resize(2048);
    words.back() = 0x8000;
    samples.resize(5);
    EXPECT_EQ(DecodeFrame(fromWords(words).data(), 4096, 128, 0, samples), 0);
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
        ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), count, 0, samples),
                  static_cast<std::int32_t>(expected.size()))
            << "trial " << trial;
        ASSERT_EQ(samples, expected) << "trial " << trial;
    }
}

// A real converter centres I at mid-scale, so about half of the I words carry bit 15 like a
// frame flag. With the sweep length known, the frame still starts on its flagged Q word, at
// every offset of the sync, for boards that flag every sweep and boards that flag only the
// first; and for an I channel sitting just below mid-scale, whose rare flagged word is
// followed by a whole sweep of clear I words.
TEST(FrameStream, SyncHoldsWhenHalfTheIWordsCarryBit15) {
    std::mt19937 random(3);
    for (const std::size_t n : {64u, 128u}) {
        for (std::size_t offset = 0; offset < 2 * n; ++offset) {
            for (const int board : {0, 1, 2}) { // 0 flags every sweep, 1 the first, 2 I below
                SCOPED_TRACE(testing::Message()
                             << n << " pairs, offset " << offset << ", board " << board);
                const std::size_t sync = kSyncSearchStartWord + offset;
                std::vector<std::uint16_t> words(sync + 6 * n + 3);
                for (std::size_t k = 0; k < words.size(); ++k) {
                    const bool iWord = (k - sync) % 2 == 1;
                    const auto noise = static_cast<std::uint16_t>(random());
                    words[k] = iWord ? (board == 2 ? noise & 0x7FFF : noise) : noise & 0x7FFF;
                }
                if (board == 2) // one I word just above mid-scale, a little before the frame
                    words[sync - 1 - 2 * (offset / 4)] |= 0x8000;
                for (std::size_t k = sync; k < words.size(); k += 2 * n)
                    if (board != 1 || k == sync)
                        words[k] |= 0x8000;
                const Bytes bytes = fromWords(words);
                ASSERT_EQ(FindSyncWord(bytes.data(), bytes.size(), n), sync);
                SampleBlock samples;
                ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), 2 * n, n, samples), 2 * n);
                EXPECT_EQ(samples[1], std::complex<double>(words[sync + 3], words[sync + 2]));

                // Without any flag, the flagged I words make no frame.
                for (std::size_t k = sync; k < words.size(); k += 2)
                    words[k] &= 0x7FFF;
                const Bytes unflagged = fromWords(words);
                EXPECT_LT(DecodeFrame(unflagged.data(), unflagged.size(), 2 * n, n, samples),
                          static_cast<std::int32_t>(2 * n));
            }
        }
    }
}
