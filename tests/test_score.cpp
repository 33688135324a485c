// Score, combo and gauge from judgements, and the gauge colours.
#include <gtest/gtest.h>

#include "engine/trellikGL38Engine.h"

namespace {

ScoreControl scoreFor(int32_t markers) {
    ScoreControl score;
    score.reset(markers);
    return score;
}

void expectColour(double gauge, double red, double green, double blue) {
    TclearColour colour;
    ASSERT_TRUE(gaugeColour(gauge, colour)) << "gauge " << gauge;
    EXPECT_DOUBLE_EQ(colour.red, red) << "gauge " << gauge;
    EXPECT_DOUBLE_EQ(colour.green, green) << "gauge " << gauge;
    EXPECT_DOUBLE_EQ(colour.blue, blue) << "gauge " << gauge;
    EXPECT_DOUBLE_EQ(colour.alpha, 0.0);
}

}  // namespace

TEST(Score, FourMarkersPerfectGreatGoodBad) {
    ScoreControl score = scoreFor(4);
    const double gauges[] = {512, 1024, 1024, 0};
    const int32_t combos[] = {1, 2, 3, 0};
    const PanelState judgements[] = {perfect, great, good, bad};
    for (int i = 0; i < 4; ++i) {
        score.apply(judgements[i]);
        EXPECT_DOUBLE_EQ(score.gauge, gauges[i]) << i;
        EXPECT_EQ(score.comboCount(), combos[i]) << i;
    }
    EXPECT_EQ(score.displayScore(), 495000);
    EXPECT_EQ(score.counters[perfect] + score.counters[great] + score.counters[good] + score.counters[bad], 4);
}

TEST(Score, MissFirstLeavesEverythingEmptyButCountsIt) {
    ScoreControl score = scoreFor(10);
    score.apply(missScored);
    EXPECT_EQ(score.gauge, 0.0);
    EXPECT_EQ(score.displayScore(), 0);
    EXPECT_EQ(score.comboCount(), 0);
    EXPECT_EQ(score.counters[missScored], 1);
}

TEST(Score, StatesThatAreNoJudgementChangeNothing) {
    ScoreControl score = scoreFor(4);
    score.apply(perfect);
    for (PanelState state : {idle, approach, overrun, miss}) score.apply(state);
    EXPECT_EQ(score.comboCount(), 1);
    EXPECT_DOUBLE_EQ(score.gauge, 512);
    EXPECT_EQ(score.displayScore(), 225000);
    for (int state : {0, 1, 2, 7}) EXPECT_EQ(score.counters[state], 0);
}

TEST(Score, NoMarkersCountAsOne) {
    ScoreControl score = scoreFor(0);
    EXPECT_EQ(score.noteCount, 1);
    score.apply(perfect);
    EXPECT_EQ(score.displayScore(), 900000);
    EXPECT_DOUBLE_EQ(score.gauge, 1024);
}

TEST(Score, TwoMarkersWithOneGreatShow315000) {
    ScoreControl score = scoreFor(2);
    score.apply(great);
    EXPECT_EQ(score.displayScore(), 315000);
}

TEST(Score, WholeResultsStayWholeForEveryMarkerCount) {
    // 900000 / N rounded and multiplied back falls short of 900000 for hundreds of N.
    for (int32_t markers : {3, 7, 47, 94, 99, 9999, 10000}) {
        ScoreControl allPerfect = scoreFor(markers);
        ScoreControl allGreat = scoreFor(markers);
        for (int32_t i = 0; i < markers; ++i) {
            allPerfect.apply(perfect);
            allGreat.apply(great);
        }
        EXPECT_EQ(allPerfect.displayScore(), 900000) << markers;
        EXPECT_EQ(allGreat.displayScore(), 630000) << markers;
    }
}

TEST(Score, ResetClearsEverything) {
    ScoreControl score = scoreFor(4);
    score.apply(perfect);
    score.apply(bad);
    score.reset(1);
    EXPECT_EQ(score.noteCount, 1);
    EXPECT_EQ(score.displayScore(), 0);
    EXPECT_EQ(score.gauge, 0.0);
    for (int32_t counter : score.counters) EXPECT_EQ(counter, 0);
}

TEST(Gauge, LevelIsPerHundredThousandRoundedHalfToEven) {
    ScoreControl score;
    EXPECT_EQ(score.gaugeLevel(nullptr), 0);
    score.gauge = 512;
    EXPECT_EQ(score.gaugeLevel(nullptr), 50000);
    score.gauge = 16;  // 1562.5
    EXPECT_EQ(score.gaugeLevel(nullptr), 1562);
    score.gauge = 48;  // 4687.5
    EXPECT_EQ(score.gaugeLevel(nullptr), 4688);
    score.gauge = 1024;
    EXPECT_EQ(score.gaugeLevel(nullptr), 100000);
}

TEST(Gauge, ColourOfEachBand) {
    expectColour(0, 0, 0, 0.15);
    expectColour(254.99, 0, 0, 0.15);
    expectColour(255, 0, 0, 0.2);
    expectColour(511, 0, 0, 0.2);
    expectColour(511.01, 0.1, 0, 0.25);
    expectColour(767, 0.1, 0, 0.25);
    expectColour(767.01, 0.2, 0, 0.35);
    expectColour(1023, 0.2, 0, 0.35);
    expectColour(1024, 0.73, 0.57, 0.08);
}

TEST(Gauge, ColourStaysJustBelowFull) {
    TclearColour colour{1, 2, 3, 4};
    EXPECT_FALSE(gaugeColour(1023.5, colour));
    EXPECT_FALSE(gaugeColour(1023.9999, colour));
    EXPECT_EQ(colour.red, 1);
    EXPECT_EQ(colour.alpha, 4);
}

TEST(Gauge, HalfTheMarkersPerfectFillItToTheTopColourForEveryMarkerCount) {
    for (int32_t markers = 1; markers <= 10000; ++markers) {
        ScoreControl score = scoreFor(markers);
        for (int32_t i = 0; i < (markers + 1) / 2; ++i) score.apply(perfect);
        ASSERT_EQ(score.gauge, 1024.0) << markers << " markers";
        ASSERT_EQ(score.gaugeLevel(nullptr), 100000) << markers << " markers";
        TclearColour colour;
        ASSERT_TRUE(gaugeColour(score.gauge, colour)) << markers << " markers";
        ASSERT_EQ(colour.red, 0.73) << markers << " markers";
    }
}
