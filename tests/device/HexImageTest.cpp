#include "device/HexImage.h"
#include "device/ControllerProgram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace {

std::string line(unsigned address, unsigned type, const std::vector<std::uint8_t>& data,
                 int countChange = 0) {
    HexRecord r = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                   static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(type)};
    r.insert(r.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (const auto b : r)
        sum += b;
    r.push_back(static_cast<std::uint8_t>(-sum));
    r[0] = static_cast<std::uint8_t>(r[0] + countChange);
    r.back() = static_cast<std::uint8_t>(r.back() - countChange);
    std::string s = ":";
    char pair[3];
    for (const auto b : r) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        s += pair;
    }
    return s + "\r\n";
}

const std::string kEnd = ":00000001FF\r\n";

} // namespace

TEST(HexImage, ControllerProgramFillsItsRamOnceInFileOrder) {
    const HexImage image = ParseHexImage(ControllerProgramText());
    ASSERT_TRUE(image.ok()) << image.error;
    std::vector<int> cover(0xC4, 0);
    for (const HexRecord& r : image.records) {
        for (unsigned k = 0; k < r[0]; ++k)
            ++cover.at(r[1] * 256u + r[2] + k);
    }
    EXPECT_EQ(std::count(cover.begin(), cover.end(), 1), 0xC4);
    ASSERT_GE(image.records.size(), 2u);
    EXPECT_EQ(image.records[1][2], 0xB8); // the start-up jump's target follows it
}

TEST(HexImage, KeepsDataRecordsOnly) {
    const std::string text = line(0x0010, 0, {}) + line(0x3FF0, 0, std::vector<std::uint8_t>(16)) +
                             line(0x0020, 0, {0xAA}) + kEnd;
    const HexImage image = ParseHexImage(text);
    ASSERT_TRUE(image.ok()) << image.error;
    ASSERT_EQ(image.records.size(), 2u);
    EXPECT_EQ(image.records[1].size(), 6u);
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_EQ(ParseHexImage(lower).records, image.records);
}

TEST(HexImage, RefusesMalformedImagesWhole) {
    const std::string good = line(0x0000, 0, {0x02, 0x00, 0xB8});
    std::string badChecksum = good;
    badChecksum[badChecksum.size() - 3] ^= 1;
    std::string notHex = good;
    notHex[9] = 'G';
    std::string lfOnly = good;
    lfOnly.erase(lfOnly.size() - 2, 1);

    const std::pair<const char*, std::string> cases[] = {
        {"count beyond the line", good + line(0x0003, 0, {1, 2, 3, 4}, 1) + kEnd},
        {"bad checksum", badChecksum + kEnd},
        {"extended address record", line(0, 4, {0x00, 0x01}) + good + kEnd},
        {"start address record", good + line(0, 3, {0, 0, 0, 0}) + kEnd},
        {"end record with data", good + line(0, 1, {0x00})},
        {"past the end of RAM", good + line(0x3FF1, 0, std::vector<std::uint8_t>(16)) + kEnd},
        {"CPUCS is not RAM", good + line(0xE600, 0, {0x00}) + kEnd},
        {"no end record", good},
        {"data after the end record", kEnd + good},
        {"only the end record", kEnd},
        {"empty text", ""},
        {"LF line ends", lfOnly + kEnd},
        {"not a hex digit", notHex + kEnd},
        {"odd digit count", ":0\r\n" + good + kEnd},
        {"empty record", ":\r\n" + good + kEnd},
        {"text before the first record", "hello" + good + kEnd},
        {"trailing text", good + kEnd + "\r\n"},
    };
    for (const auto& [what, text] : cases) {
        const HexImage image = ParseHexImage(text);
        EXPECT_FALSE(image.ok()) << what;
        EXPECT_TRUE(image.records.empty()) << what;
    }
}
