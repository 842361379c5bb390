#include "device/FrameStream.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> Bytes(const std::vector<std::uint16_t>& words) {
    std::vector<std::uint8_t> bytes;
    for (const std::uint16_t w : words) {
        bytes.push_back(static_cast<std::uint8_t>(w & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    return bytes;
}

// A read of the size asked for `count` samples, filled with flag-free words, the sync word
// at `sync` and pairs (imag, real) numbered from there.
std::vector<std::uint16_t> Stream(std::int32_t count, std::size_t sync) {
    std::vector<std::uint16_t> words(*FrameTransferBytes(count) / 2, 0x1234);
    for (std::size_t k = sync; k + 1 < words.size(); k += 2) {
        const auto pair = static_cast<std::uint16_t>((k - sync) / 2);
        words[k] = pair & 0x7FFF;
        words[k + 1] = static_cast<std::uint16_t>(40000 + pair);
    }
    if (sync < words.size())
        words[sync] |= kFrameFlag;
    return words;
}

std::int32_t Decode(const std::vector<std::uint8_t>& bytes, std::int32_t count,
                    SampleBlock& samples) {
    return DecodeFrame(bytes.data(), bytes.size(), count, samples);
}

} // namespace

TEST(FrameStream, TransferSizeAndItsLimit) {
    EXPECT_EQ(FrameTransferBytes(128), 8704);
    EXPECT_EQ(FrameTransferBytes(0), 8192);
    EXPECT_EQ(FrameTransferBytes(1024 * 1024), 4 * 1024 * 1024 + 8192);
    EXPECT_EQ(FrameTransferBytes(536868863), 2147483644);
    EXPECT_FALSE(FrameTransferBytes(536868864)); // would wrap past 2^31 - 1
    EXPECT_FALSE(FrameTransferBytes(0x7FFFFFFF));
    EXPECT_FALSE(FrameTransferBytes(-1));
}

TEST(FrameStream, SyncAtFirstUsableWordGivesFullFrame) {
    auto words = Stream(128, 2048);
    words[2049] = 0xFFFF;
    SampleBlock samples;
    ASSERT_EQ(Decode(Bytes(words), 128, samples), 128);
    ASSERT_EQ(samples.size(), 128u);
    // The flag of the sync word does not reach the sample; the real word is unsigned.
    EXPECT_EQ(samples[0], std::complex<double>(65535.0, 0.0));
    EXPECT_EQ(samples[1], std::complex<double>(40001.0, 1.0));
    EXPECT_EQ(samples[127], std::complex<double>(40127.0, 127.0));
}

TEST(FrameStream, FlagsBeforeWord2048AreIgnored) {
    auto words = Stream(128, 2050);
    words[0] = 0xFFFF;
    words[2047] = 0x8001;
    SampleBlock samples;
    ASSERT_EQ(Decode(Bytes(words), 128, samples), 128);
    EXPECT_EQ(FindSyncWord(Bytes(words).data(), words.size() * 2), 2050u);
    EXPECT_EQ(samples[0], std::complex<double>(40000.0, 0.0));
}

TEST(FrameStream, LateSyncShortensTheFrame) {
    SampleBlock samples;
    EXPECT_EQ(Decode(Bytes(Stream(128, 4096)), 128, samples), 128);
    EXPECT_EQ(Decode(Bytes(Stream(128, 4097)), 128, samples), 127);
    EXPECT_EQ(samples.size(), 127u);
    EXPECT_EQ(Decode(Bytes(Stream(128, 4300)), 128, samples), 26);
}

TEST(FrameStream, NoUsableSyncEmptiesTheBlock) {
    SampleBlock samples(5, {1.0, 1.0});
    std::vector<std::uint16_t> words(4352, 0x7FFF);
    words[10] = 0x8000;
    EXPECT_EQ(Decode(Bytes(words), 128, samples), 0);
    EXPECT_TRUE(samples.empty());

    // 2048 words or fewer: nothing usable even with a flag at the last word.
    samples.assign(5, {1.0, 1.0});
    std::vector<std::uint16_t> stale(2048, 0x0000);
    stale.back() = 0x8000;
    EXPECT_EQ(Decode(Bytes(stale), 128, samples), 0);
    EXPECT_TRUE(samples.empty());
    EXPECT_EQ(DecodeFrame(nullptr, 0, 128, samples), 0);
}

TEST(FrameStream, ShortAndOddReadsKeepWholePairsOnly) {
    auto words = Stream(128, 2048);
    words.resize(2048 + 3); // one pair and a lone word
    auto bytes = Bytes(words);
    bytes.push_back(0x55); // odd trailing byte: with it the lone word would form a pair
    SampleBlock samples;
    ASSERT_EQ(Decode(bytes, 128, samples), 1);
    EXPECT_EQ(samples[0], std::complex<double>(40000.0, 0.0));
}

TEST(FrameStream, NeverMoreThanAsked) {
    SampleBlock samples;
    const auto bytes = Bytes(Stream(1024, 2048));
    EXPECT_EQ(Decode(bytes, 100, samples), 100);
    EXPECT_EQ(samples.size(), 100u);
    EXPECT_EQ(Decode(bytes, 0, samples), 0);
    EXPECT_EQ(Decode(bytes, -5, samples), 0);
    EXPECT_TRUE(samples.empty());
}
