// The play tick, the marker states and the judgement of presses, on exact clock times.
#include "tests/test_playback_fixture.h"

namespace {

// Key index 1 (row 0, column 1) is the key '5' and lies on panel 4.
constexpr int keyIndex = 1;
constexpr int panel = 4;
constexpr uint16_t key = '5';

}  // namespace

TEST_F(TplaybackTest, MusicStartsAfter1885msAndNoRowComesOnThatTick) {
    addRow(0.0, {keyIndex});
    addRow(1.0, {keyIndex});
    installScene(*game, readyScene);
    startPlay(*game);
    clock.musicLength = 60000;
    game->readyStart = clock.ms - 1884;
    tickAt(5000);
    EXPECT_FALSE(game->play.musicStarted);
    game->readyStart = clock.ms - 1885;
    tickAt(5000);
    EXPECT_TRUE(game->play.musicStarted);
    EXPECT_EQ(game->play.nextEntry, 0u);
    tickAt(5000);
    EXPECT_EQ(game->play.nextEntry, 1u);
}

TEST_F(TplaybackTest, RowAtTenSecondsActivatedOnTimeStarts50msIntoItsApproach) {
    addRow(10.0, {keyIndex}, 150.0);
    startPlaying();
    tickAt(9449);
    EXPECT_EQ(stateOf(panel), idle);
    EXPECT_FALSE(game->play.firstEntryReached);
    tickAt(9450);
    const double now = clock.highResolution;
    EXPECT_EQ(stateOf(panel), approach);
    EXPECT_DOUBLE_EQ(game->play.stateStart[panel], now - 50);
    EXPECT_DOUBLE_EQ(game->play.stateEnd[panel], now + 500);
    EXPECT_DOUBLE_EQ(game->play.perfectTime[panel], now + 500);  // the music is then at 9950
    EXPECT_TRUE(game->play.firstEntryReached);
    EXPECT_DOUBLE_EQ(game->play.tempo, 150.0);
    for (int other = 0; other < 16; ++other) {
        if (other == panel) continue;
        EXPECT_EQ(stateOf(other), idle) << other;
    }
}

// The markers of a late tick start further into their approach, so the perfect time still falls
// when the music is at 9950 ms, whatever the tick's lateness.
TEST_F(TplaybackTest, RowActivatedLateStillHasItsPerfectTimeOnTheBeat) {
    addRow(10.0, {keyIndex});
    addRow(20.0, {keyIndex + 1});
    startPlaying();
    tickAt(9453);
    const double lateTick = clock.highResolution;
    EXPECT_DOUBLE_EQ(game->play.stateStart[panel], lateTick - 53);
    EXPECT_DOUBLE_EQ(game->play.perfectTime[panel], lateTick + 497);
    tickAt(19458);
    const double laterTick = clock.highResolution;
    EXPECT_DOUBLE_EQ(game->play.perfectTime[panel + 4], laterTick + 492);
}

TEST_F(TplaybackTest, RowsWithinOneTickGoOutOnConsecutiveTicks) {
    addRow(10.0, {0});
    addRow(10.0004, {15});
    addRow(12.0, {5});
    startPlaying();
    tickAt(9451);
    EXPECT_EQ(game->play.nextEntry, 1u);
    EXPECT_EQ(stateOf(transposeIndex(0)), approach);
    EXPECT_EQ(stateOf(transposeIndex(15)), idle);
    tickAt(9452);
    EXPECT_EQ(game->play.nextEntry, 2u);
    EXPECT_EQ(stateOf(transposeIndex(15)), approach);
    tickAt(9453);
    EXPECT_EQ(game->play.nextEntry, 2u);
}

TEST_F(TplaybackTest, ChordMarksEveryFlaggedPanelByTransposedIndex) {
    addRow(3.0, {0, 3, 12, 6});
    startPlaying();
    tickAt(2450);
    for (int k : {0, 3, 12, 6}) EXPECT_EQ(stateOf(transposeIndex(k)), approach) << k;
    EXPECT_EQ(stateOf(3), approach);   // key index 12 is the bottom-left panel: column 0, row 3
    EXPECT_EQ(stateOf(12), approach);  // key index 3 is the top-right panel: column 3, row 0
}

TEST_F(TplaybackTest, FullChartStopsAfterItsLastRow) {
    game->chart.entryCount = chartCapacity;
    game->chart.markerCount = 5;
    game->chart.entries[chartCapacity].time = 0.0;  // whatever lies beyond the last row
    game->chart.entries[chartCapacity].panels[0] = 1;
    startPlaying();
    game->play.nextEntry = chartCapacity;
    tickAt(30000);
    EXPECT_EQ(game->play.nextEntry, static_cast<uint32_t>(chartCapacity));
    EXPECT_EQ(stateOf(0), idle);
    EXPECT_TRUE(stillPlaying());
}

class TjudgementTest : public TplaybackTest {
protected:
    double perfectTime = 0.0;

    void SetUp() override {
        TplaybackTest::SetUp();
        addRow(10.0, {keyIndex});
        addRow(20.0, {keyIndex});
        startPlaying();
        tickAt(9450);
        perfectTime = game->play.perfectTime[panel];
    }

    // Presses the key at a time relative to the perfect time, with every frame of 1 ms before it.
    bool pressAt(double relative) {
        for (double t = clock.highResolution + 1; t < perfectTime + relative; t += 1) frameAt(t);
        clock.highResolution = perfectTime + relative;
        return pressKey(key);
    }
};

TEST_F(TjudgementTest, PressFortyMsLateIsPerfect) {
    EXPECT_FALSE(pressAt(40));
    EXPECT_EQ(stateOf(panel), perfect);
    EXPECT_EQ(game->score.counters[perfect], 1);
    EXPECT_DOUBLE_EQ(game->play.stateStart[panel], perfectTime + 40);
    EXPECT_DOUBLE_EQ(game->play.stateEnd[panel], perfectTime + 240);
}

TEST_F(TjudgementTest, APressHandledAfterASlowFrameIsJudgedWhenItHappened) {
    for (double t = clock.highResolution + 1; t < perfectTime - 30; t += 1) frameAt(t);
    // Pressed 30 ms early (great would need more than 50 ms off), handled 40 ms late.
    clock.highResolution = perfectTime + 40;
    pressKeyAt(key, perfectTime - 30);
    EXPECT_EQ(stateOf(panel), perfect);
    EXPECT_DOUBLE_EQ(game->play.stateStart[panel], perfectTime + 40);
}

TEST_F(TjudgementTest, AStampAheadOfTheClockCountsAsNow) {
    for (double t = clock.highResolution + 1; t < perfectTime + 10; t += 1) frameAt(t);
    clock.highResolution = perfectTime + 10;
    pressKeyAt(key, perfectTime + 500);
    EXPECT_EQ(stateOf(panel), perfect);
}

// A player who hears the music 40 ms late presses 40 ms late: that is on the beat for them, and
// the marker comes 40 ms later to meet it.
TEST_F(TjudgementTest, TheAudioOffsetMovesTheBeatPressesAreMeasuredFrom) {
    game->launch.audioOffset = 40;
    tickAt(19489);
    EXPECT_EQ(game->play.rowOf[panel], 0);
    frameAt(perfectTime + 301);  // the first row's marker has run out
    tickAt(19490);  // the second row: its beat is heard with the music at 19990 rather than 19950
    EXPECT_EQ(game->play.rowOf[panel], 1);
    perfectTime = game->play.perfectTime[panel];
    pressAt(0);
    EXPECT_EQ(stateOf(panel), perfect);
    ASSERT_EQ(game->play.presses.size(), 2u);
    EXPECT_DOUBLE_EQ(game->play.presses[1].offsetMs, 0.0);
    EXPECT_EQ(game->play.presses[1].row, 1);
}

TEST_F(TjudgementTest, ANegativeAudioOffsetMakesTheSamePressLater) {
    game->launch.audioOffset = -40;
    frameAt(perfectTime + 301);  // the first row's marker has run out
    tickAt(19410);  // the beat with the music at 19910
    perfectTime = game->play.perfectTime[panel];
    pressAt(80);    // with the music at 19990
    EXPECT_EQ(stateOf(panel), great);
    EXPECT_DOUBLE_EQ(game->play.presses.at(1).offsetMs, 80.0);
}

TEST_F(TjudgementTest, TheVisualOffsetMovesTheMarkerFramesAndNotTheJudgement) {
    game->launch.visualOffset = 40;
    const TmarkerLook drawnLater = markerLookAt(*game, panel, perfectTime - 100);
    game->launch.visualOffset = 0;
    const TmarkerLook drawnOnTime = markerLookAt(*game, panel, perfectTime - 140);
    EXPECT_EQ(drawnLater.state, approach);
    EXPECT_DOUBLE_EQ(drawnLater.progress, drawnOnTime.progress);

    game->launch.visualOffset = 40;
    frameAt(perfectTime + 20);
    ASSERT_EQ(stateOf(panel), overrun);
    const TmarkerLook stillApproaching = markerLookAt(*game, panel, perfectTime + 20);
    EXPECT_EQ(stillApproaching.state, approach);
    EXPECT_NEAR(stillApproaching.progress, 1.0 - 20.0 / 550.0, 1e-9);

    pressAt(30);
    EXPECT_EQ(stateOf(panel), perfect);
    EXPECT_DOUBLE_EQ(game->play.presses.at(0).offsetMs, 30.0);
}

TEST_F(TjudgementTest, PressHundredMsEarlyIsGreat) {
    pressAt(-100);
    EXPECT_EQ(stateOf(panel), great);
    EXPECT_EQ(game->score.counters[great], 1);
}

TEST_F(TjudgementTest, WindowEdgesBelongToTheBetterJudgement) {
    pressAt(-50);
    EXPECT_EQ(stateOf(panel), perfect);
}

TEST_F(TjudgementTest, GoodWindowEdgeIsGood) {
    pressAt(-200);
    EXPECT_EQ(stateOf(panel), good);
}

TEST_F(TjudgementTest, BadWindowEdgeIsBadNotIgnored) {
    pressAt(-300);
    EXPECT_EQ(stateOf(panel), bad);
}

TEST_F(TjudgementTest, PressTwoHundredFiftyMsLateIsBad) {
    pressAt(250);
    EXPECT_EQ(stateOf(panel), bad);
    EXPECT_EQ(game->score.counters[bad], 1);
    EXPECT_EQ(game->score.comboCount(), 0);
}

TEST_F(TjudgementTest, PressThreeHundredFiftyMsEarlyIsIgnoredAndTheMarkerStaysHittable) {
    pressAt(-350);
    EXPECT_EQ(stateOf(panel), approach);
    EXPECT_EQ(game->play.pressed[panel], 1);
    for (int counter : game->score.counters) EXPECT_EQ(counter, 0);
    releaseKey(key);
    EXPECT_EQ(game->play.pressed[panel], 0);
    pressAt(0);
    EXPECT_EQ(stateOf(panel), perfect);
}

TEST_F(TjudgementTest, PressDuringTheMissAnimationIsStillGood) {
    for (double t = clock.highResolution + 1; t <= perfectTime + 150; t += 1) frameAt(t);
    ASSERT_EQ(stateOf(panel), miss);
    pressAt(150);
    EXPECT_EQ(stateOf(panel), good);
    EXPECT_EQ(game->score.counters[good], 1);
    EXPECT_EQ(game->score.counters[missScored], 0);
}

TEST_F(TjudgementTest, UnpressedMarkerOverrunsThenMissesAndIsScoredJustAfter300ms) {
    double overrunAt = 0, missAt = 0, scoredAt = 0;
    for (double t = clock.highResolution + 0.25; scoredAt == 0 && t < perfectTime + 400; t += 0.25) {
        const uint8_t before = stateOf(panel);
        frameAt(t);
        if (before == approach && stateOf(panel) == overrun) overrunAt = t;
        if (before == overrun && stateOf(panel) == miss) missAt = t;
        if (game->score.counters[missScored] == 1) scoredAt = t;
    }
    EXPECT_GT(overrunAt, perfectTime);
    EXPECT_LE(overrunAt, perfectTime + 0.25);
    EXPECT_GT(missAt, perfectTime + 100);
    EXPECT_LE(missAt, perfectTime + 100.5);
    EXPECT_GT(scoredAt, perfectTime + 300);
    EXPECT_LE(scoredAt, perfectTime + 300.75);  // each change waits for the next frame
    EXPECT_EQ(stateOf(panel), idle);
    EXPECT_EQ(game->score.comboCount(), 0);
}

TEST_F(TjudgementTest, JudgementAnimationEndsInIdle) {
    pressAt(0);
    frameAt(perfectTime + 200);
    EXPECT_EQ(stateOf(panel), perfect);
    frameAt(perfectTime + 200.5);
    EXPECT_EQ(stateOf(panel), idle);
    EXPECT_EQ(game->score.counters[perfect], 1);
}

TEST_F(TjudgementTest, KeyOutsideTheSixteenDoesNothing) {
    clock.highResolution = perfectTime;
    EXPECT_FALSE(pressKey('Q'));
    EXPECT_FALSE(releaseKey('Q'));
    EXPECT_EQ(stateOf(panel), approach);
    for (uint8_t pressed : game->play.pressed) EXPECT_EQ(pressed, 0);
    EXPECT_TRUE(stillPlaying());
}

TEST_F(TjudgementTest, RepeatedKeyDownJudgesOnlyANewMarker) {
    pressAt(0);
    pressAt(10);  // keyboard auto-repeat of the held key
    pressAt(100);
    EXPECT_EQ(game->score.counters[perfect], 1);
    EXPECT_EQ(game->score.comboCount(), 1);
    for (double t = clock.highResolution + 1; t < perfectTime + 400; t += 1) frameAt(t);
    EXPECT_EQ(stateOf(panel), idle);
    pressKey(key);
    EXPECT_EQ(game->score.comboCount(), 1);

    tickAt(19450);  // the second row's marker reaches its approach
    perfectTime = game->play.perfectTime[panel];
    pressAt(-20);
    EXPECT_EQ(game->score.counters[perfect], 2);
    EXPECT_EQ(game->score.comboCount(), 2);
}

TEST_F(TjudgementTest, NewMarkerOverwritesALiveOneWithoutScoringIt) {
    tickAt(19450);
    EXPECT_EQ(stateOf(panel), approach);
    for (int counter : game->score.counters) EXPECT_EQ(counter, 0);
}

// The X server stamps a key when it goes down; the loop may get to it only after a frame retired
// the marker it was aimed at.
TEST_F(TjudgementTest, APressMadeBeforeAFrameRetiredItsMarkerIsJudgedAgainstIt) {
    for (double t = clock.highResolution + 1; t < perfectTime + 310; t += 1) frameAt(t);
    ASSERT_EQ(stateOf(panel), idle);
    ASSERT_EQ(game->score.counters[missScored], 1);
    pressKeyAt(key, perfectTime + 300);
    EXPECT_EQ(game->score.counters[missScored], 0) << "the miss it was scored becomes the press";
    EXPECT_EQ(game->score.counters[bad], 1);
    ASSERT_EQ(game->play.presses.size(), 1u);
    EXPECT_EQ(game->play.presses[0].judgement, bad);
    EXPECT_EQ(game->play.presses[0].row, 0);
    EXPECT_EQ(stateOf(panel), bad);
    pressKeyAt(key, perfectTime + 299);
    EXPECT_EQ(game->score.counters[bad], 1) << "a marker is judged once";
}

TEST_F(TjudgementTest, APressJustOutsideTheWindowOfARetiredMarkerLeavesItsMiss) {
    for (double t = clock.highResolution + 1; t < perfectTime + 310; t += 1) frameAt(t);
    pressKeyAt(key, perfectTime + 301);
    EXPECT_EQ(game->score.counters[missScored], 1);
    EXPECT_EQ(game->score.counters[bad], 0);
    EXPECT_EQ(stateOf(panel), idle);
}

class TcloseRowsTest : public TplaybackTest {
protected:
    double firstPerfect = 0.0;
    double nextRowAt = 0.0;

    // Two markers on one panel 250 ms apart; the second comes on while the first is being missed.
    void SetUp() override {
        TplaybackTest::SetUp();
        addRow(10.0, {keyIndex});
        addRow(10.25, {keyIndex});
        startPlaying();
        tickAt(9450);
        firstPerfect = game->play.perfectTime[panel];
        for (double t = clock.highResolution + 1; t <= firstPerfect + 240; t += 1) frameAt(t);
        ASSERT_EQ(stateOf(panel), miss);
        nextRowAt = clock.highResolution;
        tickAt(9700);
        ASSERT_EQ(game->play.rowOf[panel], 1);
    }
};

TEST_F(TcloseRowsTest, APressMadeBeforeTheNextRowCameUpIsJudgedAgainstTheMarkerItWasAimedAt) {
    pressKeyAt(key, nextRowAt - 1);
    ASSERT_EQ(game->play.presses.size(), 1u);
    EXPECT_EQ(game->play.presses[0].row, 0);
    EXPECT_EQ(game->play.presses[0].judgement, bad);
    EXPECT_DOUBLE_EQ(game->play.presses[0].offsetMs, 239.0);
    EXPECT_EQ(stateOf(panel), approach) << "the next row's marker stays";
    EXPECT_EQ(game->score.counters[bad], 1);
}

// The first marker stays live under the next row's until its miss moment: a press then still
// judges it, and a later one the next row's marker.
TEST_F(TcloseRowsTest, APressAfterTheNextRowCameUpJudgesTheOlderMarkerUntilItRunsOut) {
    frameAt(nextRowAt + 1);
    pressKeyAt(key, nextRowAt + 1);
    ASSERT_EQ(game->play.presses.size(), 1u);
    EXPECT_EQ(game->play.presses[0].row, 0);
    EXPECT_EQ(game->play.presses[0].judgement, bad);
    EXPECT_DOUBLE_EQ(game->play.presses[0].offsetMs, 241.0);
    EXPECT_EQ(stateOf(panel), approach) << "the next row's marker stays";
    const double secondPerfect = game->play.perfectTime[panel];
    for (double t = clock.highResolution + 1; t <= secondPerfect + 60; t += 1) frameAt(t);
    pressKeyAt(key, secondPerfect + 60);
    ASSERT_EQ(game->play.presses.size(), 2u);
    EXPECT_EQ(game->play.presses[1].row, 1);
    EXPECT_EQ(game->play.presses[1].judgement, great);
}

TEST(JudgementTitle, SignedWholeMilliseconds) {
    EXPECT_EQ(judgementTitle(40.2), "40");
    EXPECT_EQ(judgementTitle(-100.0), "-100");
    EXPECT_EQ(judgementTitle(-47.5), "-48");
    EXPECT_EQ(judgementTitle(2.5), "2");
    EXPECT_EQ(judgementTitle(-0.3), "0");
    EXPECT_EQ(judgementTitle(1e30), "1000000000000000019884624838656");
}
