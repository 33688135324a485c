// Song select's finder driven through its keys: the search box taking letters only while open,
// the wheel showing what was found, the finder kept in the settings file, and the jacket cache.
#include <gtest/gtest.h>

#include "engine/trellikGL38Engine.h"
#include "platform/store/recordsDatabase.h"
#include "platform/store/settingsStore.h"
#include "tests/support/testSupport.h"

namespace {

constexpr uint16_t backspace = 8;
constexpr uint16_t tab = 9;

class SongWheel : public ::testing::Test {
protected:
    TtemporaryFolder folder;
    std::unique_ptr<TtrellikGL> game = newGame();

    std::unique_ptr<TtrellikGL> newGame() const {
        auto made = std::make_unique<TtrellikGL>();
        const LaunchParameters parameters = defaultLaunchParameters("");
        for (int i = 0; i < 16; ++i) made->launch.keys[i] = parameters.keys[i];
        made->launch.settingsFile = folder.file("settings.json");
        for (const char* name : {"Zebra", "Café", "apple", "Cafe Noir"}) {
            Tsong song;
            song.name = name;
            made->songs.songs.push_back(song);
        }
        prepareSongWheel(*made);
        return made;
    }
    void type(const std::string& keys) {
        for (const char key : keys) songSelectKeys(*game, static_cast<uint16_t>(key), 0.0);
    }
    void press(uint16_t key) { songSelectKeys(*game, key, 0.0); }
    const std::vector<int32_t>& shown() const { return game->wheel.shown; }
};

TEST_F(SongWheel, LettersSearchOnlyWhileTheBoxIsOpen) {
    type("R");  // a panel key: the song in its slot, no search
    EXPECT_EQ(game->menu.selectedSong, 1);
    EXPECT_EQ(shown(), (std::vector<int32_t>{0, 1, 2, 3}));

    press(slashKey);
    type("CAFE");
    EXPECT_EQ(game->wheel.finder.query, "cafe");
    EXPECT_EQ(shown(), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(game->menu.selectedSong, 1);  // still shown, still selected
    type(" N");
    EXPECT_EQ(shown(), (std::vector<int32_t>{3}));
    EXPECT_EQ(game->menu.selectedSong, 3);
    press(backspace);
    press(backspace);
    EXPECT_EQ(shown(), (std::vector<int32_t>{1, 3}));
    press(keyEnter);
    EXPECT_FALSE(game->wheel.searchOpen);
    type("4");  // panels work again, on the songs shown
    EXPECT_EQ(game->menu.selectedSong, 1);

    press(slashKey);
    type("Q");
    EXPECT_TRUE(shown().empty());
    EXPECT_EQ(game->menu.selectedSong, 1);  // nothing found keeps the selection
    EXPECT_FALSE(songSelectKeys(*game, keyEscape, 0.0));  // Escape clears the box, not the run
    EXPECT_EQ(shown(), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(songSelectKeys(*game, keyEscape, 0.0));
}

TEST_F(SongWheel, TheFinderIsKeptBetweenRuns) {
    press(tab);  // sorted by name
    EXPECT_EQ(shown(), (std::vector<int32_t>{2, 1, 3, 0}));
    press(slashKey);
    type("CAF");
    press(keyEnter);
    game = newGame();
    EXPECT_EQ(game->wheel.finder.query, "caf");
    EXPECT_EQ(game->wheel.finder.sort, TsongSort::name);
    EXPECT_EQ(shown(), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(game->menu.selectedSong, 1);
}

TEST_F(SongWheel, KeptValuesOutsideTheirRangesReadAsDefaults) {
    // value kept, then the lowest level, highest level and sort read back
    const std::tuple<int32_t, int32_t, int32_t, int32_t> cases[] = {
        {0, 1, 10, 0}, {1, 1, 10, 1}, {10, 10, 10, 0}, {11, 1, 10, 0}, {-1, 1, 10, 0}, {6, 6, 10, 6}, {7, 7, 10, 0},
    };
    for (const auto& [value, lowest, highest, sort] : cases) {
        TsettingsStore store(folder.file("settings.json"));
        store.writeInteger("songLevelMin", value);
        store.writeInteger("songSort", value);
        store.writeInteger("songSearchKey", value + 100);
        store.save();
        TsongFinder finder;
        uint16_t searchKey = 0;
        readKeptFinder(folder.file("settings.json"), finder, searchKey);
        EXPECT_EQ(finder.levelMin, lowest) << value;
        EXPECT_EQ(finder.levelMax, highest) << value;
        EXPECT_EQ(static_cast<int32_t>(finder.sort), sort) << value;
        EXPECT_EQ(searchKey, value + 100) << value;
    }
    const std::tuple<int32_t, uint16_t, size_t> keysAndQueries[] = {{0, 0, 39}, {1, 1, 40}, {255, 255, 0}, {256, 0, 0}};
    for (const auto& [key, searchKey, queryLength] : keysAndQueries) {
        TsettingsStore store(folder.file("settings.json"));
        store.writeInteger("songSearchKey", key);
        store.writeString("songSearch", std::string(queryLength + (queryLength == 0 ? 41 : 0), 'a'));
        store.save();
        TsongFinder finder;
        uint16_t readKey = 7;
        readKeptFinder(folder.file("settings.json"), finder, readKey);
        EXPECT_EQ(readKey, searchKey) << key;
        EXPECT_EQ(finder.query.size(), queryLength) << key;
    }
}

// Every letter the fixture's names begin with, typed as its key: the last letter of the
// alphabet reaches the box like the first.
TEST_F(SongWheel, EveryLetterKeyTypesItsLetter) {
    press(slashKey);
    type("Z");
    EXPECT_EQ(game->wheel.finder.query, "z");
    EXPECT_EQ(shown(), (std::vector<int32_t>{0}));
    press(backspace);
    type("A");
    EXPECT_EQ(shown(), (std::vector<int32_t>{0, 1, 2, 3}));  // every name holds an "a"
    press(backspace);
    type("ZEBRA");
    EXPECT_EQ(game->wheel.finder.query, "zebra");
    EXPECT_EQ(shown(), (std::vector<int32_t>{0}));
    press(keyEscape);
    EXPECT_TRUE(game->wheel.finder.query.empty());
}

// Text from the window's text input types any script; the text of a key that already opened the
// box or typed its letter is not taken twice, and once text comes, keys type nothing themselves.
TEST_F(SongWheel, TypedTextTakesAnyScriptOnceAndFitsTheBox) {
    game->songs.songs.push_back(Tsong{});
    game->songs.songs.back().name = "東京 Nights";
    prepareSongWheel(*game);
    press(slashKey);
    type("Z");
    songFinderText(*game, "z");
    EXPECT_EQ(game->wheel.finder.query, "z");
    type("E");  // only text types now
    songFinderText(*game, "e");
    EXPECT_EQ(game->wheel.finder.query, "ze");
    press(keyEscape);
    press(slashKey);
    songFinderText(*game, "/");  // the text of the key that opened the box
    EXPECT_EQ(game->wheel.finder.query, "");
    songFinderText(*game, "/");  // typed in the box
    EXPECT_EQ(game->wheel.finder.query, "/");
    press(backspace);
    songFinderText(*game, "東京");
    EXPECT_EQ(shown(), (std::vector<int32_t>{4}));
    songFinderText(*game, "\x01");
    EXPECT_EQ(game->wheel.finder.query, "東京");
    // 40 bytes at most, cut before a whole character.
    game->wheel.finder.query = std::string(37, 'a');
    songFinderText(*game, "京");
    EXPECT_EQ(game->wheel.finder.query.size(), 40u);
    game->wheel.finder.query = std::string(38, 'a');
    songFinderText(*game, "京");
    EXPECT_EQ(game->wheel.finder.query, std::string(38, 'a'));
    press(keyEnter);
    songFinderText(*game, "q");  // the box is closed
    EXPECT_EQ(game->wheel.finder.query, std::string(38, 'a'));
}

// A kept player play on the fixture's first song, easy chart.
TkeptPlay playOnZebra(int32_t rateHundredths, int32_t score, int32_t perfect) {
    TkeptPlay play;
    play.chartSha256 = std::string(64, 'a');
    play.song = "Zebra";
    play.markerCount = 10;
    play.perfect = perfect;
    play.miss = 10 - perfect;
    play.score = score;
    play.rateHundredths = rateHundredths;
    return play;
}

// A slow ALL PERFECT is no full combo at full speed: the score order and the clear filters take
// the bests of the rate chosen, and choosing another rate reads them again.
TEST_F(SongWheel, BestsAndClearsAreThoseOfTheChosenRate) {
    game->records = std::make_unique<TrecordsDatabase>(folder.file("records.sqlite3"));
    ASSERT_TRUE(game->records->isOpen());
    ASSERT_GT(game->records->addPlay(playOnZebra(50, 900000, 10)), 0);
    ASSERT_GT(game->records->addPlay(playOnZebra(100, 300000, 3)), 0);
    game->songs.songs[0].hasChart[0] = true;
    game->songs.songs[0].charts[0].sha256 = std::string(64, 'a');
    game->wheel.finder.clear = TclearFilter::fullCombo;
    game->wheel.recordsStale = true;  // as when a play is kept
    // rate chosen, then the best score and clear song select takes for the chart
    const std::tuple<int32_t, int32_t, int32_t> rates[] = {
        {100, 300000, static_cast<int32_t>(TclearMark::played)},
        {50, 900000, static_cast<int32_t>(TclearMark::allPerfect)},
        {45, -1, noClear},
        {55, -1, noClear},
        {100, 300000, static_cast<int32_t>(TclearMark::played)},
    };
    for (const auto& [rate, score, clear] : rates) {
        game->practice.choice.rateHundredths = rate;
        updateSongWheel(*game);
        ASSERT_EQ(game->wheel.facts.size(), 4u);
        EXPECT_EQ(game->wheel.facts[0].bestScore[0], score) << rate;
        EXPECT_EQ(game->wheel.facts[0].clear[0], clear) << rate;
        EXPECT_EQ(shown().size(), rate == 50 ? 1u : 0u) << rate;
    }
}

// A 2 x 2 TGA of one grey.
void writeJacket(const std::string& path, uint8_t grey) {
    std::string bytes(18, '\0');
    bytes[2] = 2;
    bytes[12] = bytes[14] = 2;
    bytes[16] = 24;
    bytes += std::string(12, static_cast<char>(grey));
    writeFile(path, bytes);
}

TEST(JacketCache, ReadsWhenAskedAndDropsTheLeastRecentlyUsed) {
    TtemporaryFolder folder;
    std::vector<uint32_t> made, dropped;
    const TjacketTextures steps = {[&made](const TjacketImage&) {
                                       made.push_back(static_cast<uint32_t>(made.size() + 1));
                                       return made.back();
                                   },
                                   [&dropped](uint32_t texture) { dropped.push_back(texture); }};
    TjacketCache cache(steps, 2, false);
    for (int song = 0; song < 3; ++song) writeJacket(folder.file(std::to_string(song) + ".tga"), 40);
    const auto path = [&folder](int song) { return folder.file(std::to_string(song) + ".tga"); };

    EXPECT_EQ(cache.textureFor(0, path(0)), 0u);
    EXPECT_EQ(cache.textureFor(1, path(1)), 0u);
    cache.decodeWaiting();
    cache.prefetch(9, folder.file("missing.tga"));
    cache.decodeWaiting();
    cache.uploadReady(1);  // the newest asked for first: the unreadable one makes none
    EXPECT_EQ(made.size(), 0u);
    cache.uploadReady(2);
    EXPECT_EQ(made.size(), 2u);
    EXPECT_EQ(cache.textureFor(1, path(1)), 1u);
    EXPECT_EQ(cache.textureFor(0, path(0)), 2u);
    cache.prefetch(9, folder.file("missing.tga"));  // never asked for again
    EXPECT_EQ(cache.textureFor(2, path(2)), 0u);
    cache.decodeWaiting();
    cache.uploadReady(2);
    EXPECT_EQ(dropped, (std::vector<uint32_t>{1}));  // song 1 was used least recently
    EXPECT_EQ(cache.textureCount(), 2u);
    EXPECT_EQ(cache.textureFor(2, path(2)), 3u);

    // Requests beyond the capacity drop the oldest: what scrolled by is asked for again later.
    for (int song = 3; song < 6; ++song) cache.prefetch(song, path(2));
    cache.decodeWaiting();
    cache.uploadReady(3);
    EXPECT_EQ(made.size(), 5u);
    EXPECT_EQ(cache.textureFor(3, path(2)), 0u);
}

// A fast scroll asks for far more jackets than the frames can make textures of: no more than a
// few read jackets wait, and those asked for last (the ones on screen) are made first.
TEST(JacketCache, ReadJacketsWaitingAreBoundedAndTheNewestAreMadeFirst) {
    TtemporaryFolder folder;
    std::vector<TjacketImage> made;
    const TjacketTextures steps = {[&made](const TjacketImage& image) {
                                       made.push_back(image);
                                       return static_cast<uint32_t>(made.size());
                                   },
                                   [](uint32_t) {}};
    TjacketCache cache(steps, jacketCacheCapacity, false);
    const int32_t asked = 20;
    for (int32_t song = 0; song < asked; ++song) {
        const std::string path = folder.file(std::to_string(song) + ".tga");
        writeJacket(path, static_cast<uint8_t>(song));
        cache.prefetch(song, path);
    }
    cache.decodeWaiting();
    EXPECT_EQ(cache.decodedCount(), decodedLimit);
    cache.uploadReady(2);
    ASSERT_EQ(made.size(), 2u);
    ASSERT_FALSE(made[0].levels.empty());
    ASSERT_FALSE(made[1].levels.empty());
    EXPECT_EQ(made[0].levels.back().front(), asked - 1);
    EXPECT_EQ(made[1].levels.back().front(), asked - 2);
    EXPECT_EQ(cache.decodedCount(), decodedLimit - 2);
    cache.decodeWaiting();
    EXPECT_EQ(cache.decodedCount(), decodedLimit);
    for (int frame = 0; frame < asked; ++frame) {
        cache.uploadReady(jacketUploadsPerFrame);
        cache.decodeWaiting();
        EXPECT_LE(cache.decodedCount(), decodedLimit);
    }
    EXPECT_EQ(cache.textureCount(), static_cast<size_t>(asked));
}

}  // namespace
