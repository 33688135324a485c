// The audio offset moves a marker's whole life: its approach, its judgement windows and its retirement.
#include <vector>

#include "tests/test_playback_fixture.h"

namespace {

// Key index 1 (row 0, column 1) is the key '5' and lies on panel 4.
constexpr int keyIndex = 1;
constexpr int panel = 4;
constexpr uint16_t key = '5';

// The whole range a player can set, and offsets between.
constexpr int32_t audioOffsets[] = {-500, -150, 0, 150, 500};

// How a press this far from the beat as heard is judged: each window edge and a ms either side.
struct TwindowCase {
    double relative;
    uint8_t judgement;
};

const std::vector<TwindowCase> windowCases = {
    {-301, idle}, {-300, bad},    {-299, bad},     {-201, bad},     {-200, good},    {-199, good},
    {-101, good}, {-100, great},  {-99, great},    {-51, great},    {-50, perfect},  {-49, perfect},
    {0, perfect}, {49, perfect},  {50, perfect},   {51, great},     {99, great},     {100, great},
    {101, good},  {199, good},    {200, good},     {201, bad},      {299, bad},      {300, bad},
    {301, idle},
};

class TaudioOffsetTest : public TplaybackTest {
protected:
    double perfectTime = 0.0;

    // A fresh song of one marker at 10 s, played with the offset, up to the tick its row comes on:
    // its approach starts 550 ms before the beat as heard.
    void startWithOffset(int32_t audioOffset) {
        TearDown();
        game = std::make_unique<TtrellikGL>();
        SetUp();
        game->launch.audioOffset = audioOffset;
        addRow(10.0, {keyIndex});
        startPlaying();
        tickAt(9450 + audioOffset - 1);
        ASSERT_EQ(stateOf(panel), idle) << "offset " << audioOffset;
        tickAt(9450 + audioOffset);
        ASSERT_EQ(stateOf(panel), approach) << "offset " << audioOffset;
        perfectTime = game->play.perfectTime[panel];
        // The music reaches the row's beat (9950 ms) plus the offset 500 ms after the row came on.
        ASSERT_DOUBLE_EQ(perfectTime, clock.highResolution + 500) << "offset " << audioOffset;
        ASSERT_DOUBLE_EQ(game->play.stateStart[panel], perfectTime - 550) << "offset " << audioOffset;
    }

    // Frames every ms from now up to (not including) a time relative to the perfect time.
    void framesUntil(double relative) {
        for (double t = clock.highResolution + 1; t < perfectTime + relative; t += 1) frameAt(t);
        clock.highResolution = perfectTime + relative;
    }

    // What the press judged: its judgement in the log, or idle when it judged nothing.
    uint8_t judgementOfPress() const {
        for (const TpressRecord& record : game->play.presses)
            if (record.judgement != missScored) return record.judgement;
        return idle;
    }
};

}  // namespace

TEST_F(TaudioOffsetTest, EveryWindowEdgeJudgesAroundTheBeatAsHeard) {
    for (const int32_t audioOffset : audioOffsets) {
        for (const TwindowCase& windowCase : windowCases) {
            startWithOffset(audioOffset);
            framesUntil(windowCase.relative);
            pressKey(key);
            EXPECT_EQ(judgementOfPress(), windowCase.judgement)
                << "offset " << audioOffset << ", press at " << windowCase.relative;
        }
    }
}

TEST_F(TaudioOffsetTest, AnUnpressedMarkerRetiresJustAfterTheBadWindowOfTheBeatAsHeard) {
    for (const int32_t audioOffset : audioOffsets) {
        startWithOffset(audioOffset);
        framesUntil(0);
        frameAt(perfectTime);
        EXPECT_EQ(stateOf(panel), approach) << "offset " << audioOffset;
        framesUntil(301);
        EXPECT_EQ(stateOf(panel), miss) << "offset " << audioOffset;
        EXPECT_EQ(game->score.counters[missScored], 0) << "offset " << audioOffset;
        framesUntil(304);
        EXPECT_EQ(stateOf(panel), idle) << "offset " << audioOffset;
        EXPECT_EQ(game->score.counters[missScored], 1) << "offset " << audioOffset;
    }
}
