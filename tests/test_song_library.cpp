// The song library: sub-folder groups, chart summaries, and the song cache on disk (used when
// nothing changed, brought up to date song by song, rebuilt when damaged).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "content/chartSummary.h"
#include "content/songLibrary.h"
#include "content/trellikSongListLoaderCode.h"
#include "platform/store/sha256.h"
#include "tests/support/testSupport.h"

namespace fs = std::filesystem;

namespace {

// One block: a marker at 0 s at 60 beats a minute, one a beat later at 1 s at 120.
const std::string twoTempoChart = "1--- |(60)1|\n----\n----\n--2- |(120)2|\n";
// A short grid row throws the blocks out of line: the game refuses the chart.
const std::string refusedChart = "1--- |(120)1|\n12\n----\n----\n----\n";

class SongLibrary : public ::testing::Test {
protected:
    SongLibrary() { fs::create_directories(songs()); }

    std::string songs() const { return folder.file("sng/"); }
    std::string cachePath() const { return folder.file("data/songs.sqlite3"); }
    void chart(const std::string& path, const std::string& bytes = twoTempoChart) {
        fs::create_directories(fs::path(songs() + path).parent_path());
        writeFile(songs() + path, bytes);
    }
    TlibraryScan scan() { return scanSongLibrary(songs(), cachePath(), nullptr); }
    size_t cachedCount() { return TsongCacheDatabase(cachePath()).chartsUnder(songs()).size(); }
    // Moves the file's modification time by nanoseconds.
    void shiftModified(const std::string& path, int64_t nanoseconds) {
        struct stat status {};
        ASSERT_EQ(::stat((songs() + path).c_str(), &status), 0);
        const int64_t moved = status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec + nanoseconds;
        const struct timespec times[2] = {status.st_atim, {moved / 1000000000LL, moved % 1000000000LL}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (songs() + path).c_str(), times, 0), 0);
    }
    // Rewrites the chart with other bytes and gives it back its modification time.
    void rewriteKeepingTime(const std::string& path, const std::string& bytes) {
        struct stat status {};
        ASSERT_EQ(::stat((songs() + path).c_str(), &status), 0);
        writeFile(songs() + path, bytes);
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, (songs() + path).c_str(), times, 0), 0);
    }

    TtemporaryFolder folder;
};

}  // namespace

TEST(ChartSummary, GivesMarkersLengthTempoRangeAndIdentity) {
    auto parser = std::make_unique<TsongParser>();
    const TcachedChart summary = summarizeChart(*parser, twoTempoChart);
    EXPECT_TRUE(summary.readable);
    EXPECT_EQ(summary.markerCount, 2);
    EXPECT_DOUBLE_EQ(summary.lengthMs, 1000.0);
    EXPECT_DOUBLE_EQ(summary.tempoMin, 60.0);
    EXPECT_DOUBLE_EQ(summary.tempoMax, 120.0);
    EXPECT_EQ(summary.sha256, sha256Hex(twoTempoChart));

    // Accepted by the game, but nothing to play.
    EXPECT_FALSE(summarizeChart(*parser, "---- |(120)1|\n----\n----\n----\n").readable);
    EXPECT_TRUE(summarizeChart(*parser, "---1 |(120)1|\n----\n----\n----\n").readable);

    const TcachedChart refused = summarizeChart(*parser, refusedChart);
    EXPECT_FALSE(refused.readable);
    EXPECT_EQ(refused.markerCount, 0);
    EXPECT_EQ(refused.sha256, sha256Hex(refusedChart));
}

TEST_F(SongLibrary, SongsOfTheSongFolderComeFirstThenEachSubFolderAsAGroup) {
    chart("top0.txt");
    chart("PackB/x2.txt");
    chart("packA/y1.txt");
    chart("packA/y.bmp", "");
    const TlibraryScan found = scan();
    ASSERT_EQ(found.songs.size(), 3u);
    EXPECT_EQ(found.songs[0].group, "");
    EXPECT_EQ(found.songs[0].name, "top");
    EXPECT_EQ(found.songs[1].group, "packA");
    EXPECT_EQ(found.songs[1].name, "y");
    EXPECT_TRUE(found.songs[1].hasChart[1]);
    EXPECT_EQ(found.songs[1].jacketExtension, ".bmp");
    EXPECT_EQ(found.songs[2].group, "PackB");
    EXPECT_TRUE(found.songs[2].hasChart[2]);
    EXPECT_EQ(found.songs[2].jacketExtension, "");
}

TEST_F(SongLibrary, TheSameNameInTwoGroupsIsTwoSongsWithTheirOwnFiles) {
    chart("Album A/song2.txt");
    chart("Album B/song2.txt", "1--- |(90)1|\n----\n----\n----\n");
    auto catalogue = std::make_unique<TsongsLoadingData>();
    TloaderSteps quiet{[](const std::string&, uint32_t&) { return true; },
                       [](const std::string&, uint32_t&, bool) {}, [](const std::string&) {},
                       [](const std::string&) {}, [] {}};
    loadSongsWith(*catalogue, songs(), quiet, {cachePath(), nullptr});
    ASSERT_EQ(getLastIndex(*catalogue), 1);
    EXPECT_EQ(getSongName(*catalogue, 0), "Album A\\song");
    EXPECT_EQ(getSongName(*catalogue, 1), "Album B\\song");
    EXPECT_DOUBLE_EQ(catalogue->songs[1].charts[2].tempoMax, 90.0);
    EXPECT_EQ(cachedCount(), 2u);
}

TEST_F(SongLibrary, AChartThatCannotBeReadMarksOnlyItsSong) {
    chart("bad2.txt", refusedChart);
    chart("good2.txt");
    const TlibraryScan found = scan();
    ASSERT_EQ(found.songs.size(), 2u);
    EXPECT_FALSE(found.songs[0].charts[2].readable);
    EXPECT_TRUE(found.songs[1].charts[2].readable);
}

TEST_F(SongLibrary, ASecondScanTakesEveryUnchangedChartFromTheCache) {
    chart("a0.txt");
    chart("a1.txt");
    chart("Pack/b2.txt");
    const TlibraryScan cold = scan();
    EXPECT_EQ(cold.songsRead, 2);
    EXPECT_EQ(cold.songsFromCache, 0);
    const TlibraryScan warm = scan();
    EXPECT_EQ(warm.songsRead, 0);
    EXPECT_EQ(warm.songsFromCache, 2);
    EXPECT_TRUE(warm.songs[0].charts[0].readable);
    EXPECT_EQ(warm.songs[0].charts[0].sha256, sha256Hex(twoTempoChart));
}

// What "cp -p", "rsync -a" and "touch -r" leave: other bytes of the same size under the same
// modification time, in place (a new change time) or renamed over it (a new inode).
TEST_F(SongLibrary, AChartReplacedWithTheSameSizeAndTimeIsReadAgain) {
    const std::string sameSize(twoTempoChart.size(), '-');
    chart("a0.txt");
    scan();
    rewriteKeepingTime("a0.txt", sameSize);
    const TlibraryScan inPlace = scan();
    EXPECT_EQ(inPlace.songsRead, 1);
    ASSERT_EQ(inPlace.songs.size(), 1u);
    EXPECT_EQ(inPlace.songs[0].charts[0].sha256, sha256Hex(sameSize));
    EXPECT_EQ(scan().songsRead, 0);

    struct stat before {};
    ASSERT_EQ(::stat((songs() + "a0.txt").c_str(), &before), 0);
    chart("copy.tmp", twoTempoChart);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, (songs() + "copy.tmp").c_str(), times, 0), 0);
    fs::rename(songs() + "copy.tmp", songs() + "a0.txt");
    const TlibraryScan renamed = scan();
    EXPECT_EQ(renamed.songsRead, 1);
    ASSERT_EQ(renamed.songs.size(), 1u);
    EXPECT_EQ(renamed.songs[0].charts[0].sha256, sha256Hex(twoTempoChart));
}

// Recently added goes by when the library first found a chart: a pack copied in with its old times
// is new, and editing an old chart does not make it new.
TEST_F(SongLibrary, AChartIsFirstSeenWhenTheLibraryFirstFindsIt) {
    chart("old0.txt");
    const TlibraryScan first = scan();
    ASSERT_EQ(first.songs.size(), 1u);
    const int64_t oldSeen = first.songs[0].charts[0].firstSeen;
    EXPECT_EQ(oldSeen, first.songs[0].charts[0].stamp.modified);  // a first scan knows no better
    chart("new0.txt");
    shiftModified("new0.txt", -10LL * 365 * 24 * 3600 * 1000000000LL);
    shiftModified("old0.txt", 3600LL * 1000000000LL);
    const TlibraryScan second = scan();
    ASSERT_EQ(second.songs.size(), 2u);
    EXPECT_EQ(second.songs[1].charts[0].firstSeen, oldSeen);
    EXPECT_GT(second.songs[0].charts[0].firstSeen, oldSeen);
    EXPECT_EQ(scan().songs[0].charts[0].firstSeen, second.songs[0].charts[0].firstSeen);
}

TEST_F(SongLibrary, AChartIsReadAgainWhenItsTimeMovesByOneNanosecondEitherWay) {
    chart("a0.txt");
    scan();
    shiftModified("a0.txt", 1);
    EXPECT_EQ(scan().songsRead, 1);
    shiftModified("a0.txt", -1);
    EXPECT_EQ(scan().songsRead, 1);
    EXPECT_EQ(scan().songsRead, 0);
}

TEST_F(SongLibrary, AChartIsReadAgainWhenItsSizeChangesByOneByteEitherWay) {
    chart("a0.txt");
    scan();
    rewriteKeepingTime("a0.txt", twoTempoChart + "\n");
    const TlibraryScan longer = scan();
    EXPECT_EQ(longer.songsRead, 1);
    EXPECT_EQ(longer.songs[0].charts[0].sha256, sha256Hex(twoTempoChart + "\n"));
    rewriteKeepingTime("a0.txt", twoTempoChart);
    EXPECT_EQ(scan().songsRead, 1);
}

TEST_F(SongLibrary, NewAndRemovedSongsAreTakenUpByTheCache) {
    chart("a0.txt");
    chart("Pack/b0.txt");
    scan();
    chart("Pack/c0.txt");
    const TlibraryScan added = scan();
    EXPECT_EQ(added.songsRead, 1);
    EXPECT_EQ(added.songsFromCache, 2);
    EXPECT_EQ(cachedCount(), 3u);
    fs::remove(songs() + "Pack/b0.txt");
    const TlibraryScan removed = scan();
    EXPECT_EQ(removed.songs.size(), 2u);
    EXPECT_EQ(removed.songsRead, 0);
    EXPECT_EQ(cachedCount(), 2u);
    fs::remove_all(songs() + "Pack");
    scan();
    EXPECT_EQ(cachedCount(), 1u);
}

TEST_F(SongLibrary, ASongFolderThatIsGoneLeavesTheCacheAsItWas) {
    chart("a0.txt");
    chart("Pack/b0.txt");
    scan();
    fs::rename(songs(), folder.file("away"));
    EXPECT_TRUE(scan().songs.empty());
    fs::rename(folder.file("away"), songs());
    EXPECT_EQ(cachedCount(), 2u);
    EXPECT_EQ(scan().songsRead, 0);
}

TEST_F(SongLibrary, ADamagedCacheIsKeptAsideAndRebuilt) {
    chart("a0.txt");
    chart("b0.txt");
    fs::create_directories(folder.file("data"));
    writeFile(cachePath(), std::string(4096, 'x'));
    const TlibraryScan rebuilt = scan();
    EXPECT_NE(rebuilt.cacheNotice.find("kept it as songs.sqlite3.bad-1 and started a new one."), std::string::npos)
        << rebuilt.cacheNotice;
    EXPECT_EQ(rebuilt.songsRead, 2);
    EXPECT_TRUE(fs::exists(cachePath() + ".bad-1"));
    const TlibraryScan warm = scan();
    EXPECT_EQ(warm.cacheNotice, "");
    EXPECT_EQ(warm.songsRead, 0);
}

TEST_F(SongLibrary, AnotherProgramsDatabaseIsLeftAloneAndEverySongRead) {
    chart("a0.txt");
    fs::create_directories(folder.file("data"));
    {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(cachePath().c_str(), &other), SQLITE_OK);
        sqlite3_exec(other, "CREATE TABLE notes (text TEXT)", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    }
    const std::string before = readFile(cachePath());
    const TlibraryScan found = scan();
    EXPECT_NE(found.cacheNotice.find("is not a song cache"), std::string::npos);
    EXPECT_EQ(found.songsRead, 1);
    EXPECT_EQ(scan().songsRead, 1);
    EXPECT_EQ(readFile(cachePath()), before);
}

TEST_F(SongLibrary, ProgressIsReportedForEachSongReadAnew) {
    chart("a0.txt");
    chart("a1.txt");
    chart("b0.txt");
    std::vector<std::pair<int32_t, int32_t>> reports;
    const auto record = [&reports](int32_t done, int32_t total) { reports.emplace_back(done, total); };
    scanSongLibrary(songs(), cachePath(), record);
    EXPECT_EQ(reports, (std::vector<std::pair<int32_t, int32_t>>{{1, 2}, {2, 2}}));
    chart("c0.txt");
    reports.clear();
    scanSongLibrary(songs(), cachePath(), record);
    EXPECT_EQ(reports, (std::vector<std::pair<int32_t, int32_t>>{{1, 1}}));
}

TEST(SongProgressLine, ShownOnlyBeyondTheTableLimitEveryHundredSongsAndAtTheEnd) {
    EXPECT_EQ(songProgressLine(100, 199), "");
    EXPECT_EQ(songProgressLine(100, 200), "");
    EXPECT_EQ(songProgressLine(100, 201), "Songs: 100 of 201");
    EXPECT_EQ(songProgressLine(99, 201), "");
    EXPECT_EQ(songProgressLine(101, 201), "");
    EXPECT_EQ(songProgressLine(200, 201), "Songs: 200 of 201");
    EXPECT_EQ(songProgressLine(201, 201), "Songs: 201 of 201");
    EXPECT_EQ(songProgressLine(1234, 10000), "");
    EXPECT_EQ(songProgressLine(1200, 10000), "Songs: 1200 of 10000");
}

TEST_F(SongLibrary, ACacheOfAnotherVersionIsEmptiedAndFilledAgain) {
    chart("a0.txt");
    for (const int version : {1, 3}) {
        scan();
        {
            sqlite3* cache = nullptr;
            ASSERT_EQ(sqlite3_open(cachePath().c_str(), &cache), SQLITE_OK);
            sqlite3_exec(cache, ("PRAGMA user_version = " + std::to_string(version)).c_str(), nullptr, nullptr,
                         nullptr);
            sqlite3_close(cache);
        }
        const TlibraryScan again = scan();
        EXPECT_EQ(again.cacheNotice, "") << version;
        EXPECT_EQ(again.songsRead, 1) << version;
        EXPECT_EQ(scan().songsRead, 0) << version;
    }
}

TEST(SongCachePath, SitsBesideTheRecordsAndIsNoneWhenNoRecordsAreKept) {
    EXPECT_EQ(songCachePathBeside("/home/p/.local/share/Trellik/records.sqlite3"),
              "/home/p/.local/share/Trellik/songs.sqlite3");
    EXPECT_EQ(songCachePathBeside(""), "");
}

// What is listed as a song: a chart name needs its difficulty digit, hidden files and folders are
// left out, names differing only in letter case are one song, and numbers sort by value.
TEST_F(SongLibrary, OnlyChartsWithADifficultyDigitMakeSongsInNaturalOrder) {
    chart("01-10 b0.txt");
    chart("01-2 a0.txt");
    chart("01-9 c0.txt");
    chart("notes.txt");
    chart("readme3.txt");
    chart(".hidden0.txt");
    chart(".Pack/x0.txt");
    chart("Mixed1.txt");
    chart("mixed2.txt");
    const TlibraryScan found = scan();
    std::vector<std::string> names;
    for (const TfoundSong& song : found.songs) names.push_back(song.name);
    EXPECT_EQ(names, (std::vector<std::string>{"01-2 a", "01-9 c", "01-10 b", "Mixed"}));
    ASSERT_EQ(found.songs.size(), 4u);
    EXPECT_TRUE(found.songs[3].hasChart[1]);
    EXPECT_TRUE(found.songs[3].hasChart[2]);
}

TEST(NaturalOrder, DigitRunsCompareByValueAndLettersWithoutCase) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"01-2", "01-10", true}, {"01-10", "01-2", false}, {"a9", "a10", true}, {"a10", "a11", true},
        {"a11", "a10", false},   {"A2", "a10", true},      {"a07", "a7 b", true}, {"b", "A", false},
        {"x", "x1", true},       {"x1", "x", false},
    };
    for (const auto& [left, right, less] : cases) EXPECT_EQ(lessNaturally(left, right), less) << left << " " << right;
}

// Each pack, or part of one, that gives no song says so in one line; a link back to the song
// folder is not listed a second time.
TEST_F(SongLibrary, SkippedContentGetsOneLineAndALinkBackIsNotListedTwice) {
    chart("top0.txt");
    chart("Good/a0.txt");
    chart("Good/Deeper/b0.txt");
    chart("Deep/Album/c0.txt");
    chart("Back\\slash/d0.txt");
    fs::create_directories(songs() + "Empty");
    fs::create_directory_symlink(songs(), songs() + "Loop");
    const TlibraryScan found = scan();
    ASSERT_EQ(found.songs.size(), 2u);
    EXPECT_EQ(found.songs[1].name, "a");
    EXPECT_EQ(found.skipped, (std::vector<std::string>{
        "Skipped the pack \"Back\\slash\": a \"\\\" in a folder name cannot be opened.",
        "Skipped the pack \"Deep\": the folders in it are not read (songs go directly in a pack).",
        "Skipped the pack \"Empty\": it holds no chart.",
        "Skipped the pack \"Good\": the folders in it are not read (songs go directly in a pack).",
        "Skipped the pack \"Loop\": it is a link back to the song folder.",
    }));
}
