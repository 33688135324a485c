// Song select's finder driven through its keys: the search box taking letters only while open,
// the wheel showing what was found, the finder kept in the settings file, and the jacket cache.
#include <gtest/gtest.h>

#include "engine/trellikGL38Engine.h"
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
    cache.uploadReady(1);  // the newest request was read first
    EXPECT_EQ(made.size(), 1u);
    cache.uploadReady(2);
    EXPECT_EQ(made.size(), 2u);  // the unreadable one makes none
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

}  // namespace
