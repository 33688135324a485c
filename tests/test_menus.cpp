// Song select and marker select driven through their key handlers: the wheel's slots and wrap,
// the difficulty cycle, the preview choice, GO, and the skin keys.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "platform/sound/soundEngine.h"
#include "tests/support/testSupport.h"
#include "tests/test_title_gameFolder.h"

namespace {

class TmenuTest : public ::testing::Test {
protected:
    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    std::unique_ptr<TtrellikGL> game = std::make_unique<TtrellikGL>();

    void SetUp() override {
        game->window = std::make_unique<TopenGLEngine>();
        resetColours(game->window->customCommands);
        const LaunchParameters parameters = defaultLaunchParameters("test");
        for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
        setSongs(5);
        installScene(*game, songSelectScene);
    }

    void setSongs(int count) {
        game->songs.songs.resize(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) game->songs.songs[i].name = "song" + std::to_string(i);
    }

    bool press(uint16_t key) const {
        const TkeyEvent handler = game->window->onKeyDown;
        return handler(key, activeClock().highResolutionMs());
    }
    int32_t difficulty() const { return colourIndex(game->window->customCommands); }
    int32_t selected() const { return game->menu.selectedSong; }
    // Only play installs a key-up handler; the menus leave the slot empty.
    bool songStarted() const { return static_cast<bool>(game->window->onKeyUp); }
    // Escape ends the run in song select and leaves marker select without ending it.
    bool inSongSelect() const { return press(keyEscape); }
};

// The keys of the default layout by row and column.
uint16_t keyAt(int row, int column) {
    const char keys[4][5] = {"4567", "RTYU", "FGHJ", "VBNM"};
    return static_cast<uint16_t>(keys[row][column]);
}

// The song whose jacket the wheel, once eased, shows on the panel at row and column; -1 for none.
int32_t songDrawnAt(const TtrellikGL& game, int row, int column) {
    const double pitch = game.layout.pitch;
    const double x = column * pitch - 1.5 * pitch;
    for (const TwheelJacket& jacket : wheelJackets(game))
        if (std::abs(jacket.x - x) < pitch / 2 && jacket.song % 3 == row) return jacket.song;
    return -1;
}

const uint16_t scrollLeftKey = 'V';
const uint16_t scrollRightKey = 'B';
const uint16_t markerKey = 'N';
const uint16_t goKey = 'M';

}  // namespace

TEST_F(TmenuTest, JacketKeysCountDownColumnsAndWrapRoundTheRing) {
    EXPECT_FALSE(press(keyAt(1, 1)));
    EXPECT_EQ(selected(), 4);
    press(keyAt(2, 1));  // slot 5 of a ring of six is empty
    EXPECT_EQ(selected(), 4);
    EXPECT_EQ(difficulty(), 2);
    press(keyAt(0, 2));  // slot 6 is slot 0 again
    EXPECT_EQ(selected(), 0);
    press(keyAt(2, 3));  // slot 11 is slot 5: empty
    EXPECT_EQ(selected(), 0);
}

TEST_F(TmenuTest, ScrollingPastTheEndJumpsAWholeRing) {
    for (int i = 0; i < 3; ++i) press(scrollLeftKey);
    EXPECT_EQ(game->menu.wheelScroll, -1);
    EXPECT_NEAR(game->menu.wheelTarget, -1.4, 1e-12);
    EXPECT_NEAR(game->menu.wheelPosition, 2.8, 1e-12);
    press(keyAt(0, 0));  // with the wheel one column left, the first column shows slot 3
    EXPECT_EQ(selected(), 3);

    game->menu = TmenuState{};
    for (int i = 0; i < 3; ++i) press(scrollRightKey);
    EXPECT_EQ(game->menu.wheelScroll, 1);
    EXPECT_NEAR(game->menu.wheelTarget, 1.4, 1e-12);
    EXPECT_NEAR(game->menu.wheelPosition, -2.8, 1e-12);
    press(keyAt(1, 1));  // slot 4 - 3 = 1
    EXPECT_EQ(selected(), 1);
}

TEST_F(TmenuTest, EveryJacketKeySelectsTheSongDrawnUnderItAtEveryCatalogueSize) {
    std::mt19937 random(16);
    for (int count = 1; count <= 130; ++count) {
        setSongs(count);
        game->menu = TmenuState{};
        // Past both ends of the ring, then a random walk.
        const int columns = (count - 1) / 3 + 1;
        std::vector<uint16_t> presses(2 * columns + 2, scrollLeftKey);
        presses.insert(presses.end(), 4 * columns + 4, scrollRightKey);
        for (int i = 0; i < 40; ++i) presses.push_back(random() % 2 ? scrollLeftKey : scrollRightKey);
        for (const uint16_t scroll : presses) {
            press(scroll);
            game->menu.wheelPosition = game->menu.wheelTarget;
            for (int row = 0; row < 3; ++row)
                for (int column = 0; column < 4; ++column) {
                    const int32_t drawn = songDrawnAt(*game, row, column);
                    // A full ring leaves no slot empty.
                    if (count % 3 == 0) {
                        EXPECT_NE(drawn, -1) << count << " songs, scroll " << game->menu.wheelScroll;
                    }
                    game->menu.selectedSong = -1;
                    press(keyAt(row, column));
                    ASSERT_EQ(selected(), drawn) << count << " songs, scroll " << game->menu.wheelScroll << ", row "
                                                 << row << ", column " << column;
                }
        }
    }
}

TEST_F(TmenuTest, WheelTimerEasesASeventhOfTheWayEachTick) {
    press(scrollRightKey);
    easeWheel(*game);
    EXPECT_DOUBLE_EQ(game->menu.wheelPosition, 0.2);
    easeWheel(*game);
    EXPECT_DOUBLE_EQ(game->menu.wheelPosition, 0.2 + 1.2 / 7);
}

TEST_F(TmenuTest, SelectedJacketCyclesTheDifficultyWithoutRestartingThePreview) {
    const std::string click = readFile(std::string(TRELLIK_SOURCE_DIR) + "/tests/corpus/mp3/click.mp3");
    writeInFolder(folder.path(), "sng/song0_prev.mp3", click);
    Tstream music;
    game->audio.music = &music;
    selectSong(*game, 0);
    ASSERT_GT(music.lengthMS(), 0);
    // Gone now: a preview that restarted would find nothing to play.
    std::remove(folder.file("sng/song0_prev.mp3").c_str());
    for (const int32_t expected : {0, 1, 2}) {
        press(keyAt(0, 0));
        EXPECT_EQ(difficulty(), expected);
        EXPECT_EQ(selected(), 0);
    }
    EXPECT_GT(music.lengthMS(), 0);
    press(keyAt(0, 0));
    press(keyAt(1, 0));
    EXPECT_EQ(selected(), 1);
    EXPECT_EQ(difficulty(), 0);
    EXPECT_EQ(music.lengthMS(), 0);
    game->audio = TgameSounds{};
}

TEST_F(TmenuTest, PreviewIsTheSongsPreviewElseItsMusicElseTheMenuMusic) {
    writeInFolder(folder.path(), "SNG/Both_Prev.MP3", "x");
    writeInFolder(folder.path(), "sng/both.mp3", "x");
    writeInFolder(folder.path(), "sng/music.mp3", "x");
    EXPECT_EQ(previewFile("both"), "sng\\both_prev.mp3");
    EXPECT_EQ(previewFile("music"), "sng\\music.mp3");
    EXPECT_EQ(previewFile("none"), "snd\\mainmenu.mp3");
}

TEST_F(TmenuTest, GoStartsOnlyAChartThatLoads) {
    // A short grid row throws the blocks out of line.
    writeInFolder(folder.path(), "sng/song02.txt", "1--- |(120)1|\r\n12\r\n----\r\n----\r\n----\r\n");
    EXPECT_EQ(chartFileName(*game), "sng\\song02.txt");
    EXPECT_FALSE(press(goKey));
    EXPECT_FALSE(songStarted());
    press(keyAt(0, 0));  // difficulty 0: no file
    EXPECT_FALSE(press(goKey));
    EXPECT_FALSE(songStarted());
    EXPECT_TRUE(inSongSelect());

    writeInFolder(folder.path(), "sng/song00.txt", playableChart());
    writeInFolder(folder.path(), "sng/song0.mp3", "x");
    EXPECT_FALSE(press(goKey));
    EXPECT_TRUE(songStarted());
    EXPECT_EQ(game->chart.markerCount, 4);
}

// A chart without its music would end at once, every marker missed, and be kept as a best of 0:
// GO says why it does not start, until another song is selected.
TEST_F(TmenuTest, GoStartsNoSongWithoutItsMusic) {
    writeInFolder(folder.path(), "sng/song02.txt", playableChart());
    writeInFolder(folder.path(), "sng/song0_prev.mp3", "x");
    EXPECT_FALSE(press(goKey));
    EXPECT_FALSE(songStarted());
    EXPECT_EQ(game->wheel.notice, "NO MUSIC: song0.mp3 IS MISSING");
    press(keyAt(1, 0));
    EXPECT_EQ(game->wheel.notice, "");
    press(keyAt(0, 0));
    writeInFolder(folder.path(), "sng/song0.mp3", "x");
    EXPECT_FALSE(press(goKey));
    EXPECT_TRUE(songStarted());
}

TEST_F(TmenuTest, ASongOfAGroupStartsFromItsSubFolder) {
    game->songs.songs[0].group = "Pack";
    writeInFolder(folder.path(), "sng/Pack/song02.txt", playableChart());
    writeInFolder(folder.path(), "sng/Pack/song0.mp3", "x");
    EXPECT_EQ(chartFileName(*game), "sng\\Pack\\song02.txt");
    EXPECT_FALSE(press(goKey));
    EXPECT_TRUE(songStarted());
}

TEST_F(TmenuTest, AnEmptySongListSelectsNothingAndStartsNothing) {
    setSongs(0);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column) press(keyAt(row, column));
    EXPECT_EQ(selected(), 0);
    EXPECT_EQ(difficulty(), 2);
    press(scrollLeftKey);
    press(scrollLeftKey);
    EXPECT_EQ(game->menu.wheelScroll, -1);
    press(goKey);
    EXPECT_FALSE(songStarted());
}

TEST_F(TmenuTest, MarkerSelectOffersTwelveSkinsAtMost) {
    game->markers.nameCount = 13;
    EXPECT_FALSE(press(markerKey));
    bool offered[13] = {};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column) {
            press(keyAt(row, column));
            const int32_t skin = game->menu.selectedMarker;
            EXPECT_EQ(skin, row + 3 * column);
            offered[skin] = true;
        }
    for (int skin = 0; skin < 12; ++skin) EXPECT_TRUE(offered[skin]) << skin;
    EXPECT_FALSE(offered[12]);
    EXPECT_FALSE(press(markerKey));
    EXPECT_TRUE(inSongSelect());
    EXPECT_EQ(game->menu.selectedMarker, 11);
}

TEST_F(TmenuTest, MarkerSelectIgnoresKeysBeyondTheSkinsAndLeavesOnEscape) {
    game->markers.nameCount = 2;
    press(markerKey);
    press(keyAt(1, 0));
    EXPECT_EQ(game->menu.selectedMarker, 1);
    press(keyAt(2, 0));
    press(keyAt(0, 1));
    EXPECT_EQ(game->menu.selectedMarker, 1);
    press(scrollLeftKey);
    EXPECT_EQ(game->menu.wheelScroll, 0);
    EXPECT_FALSE(press(keyEscape));
    EXPECT_TRUE(inSongSelect());
}
