// The records database (opening, keeping plays, bests, two writers, a killed writer) and SHA-256.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <thread>

#include "platform/store/recordsDatabase.h"
#include "platform/store/sha256.h"
#include "tests/support/testSupport.h"

namespace fs = std::filesystem;

namespace {

// A play with a hundred markers and a bad and a miss in it (so it only clears by score).
TkeptPlay makePlay(const std::string& song, int32_t difficulty, int32_t score,
                   TplaySource source = TplaySource::player, int pressCount = 0) {
    TkeptPlay play;
    play.chartSha256 = sha256Hex(song + "/" + std::to_string(difficulty));
    play.song = song;
    play.difficulty = difficulty;
    play.playedAt = 1'800'000'000;
    play.build = 62;
    play.markerCount = 100;
    play.score = score;
    play.maxCombo = 40;
    play.perfect = 60;
    play.great = 20;
    play.good = 18;
    play.bad = 1;
    play.miss = 1;
    play.early = 30;
    play.late = 68;
    play.meanMs = -1.25;
    play.medianMs = 0.5;
    play.source = source;
    for (int index = 0; index < pressCount; ++index)
        play.presses.push_back({index * 125.0, index % 16, index < 500 ? index : -1, index < 500 ? 3 : 0, 0.0});
    return play;
}

// The first column of the first row a query gives, read through a connection of the test's own.
std::string queryValue(const std::string& path, const std::string& sql) {
    sqlite3* connection = nullptr;
    sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* statement = nullptr;
    std::string value = "(failed: ";
    if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    else
        value += std::string(sqlite3_errmsg(connection)) + ")";
    sqlite3_finalize(statement);
    sqlite3_close(connection);
    return value;
}

int64_t playCount(const std::string& path) {
    return std::stoll(queryValue(path, "SELECT count(*) FROM plays"));
}

// Plays whose press rows differ from the count they were kept with.
int64_t playsWithMissingPresses(const std::string& path) {
    return std::stoll(queryValue(
        path, "SELECT count(*) FROM plays "
              "WHERE press_count != (SELECT count(*) FROM presses WHERE play_id = plays.id)"));
}

std::vector<int32_t> scoresOf(const std::vector<TkeptPlay>& plays) {
    std::vector<int32_t> scores;
    for (const TkeptPlay& play : plays) scores.push_back(play.score);
    return scores;
}

std::vector<int32_t> scoresOf(const std::vector<TchartBest>& bests) {
    std::vector<int32_t> scores;
    for (const TchartBest& best : bests) scores.push_back(best.play.score);
    return scores;
}

// Runs SQL on the file through a connection of the test's own, as another program would.
void executeOn(const std::string& path, const std::string& sql) {
    sqlite3* connection = nullptr;
    sqlite3_open(path.c_str(), &connection);
    sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(connection);
}

// A records file of ours with one play, closed cleanly (so it is all in the one file).
void writeRecordsFile(const std::string& path) {
    TrecordsDatabase records(path);
    records.addPlay(makePlay("Kept", 0, 800000));
}

// The plays read from a file as a program that only reads them sees them, and its notice.
std::pair<size_t, std::string> readOnlyLook(const std::string& path) {
    TrecordsDatabase records(path, TrecordsAccess::read);
    return {records.plays("").size(), records.notice()};
}

// A real database of a few hundred kilobytes, closed cleanly (so its journal is gone) and cut in half.
void writeTruncatedDatabase(const std::string& path) {
    {
        TrecordsDatabase records(path);
        for (int index = 0; index < 10; ++index)
            records.addPlay(makePlay("Cut", 0, 1000 * index, TplaySource::player, 1000));
    }
    fs::resize_file(path, fs::file_size(path) / 2);
}

}  // namespace

TEST(RecordsOpening, NewMissingAndEmptyFilesGetTheCurrentSchema) {
    TtemporaryFolder folder;
    const std::string inNewFolder = folder.file("a/b/records.sqlite3");
    const std::string empty = folder.file("empty.sqlite3");
    writeFile(empty, "");
    for (const std::string& path : {inNewFolder, empty}) {
        TrecordsDatabase records(path);
        EXPECT_TRUE(records.isOpen()) << records.notice();
        EXPECT_EQ(records.notice(), "");
        EXPECT_EQ(queryValue(path, "PRAGMA user_version"), "3");
        EXPECT_EQ(queryValue(path, "PRAGMA application_id"), std::to_string(recordsApplicationId));
        EXPECT_EQ(queryValue(path, "PRAGMA journal_mode"), "wal");
        EXPECT_NE(records.addPlay(makePlay("Song", 0, 1)), 0) << records.lastError();
    }
}

TEST(RecordsOpening, NewerSchemaIsLeftUntouchedAndNothingIsKept) {
    TtemporaryFolder folder;
    const std::string path = folder.file("records.sqlite3");
    sqlite3* connection = nullptr;
    sqlite3_open(path.c_str(), &connection);
    sqlite3_exec(connection,
                 ("CREATE TABLE future (x); INSERT INTO future VALUES (7); PRAGMA user_version = 99; "
                  "PRAGMA application_id = " + std::to_string(recordsApplicationId)).c_str(),
                 nullptr, nullptr, nullptr);
    sqlite3_close(connection);
    const std::string before = readFile(path);

    TrecordsDatabase records(path);
    EXPECT_FALSE(records.isOpen());
    EXPECT_NE(records.notice().find("newer build"), std::string::npos) << records.notice();
    EXPECT_EQ(records.addPlay(makePlay("Song", 0, 1)), 0);
    EXPECT_NE(records.lastError(), "");
    EXPECT_TRUE(records.plays("").empty());
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(fs::exists(path + ".bad-1"));
}

TEST(RecordsOpening, UnreadableFilesAreKeptAsideInTurnAndANewOneStarted) {
    TtemporaryFolder folder;
    const std::string path = folder.file("records.sqlite3");
    writeFile(path, std::string(3000, 'x'));
    writeFile(path + "-wal", "its journal");
    writeFile(path + "-shm", "its index");
    {
        TrecordsDatabase records(path);
        EXPECT_EQ(records.notice(), "Records: records.sqlite3 could not be read (file is not a database); kept it as "
                                    "records.sqlite3.bad-1 and started a new one.");
        EXPECT_NE(records.addPlay(makePlay("Song", 0, 1)), 0) << records.lastError();
    }
    EXPECT_EQ(readFile(path + ".bad-1"), std::string(3000, 'x'));
    EXPECT_EQ(readFile(path + ".bad-1-wal"), "its journal");

    fs::remove(path);
    writeTruncatedDatabase(path);
    const std::string truncated = readFile(path);
    TrecordsDatabase records(path);
    EXPECT_NE(records.notice().find("kept it as records.sqlite3.bad-2 and started a new one."), std::string::npos)
        << records.notice();
    EXPECT_EQ(records.notice().find('\n'), std::string::npos);
    EXPECT_EQ(readFile(path + ".bad-2"), truncated);
    EXPECT_TRUE(records.plays("").empty());
    EXPECT_NE(records.addPlay(makePlay("Song", 0, 1)), 0) << records.lastError();
}

TEST(RecordsOpening, DatabaseOfTheCurrentVersionWithoutItsTablesIsLeftUntouched) {
    TtemporaryFolder folder;
    const std::string path = folder.file("records.sqlite3");
    executeOn(path, "CREATE TABLE other (x); PRAGMA user_version = 1");
    const std::string before = readFile(path);
    TrecordsDatabase records(path);
    EXPECT_FALSE(records.isOpen());
    EXPECT_EQ(records.notice(), "Records: records.sqlite3 is not a records database (another program's SQLite "
                                "file?) and is left as it is; plays are not kept this run.");
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(fs::exists(path + ".bad-1"));
}

TEST(RecordsOpening, AnotherProgramsDatabaseIsNeitherGivenTablesNorKeptAside) {
    TtemporaryFolder folder;
    const std::string ourTables = folder.file("ourTablesOtherId.sqlite3");
    writeRecordsFile(ourTables);
    executeOn(ourTables, "PRAGMA application_id = " + std::to_string(recordsApplicationId + 1));
    const std::string oneColumnShort = folder.file("oneColumnShort.sqlite3");
    executeOn(oneColumnShort, "CREATE TABLE plays (chart_sha256, marker_count, press_count, clear); "
                              "CREATE TABLE presses (play_id, seq); PRAGMA user_version = 1");
    for (const std::string& path : {ourTables, oneColumnShort}) {
        const std::string before = readFile(path);
        for (const TrecordsAccess access : {TrecordsAccess::keep, TrecordsAccess::read}) {
            TrecordsDatabase records(path, access);
            EXPECT_FALSE(records.isOpen()) << path;
            EXPECT_NE(records.notice().find("is not a records database"), std::string::npos) << records.notice();
        }
        EXPECT_EQ(readFile(path), before) << path;
        EXPECT_FALSE(fs::exists(path + ".bad-1")) << path;
    }
}

TEST(RecordsOpening, EarlierBuildsFileIsReadAndStampedWithTheApplicationId) {
    TtemporaryFolder folder;
    const std::string path = folder.file("records.sqlite3");
    writeRecordsFile(path);
    executeOn(path, "PRAGMA application_id = 0");
    EXPECT_EQ(readOnlyLook(path), std::make_pair(size_t(1), std::string()));
    EXPECT_EQ(queryValue(path, "PRAGMA application_id"), "0");
    {
        TrecordsDatabase records(path);
        EXPECT_EQ(records.notice(), "");
        EXPECT_NE(records.addPlay(makePlay("Kept", 0, 1)), 0) << records.lastError();
    }
    EXPECT_EQ(queryValue(path, "PRAGMA application_id"), std::to_string(recordsApplicationId));
    EXPECT_EQ(queryValue(path, "PRAGMA user_version"), "3");
    EXPECT_EQ(playCount(path), 2);
}

// The schemas earlier builds left, made from today's file by taking away what came later: the first
// (plays and presses, before and after the application id), the ranking queue as step 2 without
// the rate columns, and the rate columns as step 2 without the queue.
struct TearlierSchema {
    const char* name;
    const char* sql;
};
const TearlierSchema earlierSchemas[] = {
    {"first, before the application id",
     "DROP TABLE ranking_submissions; ALTER TABLE plays DROP COLUMN rate; ALTER TABLE plays DROP COLUMN practice; "
     "PRAGMA user_version = 1; PRAGMA application_id = 0"},
    {"first", "DROP TABLE ranking_submissions; ALTER TABLE plays DROP COLUMN rate; ALTER TABLE plays DROP COLUMN "
              "practice; PRAGMA user_version = 1"},
    {"ranking queue as step 2",
     "ALTER TABLE plays DROP COLUMN rate; ALTER TABLE plays DROP COLUMN practice; PRAGMA user_version = 2"},
    {"rate as step 2", "DROP TABLE ranking_submissions; PRAGMA user_version = 2"},
};

void writeEarlierRecordsFile(const std::string& path, const TearlierSchema& schema) {
    {
        TrecordsDatabase records(path);
        records.addPlay(makePlay("Kept", 0, 800000, TplaySource::player, 3));
    }
    executeOn(path, std::string("PRAGMA journal_mode = DELETE; ") + schema.sql);
}

TEST(RecordsOpening, EveryEarlierSchemaIsReadWithoutWritingAndKeptInOnceUpgraded) {
    for (const TearlierSchema& schema : earlierSchemas) {
        TtemporaryFolder folder;
        const std::string path = folder.file("records.sqlite3");
        writeEarlierRecordsFile(path, schema);
        const std::string before = readFile(path);
        {
            TrecordsDatabase reader(path, TrecordsAccess::read);
            ASSERT_TRUE(reader.isOpen()) << schema.name << ": " << reader.notice();
            const std::vector<TkeptPlay> plays = reader.plays("");
            ASSERT_EQ(plays.size(), 1u) << schema.name << ": " << reader.lastError();
            EXPECT_EQ(plays[0].rateHundredths, 100) << schema.name;
            EXPECT_FALSE(plays[0].practice) << schema.name;
            EXPECT_EQ(reader.bests("").size(), 1u) << schema.name << ": " << reader.lastError();
            EXPECT_EQ(reader.bestOf(plays[0].chartSha256, 0, 100).score, 800000) << schema.name;
            const std::optional<TkeptPlay> play = reader.play(plays[0].id);
            ASSERT_TRUE(play) << schema.name << ": " << reader.lastError();
            EXPECT_EQ(play->presses.size(), 3u) << schema.name;
        }
        EXPECT_EQ(readFile(path), before) << schema.name;

        TrecordsDatabase keeper(path);
        EXPECT_EQ(keeper.notice(), "") << schema.name;
        EXPECT_NE(keeper.addPlay(makePlay("Kept", 0, 810000)), 0) << schema.name << ": " << keeper.lastError();
        EXPECT_TRUE(keeper.queueForRanking(1, "client", "sng/kept0.txt")) << schema.name << ": " << keeper.lastError();
        EXPECT_EQ(keeper.plays("").size(), 2u) << schema.name;
        EXPECT_EQ(queryValue(path, "PRAGMA user_version"), "3") << schema.name;
    }
}

TEST(RecordsOpening, AnythingButARegularFileIsRefusedNeverRenamed) {
    TtemporaryFolder folder;
    const std::string pipe = folder.file("pipe.sqlite3");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string directory = folder.file("folder.sqlite3");
    fs::create_directory(directory);
    for (const std::string& path : {pipe, directory}) {
        for (const TrecordsAccess access : {TrecordsAccess::keep, TrecordsAccess::read}) {
            TrecordsDatabase records(path, access);
            EXPECT_FALSE(records.isOpen());
            EXPECT_NE(records.notice().find("(it is not a regular file)"), std::string::npos) << records.notice();
        }
        EXPECT_FALSE(fs::exists(path + ".bad-1")) << path;
    }
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_TRUE(fs::is_directory(directory));
}

TEST(RecordsOpening, DamagedIndexIsKeptAsideBeforeAnyPlayIsLost) {
    TtemporaryFolder folder;
    const std::string path = folder.file("records.sqlite3");
    {
        TrecordsDatabase records(path);
        for (int index = 0; index < 100; ++index) records.addPlay(makePlay("Indexed", index % 3, index));
    }
    const int64_t page =
        std::stoll(queryValue(path, "SELECT rootpage FROM sqlite_master WHERE name = 'plays_by_chart'"));
    const int64_t pageSize = std::stoll(queryValue(path, "PRAGMA page_size"));
    std::string bytes = readFile(path);
    bytes[static_cast<size_t>((page - 1) * pageSize)] = '\xff';  // no page type
    writeFile(path, bytes);

    TrecordsDatabase records(path);
    EXPECT_NE(records.notice().find("kept it as records.sqlite3.bad-1 and started a new one."), std::string::npos)
        << records.notice();
    EXPECT_EQ(records.notice().find('\n'), std::string::npos);
    EXPECT_TRUE(readFile(path + ".bad-1") == bytes);
    int kept = 0;
    for (int index = 0; index < 100; ++index) kept += records.addPlay(makePlay("Indexed", index % 3, index)) != 0;
    EXPECT_EQ(kept, 100) << records.lastError();
}

TEST(RecordsOpening, ReaderWritesNothingNotEvenTheJournalMode) {
    TtemporaryFolder folder;
    const std::string path = folder.file("records.sqlite3");
    writeRecordsFile(path);
    executeOn(path, "PRAGMA journal_mode = DELETE");
    const std::string before = readFile(path);
    EXPECT_EQ(readOnlyLook(path), std::make_pair(size_t(1), std::string()));
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(fs::exists(path + "-wal"));
    TrecordsDatabase records(path, TrecordsAccess::read);
    EXPECT_EQ(records.addPlay(makePlay("Kept", 0, 1)), 0);
    EXPECT_EQ(readFile(path), before);
}

TEST(RecordsOpening, FolderThatCannotBeMadeKeepsNothingQuietly) {
    TtemporaryFolder folder;
    writeFile(folder.file("file"), "not a folder");
    TrecordsDatabase records(folder.file("file/records.sqlite3"));
    EXPECT_FALSE(records.isOpen());
    EXPECT_NE(records.notice().find("plays are not kept this run"), std::string::npos) << records.notice();
    EXPECT_EQ(records.addPlay(makePlay("Song", 0, 1)), 0);
    EXPECT_FALSE(records.bestOf(sha256Hex("x"), 0).exists);
    EXPECT_FALSE(records.play(1).has_value());
    EXPECT_TRUE(records.bests("").empty());
}

TEST(RecordsPlays, PlayAndPressesReadBackExactly) {
    TtemporaryFolder folder;
    TrecordsDatabase records(folder.file("records.sqlite3"));
    TkeptPlay kept = makePlay("Exact", 2, 812345, TplaySource::replay);
    kept.meanMs = -3.3333333333333335;
    kept.medianMs = 0.1;
    kept.audioOffset = -45;
    kept.visualOffset = 12;
    kept.perfectWindow = 25;
    kept.greatWindow = 50;
    kept.goodWindow = 100;
    kept.badWindow = 150;
    kept.presses = {{1234.5678901234567, 15, 7, 4, -12.000000000000002},
                    {1e-9, 0, -1, 0, 0.0},
                    {98765.4321, 3, 8, 6, 149.99}};
    const int64_t id = records.addPlay(kept);
    ASSERT_NE(id, 0) << records.lastError();

    const std::optional<TkeptPlay> read = records.play(id);
    ASSERT_TRUE(read.has_value());
    const TkeptPlay& back = *read;
    EXPECT_EQ(back.id, id);
    EXPECT_EQ(std::tie(back.chartSha256, back.song, back.difficulty, back.playedAt, back.build, back.markerCount,
                       back.score, back.maxCombo, back.perfect, back.great, back.good, back.bad, back.miss, back.early,
                       back.late),
              std::tie(kept.chartSha256, kept.song, kept.difficulty, kept.playedAt, kept.build, kept.markerCount,
                       kept.score, kept.maxCombo, kept.perfect, kept.great, kept.good, kept.bad, kept.miss, kept.early,
                       kept.late));
    EXPECT_EQ(std::tie(back.meanMs, back.medianMs, back.audioOffset, back.visualOffset, back.perfectWindow,
                       back.greatWindow, back.goodWindow, back.badWindow, back.source),
              std::tie(kept.meanMs, kept.medianMs, kept.audioOffset, kept.visualOffset, kept.perfectWindow,
                       kept.greatWindow, kept.goodWindow, kept.badWindow, kept.source));
    ASSERT_EQ(back.presses.size(), kept.presses.size());
    for (size_t index = 0; index < kept.presses.size(); ++index) {
        const TkeptPress& got = back.presses[index];
        const TkeptPress& want = kept.presses[index];
        EXPECT_EQ(std::tie(got.musicMs, got.panel, got.row, got.judgement, got.offsetMs),
                  std::tie(want.musicMs, want.panel, want.row, want.judgement, want.offsetMs))
            << "press " << index;
    }
    EXPECT_FALSE(records.play(id + 1).has_value());
    ASSERT_EQ(records.plays("").size(), 1u);
    EXPECT_TRUE(records.plays("")[0].presses.empty());
}

TEST(RecordsPlays, ClearMarkTakesTheHighestThatHolds) {
    TkeptPlay play = makePlay("Marks", 0, 100);
    EXPECT_EQ(clearMarkOf(play), TclearMark::played);
    play.score = clearScore;
    EXPECT_EQ(clearMarkOf(play), TclearMark::cleared);
    play.bad = play.miss = 0;
    EXPECT_EQ(clearMarkOf(play), TclearMark::fullCombo);
    play.perfect = play.markerCount;
    EXPECT_EQ(clearMarkOf(play), TclearMark::allPerfect);
    play.markerCount = play.perfect = 0;
    EXPECT_EQ(clearMarkOf(play), TclearMark::cleared);
}

TEST(RecordsPlays, BestsCountOnlyThePlayersOwnPlays) {
    TtemporaryFolder folder;
    TrecordsDatabase records(folder.file("records.sqlite3"));
    const std::string chart = makePlay("Best", 1, 0).chartSha256;
    EXPECT_FALSE(records.bestOf(chart, 1).exists);

    TkeptPlay fullCombo = makePlay("Best", 1, 650000);
    fullCombo.bad = fullCombo.miss = 0;
    records.addPlay(fullCombo);
    const int64_t earlierOfTie = records.addPlay(makePlay("Best", 1, 720000));
    records.addPlay(makePlay("Best", 1, 720000));
    records.addPlay(makePlay("Best", 1, 900000, TplaySource::autoplay));
    records.addPlay(makePlay("Best", 1, 950000, TplaySource::replay));
    records.addPlay(makePlay("Best", 2, 100));
    records.addPlay(makePlay("Best", 0, 999999, TplaySource::autoplay));

    const TpersonalBest best = records.bestOf(chart, 1);
    EXPECT_TRUE(best.exists);
    EXPECT_EQ(best.score, 720000);
    EXPECT_EQ(best.clear, TclearMark::fullCombo);
    EXPECT_FALSE(records.bestOf(makePlay("Best", 0, 0).chartSha256, 0).exists);
    EXPECT_FALSE(records.bestOf(chart, 2).exists);

    const std::vector<TchartBest> bests = records.bests("Best");
    EXPECT_EQ(scoresOf(bests), (std::vector<int32_t>{100, 720000}));
    ASSERT_EQ(bests.size(), 2u);
    EXPECT_EQ(bests[1].play.id, earlierOfTie);
}

TEST(RecordsPlays, ChartBestIsTheBestScoreAndSeparatelyTheBestClearAsSongSelectShowsIt) {
    TtemporaryFolder folder;
    TrecordsDatabase records(folder.file("records.sqlite3"));
    TkeptPlay fullCombo = makePlay("Clear", 0, 650000);
    fullCombo.bad = fullCombo.miss = 0;
    records.addPlay(fullCombo);
    records.addPlay(makePlay("Clear", 0, 900000));
    TkeptPlay allPerfectAutoplay = makePlay("Clear", 0, 1000000, TplaySource::autoplay);
    allPerfectAutoplay.perfect = allPerfectAutoplay.markerCount;
    records.addPlay(allPerfectAutoplay);
    // The same chart kept under the song's earlier name still counts, as it does on song select.
    TkeptPlay renamed = makePlay("Clear", 0, 910000);
    renamed.song = "Clear (old name)";
    records.addPlay(renamed);

    const TpersonalBest shown = records.bestOf(fullCombo.chartSha256, 0);
    for (const std::string& song : {std::string("Clear"), std::string()}) {
        const std::vector<TchartBest> bests = records.bests(song);
        ASSERT_EQ(bests.size(), 1u) << song;
        EXPECT_EQ(bests[0].play.score, 910000);
        EXPECT_EQ(bests[0].clear, TclearMark::fullCombo);
        EXPECT_EQ(std::tie(bests[0].play.score, bests[0].clear), std::tie(shown.score, shown.clear));
    }
}

TEST(RecordsPlays, SongFilterAndNewestFirst) {
    TtemporaryFolder folder;
    TrecordsDatabase records(folder.file("records.sqlite3"));
    records.addPlay(makePlay("One", 0, 1));
    records.addPlay(makePlay("Two", 0, 2));
    records.addPlay(makePlay("One", 1, 3, TplaySource::autoplay));
    records.addPlay(makePlay("One", 2, 4));
    EXPECT_EQ(scoresOf(records.plays("")), (std::vector<int32_t>{4, 3, 2, 1}));
    EXPECT_EQ(scoresOf(records.plays("One")), (std::vector<int32_t>{4, 3, 1}));
    EXPECT_EQ(scoresOf(records.bests("One")), (std::vector<int32_t>{4, 1}));
    EXPECT_EQ(scoresOf(records.bests("")), (std::vector<int32_t>{4, 2, 1}));
    EXPECT_TRUE(records.plays("Three").empty());
}

// Each round starts on a new file, so both programs also make its schema at the same moment.
TEST(RecordsWriters, TwoConnectionsWritingAtOnceLoseNothing) {
    TtemporaryFolder folder;
    constexpr int rounds = 100;
    constexpr int playsEach = 8;
    for (int round = 0; round < rounds; ++round) {
        const std::string path = folder.file(std::to_string(round) + ".sqlite3");
        int failures[2] = {0, 0};
        auto writer = [&](int which) {
            TrecordsDatabase records(path);
            for (int index = 0; index < playsEach; ++index)
                if (records.addPlay(makePlay("Writer", which, index, TplaySource::player, 20)) == 0) ++failures[which];
        };
        std::thread first(writer, 0);
        std::thread second(writer, 1);
        first.join();
        second.join();
        ASSERT_EQ(failures[0] + failures[1], 0) << "round " << round;
        ASSERT_EQ(playCount(path), 2 * playsEach) << "round " << round;
        ASSERT_EQ(queryValue(path, "SELECT count(*) FROM presses"), std::to_string(2 * playsEach * 20));
    }
}

namespace {

// Keeps adding plays of a thousand presses, one byte down the pipe after each commit, until killed.
[[noreturn]] void keepAddingPlays(const std::string& path, int pipeEnd) {
    TrecordsDatabase records(path);
    const TkeptPlay play = makePlay("Killed", 0, 500000, TplaySource::player, 1000);
    for (;;) {
        if (records.addPlay(play) == 0) ::_exit(1);
        const char committed = 1;
        if (::write(pipeEnd, &committed, 1) != 1) ::_exit(2);
    }
}

// Reads count bytes; false when the writer ended first.
bool readCommits(int pipeEnd, int count) {
    char byte = 0;
    for (int index = 0; index < count; ++index)
        if (::read(pipeEnd, &byte, 1) != 1) return false;
    return true;
}

}  // namespace

TEST(RecordsWriters, WriterKilledMidPlayLeavesEveryCommittedPlayWhole) {
    TtemporaryFolder folder;
    const std::string path = folder.file("records.sqlite3");
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> commitsBeforeKill(1, 8);
    int64_t committed = 0;
    for (int round = 0; round < 10; ++round) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ends[0]);
            keepAddingPlays(path, ends[1]);
        }
        ::close(ends[1]);
        const int wanted = commitsBeforeKill(random);
        const bool sawAll = readCommits(ends[0], wanted);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(ends[0]);
        ASSERT_TRUE(sawAll) << "the writer stopped early in round " << round;

        committed += wanted;
        EXPECT_EQ(queryValue(path, "PRAGMA integrity_check"), "ok") << "round " << round;
        EXPECT_GE(playCount(path), committed) << "round " << round;
        EXPECT_EQ(playsWithMissingPresses(path), 0) << "round " << round;
        committed = playCount(path);
    }
}

TEST(Sha256, StandardVectors) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnop"
                        "jklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
}

TEST(Sha256, FileOfManyChunks) {
    TtemporaryFolder folder;
    writeFile(folder.file("million"), std::string(1'000'000, 'a'));
    EXPECT_EQ(fileSha256(folder.file("million")), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(fileSha256(folder.file("missing")), "");
    EXPECT_EQ(fileSha256(folder.path()), "");
}
