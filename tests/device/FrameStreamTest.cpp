#include "device/FrameStream.h"
#include "device/HexImage.h"
#include "device/OperatingWord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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

// Sizes that would wrap a 32-bit length give nothing; a flag may open a sweep, one inside a sweep
// marks lost samples and the sweeps from it on.
TEST(FrameStream, SizesWordsAndFlagsInsideSweeps) {
    EXPECT_EQ(FrameTransferBytes(536868863), 2147483644);
    EXPECT_FALSE(FrameTransferBytes(536868864));

    std::vector<std::uint16_t> words(kSyncSearchStartWord + 2 * 14, 0x7FFF);
    for (const std::size_t pair : {0, 4, 6, 8, 12})
        words[kSyncSearchStartWord + 2 * pair] = 0x8000;
    const Bytes bytes = fromWords(words);
    const FrameCheck check = CheckFrame(bytes.data(), bytes.size(), kSyncSearchStartWord, 12, 4);
    EXPECT_EQ(check.sweeps, 3u);
    EXPECT_EQ(check.strayFlags, 1u);
    EXPECT_EQ(check.sweepsAfterStray, 2u);
}

// Long sweeps at every alignment: a stray flag anywhere inside a sweep is found, in a whole
// sweep or in the last one cut short, and none at a sweep's start is.
TEST(FrameStream, StrayFlagsAreFoundWhereverTheyFallInLongSweeps) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t n = 5 + random() % 60, count = n * 3 + random() % n;
        const std::size_t sync = kSyncSearchStartWord + trial % 4;
        std::vector<std::uint16_t> words(sync + 2 * count);
        for (auto& w : words)
            w = static_cast<std::uint16_t>(random() & 0x7FFF);
        for (std::size_t start = 0; start < count; start += n)
            words[sync + 2 * start] |= random() % 2 ? kFrameFlag : 0;
        std::size_t strays = 0, first = count;
        for (int k = trial % 3; k > 0; --k) {
            const std::size_t pair = random() % count;
            if (pair % n == 0 || words[sync + 2 * pair] & kFrameFlag)
                continue;
            words[sync + 2 * pair] |= kFrameFlag;
            ++strays;
            first = std::min(first, pair);
        }
        const Bytes bytes = fromWords(words);
        const FrameCheck check = CheckFrame(bytes.data(), bytes.size(), sync, count, n);
        ASSERT_EQ(check.strayFlags, strays) << "trial " << trial;
        ASSERT_EQ(check.sweepsAfterStray, strays ? 3 - first / n : 0) << "trial " << trial;

        // Decoding counts the flags on its way and looks closer only when one is inside a
        // sweep; it must tell what the check tells from wherever the frame starts.
        SampleBlock samples;
        FrameCheck decoded;
        const std::int32_t got = DecodeFrame(
            bytes.data(), bytes.size(), static_cast<std::int32_t>(count), n, samples, &decoded);
        const FrameCheck direct =
            CheckFrame(bytes.data(), bytes.size(), FindSyncWord(bytes.data(), bytes.size(), n),
                       static_cast<std::size_t>(got), n);
        ASSERT_EQ(decoded.sweeps, direct.sweeps) << "trial " << trial;
        ASSERT_EQ(decoded.strayFlags, direct.strayFlags) << "trial " << trial;
        ASSERT_EQ(decoded.sweepsAfterStray, direct.sweepsAfterStray) << "trial " << trial;

        // Left in pairs, the frame is found and checked alike and converts to the same samples.
        PackedFrame packed;
        FrameCheck located;
        std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        ASSERT_EQ(LocateFrame(std::move(copy), bytes.size(), static_cast<std::int32_t>(count), n,
                              packed, &located),
                  got);
        ASSERT_EQ(located.strayFlags, direct.strayFlags) << "trial " << trial;
        ASSERT_EQ(located.sweepsAfterStray, direct.sweepsAfterStray) << "trial " << trial;
        SampleBlock converted(packed.count);
        ConvertFramePairs(packed.pairs(), packed.count, converted.data());
        ASSERT_EQ(converted, samples) << "trial " << trial;
    }

    // Every sweep flagged and one stray past the sweeps the sync search looks at, in each lane
    // of the counting and in the pairs left over: a miscount could pass for no stray at all.
    constexpr std::size_t n = 4;
    for (std::size_t count = 9 * n + 1; count < 10 * n; ++count) {
        for (std::size_t stray = 8 * n + 1; stray < count; ++stray) {
            if (stray % n == 0)
                continue;
            std::vector<std::uint16_t> words(kSyncSearchStartWord + 2 * count, 0x1234);
            for (std::size_t pair = 0; pair < count; pair += n)
                words[kSyncSearchStartWord + 2 * pair] |= kFrameFlag;
            words[kSyncSearchStartWord + 2 * stray] |= kFrameFlag;
            const Bytes bytes = fromWords(words);
            std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
            std::copy(bytes.begin(), bytes.end(), copy.get());
            PackedFrame packed;
            FrameCheck located, decoded;
            SampleBlock samples;
            const auto wanted = static_cast<std::int32_t>(count);
            ASSERT_EQ(LocateFrame(std::move(copy), bytes.size(), wanted, n, packed, &located),
                      wanted);
            ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), wanted, n, samples, &decoded),
                      wanted);
            for (const FrameCheck& check : {located, decoded}) {
                EXPECT_EQ(check.strayFlags, 1u) << count << " pairs, stray at " << stray;
                EXPECT_EQ(check.sweepsAfterStray, 9 - stray / n) << count << ", " << stray;
            }
        }
    }
}

// Every bit pattern and alignment, the block reused from one read to the next as the chains
// reuse it; the last reads are large enough for the path that writes past the caches.
TEST(FrameStream, AgreesWithWordByWordDecodingWhateverTheBitsAndAlignment) {
    std::mt19937 random(12);
    SampleBlock samples;
    for (int trial = 0; trial < 202; ++trial) {
        const bool large = trial >= 200;
        const std::int32_t count = large ? 1 << 20 : static_cast<std::int32_t>(random() % 301);
        const std::size_t sync = kSyncSearchStartWord + (large ? 3 * (trial - 200) : trial % 9);
        Bytes bytes(large ? *FrameTransferBytes(count) : 2 * sync + random() % 1204);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random());
        for (std::size_t k = kSyncSearchStartWord; k < sync; ++k)
            bytes[2 * k + 1] &= 0x7F;
        if (2 * sync + 1 < bytes.size())
            bytes[2 * sync + 1] |= 0x80;
        const SampleBlock expected = reference(bytes, count);
        ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), count, 0, samples),
                  static_cast<std::int32_t>(expected.size()))
            << "trial " << trial;
        ASSERT_EQ(samples, expected) << "trial " << trial;
    }
}

// A real converter centres I at mid-scale, so about half of the I words carry bit 15 like a
// frame flag. With the sweep length known the frame still starts on its flagged Q word, at
// every offset, for boards that flag every sweep (0) or only the first (1), and for an I
// channel just below mid-scale (2) whose rare flagged word precedes a sweep of clear I words.
TEST(FrameStream, SyncHoldsWhenHalfTheIWordsCarryBit15) {
    std::mt19937 random(3);
    const std::size_t n = 64;
    for (std::size_t offset = 0; offset < 2 * n; ++offset) {
        for (const int board : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << "offset " << offset << ", board " << board);
            const std::size_t sync = kSyncSearchStartWord + offset;
            std::vector<std::uint16_t> words(sync + 6 * n + 3);
            for (std::size_t k = 0; k < words.size(); ++k) {
                const bool iWord = (k - sync) % 2 == 1 && board != 2;
                words[k] = static_cast<std::uint16_t>(random()) & (iWord ? 0xFFFF : 0x7FFF);
            }
            if (board == 2)
                words[sync - 1 - 2 * (offset / 4)] |= 0x8000;
            for (std::size_t k = sync; k < words.size(); k += 2 * n)
                if (board != 1 || k == sync)
                    words[k] |= 0x8000;
            Bytes bytes = fromWords(words);
            ASSERT_EQ(FindSyncWord(bytes.data(), bytes.size(), n), sync);
            SampleBlock samples;
            ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), 2 * n, n, samples), 2 * n);
            EXPECT_EQ(samples[1], std::complex<double>(words[sync + 3], words[sync + 2]));

            // Without any flag, the flagged I words make no frame.
            for (std::size_t k = sync; k < words.size(); k += 2)
                words[k] &= 0x7FFF;
            bytes = fromWords(words);
            EXPECT_LT(DecodeFrame(bytes.data(), bytes.size(), 2 * n, n, samples),
                      static_cast<std::int32_t>(2 * n));
        }
    }
}

// The parser sees only the built-in program or a damaged copy of it: a damaged one is refused
// whole.
TEST(HexImage, KeepsDataRecordsAndRefusesDamagedImagesWhole) {
    const std::string good = ":030000000200b843\r\n:00001000F0\r\n", end = ":00000001FF\r\n";
    const HexImage image = ParseHexImage(good + end);
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.records, (std::vector<HexRecord>{{3, 0, 0, 0, 2, 0, 0xB8, 0x43}}));
    std::string badChecksum = good;
    badChecksum[16] = '4';
    for (const std::string& bad :
         {badChecksum + end, good, end + good, "hello" + good + end,
          good + ":103FF10000000000000000000000000000000000C0\r\n" + end}) {
        EXPECT_FALSE(ParseHexImage(bad).ok()) << bad;
        EXPECT_TRUE(ParseHexImage(bad).records.empty()) << bad;
    }
}
