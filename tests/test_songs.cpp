// The song catalogue: songs and difficulties from chart file names, jackets, the console table.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "content/trellikSongListLoaderCode.h"
#include "tests/support/testSupport.h"
#include "tests/test_songsAndSkinsSteps.h"

namespace {

class Catalogue : public ::testing::Test {
protected:
    void touch(const std::string& name) { writeFile(folder.file(name), "x"); }
    std::string songFolderPath() const { return folder.path() + "/"; }
    void load() { loadSongsWith(*catalogue, songFolderPath(), recording.steps()); }
    // The console row of song k (after the title and the three header rows).
    std::string row(int k) const { return recording.rows().at(4 + k); }

    TtemporaryFolder folder;
    std::unique_ptr<TsongsLoadingData> catalogue = std::make_unique<TsongsLoadingData>();
    TrecordingSteps recording;
};

std::string songRow(const std::string& name, const std::string& difficulties) {
    return std::string("| ") + name + std::string(45 - name.size(), ' ') + "|  " + difficulties + " |";
}

}  // namespace

TEST_F(Catalogue, ChartFilesMakeSongsAndShowTheirDifficulties) {
    touch("song0.txt");
    touch("song2.txt");
    touch("abc1.txt");
    touch("abc10.txt");
    touch("cut.txt");
    touch("cut5.txt");
    touch("music.mp3");
    load();
    // A chart name without a difficulty digit (0, 1 or 2) before ".txt" makes no song.
    ASSERT_EQ(getLastIndex(*catalogue), 2);
    EXPECT_EQ(getSongName(*catalogue, 0), "abc");
    EXPECT_EQ(getSongName(*catalogue, 1), "abc1");
    EXPECT_EQ(getSongName(*catalogue, 2), "song");
    EXPECT_EQ(row(0), songRow("abc", "    ADV     "));
    EXPECT_EQ(row(1), songRow("abc1", "BSC         "));
    EXPECT_EQ(row(2), songRow("song", "BSC     EXT "));
    EXPECT_EQ(recording.refreshes, 3);
}

// A name written with decomposed accents shows its letters and keeps the table's columns.
TEST_F(Catalogue, DecomposedAccentsShowComposedInTheTable) {
    touch("Cafe\u0301 Noe\u0308l0.txt");
    load();
    ASSERT_EQ(getLastIndex(*catalogue), 0);
    EXPECT_EQ(getSongName(*catalogue, 0), "Cafe\u0301 Noe\u0308l");  // the files keep their own name
    EXPECT_EQ(row(0), "| Café Noël" + std::string(45 - 9, ' ') + "|  BSC          |");
}

TEST_F(Catalogue, TableRowsAreSixtyFourCharactersWide) {
    touch("song0.txt");
    touch("song1.txt");
    touch("song2.txt");
    load();
    const std::vector<std::string> rows = recording.rows();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0], "Loading songs:");
    EXPECT_EQ(rows[2], "| Song Name:                                   | Difficulties: |");
    EXPECT_EQ(rows[4], "| song                                         |  BSC ADV EXT  |");
    EXPECT_EQ(rows[5], "|--------------------------------------------------------------|");
    EXPECT_EQ(rows[6], "| 1 songs loaded                                               |");
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].size(), 64u) << rows[i];
}

TEST_F(Catalogue, TableRowsPadNamesByCharactersNotBytes) {
    touch("Café Ünïcode ♪0.txt");
    load();
    EXPECT_EQ(row(0), "| Café Ünïcode ♪" + std::string(45 - 14, ' ') + "|  BSC          |");
}

TEST_F(Catalogue, BmpJacketWinsAndSongsWithoutOneGetTheDefault) {
    touch("a0.txt");
    touch("a.tga");
    touch("a.jpg");
    touch("a.bmp");
    touch("b0.txt");
    touch("b.TGA");
    touch("c0.txt");
    touch("d0.txt");
    load();
    EXPECT_EQ(recording.loadedPaths,
              (std::vector<std::string>{songFolderPath() + "a.bmp", songFolderPath() + "b.tga"}));
    EXPECT_EQ(recording.fetchedPaths, (std::vector<std::string>{"gfx\\defaultCover.jpg", "gfx\\defaultCover.jpg"}));
    EXPECT_EQ(getSongCover(*catalogue, 0), 1u);
    EXPECT_EQ(getSongCover(*catalogue, 2), 3u);
    EXPECT_EQ(getSongCover(*catalogue, 3), 4u);
}

TEST_F(Catalogue, EmptyFolderHasNoSongs) {
    load();
    EXPECT_EQ(getLastIndex(*catalogue), -1);
    const std::vector<std::string> rows = recording.rows();
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[5], "| 0 songs loaded                                               |");
    EXPECT_EQ(getSongName(*catalogue, 0), "");
    EXPECT_EQ(getSongCover(*catalogue, -1), 0u);
    EXPECT_EQ(getSongName(*catalogue, 101), "");
}

TEST_F(Catalogue, SongsBeyondTheOldRoomOfOneHundredAndOneAreAllKept) {
    for (int i = 0; i < 103; ++i) touch(std::string("s") + std::to_string(1000 + i) + "0.txt");
    load();
    EXPECT_EQ(getLastIndex(*catalogue), 102);
    EXPECT_EQ(getSongName(*catalogue, 102), "s1102");
    const std::vector<std::string> rows = recording.rows();
    EXPECT_EQ(rows[rows.size() - 2], "| 103 songs loaded                                             |");
}

TEST_F(Catalogue, ANameWithABackslashIsSkippedWithALine) {
    touch("back\\slash0.txt");
    touch("plain0.txt");
    load();
    ASSERT_EQ(getLastIndex(*catalogue), 0);
    EXPECT_EQ(getSongName(*catalogue, 0), "plain");
    EXPECT_EQ(recording.rows().back(), "Skipped the song \"back\\slash\": a \"\\\" in a file name cannot be opened.");
}

TEST(SongDifficulties, OnlyNamePlusOneDigitPlusTxtCounts) {
    const std::string files[] = {"x0.txt", "x3.txt", "xa.txt", "X1.txt", "x2.txt", "x12.txt"};
    const TsongDisplayInfo info = songDisplayInfo("x", files, 6);
    EXPECT_TRUE(info.hasChart[0]);
    EXPECT_FALSE(info.hasChart[1]);
    EXPECT_TRUE(info.hasChart[2]);
}

TEST_F(Catalogue, UpToTheTableLimitEverySongHasARowAndItsOwnDefaultJacketBeyondItOneLineAndOneShared) {
    for (int i = 0; i < songTableLimit - 1; ++i) touch(std::string("s") + std::to_string(1000 + i) + "0.txt");
    load();
    EXPECT_EQ(recording.rows().size(), static_cast<size_t>(songTableLimit - 1 + 7));
    touch("s20000.txt");
    recording = TrecordingSteps{};
    load();
    EXPECT_EQ(recording.rows().size(), static_cast<size_t>(songTableLimit + 7));
    EXPECT_EQ(recording.fetchedPaths.size(), static_cast<size_t>(songTableLimit));
    touch("s20010.txt");
    recording = TrecordingSteps{};
    load();
    EXPECT_EQ(recording.rows(),
              (std::vector<std::string>{"Loading songs: 201 songs loaded; groups: 0, read: 201, from the song cache: 0."}));
    EXPECT_EQ(recording.refreshes, 1);
    EXPECT_EQ(recording.fetchedPaths, std::vector<std::string>{"gfx\\defaultCover.jpg"});
    EXPECT_EQ(getSongCover(*catalogue, 0), getSongCover(*catalogue, songTableLimit));
}

TEST_F(Catalogue, SongsOfASubFolderShowTheirGroupInTheTable) {
    touch("seed0.txt");
    std::filesystem::create_directories(folder.file("Pack"));
    touch("Pack/song1.txt");
    touch("Pack/song.jpg");
    load();
    EXPECT_EQ(row(0), songRow("seed", "BSC         "));
    EXPECT_EQ(row(1), songRow("Pack/song", "    ADV     "));
    EXPECT_EQ(getSongName(*catalogue, 1), "Pack\\song");
    EXPECT_EQ(recording.loadedPaths, (std::vector<std::string>{songFolderPath() + "Pack\\song.jpg"}));
}
