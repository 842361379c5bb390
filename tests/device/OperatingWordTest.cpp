#include "device/OperatingWord.h"

#include <gtest/gtest.h>

TEST(OperatingWord, FieldsSitInTheirBits) {
    EXPECT_EQ(OperatingWord(0, 1, 0, 0), 0xA010); // start-up defaults
    EXPECT_EQ(OperatingWord(0, 0, 0, 0), 0xA000); // fourth bandwidth item: bits 5..4 clear
    EXPECT_EQ(OperatingWord(2, 0, 0, 0), 0xA080);
    EXPECT_EQ(OperatingWord(0, 3, 0, 0), 0xA030);
    EXPECT_EQ(OperatingWord(0, 0, 3, 0), 0xA00C);
    EXPECT_EQ(OperatingWord(0, 0, 0, 2), 0xA002);
    EXPECT_EQ(OperatingWord(3, 3, 3, 3), 0xA0FF);
    // A code out of its range cannot reach the neighbouring field or the constant byte.
    EXPECT_EQ(OperatingWord(4, 0, 0, 7), 0xA003);
}

TEST(OperatingWord, CommandBlockRepeatsTheWordLowByteFirst) {
    const CommandBlockBytes block = CommandBlock(0xA0C5);
    ASSERT_EQ(block.size(), 2048u);
    for (std::size_t i = 0; i < block.size(); i += 2) {
        ASSERT_EQ(block[i], 0xC5) << i;
        ASSERT_EQ(block[i + 1], 0xA0) << i;
    }
}
