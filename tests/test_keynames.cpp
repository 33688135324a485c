// Key code captions: the fixed table and the character of the code for everything else.
#include <gtest/gtest.h>

#include "content/keyNamesCode.h"

TEST(KeyLabel, NumpadKeysEnterControlAndRanges) {
    EXPECT_EQ(keyLabel(12), "NUM5");  // keypad 5 with Num Lock off
    EXPECT_EQ(keyLabel(101), "NUM5");
    EXPECT_EQ(keyLabel(13), "ENT");
    EXPECT_EQ(keyLabel(23), "CTRL");
    EXPECT_EQ(keyLabel(96), "NUM0");
    EXPECT_EQ(keyLabel(105), "NUM9");
    EXPECT_EQ(keyLabel(112), "F1");
    EXPECT_EQ(keyLabel(123), "F12");
    EXPECT_EQ(keyLabel(220), "\\");
    EXPECT_EQ(keyLabel(223), "\xEF\xBD\xAC");
}

TEST(KeyLabel, OtherCodesGiveTheirOwnCharacterAsUtf8) {
    EXPECT_EQ(keyLabel('0'), "0");
    EXPECT_EQ(keyLabel('Z'), "Z");
    EXPECT_EQ(keyLabel(108), "l");
    EXPECT_EQ(keyLabel(124), "|");  // just past F12
    EXPECT_EQ(keyLabel(9), "\t");
    EXPECT_EQ(keyLabel(0), std::string(1, '\0'));
    EXPECT_EQ(keyLabel(224), "\xC3\xA0");
    EXPECT_EQ(keyLabel(0x3042), "\xE3\x81\x82");
    EXPECT_EQ(keyLabel(0xFFFF), "\xEF\xBF\xBF");
    EXPECT_EQ(keyLabel(0xD800), "\xEF\xBF\xBD");  // a lone surrogate is no character
}
