// The calibration: tap offsets and their statistics, and the scene's keys on exact times.
#include <utility>
#include <vector>

#include "engine/calibration.h"
#include "tests/test_playback_fixture.h"

namespace {

std::vector<double> clicksFrom(double first, int32_t count) {
    std::vector<double> clicks;
    for (int32_t i = 0; i < count; ++i) clicks.push_back(first + i * metronomeBeatMs);
    return clicks;
}

}  // namespace

TEST(CalibrationTaps, BelongToTheNearestClickWithinReach) {
    const std::vector<double> clicks = clicksFrom(1000.0, 3);
    EXPECT_DOUBLE_EQ(*tapOffset(clicks, 1625.0), 25.0);
    EXPECT_DOUBLE_EQ(*tapOffset(clicks, 1590.0), -10.0);
    EXPECT_DOUBLE_EQ(*tapOffset(clicks, 2499.0), 299.0);
    EXPECT_FALSE(tapOffset(clicks, 2510.0).has_value());
    EXPECT_FALSE(tapOffset({}, 1000.0).has_value());
}

TEST(CalibrationTaps, ReachEndsExactlyThreeHundredMsFromTheClick) {
    const std::vector<double> click = {1000.0};
    EXPECT_DOUBLE_EQ(*tapOffset(click, 1300.0), 300.0);
    EXPECT_DOUBLE_EQ(*tapOffset(click, 700.0), -300.0);
    EXPECT_DOUBLE_EQ(*tapOffset(click, 1299.5), 299.5);
    EXPECT_FALSE(tapOffset(click, 1300.5).has_value());
    EXPECT_FALSE(tapOffset(click, 699.5).has_value());
}

TEST(CalibrationTaps, CountOnlyAfterTheWarmUpAndStopAtThirtyTwo) {
    TtapCollection taps;
    std::vector<double> clicks = clicksFrom(0.0, warmUpBeats);
    EXPECT_FALSE(taps.add(clicks, clicks.back() + 20.0));
    clicks = clicksFrom(0.0, warmUpBeats + tapsWanted);
    for (int32_t i = 0; i < tapsWanted + 3; ++i) taps.add(clicks, clicks[warmUpBeats + i % tapsWanted] + 20.0);
    EXPECT_TRUE(taps.complete());
    EXPECT_EQ(taps.taps, tapsWanted);
    EXPECT_EQ(taps.offsets.size(), static_cast<size_t>(tapsWanted));
}

TEST(CalibrationTaps, ATapNearestTheLastWarmUpClickIsStillWarmUp) {
    // Clicks 7 (the last of the warm-up) and 8 are heard at 4200 and 4800.
    const std::vector<double> clicks = clicksFrom(0.0, warmUpBeats + 1);
    EXPECT_FALSE(TtapCollection{}.add(clicks, 4499.5));
    EXPECT_FALSE(TtapCollection{}.add(clicks, 4500.0)) << "as near to both: the earlier click's";
    EXPECT_TRUE(TtapCollection{}.add(clicks, 4500.5));
}

TEST(CalibrationTaps, AClickCountsAsHeardFromItsHeardTime) {
    const std::vector<double> clicks = clicksFrom(1000.0, 2);
    EXPECT_EQ(clicksHeardBy(clicks, 999.5), 0);
    EXPECT_EQ(clicksHeardBy(clicks, 1000.0), 1);
    EXPECT_EQ(clicksHeardBy(clicks, 1600.5), 2);
}

TEST(CalibrationTaps, OutcomeIsTheMedianUnlessTheTapsAreSpreadOrMissing) {
    TtapCollection taps;
    taps.offsets = {24.0, 26.0, 25.4, 90.0, 23.0};
    TtapOutcome outcome = outcomeOf(taps);
    EXPECT_EQ(outcome.verdict, TtapVerdict::ready) << "one stray tap does not move the median much";
    EXPECT_EQ(outcome.audioOffset, 25);
    EXPECT_EQ(outcomeLine(outcome), "Audio offset +25 ms (median +25.4, spread 1.4 ms): Enter saves");

    taps.offsets = {-60.0, -20.0, 10.0, 40.0, 90.0};
    outcome = outcomeOf(taps);
    EXPECT_EQ(outcome.verdict, TtapVerdict::spreadTooLarge);
    EXPECT_EQ(outcomeLine(outcome), "The taps were spread 30 ms wide (more than 20): tap again");

    taps.offsets.clear();
    EXPECT_EQ(outcomeOf(taps).verdict, TtapVerdict::noTaps);
    taps.offsets = {700.0};
    EXPECT_EQ(outcomeOf(taps).audioOffset, 500) << "held to the setting's range";
}

class TcalibrationScene : public TplaybackTest {
protected:
    std::vector<std::pair<int32_t, int32_t>> saved;

    void SetUp() override {
        TplaybackTest::SetUp();
        game->launch.audioOffset = -3;
        game->launch.visualOffset = 12;
        game->launch.saveOffsets = [this](int32_t audio, int32_t visual) { saved.emplace_back(audio, visual); };
        startCalibration(*game);
    }
    void TearDown() override {
        releaseRunHandlers(*game);
        TplaybackTest::TearDown();
    }

    // Runs the metronome to each click and taps offsetMs after it, count times.
    void tapAfterClicks(int32_t count, double offsetMs) {
        for (int32_t i = 0; i < count; ++i) {
            clock.highResolution = game->calibration.nextClickHeardMs;
            metronomeTick(*game);
            pressKeyAt(game->launch.keys[0], game->calibration.clickTimes.back() + offsetMs);
        }
    }

    // Runs the metronome a ms at a time, as its timer does, and taps offsetMs from each beat the
    // clicks are asked for, until a measurement is complete.
    void tapAroundEachBeat(double offsetMs) {
        double beat = game->calibration.nextClickHeardMs;
        const double end = beat + (warmUpBeats + tapsWanted) * metronomeBeatMs;
        for (double now = clock.highResolution; now < end && !game->calibration.taps.complete(); now += 1.0) {
            clock.highResolution = now;
            metronomeTick(*game);
            if (now != beat + offsetMs) continue;
            pressKeyAt(game->launch.keys[0], now);
            beat += metronomeBeatMs;
        }
    }
};

TEST_F(TcalibrationScene, TapsAfterTheClicksSaveTheirMedianAsTheAudioOffset) {
    tapAfterClicks(warmUpBeats + tapsWanted, 25.0);
    EXPECT_EQ(game->calibration.outcome.audioOffset, 25);
    pressKey(keyEnter);
    EXPECT_EQ(saved, (std::vector<std::pair<int32_t, int32_t>>{{25, 12}}));
    EXPECT_EQ(game->calibration.phase, TcalibrationState::Tphase::visual);

    pressKey(game->launch.keys[3]);
    pressKey(game->launch.keys[7]);
    pressKey(game->launch.keys[8]);
    EXPECT_EQ(game->calibration.visualOffset, 17);
    pressKey(keyEnter);
    EXPECT_EQ(saved.back(), std::make_pair(25, 17));
}

TEST_F(TcalibrationScene, SpreadTapsAreMeasuredAgainAndEscapeSavesNothing) {
    tapAfterClicks(warmUpBeats, 0.0);
    for (int32_t i = 0; i < tapsWanted; ++i) tapAfterClicks(1, i % 2 == 0 ? -80.0 : 80.0);
    EXPECT_EQ(game->calibration.taps.taps, 0) << "a spread measurement starts again";
    EXPECT_NE(game->calibration.message.find("tap again"), std::string::npos);
    pressKey(keyEnter);
    EXPECT_EQ(game->calibration.phase, TcalibrationState::Tphase::audio);
    pressKey(keyEscape);
    EXPECT_TRUE(saved.empty());
    EXPECT_EQ(game->launch.audioOffset, -3);
}

TEST_F(TcalibrationScene, TapsBeforeOrAfterTheHeardClickGiveTheirOffsetOnTheSilentOutput) {
    for (const double offset : {-40.0, -20.0, 0.0, 25.0}) {
        startCalibration(*game);
        tapAroundEachBeat(offset);
        EXPECT_EQ(game->calibration.outcome.verdict, TtapVerdict::ready) << offset << ": " << game->calibration.message;
        EXPECT_NEAR(game->calibration.outcome.figures.median, offset, 1.0);
    }
}

TEST_F(TcalibrationScene, AClickIsHandedOverALeadAheadOfItsBeat) {
    const double beat = game->calibration.nextClickHeardMs;
    clock.highResolution = beat - clickLeadMs - 0.5;
    metronomeTick(*game);
    EXPECT_TRUE(game->calibration.clickTimes.empty());
    clock.highResolution = beat - clickLeadMs;
    metronomeTick(*game);
    ASSERT_EQ(game->calibration.clickTimes.size(), 1u);
    EXPECT_NEAR(game->calibration.clickTimes[0], beat, 1.0);
    clock.highResolution = beat - clickLeadMs + 0.5;
    metronomeTick(*game);
    EXPECT_EQ(game->calibration.clickTimes.size(), 1u) << "the next click is a beat later";
}
