// The title screens on exact clock times: the fades, the scene order, the keys that skip to
// song select, and the texts of the loading console.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"

namespace {

class TtitleTest : public ::testing::Test {
protected:
    TmanualClock clock;
    std::unique_ptr<TtrellikGL> game = std::make_unique<TtrellikGL>();

    void SetUp() override {
        clock.ms = 200000;
        installClock(&clock);
        game->window = std::make_unique<TopenGLEngine>();
        const LaunchParameters parameters = defaultLaunchParameters("test");
        for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    }

    void TearDown() override {
        delete game->wheelTimer;
        delete game->playTick;
        installClock(nullptr);
    }

    bool frame() const {
        const TnullArgsFunctionReturningBoolean draw = game->window->onDraw;
        return draw();
    }
    bool press(uint16_t key) const {
        const TkeyEvent handler = game->window->onKeyDown;
        return handler(key, activeClock().highResolutionMs());
    }
    bool inSongSelect() const { return game->wheelTimer != nullptr; }

    // Frames at start, start + 750 and start + 1500 give alphas from, halfway and to; the frame
    // one ms later completes the fade.
    void expectFade(long double from, long double to) {
        const uint32_t start = clock.ms;
        frame();
        EXPECT_TRUE(game->fade.running);
        EXPECT_EQ(game->fade.alpha, from);
        clock.ms = start + 750;
        frame();
        EXPECT_EQ(game->fade.alpha, 0.5L);
        clock.ms = start + 1500;
        frame();
        EXPECT_EQ(game->fade.alpha, to);
        EXPECT_TRUE(game->fade.running);
        clock.ms += 1;
        frame();
        EXPECT_FALSE(game->fade.running);
    }

    // From the banner fade to the start of the logo hold.
    void runToLogoHold() {
        installScene(*game, bannerFadeScene);
        expectFade(0.0L, 1.0L);
        expectFade(1.0L, 0.0L);
        ASSERT_EQ(game->logoStart, clock.ms);
    }
};

}  // namespace

TEST_F(TtitleTest, ScenesFollowEachOtherFromBannerToSongSelect) {
    runToLogoHold();
    clock.ms = game->logoStart + 1499;
    frame();
    frame();
    EXPECT_FALSE(game->fade.running);
    clock.ms = game->logoStart + 1500;
    frame();
    // The hold is over; the fade out starts on the next frame and ends in song select.
    EXPECT_FALSE(game->fade.running);
    EXPECT_FALSE(inSongSelect());
    expectFade(0.0L, 1.0L);
    ASSERT_TRUE(inSongSelect());
    EXPECT_TRUE(game->wheelTimer->Enabled());
    EXPECT_EQ(game->wheelTimer->Interval(), 15u);
    ASSERT_NE(game->playTick, nullptr);
    EXPECT_FALSE(game->playTick->Enabled());
    EXPECT_EQ(game->playTick->Interval(), 1u);
    EXPECT_EQ(game->playTick->ThreadPriority(), tpHighest);
    EXPECT_TRUE(press(keyEscape));
}

TEST_F(TtitleTest, EnterSkipsTheLogoHold) {
    runToLogoHold();
    game->menu.selectedSong = 3;
    EXPECT_FALSE(press(keyEnter));
    EXPECT_TRUE(inSongSelect());
    EXPECT_EQ(game->menu.selectedSong, 0);
}

TEST_F(TtitleTest, TheGoKeySkipsTheLogoFadeOutAndTheFadeStartsAfresh) {
    runToLogoHold();
    clock.ms += 1500;
    frame();
    frame();
    ASSERT_TRUE(game->fade.running);
    EXPECT_FALSE(press('M'));
    EXPECT_TRUE(inSongSelect());
    EXPECT_FALSE(game->fade.running);
}

TEST_F(TtitleTest, EscapeEndsTheRunDuringTheLogoAndOtherKeysDoNothing) {
    installScene(*game, bannerFadeScene);
    expectFade(0.0L, 1.0L);
    frame();
    EXPECT_FALSE(press('4'));
    EXPECT_FALSE(press(keyEnter + 1));
    EXPECT_FALSE(inSongSelect());
    EXPECT_TRUE(press(keyEscape));
}

TEST_F(TtitleTest, TheBannerFadeTakesNoTitleKeys) {
    installScene(*game, bannerFadeScene);
    frame();
    EXPECT_FALSE(press(keyEnter));
    EXPECT_FALSE(inSongSelect());
    EXPECT_TRUE(press(keyEscape));
}

TEST(TitleTexts, VersionLineFillsWithLettersIForTheBuildNumber) {
    EXPECT_EQ(makeVersionLine(123), "   " + std::string(44, 'i') + " v3.8.123 ii");
    EXPECT_EQ(makeVersionLine(-1), "   " + std::string(45, 'i') + " v3.8.-1 ii");
    EXPECT_EQ(makeVersionLine(62), "   " + std::string(45, 'i') + " v3.8.62 ii");
}

TEST(TitleTexts, TimeTakenHasThreeSignificantDigits) {
    EXPECT_EQ(timeTakenLine(12345), "Time Taken: 12.3 seconds");
    EXPECT_EQ(timeTakenLine(500), "Time Taken: 0.5 seconds");
    EXPECT_EQ(timeTakenLine(0), "Time Taken: 0 seconds");
    EXPECT_EQ(timeTakenLine(123456), "Time Taken: 123 seconds");
    EXPECT_EQ(timeTakenLine(1999), "Time Taken: 2 seconds");
}

TEST(TitleTexts, BannerLinesAreSixtyTwoBlanksAndLettersI) {
    for (const char* line : bannerLines) {
        const std::string text = line;
        EXPECT_EQ(text.size(), 62u) << text;
        EXPECT_EQ(text.find_first_not_of(" i"), std::string::npos) << text;
    }
    EXPECT_EQ(std::string(bannerFrameLine), "   " + std::string(56, 'i') + "   ");
}
