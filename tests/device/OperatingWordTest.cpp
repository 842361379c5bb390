#include "device/OperatingWord.h"

#include <gtest/gtest.h>

TEST(OperatingWord, FieldsSitInTheirBitsAndCannotSpill) {
    EXPECT_EQ(OperatingWord(0, 1, 0, 0), 0xA010);
    EXPECT_EQ(OperatingWord(2, 0, 3, 0), 0xA08C);
    EXPECT_EQ(OperatingWord(3, 3, 3, 3), 0xA0FF);
    EXPECT_EQ(OperatingWord(4, 0, 0, 7), 0xA003); // out of range: no carry into the neighbour
    EXPECT_EQ(OperatingWord(-1, 0, 0, 0), 0xA0C0);
}
