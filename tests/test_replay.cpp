// A play kept and played again: the kept key-downs, and a replay that judges exactly as the play did.
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "platform/store/sha256.h"
#include "tests/support/testSupport.h"
#include "tests/test_playback_fixture.h"

namespace {

// A key-down of a scripted play: when on the music's clock, and which key index.
struct TscriptedPress {
    int32_t musicMs;
    int32_t keyIndex;
};

// Plays on a clock far ahead of the system's, so pushed keys stay in the pusher where the test
// reads them, and the music and the high-resolution clock move together ms by ms.
class TreplayTest : public TplaybackTest {
protected:
    static constexpr double base = 1e12;

    void SetUp() override {
        TplaybackTest::SetUp();
        addRow(3.0, {0, 5});
        addRow(4.0, {5});
        addRow(5.0, {10, 15});
        addRow(7.0, {3});
    }

    void startFromTheTop() {
        clock.highResolution = base;
        clock.musicPosition = 0;
        startPlaying(9000);
    }

    void stepTo(int32_t musicMs) {
        clock.musicPosition = musicMs;
        clock.highResolution = base + musicMs;
        playTickHandler(*game);
        advancePanels(*game, clock.highResolution);
    }

    uint16_t keyOf(int32_t keyIndex) const { return static_cast<uint16_t>(game->launch.keys[keyIndex]); }

    // Plays to the end of the music, pressing the scripted keys at their times.
    void playScript(const std::vector<TscriptedPress>& script) {
        startFromTheTop();
        size_t next = 0;
        for (int32_t ms = 1; !game->results.shown; ++ms) {
            stepTo(ms);
            for (; next < script.size() && script[next].musicMs == ms; ++next)
                pressKeyAt(keyOf(script[next].keyIndex), clock.highResolution);
        }
    }

    // Plays to the end of the music, handing over each key-down the replay scheduled when its
    // time comes, stamped with that time as the event queue would.
    void playReplay() {
        startFromTheTop();
        std::set<std::pair<double, uint16_t>> delivered;
        for (int32_t ms = 1; !game->results.shown; ++ms) {
            stepTo(ms);
            if (!game->replay.keys) continue;
            for (const TkeyPusher::Tpending& action : game->replay.keys->pending()) {
                if (!action.down || action.atMs > clock.highResolution) continue;
                if (delivered.insert({action.atMs, action.virtualKey}).second) pressKeyAt(action.virtualKey, action.atMs);
            }
        }
    }
};

}  // namespace

TEST_F(TreplayTest, EveryKeyDownIsKeptWithItsMusicTimeAndWhatItJudged) {
    game->launch.audioOffset = 7;
    playScript({{1000, 2}, {2957, 0}, {3050, 5}, {3200, 0}, {3900, 5}});
    const TkeptPlay kept = keptPlayOf(*game);
    ASSERT_EQ(kept.presses.size(), 5u);
    EXPECT_EQ(kept.presses[0].row, -1);
    EXPECT_EQ(kept.presses[0].judgement, 0);
    EXPECT_DOUBLE_EQ(kept.presses[0].musicMs, 1000.0);
    // The first row's perfect time is 2950 on the music's clock; the audio offset moves it to 2957.
    EXPECT_EQ(kept.presses[1].row, 0);
    EXPECT_EQ(kept.presses[1].judgement, perfect);
    EXPECT_NEAR(kept.presses[1].offsetMs, 0.0, 1e-6);
    EXPECT_EQ(kept.presses[2].panel, transposeIndex(5));
    EXPECT_NEAR(kept.presses[2].offsetMs, 93.0, 1e-6);
    // The panel already judged: a press that judges nothing, kept all the same.
    EXPECT_EQ(kept.presses[3].judgement, 0);
    EXPECT_EQ(kept.presses[4].row, 1);
    EXPECT_EQ(kept.audioOffset, 7);
    EXPECT_EQ(kept.source, TplaySource::player);
    EXPECT_EQ(kept.miss, 3);
}

TEST_F(TreplayTest, AReplayJudgesEveryPressAsTheKeptPlayDidUnderItsOwnOffsets) {
    game->launch.audioOffset = -12;
    game->launch.visualOffset = 30;
    playScript({{500, 1}, {2700, 5}, {2940, 0}, {3155, 5}, {3700, 10}, {4962, 15}, {5100, 10}, {7230, 3}});
    auto kept = std::make_shared<TkeptPlay>(keptPlayOf(*game));
    kept->id = 41;
    const std::vector<TpressRecord> judged = game->play.presses;
    const TplayResults figures = game->results.figures;
    pressKey(keyEnter);

    // The replay runs with the player's offsets of today; the kept ones must win.
    game->launch.audioOffset = 25;
    game->launch.visualOffset = 0;
    game->replay.play = kept;
    game->replay.keys = std::make_unique<TkeyPusher>();
    playReplay();

    ASSERT_EQ(game->play.presses.size(), judged.size());
    for (size_t i = 0; i < judged.size(); ++i) {
        EXPECT_EQ(game->play.presses[i].panel, judged[i].panel) << i;
        EXPECT_EQ(game->play.presses[i].row, judged[i].row) << i;
        EXPECT_EQ(game->play.presses[i].judgement, judged[i].judgement) << i;
        EXPECT_NEAR(game->play.presses[i].offsetMs, judged[i].offsetMs, 1e-6) << i;
    }
    EXPECT_EQ(game->results.figures.score, figures.score);
    EXPECT_EQ(game->results.figures.maxCombo, figures.maxCombo);
    EXPECT_EQ(game->play.keyDowns.size(), kept->presses.size());
    EXPECT_EQ(playSourceOf(*game), TplaySource::replay);
    EXPECT_EQ(game->results.suggestion, 0);
    pressKey(keyEnter);
    EXPECT_FALSE(game->replay.keys);
    EXPECT_EQ(audioOffsetInForce(*game), 25);
}

// A records file can be edited: kept presses off the grid or at no time are left out, not pressed.
TEST_F(TreplayTest, KeptPressesOffTheGridOrAtNoTimeAreLeftOut) {
    playScript({{2950, 0}});
    auto kept = std::make_shared<TkeptPlay>(keptPlayOf(*game));
    kept->presses.push_back({3000.0, 99, 0, perfect, 0.0});
    kept->presses.push_back({3000.0, -1, -1, 0, 0.0});
    kept->presses.push_back({3000.0, transposeIndex(5), 0, perfect, std::numeric_limits<double>::infinity()});
    pressKey(keyEnter);
    game->replay.play = kept;
    game->replay.keys = std::make_unique<TkeyPusher>();
    playReplay();
    ASSERT_EQ(game->play.keyDowns.size(), 1u);
    EXPECT_EQ(game->play.keyDowns[0].judgement, perfect);
}

TEST(RecordLine, NewBestOnlyForThePlayersOwnBetterPlays) {
    TkeptPlay play;
    play.score = 812000;
    EXPECT_EQ(recordLineFor(play, {}, 0), "NEW BEST +812000");
    EXPECT_EQ(recordLineFor(play, {true, 800000, TclearMark::cleared}, 0), "NEW BEST +12000");
    EXPECT_EQ(recordLineFor(play, {true, 812000, TclearMark::cleared}, 0), "");
    play.source = TplaySource::autoplay;
    EXPECT_EQ(recordLineFor(play, {}, 0), "AUTOPLAY: NOT A BEST");
    play.source = TplaySource::replay;
    EXPECT_EQ(recordLineFor(play, {}, 12), "REPLAY OF PLAY 12");
}

// A game folder with one song's chart and a records file, as the game finds them at a run.
class TkeptPlaysTest : public ::testing::Test {
protected:
    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    TtrellikGL game;

    void SetUp() override {
        ::mkdir("sng", 0755);
        writeFile("sng/alpha2.txt", "a chart\n");
        game.songs.songs.resize(1);
        game.songs.songs[0].name = "alpha";
        game.window = std::make_unique<TopenGLEngine>();
        game.results.difficulty = colourIndex(game.window->customCommands);
        openRecords(game, folder.file("records.sqlite3"));
        game.play.chartSha256 = fileSha256("sng/alpha2.txt");
    }

    std::string keepScore(int32_t score) {
        game.results.figures.score = score;
        return keepPlay(game);
    }
};

TEST_F(TkeptPlaysTest, OnlyThePlayersOwnBetterPlaysMakeTheBestSongSelectShows) {
    game.autoplay = std::make_unique<TkeyPusher>();
    EXPECT_EQ(keepScore(900000), "AUTOPLAY: NOT A BEST");
    EXPECT_FALSE(selectedBest(game).exists);
    game.autoplay.reset();
    EXPECT_EQ(keepScore(600000), "NEW BEST +600000");
    EXPECT_EQ(keepScore(550000), "");
    EXPECT_EQ(selectedBest(game).score, 600000);
    EXPECT_EQ(keepScore(640000), "NEW BEST +40000");
    EXPECT_EQ(selectedBest(game).score, 640000);
    EXPECT_EQ(game.records->plays("alpha").size(), 4u);
}

TEST_F(TkeptPlaysTest, AReplayIsRefusedWhenItsChartChangedOrIsGone) {
    TkeptPlay play = keptPlayOf(game);
    play.id = 9;
    EXPECT_EQ(replayRefusal(play), "");
    writeFile("sng/alpha2.txt", "another chart\n");
    EXPECT_EQ(replayRefusal(play),
              "Play 9 cannot be replayed: its chart sng\\alpha2.txt has changed since it was played (its SHA-256 "
              "differs).");
    ::unlink("sng/alpha2.txt");
    EXPECT_EQ(replayRefusal(play), "Play 9 cannot be replayed: its chart sng\\alpha2.txt cannot be read.");
    writeFile("sng/alpha2.txt", "a chart\n");
    play.practice = true;
    EXPECT_EQ(replayRefusal(play), "Play 9 cannot be replayed: it is a practice play, which loops bars a replay does not.");
    // Refused before the song starts: no replay keys, so no full play from the practice presses.
    game.replay.play = std::make_shared<TkeptPlay>(play);
    startReplay(game);
    EXPECT_FALSE(game.replay.keys);
    EXPECT_FALSE(game.replay.play);
}
