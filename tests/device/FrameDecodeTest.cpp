#include "device/FrameStream.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Word-by-word decoding, the way the frame format reads.
SampleBlock Reference(const std::vector<std::uint8_t>& bytes, std::int32_t count) {
    const std::size_t words = bytes.size() / 2;
    const auto word = [&bytes](std::size_t k) {
        return static_cast<unsigned>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    };
    std::size_t k = kSyncSearchStartWord;
    while (k < words && !(word(k) & kFrameFlag))
        ++k;
    SampleBlock samples;
    for (; k + 1 < words && static_cast<std::int32_t>(samples.size()) < count; k += 2)
        samples.emplace_back(word(k + 1), word(k) & 0x7FFF);
    return samples;
}

} // namespace

// Every bit pattern, every alignment of the sync word and of the end of the read, with the
// block reused from one read to the next as the chains reuse it.
TEST(FrameDecode, AgreesWithWordByWordDecodingWhateverTheBitsAndAlignment) {
    std::mt19937 random(12);
    std::uniform_int_distribution<int> byte(0, 255);
    SampleBlock samples;
    for (int trial = 0; trial < 200; ++trial) {
        const std::int32_t count = std::uniform_int_distribution<std::int32_t>(0, 300)(random);
        const std::size_t sync = kSyncSearchStartWord + trial % 9;
        std::vector<std::uint8_t> bytes(
            2 * sync + std::uniform_int_distribution<std::size_t>(0, 4 * 300 + 3)(random));
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(byte(random));
        for (std::size_t k = kSyncSearchStartWord; k < sync; ++k)
            bytes[2 * k + 1] &= 0x7F;
        if (2 * sync + 1 < bytes.size())
            bytes[2 * sync + 1] |= 0x80;
        const SampleBlock expected = Reference(bytes, count);
        ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), count, samples),
                  static_cast<std::int32_t>(expected.size()))
            << "trial " << trial;
        ASSERT_EQ(samples, expected) << "trial " << trial;
    }
}

TEST(FrameDecode, LargestReadsDecodeAsSmallOnes) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::int32_t count = 1024 * 1024;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*FrameTransferBytes(count)));
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(byte(random));
    for (std::size_t sync : {kSyncSearchStartWord, kSyncSearchStartWord + 3}) {
        for (std::size_t k = kSyncSearchStartWord; k < sync; ++k)
            bytes[2 * k + 1] &= 0x7F;
        bytes[2 * sync + 1] |= 0x80;
        SampleBlock samples(7);
        const SampleBlock expected = Reference(bytes, count);
        ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), count, samples),
                  static_cast<std::int32_t>(expected.size()));
        EXPECT_EQ(samples, expected) << "sync at " << sync;
    }
}
