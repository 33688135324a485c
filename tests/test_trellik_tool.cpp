// The content tool as authors run it: output, exit statuses and the song debug file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/store/recordsDatabase.h"
#include "tests/support/testSupport.h"

namespace {

struct TtoolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs trellik-tool with the arguments (already quoted for the shell) in the folder, through the
// launcher ("" for none) that can run it as another user.
TtoolRun runToolThrough(const std::string& launcher, const TtemporaryFolder& folder, const std::string& arguments) {
    const std::string command = "cd '" + folder.path() + "' && " + launcher + " '" +
                                builtProgram("tools/trellik-tool") + "' " + arguments + " 2>'" +
                                folder.file("stderr") + "'";
    TtoolRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = readFile(folder.file("stderr"));
    return run;
}

TtoolRun runTool(const TtemporaryFolder& folder, const std::string& arguments) {
    return runToolThrough("", folder, arguments);
}

const std::string workedExample =
    "1--- |(120)[500]1-2-|\r\n"
    "--2- |3---|\r\n"
    "---- |----|\r\n"
    "3--3 |----|\r\n";

// 2026-12-08 02:30:11 UTC.
constexpr int64_t firstPlayTime = 1796697011;
const std::string quotedSong = "Beta, \"the\" one";

TkeptPlay keptPlay(const std::string& song, int32_t difficulty, int64_t playedAt, int32_t score) {
    TkeptPlay play;
    play.chartSha256 = std::string(64, song == quotedSong ? 'b' : 'a');
    play.song = song;
    play.difficulty = difficulty;
    play.playedAt = playedAt;
    play.markerCount = 10;
    play.score = score;
    play.perfect = 6;
    play.miss = 1;
    play.meanMs = -3.5;
    play.badWindow = 133;
    return play;
}

// Four plays a minute apart, ids 1 to 4: two of Alpha, then an autoplay and a player play of the quoted song.
struct TrecordsFolder {
    TtemporaryFolder folder;

    TrecordsFolder() {
        ::setenv("TZ", "JST-9", 1);  // local time nine hours ahead of UTC
        TrecordsDatabase database(folder.file("records.sqlite3"));
        database.addPlay(keptPlay("Alpha", 0, firstPlayTime, 800000));
        database.addPlay(keptPlay("Alpha", 0, firstPlayTime + 60, 750000));
        TkeptPlay autoplay = keptPlay(quotedSong, 2, firstPlayTime + 120, 1000000);
        autoplay.source = TplaySource::autoplay;
        autoplay.perfect = 10;
        autoplay.miss = 0;
        database.addPlay(autoplay);
        database.addPlay(keptPlay(quotedSong, 2, firstPlayTime + 180, 500000));
    }

    TtoolRun records(const std::string& arguments) const {
        return runTool(folder, "records --file records.sqlite3 " + arguments);
    }
};

// The first word of each line: the header's "id", then the plays' ids.
std::vector<std::string> firstWords(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) words.push_back(line.substr(0, line.find(' ')));
    return words;
}

}  // namespace

TEST(TrellikToolChart, PrintsTheWorkedExample) {
    TtemporaryFolder folder;
    writeFile(folder.file("demo0.txt"), workedExample);
    const TtoolRun run = runTool(folder, "chart demo0.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "result: true\nentryCount: 3\nmarkerCount: 4\ngroups: 3\n"
              "row 0  time 0.500  bpm 120  panels x--- ---- ---- ----\n"
              "row 1  time 0.750  bpm 120  panels ---- --x- ---- ----\n"
              "row 2  time 1.000  bpm 120  panels ---- ---- ---- x--x\n");
    EXPECT_EQ(run.err, "");
}

TEST(TrellikToolChart, JsonListsSpareRowsWithoutTempo) {
    TtemporaryFolder folder;
    writeFile(folder.file("groups.txt"), "12-- |(90)x|\n----\n----\n----\n");
    const TtoolRun run = runTool(folder, "chart --json groups.txt");
    EXPECT_EQ(run.status, 0);
    const nlohmann::json report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["result"], true);
    EXPECT_EQ(report["entryCount"], 1);
    EXPECT_EQ(report["markerCount"], 1);  // the untimed row never plays
    EXPECT_EQ(report["groups"], 2);
    ASSERT_EQ(report["rows"].size(), 2u);
    EXPECT_EQ(report["rows"][0]["bpm"], 90.0);
    EXPECT_EQ(report["rows"][0]["panels"], "1000000000000000");
    EXPECT_EQ(report["rows"][1]["time"], 9999999999.0);
    EXPECT_TRUE(report["rows"][1]["bpm"].is_null());
    EXPECT_EQ(report["rows"][1]["panels"], "0100000000000000");
}

TEST(TrellikToolChart, BrokenChartExitsOneAndNamesTheLine) {
    TtemporaryFolder folder;
    writeFile(folder.file("broken.txt"), "1--- |(120)x|\n----\n----\n----\n--\n----\n----\n----\n----\n|(fast)x|\n");
    const TtoolRun run = runTool(folder, "chart broken.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("result: false"), std::string::npos);
    EXPECT_NE(run.err.find("broken.txt:9: error: the grid text passes 16 characters"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("broken.txt:10: error: the tempo group (\"fast\") is not a number"), std::string::npos);

    const TtoolRun lint = runTool(folder, "chart --lint broken.txt");
    EXPECT_EQ(lint.status, 1);
    EXPECT_NE(lint.out.find("broken.txt:9: error:"), std::string::npos);
    EXPECT_NE(lint.out.find("broken.txt:10: note: row 1 got a time but no panel flags"), std::string::npos) << lint.out;

    EXPECT_EQ(runTool(folder, "chart missing.txt").status, 1);
}

TEST(TrellikToolChart, SongDebugWritesTheGamesFile) {
    TtemporaryFolder folder;
    writeFile(folder.file("demo0.txt"), workedExample);
    EXPECT_EQ(runTool(folder, "chart --song-debug demo0.txt").status, 0);
    EXPECT_EQ(readFile(folder.file("songDebug.txt")),
              "Begin parse of demo0.txt\r\n0.500\r\n0.750\r\n1.000\r\nReadin finished; continuing with play...\r\n");
}

TEST(TrellikTool, KeynameSearchHelpAndUsageErrors) {
    TtemporaryFolder folder;
    const TtoolRun names = runTool(folder, "keyname 13 108 223");
    EXPECT_EQ(names.status, 0);
    EXPECT_EQ(names.out, "ENT\nl\n\xEF\xBD\xAC\n");

    writeFile(folder.file("b2.txt"), "");
    writeFile(folder.file("a0.txt"), "");
    writeFile(folder.file("A1.TXT"), "");
    EXPECT_EQ(runTool(folder, "search . '*.txt'").out, "a0.txt\nA1.TXT\nb2.txt\n");
    EXPECT_EQ(runTool(folder, "search . '*.txt' --cut").out, "a\nA\nb\n");

    for (const char* help : {"--help", "chart --help", "keyname --help", "search --help"}) {
        const TtoolRun run = runTool(folder, help);
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_NE(run.out.find("usage: trellik-tool"), std::string::npos) << help;
    }
    for (const char* wrong : {"", "paint x", "chart", "chart a0.txt b2.txt", "chart --fast a0.txt", "keyname",
                              "keyname 65536", "keyname A", "search .", "search . '*' --deep"}) {
        EXPECT_EQ(runTool(folder, wrong).status, 2) << wrong;
    }
}

TEST(TrellikToolRecords, TableListsNewestFirstAndFilters) {
    const TrecordsFolder records;
    const TtoolRun all = records.records("");
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(firstWords(all.out), (std::vector<std::string>{"id", "4", "3", "2", "1"}));
    std::istringstream lines(all.out);
    std::string header, newest, autoplay;
    std::getline(lines, header);
    std::getline(lines, newest);
    std::getline(lines, autoplay);
    const auto cellStarts = [&header](const std::string& row, const std::string& column, const std::string& text) {
        return row.substr(header.find(column)).starts_with(text + " ");
    };
    EXPECT_TRUE(cellStarts(newest, "when", "2026-12-08 11:33:11")) << all.out;
    EXPECT_TRUE(cellStarts(newest, "song", quotedSong)) << all.out;
    EXPECT_TRUE(cellStarts(newest, "difficulty", "EXTREME")) << all.out;
    EXPECT_TRUE(cellStarts(newest, "score", "500000")) << all.out;
    EXPECT_TRUE(cellStarts(newest, "miss", "1")) << all.out;
    EXPECT_TRUE(cellStarts(newest, "by", "player")) << all.out;
    EXPECT_TRUE(newest.ends_with("  PLAYED")) << all.out;
    EXPECT_TRUE(autoplay.ends_with("  ALL PERFECT")) << all.out;

    EXPECT_EQ(firstWords(records.records("--song Alpha").out), (std::vector<std::string>{"id", "2", "1"}));
    EXPECT_EQ(firstWords(records.records("--best").out), (std::vector<std::string>{"id", "4", "1"}));
    EXPECT_EQ(records.records("--song Gamma").out, "No plays kept yet.\n");
}

TEST(TrellikToolRecords, JsonHoldsEveryFieldButPresses) {
    const TrecordsFolder records;
    const TtoolRun run = records.records("--json --song Alpha");
    EXPECT_EQ(run.status, 0) << run.err;
    const nlohmann::json plays = nlohmann::json::parse(run.out);
    ASSERT_EQ(plays.size(), 2u);
    const nlohmann::json& first = plays[1];
    EXPECT_EQ(first["when"], "2026-12-08T02:30:11Z");
    EXPECT_EQ(first["playedAt"], firstPlayTime);
    EXPECT_EQ(first["difficultyName"], "BASIC");
    EXPECT_EQ(first["meanMs"], -3.5);
    EXPECT_EQ(first["badWindow"], 133);
    EXPECT_EQ(first["source"], "player");
    EXPECT_EQ(first["clear"], "CLEARED");
    EXPECT_EQ(first["rate"], 1.0);
    EXPECT_EQ(first["practice"], false);
    EXPECT_EQ(first.size(), 30u);
    EXPECT_FALSE(first.contains("presses"));
}

TEST(TrellikToolRecords, ExportWritesQuotedCsvWholeOrNotAtAll) {
    const TrecordsFolder records;
    const TtoolRun run = records.records("--best --export best.csv");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Exported 2 plays to best.csv\n");
    const std::string csv = readFile(records.folder.file("best.csv"));
    EXPECT_TRUE(csv.starts_with("id,when,playedAt,chartSha256,song,difficulty,difficultyName,")) << csv;
    EXPECT_NE(csv.find("\r\n4,2026-12-08T02:33:11Z,1796697191," + std::string(64, 'b') +
                       ",\"Beta, \"\"the\"\" one\",2,EXTREME,"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find("\r\n1,2026-12-08T02:30:11Z,"), std::string::npos) << csv;
    EXPECT_TRUE(csv.ends_with(",player,CLEARED,1.0,false,CLEARED\r\n")) << csv;

    // A folder in the way fails the rename; what was written beside it goes too.
    std::filesystem::create_directory(records.folder.file("taken.csv"));
    EXPECT_EQ(records.records("--export taken.csv").status, 1);
    std::vector<std::string> exports;
    for (const auto& entry : std::filesystem::directory_iterator(records.folder.path())) {
        if (entry.path().filename().string().find(".csv") != std::string::npos)
            exports.push_back(entry.path().filename().string());
    }
    std::sort(exports.begin(), exports.end());
    EXPECT_EQ(exports, (std::vector<std::string>{"best.csv", "taken.csv"}));
}

TEST(TrellikToolRecords, MissingOrForeignFileIsLeftAloneAndOptionsAreChecked) {
    TtemporaryFolder folder;
    const TtoolRun run = runTool(folder, "records --file none.sqlite3");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "No records at none.sqlite3 yet.\n");
    EXPECT_FALSE(std::filesystem::exists(folder.file("none.sqlite3")));
    writeFile(folder.file("plays.csv"), "id,when\r\n");
    EXPECT_EQ(runTool(folder, "records --file plays.csv").status, 1);
    EXPECT_EQ(readFile(folder.file("plays.csv")), "id,when\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder.file("plays.csv.bad-1")));
    EXPECT_NE(runTool(folder, "records --help").out.find(TrecordsDatabase::defaultPath()), std::string::npos);
    for (const char* wrong : {"records --fast", "records --song", "records extra", "records --json --export a.csv"})
        EXPECT_EQ(runTool(folder, wrong).status, 2) << wrong;
}

namespace {

// A records file in a folder of its own, both made read-only for the one running the tool: as
// root reads through any permission, the tool then runs as nobody.
struct TreadOnlyRecords {
    TtemporaryFolder folder;
    std::string launcher = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";

    TreadOnlyRecords() {
        std::filesystem::create_directory(folder.file("kept"));
        TrecordsDatabase(folder.file("kept/records.sqlite3")).addPlay(keptPlay("Alpha", 0, firstPlayTime, 800000));
        ::chmod(folder.file("kept/records.sqlite3").c_str(), 0444);
        ::chmod(folder.file("kept").c_str(), 0555);
        ::chmod(folder.path().c_str(), 0711);
    }
    ~TreadOnlyRecords() { ::chmod(folder.file("kept").c_str(), 0755); }
};

void keepPlays(const TtemporaryFolder& folder, const std::vector<TkeptPlay>& plays) {
    TrecordsDatabase database(folder.file("records.sqlite3"));
    for (const TkeptPlay& play : plays) database.addPlay(play);
}

}  // namespace

TEST(TrellikToolRecords, ReadOnlyFileInAReadOnlyFolderIsListed) {
    const TreadOnlyRecords records;
    const TtoolRun run = runToolThrough(records.launcher, records.folder, "records --file kept/records.sqlite3");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(firstWords(run.out), (std::vector<std::string>{"id", "1"})) << run.out;
    EXPECT_EQ(run.err, "");
}

// A journal left by a game that was stopped holds plays the file does not: not read as if they were not there.
TEST(TrellikToolRecords, ReadOnlyFileWithAJournalBesideItIsRefusedNotReadStale) {
    const TreadOnlyRecords records;
    const std::string file = records.folder.file("kept/records.sqlite3");
    ::chmod(records.folder.file("kept").c_str(), 0755);
    sqlite3* writer = nullptr;
    sqlite3_open(file.c_str(), &writer);
    sqlite3_exec(writer, "PRAGMA wal_autocheckpoint = 0; UPDATE plays SET score = 1", nullptr, nullptr, nullptr);
    // The two files as a killed game leaves them: the play's change only in the journal.
    std::filesystem::copy_file(file, records.folder.file("file"));
    std::filesystem::copy_file(file + "-wal", records.folder.file("journal"));
    sqlite3_close(writer);
    std::filesystem::rename(records.folder.file("file"), file);
    std::filesystem::rename(records.folder.file("journal"), file + "-wal");
    ::chmod(records.folder.file("kept").c_str(), 0555);

    const TtoolRun run = runToolThrough(records.launcher, records.folder, "records --file kept/records.sqlite3");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("records.sqlite3 cannot be opened"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::exists(file));
}

TEST(TrellikToolRecords, TruncatedFileIsReportedAsKeptAsideAndFails) {
    TtemporaryFolder folder;
    {
        TrecordsDatabase database(folder.file("records.sqlite3"));
        for (int index = 0; index < 200; ++index) database.addPlay(keptPlay("Cut", 0, firstPlayTime, index));
    }
    std::filesystem::resize_file(folder.file("records.sqlite3"), 4096);
    const TtoolRun run = runTool(folder, "records --file records.sqlite3");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("; kept it as records.sqlite3.bad-1."), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("records.sqlite3")));
}

TEST(TrellikToolRecords, EmptyFileIsNoRecordsYetAndStaysEmpty) {
    TtemporaryFolder folder;
    writeFile(folder.file("records.sqlite3"), "");
    const TtoolRun run = runTool(folder, "records --file records.sqlite3");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "No records at records.sqlite3 yet.\n");
    EXPECT_EQ(readFile(folder.file("records.sqlite3")), "");
}

TEST(TrellikToolRecords, AnotherProgramsDatabaseOrAPipeIsRefusedAndLeftAsItIs) {
    TtemporaryFolder folder;
    sqlite3* connection = nullptr;
    sqlite3_open(folder.file("other.sqlite3").c_str(), &connection);
    sqlite3_exec(connection, "CREATE TABLE bookmarks (url); PRAGMA user_version = 1", nullptr, nullptr, nullptr);
    sqlite3_close(connection);
    const std::string before = readFile(folder.file("other.sqlite3"));
    const TtoolRun other = runTool(folder, "records --file other.sqlite3");
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("other.sqlite3 is not a records database"), std::string::npos) << other.err;
    EXPECT_EQ(readFile(folder.file("other.sqlite3")), before);

    ASSERT_EQ(::mkfifo(folder.file("pipe").c_str(), 0600), 0);
    const TtoolRun pipe = runTool(folder, "records --file pipe");
    EXPECT_EQ(pipe.status, 1);
    EXPECT_NE(pipe.err.find("pipe is not a regular file"), std::string::npos) << pipe.err;
    EXPECT_TRUE(std::filesystem::is_fifo(folder.file("pipe")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("other.sqlite3.bad-1")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("pipe.bad-1")));
}

TEST(TrellikToolRecords, ExportedTextThatASpreadsheetWouldRunIsMarkedAsText) {
    std::vector<TkeptPlay> plays;
    for (const char* song : {"=1+1", "+1", "-1", "@SUM(A1)", "\tTab", "\rReturn", "a=b", ""})
        plays.push_back(keptPlay(song, 0, firstPlayTime, 800000));
    const TtemporaryFolder folder;
    keepPlays(folder, plays);
    ASSERT_EQ(runTool(folder, "records --file records.sqlite3 --export plays.csv").status, 0);
    const std::string csv = readFile(folder.file("plays.csv"));
    for (const std::string song : {"'=1+1", "'+1", "'-1", "'@SUM(A1)", "'\tTab", "\"'\rReturn\"", "a=b", ""})
        EXPECT_NE(csv.find("," + std::string(64, 'a') + "," + song + ",0,BASIC,"), std::string::npos) << song;
    // Numbers stay numbers: the mean and the difficulty.
    EXPECT_NE(csv.find(",-3.5,"), std::string::npos) << csv;
    EXPECT_EQ(csv.find("'-3.5"), std::string::npos) << csv;
}

TEST(TrellikToolRecords, JsonWritesNamesThatAreNotUtf8WithReplacementCharacters) {
    const TtemporaryFolder folder;
    keepPlays(folder, {keptPlay("Caf\xe9", 0, firstPlayTime, 800000)});
    const TtoolRun run = runTool(folder, "records --file records.sqlite3 --json");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)[0]["song"], "Caf\xef\xbf\xbd");
}

TEST(TrellikToolRecords, BestShowsTheBestScoreAndSeparatelyTheBestClear) {
    TkeptPlay fullCombo = keptPlay("Alpha", 0, firstPlayTime, 650000);
    fullCombo.miss = 0;
    const TtemporaryFolder folder;
    keepPlays(folder, {fullCombo, keptPlay("Alpha", 0, firstPlayTime + 60, 900000)});
    const TtoolRun table = runTool(folder, "records --file records.sqlite3 --best");
    EXPECT_EQ(firstWords(table.out), (std::vector<std::string>{"id", "2"})) << table.out;
    EXPECT_TRUE(table.out.starts_with("id ") && table.out.find("  best clear\n") != std::string::npos) << table.out;
    EXPECT_NE(table.out.find("  900000  "), std::string::npos) << table.out;
    EXPECT_TRUE(table.out.ends_with("  FULL COMBO\n")) << table.out;
    const TtoolRun json = runTool(folder, "records --file records.sqlite3 --best --json");
    const nlohmann::json best = nlohmann::json::parse(json.out);
    ASSERT_EQ(best.size(), 1u);
    EXPECT_EQ(best[0]["score"], 900000);
    EXPECT_EQ(best[0]["clear"], "CLEARED");
    EXPECT_EQ(best[0]["bestClear"], "FULL COMBO");
}
