// Practice loops played through on the clock seam: passes at other rates and audio offsets, the
// count-in on the heard beat, the rate between passes, the results of all passes.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

#include "tests/test_playback_fixture.h"

namespace {

// A chart of sixteenth notes at 120 bpm from 1 s: bar 1 is 1000..3000 ms, bar 2 3000..5000, and
// the last row of a bar lies 125 ms before its end.
class TpracticeLoopTest : public TplaybackTest {
protected:
    void SetUp() override {
        TplaybackTest::SetUp();
        clock.highResolution = 1e12;  // far ahead of the system clock: autoplay's presses wait for the test
        for (int row = 0; row < 64; ++row) addRow(1.0 + row * 0.125, {row % 16});
    }

    // Autoplay practising bar 2 as a loop from the start at a rate and audio offset.
    void startLoopOfBar2(double rate, int32_t audioOffset) {
        game->autoplay = std::make_unique<TkeyPusher>();
        game->launch.audioOffset = audioOffset;
        game->practice.choice.practice = true;
        game->practice.choice.startBar = 2;
        game->practice.choice.rateHundredths = static_cast<int32_t>(std::lround(rate * 100.0));
        startPlaying(60000);
        game->practice.loop = {2, 3};
        musicFrom(game->practice.seekMs);
    }

    // The music plays on from a song time, rate song ms a real ms.
    void musicFrom(double songMs) {
        songAtStart = songMs;
        realAtStart = clock.highResolution;
    }

    // One real ms: autoplay's due keys, the frame, the play tick; a restarted section seeks.
    void step() {
        clock.highResolution += 1.0;
        clock.musicPosition =
            static_cast<int32_t>(std::lround(songAtStart + (clock.highResolution - realAtStart) * musicRate(*game)));
        for (const TkeyPusher::Tpending& due : game->autoplay->pending()) {
            if (due.atMs > clock.highResolution || !handled.insert({due.atMs, due.virtualKey, due.down}).second) continue;
            if (due.down) pressKeyAt(due.virtualKey, due.atMs);
            else releaseKey(due.virtualKey);
        }
        advancePanels(*game, clock.highResolution);
        const int32_t passBefore = game->practice.pass;
        playTickHandler(*game);
        if (game->practice.pass != passBefore) musicFrom(game->practice.seekMs);
    }

    void playPasses(size_t passes) {
        for (int ms = 0; ms < 60000 && game->practice.passes.size() < passes; ++ms) step();
    }

    double songAtStart = 0.0;
    double realAtStart = 0.0;
    std::set<std::tuple<double, uint16_t, bool>> handled;
};

}  // namespace

// A pass ends once its last marker was judged or missed: the bar's end plus the miss time, both
// moved by the audio offset, the two in real ms. At 2x with +500 ms the last sixteenth's perfect
// moment is 825 song ms past the bar's end, past the 600 where the miss time alone ends it.
TEST_F(TpracticeLoopTest, AutoplayScoresEveryPassPerfectlyAtAnyRateAndOffset) {
    for (const double rate : {0.5, 1.0, 2.0}) {
        for (const int32_t offset : {-500, 0, 500}) {
            game = std::make_unique<TtrellikGL>();
            handled.clear();
            SetUp();
            startLoopOfBar2(rate, offset);
            playPasses(3);
            ASSERT_EQ(game->practice.passes.size(), 3u) << rate << "x " << offset;
            for (const TpassResult& pass : game->practice.passes) {
                EXPECT_EQ(pass.markers, 16) << rate << "x " << offset << " pass " << pass.pass;
                EXPECT_EQ(pass.figures.score, 900000) << rate << "x " << offset << " pass " << pass.pass;
            }
            game->autoplay->cancelAll();
        }
    }
}

// At 1.5x with +100 ms the pass ends exactly 600 song ms past the bar: (300 + 100) real ms.
TEST_F(TpracticeLoopTest, APassEndsAtTheMissTimeAndOffsetInRealMsAtAnotherRate) {
    game->launch.audioOffset = 100;
    game->practice.choice.practice = true;
    game->practice.choice.startBar = 2;
    game->practice.choice.rateHundredths = 150;
    startPlaying(60000);
    game->practice.loop = {2, 3};
    tickAt(5599);
    EXPECT_TRUE(game->practice.passes.empty());
    tickAt(5600);
    ASSERT_EQ(game->practice.passes.size(), 1u);
    EXPECT_EQ(game->practice.passes[0].rateHundredths, 150);
}

// The count-in bar's four beats as the player hears them (a row's perfect moment lies 50 ms before
// its chart time), whatever the rate, with the music starting before the first so none is lost.
TEST_F(TpracticeLoopTest, CountInTicksFallOnTheHeardBeatsOfTheBarBeforeTheSection) {
    for (const int32_t rate : {50, 100, 200}) {
        game->practice.choice.practice = true;
        game->practice.choice.startBar = 2;
        game->practice.choice.rateHundredths = rate;
        startPlaying(60000);
        EXPECT_EQ(game->practice.pendingTicks, (std::vector<double>{950.0, 1450.0, 1950.0, 2450.0})) << rate;
        EXPECT_LT(game->practice.seekMs, 950.0) << rate;
    }
}

// A loop key marks the bar the player hears: at 2x with +100 ms, bar 2's first beat (3000) is
// heard when the music's clock reads 3000 - 50 + 200.
TEST_F(TpracticeLoopTest, ALoopKeyMarksTheBarOfTheHeardBeat) {
    game->launch.audioOffset = 100;
    game->practice.choice.practice = true;
    game->practice.choice.rateHundredths = 200;
    startPlaying(60000);
    tickAt(3149);
    pressKey(188);
    EXPECT_EQ(game->practice.markedStartBar, 1);
    tickAt(3150);
    pressKey(188);
    EXPECT_EQ(game->practice.markedStartBar, 2);
}
