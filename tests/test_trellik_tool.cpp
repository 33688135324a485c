// The content tool as authors run it: output, exit statuses and the song debug file.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "tests/support/testSupport.h"

namespace {

struct TtoolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs trellik-tool with the arguments (already quoted for the shell) in the folder.
TtoolRun runTool(const TtemporaryFolder& folder, const std::string& arguments) {
    const std::string command = "cd '" + folder.path() + "' && '" + builtProgram("tools/trellik-tool") + "' " +
                                arguments + " 2>'" + folder.file("stderr") + "'";
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

const std::string workedExample =
    "1--- |(120)[500]1-2-|\r\n"
    "--2- |3---|\r\n"
    "---- |----|\r\n"
    "3--3 |----|\r\n";

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
