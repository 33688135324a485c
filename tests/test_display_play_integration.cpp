// Songs played through the real window loop, play tick and sound engine: a generated one with
// and without presses, and a demo song played by autoplay.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/support/playSession.h"
#include "engine/trellikGL38Engine.h"
#include "platform/sound/soundEngine.h"
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
        game->songs.songs.resize(1);
        game->songs.songs[0].name = song.name;
        ASSERT_TRUE(writeSongMusic(song, folder.path()));
        fillChart(game->chart, song);
    }
};

// The demo song with the smallest music file, which at the pack's constant bit rate is the shortest.
std::string shortestDemoSong(const std::string& songFolder) {
    std::string shortest;
    uintmax_t smallest = UINTMAX_MAX;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(songFolder)) {
        const std::string stem = entry.path().stem().string();
        if (entry.path().extension() != ".mp3" || stem.find("_prev") != std::string::npos) continue;
        if (entry.file_size() < smallest) {
            smallest = entry.file_size();
            shortest = stem;
        }
    }
    return shortest;
}

}  // namespace

TEST_F(TplayIntegration, PressesAtThePerfectTimesEndWithFullScoreAndGauge) {
    const TplaySessionResult result = playSong(*game, true, 40.0);
    ASSERT_TRUE(result.ended);
    ASSERT_EQ(result.presses.size(), static_cast<size_t>(song.rows));
    // Each press carries the time it was scheduled for, so however late the loop got to it, it
    // is judged on the beat.
    for (const TjudgedPress& press : result.presses) {
        EXPECT_EQ(press.judgement, perfect) << "handled " << press.difference << " ms after its beat";
        EXPECT_EQ(press.title, "0");
    }
    EXPECT_EQ(result.finalScore.displayScore(), 900000);
    EXPECT_EQ(result.finalScore.gauge, 1024.0);
    EXPECT_EQ(result.finalScore.comboCount(), song.rows);
    // The song ended into its results.
    EXPECT_EQ(game->results.figures.perfect, song.rows);
    EXPECT_EQ(game->results.figures.early + game->results.figures.late, 0);
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

// Autoplay presses every marker of a real chart (chords included) through the event queue; each
// press carries its scheduled time, so a busy machine that hands it over late does not make it
// late, and the song ends with the full score. (Which key autoplay presses, and when, is checked
// on exact times by the playback tests.)
TEST_F(TplayIntegration, AutoplayPlaysTheHardestDemoChartPerfectly) {
    const std::string demoSongs = std::string(TRELLIK_BINARY_DIR) + "/stockpack/demo/sng";
    if (!std::filesystem::is_directory(demoSongs)) GTEST_SKIP() << "the build made no stock pack";
    const std::string name = shortestDemoSong(demoSongs);
    ASSERT_FALSE(name.empty());
    std::filesystem::copy_file(demoSongs + "/" + name + ".mp3", folder.file("sng/" + name + ".mp3"));
    ASSERT_TRUE(loadChart(game->chart, demoSongs + "/" + name + "2.txt", false));
    game->songs.songs[0].name = name;

    const TplaySessionResult result = playSong(*game, true, 300.0);
    ASSERT_TRUE(result.ended);
    const int32_t markers = game->chart.markerCount;
    for (const TjudgedPress& press : result.presses)
        EXPECT_EQ(press.judgement, perfect) << "panel " << press.panel << " handled " << press.difference << " ms late";
    const ScoreControl& score = result.finalScore;
    EXPECT_EQ(score.counters[perfect], markers) << "every marker is scored once, perfect";
    EXPECT_EQ(score.displayScore(), 900000);
    EXPECT_EQ(score.maxCombo, markers);
}
