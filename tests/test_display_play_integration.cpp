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

// Whether a press this far from its perfect time gets this judgement (a press past the last
// window gets none); 0.1 ms of slack covers the distance between the record's reading and the
// judgement's own.
bool judgementFits(uint8_t judgement, double difference) {
    const double distance = std::fabs(difference);
    const double windows[] = {50, 100, 200, 300};
    const int index = judgement - perfect;
    if (index < 0 || index > 3) return distance >= windows[3] - 0.1;
    const double lower = index == 0 ? 0.0 : windows[index - 1];
    return distance <= windows[index] + 0.1 && distance >= lower - 0.1;
}

// The judgement's own clock reading lies between the two the record keeps.
bool judgementFitsPress(const TjudgedPress& press) {
    return judgementFits(press.judgement, press.earliestDifference) || judgementFits(press.judgement, press.difference);
}

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
    // A busy machine may hand a key over late; each press is then judged by its true distance.
    ScoreControl judged;
    judged.reset(song.rows);
    int32_t perfects = 0;
    // The judgement read the clock somewhere between the two readings the record keeps (setting
    // the window title in between can take a while on a slow X server); the title is that
    // reading rounded to whole ms.
    for (const TjudgedPress& press : result.presses) {
        EXPECT_TRUE(judgementFitsPress(press))
            << "judgement " << int{press.judgement} << " at " << press.earliestDifference << " to " << press.difference
            << " ms";
        const double title = std::stod(press.title);
        EXPECT_GE(title, press.earliestDifference - 0.5) << press.title;
        EXPECT_LE(title, press.difference + 0.5) << press.title;
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

// Autoplay presses every marker of a real chart (chords included) through the event queue, never
// before its perfect time; a busy machine may hand a press over late, which is then judged by its
// true distance. When every press was handled in time the song ends with the full score. (Which
// key autoplay presses, and when, is checked on exact times by the playback tests.)
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
    int32_t judged[9] = {};
    for (const TjudgedPress& press : result.presses) {
        EXPECT_GE(press.earliestDifference, -0.01) << "panel " << press.panel << " pressed early";
        EXPECT_TRUE(judgementFitsPress(press)) << "panel " << press.panel << " judgement " << int{press.judgement}
                                               << " at " << press.earliestDifference << " to " << press.difference;
        judged[press.judgement] += 1;
    }
    const ScoreControl& score = result.finalScore;
    int32_t scored = score.counters[missScored];
    for (const uint8_t judgement : {perfect, great, good, bad}) {
        EXPECT_EQ(score.counters[judgement], judged[judgement]) << "judgement " << int{judgement};
        scored += score.counters[judgement];
    }
    EXPECT_EQ(scored, markers) << "every marker is scored once";
    if (judged[perfect] == markers) {
        EXPECT_EQ(score.displayScore(), 900000);
        EXPECT_EQ(score.comboCount(), markers);
    } else {
        std::printf("the machine was busy: %d of %d presses were handled over 50 ms late\n", markers - judged[perfect],
                    markers);
    }
}
