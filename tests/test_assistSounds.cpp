// The assist sounds' setting, volume and tick times.
#include <gtest/gtest.h>

#include <vector>

#include "engine/assistSounds.h"

TEST(AssistSetting, StoredValuesOutsideTheirRangeReadAsTheDefault) {
    struct Tcase {
        int32_t stored;
        TassistMode mode;
        int32_t volume;
    } cases[] = {{-1, TassistMode::off, 100}, {0, TassistMode::off, 0},   {1, TassistMode::tick, 1},
                 {3, TassistMode::both, 3},   {4, TassistMode::off, 4},   {100, TassistMode::off, 100},
                 {101, TassistMode::off, 100}};
    for (const Tcase& tried : cases) {
        EXPECT_EQ(assistModeFromSetting(tried.stored), tried.mode) << tried.stored;
        EXPECT_EQ(assistVolumeFromSetting(tried.stored), tried.volume) << tried.stored;
    }
}

TEST(AssistSetting, SongSelectStepsThroughEveryModeAndBack) {
    TassistMode mode = TassistMode::off;
    std::vector<std::pair<bool, bool>> seen;
    for (int step = 0; step < 4; ++step) {
        mode = nextAssistMode(mode);
        seen.emplace_back(ticksOn(mode), hitSoundsOn(mode));
    }
    EXPECT_EQ(mode, TassistMode::off);
    const std::vector<std::pair<bool, bool>> expected = {{true, false}, {false, true}, {true, true}, {false, false}};
    EXPECT_EQ(seen, expected);
}

TEST(AssistVolume, ScalesTheSamplesByTheSquareOfTheSetting) {
    const std::vector<int16_t> samples = {32767, -32768, 1000, 0};
    EXPECT_EQ(samplesAtVolume(samples, 100), samples);
    EXPECT_EQ(samplesAtVolume(samples, 101), samples);
    EXPECT_EQ(samplesAtVolume(samples, 50), (std::vector<int16_t>{8192, -8192, 250, 0}));
    EXPECT_EQ(samplesAtVolume(samples, 0), (std::vector<int16_t>{0, 0, 0, 0}));
    EXPECT_EQ(samplesAtVolume(samples, -1), (std::vector<int16_t>{0, 0, 0, 0}));
}

