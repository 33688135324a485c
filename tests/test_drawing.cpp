// Digit placement of drawNumber and the colour cycle, without GL.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/window/glCustomCommandsCode.h"

namespace {

// The placements as (digit, x) pairs, least significant digit first.
std::vector<std::pair<int32_t, double>> placed(int32_t value, int32_t mode, double spacing, double x) {
    const TdigitPlacements placements = placeDigits(value, mode, spacing, x);
    std::vector<std::pair<int32_t, double>> result;
    for (int32_t k = 0; k < placements.count; ++k)
        result.emplace_back(placements.digits[k].digit, placements.digits[k].x);
    return result;
}

std::string digitsAsText(int32_t value) {
    const TdigitPlacements placements = placeDigits(value, digitsLeftAligned, 1.0, 0.0);
    std::string text;
    for (int32_t k = placements.count - 1; k >= 0; --k) text += static_cast<char>('0' + placements.digits[k].digit);
    return text;
}

using Placements = std::vector<std::pair<int32_t, double>>;

}  // namespace

TEST(DrawNumber, ZeroIsOneDigitAtXInEveryMode) {
    for (const int32_t mode : {digitsLeftAligned, digitsRightAligned, digitsCentred})
        EXPECT_EQ(placed(0, mode, 1.5, 3.0), (Placements{{0, 3.0}})) << "mode " << mode;
}

TEST(DrawNumber, PlacesDigitsForEachAlignment) {
    const double x = 10.0;
    EXPECT_EQ(placed(1234, digitsRightAligned, 1.5, x), (Placements{{4, x}, {3, x - 1.5}, {2, x - 3}, {1, x - 4.5}}));
    EXPECT_EQ(placed(1234, digitsCentred, 1.5, x),
              (Placements{{4, x + 2.25}, {3, x + 0.75}, {2, x - 0.75}, {1, x - 2.25}}));
    EXPECT_EQ(placed(1234, digitsLeftAligned, 1.5, x), (Placements{{4, x + 4.5}, {3, x + 3}, {2, x + 1.5}, {1, x}}));
}

TEST(DrawNumber, UnknownModeDrawsNothing) {
    EXPECT_TRUE(placed(1234, 3, 1.5, 0.0).empty());
    EXPECT_TRUE(placed(1234, -1, 1.5, 0.0).empty());
}

TEST(DrawNumber, FloatingSplitGivesTheExactDigitsUpToTheLargestInt32) {
    for (const int32_t value : {1, 9, 10, 99, 100, 101, 1000, 99999, 900000, 1000000, 123456789, 999999999,
                                1000000000, 2147483647})
        EXPECT_EQ(digitsAsText(value), std::to_string(value));
    for (int32_t value = 0; value < 200000; value += 7) ASSERT_EQ(digitsAsText(value), std::to_string(value));
}

TEST(DrawNumber, NegativeValuesDrawAsZero) {
    EXPECT_EQ(digitsAsText(-1234), "0");
    EXPECT_EQ(digitsAsText(-2147483647 - 1), "0");
}

TEST(ColourCycle, StartsRedAndWrapsToGreen) {
    TglCustomCommands commands;
    commands.colourIndex = 1;
    resetColours(commands);
    EXPECT_EQ(colourIndex(commands), 2);
    EXPECT_EQ(commands.colourTable[0].green, 255);
    EXPECT_EQ(commands.colourTable[2].red, 255);
    std::vector<int32_t> seen;
    for (int i = 0; i < 4; ++i) {
        nextColour(commands);
        seen.push_back(colourIndex(commands));
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 1, 2, 0}));
}
