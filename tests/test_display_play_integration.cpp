// A generated song played through the real window loop, play tick and sound engine.
#include <gtest/gtest.h>

#include <cmath>
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
        song.name = getSongName(game->songs, game->menu.selectedSong);
        ASSERT_TRUE(writeSongMusic(song, folder.path()));
        fillChart(game->chart, song);
    }
};

}  // namespace

TEST_F(TplayIntegration, PressesAtThePerfectTimesEndWithFullScoreAndGauge) {
    const TplaySessionResult result = playSong(*game, true, 40.0);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.finalScore.displayScore(), 900000);
    EXPECT_EQ(result.finalScore.gauge, 1024.0);
    EXPECT_EQ(result.finalScore.comboCount(), song.rows);
    ASSERT_EQ(result.presses.size(), static_cast<size_t>(song.rows));
    for (const TjudgedPress& press : result.presses) {
        EXPECT_EQ(press.judgement, perfect) << press.difference;
        EXPECT_LE(std::fabs(std::stod(press.title) - press.difference), 1.0) << press.title;
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
