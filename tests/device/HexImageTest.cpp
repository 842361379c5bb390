#include "device/HexImage.h"
#include "device/ControllerProgram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace {

struct Row {
    unsigned address;
    std::vector<std::uint8_t> data;
};

// The controller program: start-up jump, RAM clear and the slave-FIFO register set-up.
const std::vector<Row> kProgram = {
    {0x0000, {0x02, 0x00, 0xB8}},
    {0x00B8, {0x78, 0x7F, 0xE4, 0xF6, 0xD8, 0xFD, 0x75, 0x81, 0x07, 0x02, 0x00, 0x03}},
    {0x0003,
     {0x90, 0xE6, 0x00, 0x74, 0x12, 0xF0, 0x00, 0x00, 0x00, 0xA3, 0x74, 0xCB, 0xF0, 0x00, 0x00,
      0x00}},
    {0x0013,
     {0x90, 0xE6, 0x0B, 0x74, 0x01, 0xF0, 0x00, 0x00, 0x00, 0x90, 0xE6, 0x12, 0x74, 0xA2, 0xF0,
      0x00}},
    {0x0023,
     {0x00, 0x00, 0x90, 0xE6, 0x14, 0x74, 0xE0, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0x90, 0xE6, 0x13,
      0xF0}},
    {0x0033,
     {0x00, 0x00, 0x00, 0x90, 0xE6, 0x15, 0xF0, 0x00, 0x00, 0x00, 0x90, 0xE6, 0x04, 0x74, 0x80,
      0xF0}},
    {0x0043,
     {0x00, 0x00, 0x00, 0x74, 0x82, 0xF0, 0x00, 0x00, 0x00, 0x74, 0x84, 0xF0, 0x00, 0x00, 0x00,
      0x74}},
    {0x0053,
     {0x86, 0xF0, 0x00, 0x00, 0x00, 0x74, 0x88, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0xF0, 0x00, 0x00,
      0x00}},
    {0x0063,
     {0x90, 0xE6, 0x1A, 0x74, 0x0D, 0xF0, 0x00, 0x00, 0x00, 0x90, 0xE6, 0x18, 0x74, 0x01, 0xF0,
      0x00}},
    {0x0073,
     {0x00, 0x00, 0x74, 0x11, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0x90, 0xE6, 0x09, 0xF0, 0x00, 0x00,
      0x00}},
    {0x0083,
     {0x90, 0xE6, 0x02, 0x74, 0xE0, 0xF0, 0x00, 0x00, 0x00, 0xA3, 0x74, 0x08, 0xF0, 0x00, 0x00,
      0x00}},
    {0x0093,
     {0x90, 0xE6, 0x24, 0x74, 0x02, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0xA3, 0xF0, 0x00, 0x00, 0x00,
      0x90}},
    {0x00A3,
     {0xE6, 0x34, 0x74, 0x80, 0xF0, 0x00, 0x00, 0x00, 0xE4, 0xA3, 0xF0, 0x90, 0xE6, 0x70, 0x74,
      0x40}},
    {0x00B3, {0xF0, 0x00, 0x00, 0x00, 0x22}},
};

HexRecord Record(unsigned address, unsigned type, const std::vector<std::uint8_t>& data) {
    HexRecord r;
    r.reserve(data.size() + 5);
    r.push_back(static_cast<std::uint8_t>(data.size()));
    r.push_back(static_cast<std::uint8_t>(address >> 8));
    r.push_back(static_cast<std::uint8_t>(address & 0xFF));
    r.push_back(static_cast<std::uint8_t>(type));
    for (const auto b : data)
        r.push_back(b);
    unsigned sum = 0;
    for (const auto b : r)
        sum += b;
    r.push_back(static_cast<std::uint8_t>(-sum & 0xFF));
    return r;
}

std::string Line(const HexRecord& r) {
    std::string s = ":";
    char pair[3];
    for (const auto b : r) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        s += pair;
    }
    return s + "\r\n";
}

std::string Line(unsigned address, unsigned type, const std::vector<std::uint8_t>& data) {
    return Line(Record(address, type, data));
}

const std::string kEnd = ":00000001FF\r\n";

} // namespace

TEST(ControllerProgram, EmbeddedImageIsTheProgramByteForByte) {
    std::string expected;
    for (const Row& row : kProgram)
        expected += Line(row.address, kHexDataRecord, row.data);
    expected += kEnd;
    ASSERT_EQ(expected.size(), 587u);
    EXPECT_EQ(std::string(ControllerProgramText()), expected);
}

TEST(ControllerProgram, ParsesToItsDataRecordsInFileOrder) {
    const HexImage image = ParseHexImage(ControllerProgramText());
    ASSERT_TRUE(image.ok()) << image.error;
    ASSERT_EQ(image.records.size(), kProgram.size());
    std::vector<int> cover(0xC4, 0);
    for (std::size_t i = 0; i < kProgram.size(); ++i) {
        EXPECT_EQ(image.records[i], Record(kProgram[i].address, 0, kProgram[i].data)) << i;
        EXPECT_TRUE(IsLoadableRecord(image.records[i]));
        for (std::size_t k = 0; k < kProgram[i].data.size(); ++k)
            ++cover.at(kProgram[i].address + k);
    }
    // 0x0000 to 0x00C3, each byte written once.
    EXPECT_EQ(std::count(cover.begin(), cover.end(), 1), 0xC4);
}

TEST(HexImage, DropsRecordsWithoutData) {
    const std::string text = Line(0x0010, 0, {}) + Line(0x0020, 0, {0xAA}) + kEnd;
    const HexImage image = ParseHexImage(text);
    ASSERT_TRUE(image.ok()) << image.error;
    ASSERT_EQ(image.records.size(), 1u);
    EXPECT_EQ(image.records[0], Record(0x0020, 0, {0xAA}));
    // Lower-case digits are as good as upper-case ones.
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(ParseHexImage(lower).records, image.records);
}

TEST(HexImage, RamBoundary) {
    const std::vector<std::uint8_t> sixteen(16, 0x11);
    EXPECT_TRUE(ParseHexImage(Line(0x3FF0, 0, sixteen) + kEnd).ok());
    EXPECT_FALSE(ParseHexImage(Line(0x3FF1, 0, sixteen) + kEnd).ok());
    EXPECT_FALSE(ParseHexImage(Line(0xE600, 0, {0x00}) + kEnd).ok()); // CPUCS is not RAM
}

TEST(HexImage, RefusesMalformedImagesWhole) {
    const std::string good = Line(0x0000, 0, {0x02, 0x00, 0xB8});
    HexRecord shortRecord = Record(0x0003, 0, {1, 2, 3, 4});
    shortRecord[0] = 5; // count says more than the line holds
    shortRecord.back() = static_cast<std::uint8_t>(shortRecord.back() - 1);
    std::string badChecksum = good;
    badChecksum[badChecksum.size() - 3] ^= 1;
    std::string notHex = good;
    notHex[9] = 'G';
    std::string lfOnly = good;
    lfOnly.erase(lfOnly.size() - 2, 1);

    const std::pair<const char*, std::string> cases[] = {
        {"short record", good + Line(shortRecord) + kEnd},
        {"bad checksum", badChecksum + kEnd},
        {"extended address record", Line(0, 4, {0x00, 0x01}) + good + kEnd},
        {"start address record", good + Line(0, 3, {0, 0, 0, 0}) + kEnd},
        {"end record with data", good + Line(0, 1, {0x00})},
        {"outside RAM", good + Line(0x4000, 0, {0x00}) + kEnd},
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
