// Practice loops played through on the clock seam: passes at other rates and audio offsets, the
// count-in on the heard beat, the rate between passes, the results of all passes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>
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

    // Autoplay (or nobody) practising bar 2 as a loop from the start at a rate and audio offset.
    void startLoopOfBar2(double rate, int32_t audioOffset, bool autoplay = true) {
        if (autoplay) game->autoplay = std::make_unique<TkeyPusher>();
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
        for (const TkeyPusher::Tpending& due : game->autoplay ? game->autoplay->pending() : std::vector<TkeyPusher::Tpending>{}) {
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

    // Plays on until the press log holds one more record than it did.
    void playUntilAnotherRecord() {
        const size_t before = game->play.presses.size();
        for (int ms = 0; ms < 10000 && game->play.presses.size() == before; ++ms) step();
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

// The last bar (4, 7000..9000) loops like any other: its end is the end of its length, not the
// start of a bar after it, and a loop-end key pressed once it is over marks it.
TEST_F(TpracticeLoopTest, TheLastBarLoopsWithAllItsMarkersAtAnyRateAndOffset) {
    for (const double rate : {0.5, 2.0}) {
        for (const int32_t offset : {-300, 300}) {
            game = std::make_unique<TtrellikGL>();
            handled.clear();
            SetUp();
            startLoopOfBar2(rate, offset);
            game->practice.loop = {4, 5};
            playPasses(3);
            ASSERT_EQ(game->practice.passes.size(), 3u) << rate << "x " << offset;
            for (size_t pass = 1; pass < 3; ++pass) {
                EXPECT_EQ(game->practice.passes[pass].markers, 16) << rate << "x " << offset << " pass " << pass;
                EXPECT_EQ(game->practice.passes[pass].figures.score, 900000) << rate << "x " << offset << " pass " << pass;
            }
            game->autoplay->cancelAll();
        }
    }
    game->practice.loop = {};
    game->practice.markedStartBar = 4;
    for (const auto& [heardAt, endBar] : std::vector<std::pair<int32_t, int32_t>>{{8999, 0}, {9000, 5}, {9001, 5}}) {
        game->practice.line.clear();
        game->practice.loop = {};
        clock.musicPosition = heardAt - 50;
        game->launch.audioOffset = 0;
        game->practice.rateInForce = 1.0;
        pressKey(190);  // .
        EXPECT_EQ(game->practice.loop.endBar, endBar) << heardAt << " " << game->practice.line;
    }
}

// Practice without a loop to a song's end: the markers still on their way when the music stops
// are missed in the pass the results and the kept play show, as in a full play. The music ends
// 1 ms before, at and 1 ms after the last row's miss moment (8825 + 300 song ms).
TEST_F(TpracticeLoopTest, MarkersLeftAtTheSongsEndAreMissedInThePracticeResults) {
    for (const int32_t musicLength : {9124, 9125, 9126}) {
        game = std::make_unique<TtrellikGL>();
        handled.clear();
        SetUp();
        game->practice.choice.practice = true;
        game->practice.choice.startBar = 4;
        startPlaying(musicLength);
        musicFrom(game->practice.seekMs);
        for (int ms = 0; ms < 20000 && !game->results.shown; ++ms) step();
        ASSERT_TRUE(game->results.shown) << musicLength;
        EXPECT_EQ(game->results.figures.miss, 16) << musicLength;
        ASSERT_EQ(game->practice.passes.size(), 1u) << musicLength;
        EXPECT_EQ(game->practice.passes[0].figures.miss, 16) << musicLength;
    }
}

// Escape in a count-in: before any pass it leaves for song select with nothing kept; after one,
// the results show the passes played and no empty pass for the count-in cut short.
TEST_F(TpracticeLoopTest, EscapeInACountInKeepsOnlyThePassesPlayed) {
    startLoopOfBar2(2.0, 300);
    for (int ms = 0; ms < 100; ++ms) step();
    EXPECT_FALSE(pressKey(keyEscape));
    EXPECT_FALSE(game->results.shown);
    EXPECT_TRUE(game->practice.passes.empty());

    game = std::make_unique<TtrellikGL>();
    handled.clear();
    SetUp();
    startLoopOfBar2(2.0, 300);
    playPasses(1);
    ASSERT_EQ(game->practice.passes.size(), 1u);
    for (int ms = 0; ms < 100; ++ms) step();
    pressKey(keyEscape);
    EXPECT_TRUE(game->results.shown);
    EXPECT_EQ(game->practice.passes.size(), 1u);
    EXPECT_EQ(game->results.figures.score, 900000);
    game->autoplay->cancelAll();
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

// Five perfect passes and Escape three markers into the sixth: the results and the kept play are
// those five passes and the three markers played of the sixth, not the pass in progress alone.
TEST_F(TpracticeLoopTest, TheResultsAndTheKeptPlayAreEveryPassTogether) {
    startLoopOfBar2(1.0, 0);
    playPasses(5);
    ASSERT_EQ(game->practice.passes.size(), 5u);
    for (int ms = 0; ms < 10000 && game->play.presses.size() < game->practice.passFirstPress + 3; ++ms) step();
    pressKey(keyEscape);
    ASSERT_TRUE(game->results.shown);
    ASSERT_EQ(game->practice.passes.size(), 6u);
    EXPECT_EQ(game->practice.passes[5].markers, 3);
    EXPECT_EQ(game->practice.passes[5].figures.score, 900000);
    EXPECT_EQ(game->results.figures.score, 900000);
    EXPECT_EQ(game->score.displayScore(), 900000) << "the score drawn above the figures";
    EXPECT_EQ(game->results.figures.perfect, 83);
    EXPECT_EQ(game->results.figures.miss, 0);
    EXPECT_EQ(game->results.figures.pressCount, 83);
    const TkeptPlay kept = keptPlayOf(*game);
    EXPECT_EQ(kept.score, 900000);
    EXPECT_EQ(kept.perfect, 83);
    EXPECT_EQ(kept.presses.size(), 83u);
}

// A press handled after a frame scored its marker missed turns the miss into its judgement; in a
// practice pass the score then still counts the pass's own markers and judgements only.
TEST_F(TpracticeLoopTest, AMissTurnedIntoAJudgementKeepsThePassScore) {
    startLoopOfBar2(1.0, 0, false);
    playPasses(1);
    ASSERT_EQ(game->practice.passes.size(), 1u);
    EXPECT_EQ(game->practice.passes[0].figures.miss, 16);
    playUntilAnotherRecord();
    const int32_t panel = transposeIndex(0);
    ASSERT_FALSE(game->play.leftMarkers[panel].empty()) << "a frame retired the panel's marker as missed";
    const TleftMarker left = game->play.leftMarkers[panel].front();
    pressKeyAt(static_cast<uint16_t>(game->launch.keys[0]), left.perfectTime);
    EXPECT_EQ(game->score.noteCount, 16);
    EXPECT_EQ(game->score.counters[perfect], 1);
    EXPECT_EQ(game->score.counters[missScored], 0);
}

// Sixty passes leave room for the rest of the results: a summary line and the last three passes,
// each with every judgement.
TEST(PracticeResults, SixtyPassesShowASummaryAndTheLastPassesWithEveryJudgement) {
    auto game = std::make_unique<TtrellikGL>();
    game->practice.practicing = true;
    game->practice.rateInForce = 1.5;
    for (int32_t pass = 1; pass <= 60; ++pass) {
        TpassResult result;
        result.pass = pass;
        result.rateHundredths = pass < 30 ? 100 : 150;
        result.figures.score = pass == 12 ? 900000 : 500000 + pass;
        result.figures.perfect = 9;
        result.figures.great = 1;
        result.figures.good = 2;
        result.figures.bad = 3;
        result.figures.miss = 1;
        game->practice.passes.push_back(result);
    }
    const std::vector<std::string> lines = practiceResultLines(*game);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "RATE 1.50x");
    EXPECT_EQ(lines[1], "PRACTICE  60 PASSES  BEST 900000 (PASS 12)");
    EXPECT_EQ(lines[2], "PASS 58  1.50x  500058  P9 GR1 GD2 BD3 MS1");
    EXPECT_EQ(lines[4], "PASS 60  1.50x  500060  P9 GR1 GD2 BD3 MS1");
    game->practice.passes.resize(2);
    EXPECT_EQ(practiceResultLines(*game).size(), 4u);
    EXPECT_EQ(practiceResultLines(*game)[2], "PASS 1  1.00x  500001  P9 GR1 GD2 BD3 MS1");
}

// A rate step during a pass leaves the markers on their way at the rate they came at: the next
// pass plays at the new rate, and each pass keeps its own. Without a loop there is no next pass.
TEST_F(TpracticeLoopTest, ARateStepTakesEffectFromTheNextPassAndEachPassKeepsItsRate) {
    startLoopOfBar2(1.0, 0);
    for (int ms = 0; ms < 2500; ++ms) step();
    ASSERT_TRUE(game->practice.passes.empty());
    pressKey(221);
    EXPECT_EQ(musicRate(*game), 1.0);
    EXPECT_EQ(game->practice.line, "NEXT PASS AT 1.05x");
    playPasses(2);
    ASSERT_EQ(game->practice.passes.size(), 2u);
    EXPECT_EQ(game->practice.passes[0].rateHundredths, 100);
    EXPECT_EQ(game->practice.passes[1].rateHundredths, 105);
    EXPECT_EQ(game->practice.passes[0].figures.score, 900000);
    EXPECT_EQ(game->practice.passes[1].figures.score, 900000);

    game->autoplay->cancelAll();
    game->practice.loop = {};
    pressKey(219);
    EXPECT_EQ(game->practice.choice.rateHundredths, 105);
    EXPECT_EQ(game->practice.line, "RATE: SET A LOOP FIRST");
}
