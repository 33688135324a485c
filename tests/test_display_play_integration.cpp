// A generated song played through the real window loop, play tick and sound engine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/support/playSession.h"
#include "engine/trellikGL38Engine.h"
#include "platform/soundEngine.h"
#include "tests/support/testSupport.h"

namespace {

class TplayIntegration : public ::testing::Test {
protected:
    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    Tsounds sounds;
    Tstream music;
    std::unique_ptr<TtrellikGL> game = std::make_unique<TtrellikGL>();
    TgeneratedSong song;

    void SetUp() override {
        const LaunchParameters parameters = defaultLaunchParameters("test");
        for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
        game->audio.sounds = &sounds;
        game->audio.music = &music;
        song.seconds = 6.0;
        song.firstRowSeconds = 1.0;
        song.rowSpacingSeconds = 0.3;
        song.rows = 12;
        game->songs.lastIndex = 0;
        game->songs.songs[0].name = song.name;
        ASSERT_TRUE(writeSongMusic(song, folder.path()));
        fillChart(game->chart, song);
    }
};

// The judgement a press this far from its perfect time must get; 0.1 ms of slack covers the
// clock reading the record keeps, taken a moment after the one the judgement used.
bool judgementFits(uint8_t judgement, double difference) {
    const double distance = std::fabs(difference);
    const double windows[] = {50, 100, 200, 300};
    const int index = judgement - perfect;
    if (index < 0 || index > 3) return false;
    const double lower = index == 0 ? 0.0 : windows[index - 1];
    return distance <= windows[index] + 0.1 && distance >= lower - 0.1;
}

}  // namespace

TEST_F(TplayIntegration, PressesAtThePerfectTimesEndWithFullScoreAndGauge) {
    const TplaySessionResult result = playSong(*game, true, 40.0);
    ASSERT_TRUE(result.ended);
    ASSERT_EQ(result.presses.size(), static_cast<size_t>(song.rows));
    // A busy machine may hand a key over late; each press is then judged by its true distance.
    ScoreControl judged;
    judged.reset(song.rows);
    int32_t perfects = 0;
    for (const TjudgedPress& press : result.presses) {
        EXPECT_TRUE(judgementFits(press.judgement, press.difference))
            << "judgement " << int{press.judgement} << " at " << press.difference << " ms";
        EXPECT_LE(std::fabs(std::stod(press.title) - press.difference), 1.0) << press.title;
        judged.apply(press.judgement);
        perfects += press.judgement == perfect;
    }
    EXPECT_EQ(result.finalScore.displayScore(), judged.displayScore());
    if (perfects == song.rows) {
        EXPECT_EQ(result.finalScore.displayScore(), 900000);
        EXPECT_EQ(result.finalScore.gauge, 1024.0);
        EXPECT_EQ(result.finalScore.comboCount(), song.rows);
    } else {
        std::printf("the machine was busy: %d of %d presses were handled over 50 ms late\n", song.rows - perfects,
                    song.rows);
    }
    EXPECT_EQ(game->score.noteCount, 1);  // the end of the song reset the score
}

TEST_F(TplayIntegration, WithoutPressesEveryMarkerIsMissed) {
    const TplaySessionResult result = playSong(*game, false, 40.0);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.finalScore.counters[missScored], song.rows);
    EXPECT_EQ(result.finalScore.displayScore(), 0);
    EXPECT_EQ(result.finalScore.gauge, 0.0);
    EXPECT_TRUE(result.presses.empty());
    EXPECT_EQ(result.rows.size(), static_cast<size_t>(song.rows));
}
