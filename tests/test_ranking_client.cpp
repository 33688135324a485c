// The game's side of the ranking: replies read, the queue in the records sent with backoff to a real
// server on loopback, registration kept in the settings file, and nothing counted twice.
#include <sys/stat.h>

#include <fstream>

#include "engine/rankingSubmitter.h"
#include "engine/trellikGL38Engine.h"
#include "platform/net/rankingClient.h"
#include "platform/store/rankingSettings.h"
#include "tests/test_ranking_fixture.h"

namespace {

TEST(RankingReplies, AnythingButTheExpectedJsonIsNeverASuccess) {
    const std::string verified = R"({"status":"verified","score":880000,"reason":"","play_id":7})";
    const struct {
        int status;
        std::string body;
        TrankingOutcome outcome;
    } cases[] = {
        {200, verified, TrankingOutcome::verified},
        {200, R"({"status":"rejected","score":1,"reason":"too fast"})", TrankingOutcome::rejected},
        {200, R"({"status":"VERIFIED"})", TrankingOutcome::retryLater},
        {200, "not json", TrankingOutcome::retryLater},
        {200, "[1,2]", TrankingOutcome::retryLater},
        {0, "", TrankingOutcome::retryLater},
        {399, verified, TrankingOutcome::retryLater},
        {400, R"({"error":"bad_presses"})", TrankingOutcome::refused},
        {401, "", TrankingOutcome::badToken},
        {409, R"({"error":"need_chart"})", TrankingOutcome::needChart},
        {409, R"({"error":"name_taken"})", TrankingOutcome::nameTaken},
        {429, "", TrankingOutcome::retryLater},
        {499, "", TrankingOutcome::refused},
        {500, verified, TrankingOutcome::retryLater},
    };
    for (const auto& item : cases)
        EXPECT_EQ(readPlayReply({item.status, item.body, 0, ""}).outcome, item.outcome) << item.status << item.body;
    const TrankingAnswer answer = readPlayReply({200, verified, 0, ""});
    EXPECT_EQ(answer.score, 880000);
    EXPECT_EQ(answer.serverPlayId, 7);
    EXPECT_EQ(readPlayReply({429, "", 42, ""}).retryAfterSeconds, 42);
    // A token goes into a header: one that could end the header line is no registration.
    EXPECT_EQ(readRegisterReply({201, R"({"player_id":3,"token":"ab\r\nX: y"})", 0, ""}).outcome,
              TrankingOutcome::retryLater);
    EXPECT_EQ(readRegisterReply({201, R"({"player_id":0,"token":"abcd"})", 0, ""}).outcome,
              TrankingOutcome::retryLater);
    EXPECT_EQ(readRegisterReply({201, R"({"player_id":3,"token":"abcd"})", 0, ""}).token, "abcd");
}

TEST(RankingReplies, TheRankLineNamesThePlayersPlaceOrThatTheyArePastTheList) {
    const TleaderboardReply board =
        readLeaderboardReply({200, R"({"players":41,"entries":[{"rank":1,"player_id":9,"name":"A","score":9},
                                      {"rank":1,"player_id":4,"name":"B","score":9},
                                      {"rank":3,"player_id":5,"name":"C","score":8}]})", 0, ""});
    ASSERT_TRUE(board.read);
    EXPECT_EQ(rankLine(board, 5), "RANK 3 OF 41");
    EXPECT_EQ(rankLine(board, 4), "RANK 1 OF 41") << "a tie shares the rank";
    EXPECT_EQ(rankLine(board, 6), "RANK 4+ OF 41");
    EXPECT_FALSE(readLeaderboardReply({200, R"({"entries":[{"rank":0}]})", 0, ""}).read);
}

TEST(RankingQueue, RetriesWaitFifteenSecondsDoublingToAnHour) {
    const std::pair<int32_t, int64_t> cases[] = {{0, 15},    {1, 15},    {2, 30},      {8, 1920},
                                                 {9, 3600},  {10, 3600}, {16, 3600},   {17, 3600}};
    for (const auto& [attempts, seconds] : cases) EXPECT_EQ(retryDelaySeconds(attempts), seconds) << attempts;
}

TEST(RankingSettings, ATokenServesOnlyTheServerAndNameItWasGivenFor) {
    TtemporaryFolder folder;
    const std::string file = folder.file("settings.json");
    TsettingsStore store(file);
    store.writeString("hres", "800");
    writeRankingChoice(store, " http://127.0.0.1:9 ", "Mika ");
    store.save();
    ::chmod(file.c_str(), 0644);
    keepRankingRegistration(file, {"http://127.0.0.1:9", "Mika", "abcd", 12});
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_TRUE(store.open());
    EXPECT_EQ(store.readString("hres").value_or(""), "800");
    const TrankingSettings read = readRankingSettings(store);
    EXPECT_EQ(read.token, "abcd");
    EXPECT_EQ(read.playerId, 12);
    writeRankingChoice(store, "http://127.0.0.1:9", "Noor");
    EXPECT_EQ(readRankingSettings(store).token, "") << "another name registers anew";
}

TEST(RankingQueue, KeysPressedTogetherAreSentInTimeOrder) {
    TkeptPlay play;
    play.presses = {{100.0, 3, 0, 3, 0.0}, {12408.13, 3, 1, 3, 0.0}, {12408.12, 15, 1, 3, 0.0}, {12408.12, 4, 1, 3, 0.0}};
    const json body = json::parse(playRequestBody(play, "id"));
    // The records' panels (column by column) go out in key order (row by row).
    EXPECT_EQ(body["presses"], json::parse("[[12,100.0],[15,12408.12],[1,12408.12],[12,12408.13]]"));
    EXPECT_EQ(body["client_play_id"], "id");
    EXPECT_EQ(body["rate"], 1.0);
}

TEST(RankingResults, LongLinesBreakAtSpacesWithinTheWidth) {
    using Tlines = std::vector<std::string>;
    EXPECT_EQ(wrappedLines("RANK 3 OF 41", 12), Tlines{"RANK 3 OF 41"});
    EXPECT_EQ(wrappedLines("RANK 3 OF 41", 11), (Tlines{"RANK 3 OF", "41"}));
    EXPECT_EQ(wrappedLines("RANK 3 OF 41", 13), Tlines{"RANK 3 OF 41"});
    EXPECT_EQ(wrappedLines("abcdefgh ij", 4), (Tlines{"abcd", "efgh", "ij"})) << "a word longer than a line is cut";
    EXPECT_TRUE(wrappedLines("", 4).empty());
}

class RankingQueueTest : public TrankingServerTest {
protected:
    const std::string chartPath = folder.file("chart.txt");
    int port = 0;

    void SetUp() override {
        TrankingServerTest::SetUp();
        std::ofstream(chartPath, std::ios::binary) << chart;
        // A port of our own, free again until the server comes up on it.
        startServer();
        port = server->bind("127.0.0.1", 0);
        stopServer();
    }

    void startServerOnPort() {
        store = std::make_unique<TsqliteRankingStore>(databasePath());
        server = std::make_unique<TrankingServer>(*store, limits);
        server->bind("127.0.0.1", port);
        serving = std::thread([this] { server->serve(); });
        client = std::make_unique<httplib::Client>("127.0.0.1", port);
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }

    // A player's play of the chart, its presses offBy ms from each beat, kept and queued.
    int64_t keepAndQueue(TrecordsDatabase& records, double offBy, int32_t audioOffset = 0) {
        const std::unique_ptr<TsongParser> parsed = parsedChart(chart);
        const std::vector<TjudgePress> presses = pressesOn(*parsed, offBy, audioOffset);
        TkeptPlay play;
        play.audioOffset = audioOffset;
        play.chartSha256 = chartSha;
        play.song = "Blocks";
        play.difficulty = 1;
        play.markerCount = parsed->markerCount;
        play.score = judgePlay(*parsed, TtimingConstants{}, audioOffset, presses).score;
        for (const TjudgePress& press : presses) play.presses.push_back({press.musicMs, press.panel, 0, 3, offBy});
        const int64_t id = records.addPlay(play);
        EXPECT_TRUE(records.queueForRanking(id, newClientPlayId(), chartPath)) << records.lastError();
        return id;
    }
};

TEST_F(RankingQueueTest, APlayKeptWhileTheServerIsDownIsSentWhenItIsBackAndCountedOnce) {
    TrecordsDatabase records(folder.file("records.sqlite3"));
    const int64_t playId = keepAndQueue(records, 0.5);
    const std::string settingsFile = folder.file("settings.json");
    const TrankingClient ranking(url());
    TrankingSender sender(records, ranking, {url(), "Mika", "", 0}, settingsFile);

    const TsendSummary offline = sender.sendQueued(1000, -1);
    EXPECT_EQ(offline.waiting, 1);
    EXPECT_FALSE(offline.problem.empty());
    ASSERT_EQ(records.queuedSubmissions(-1).size(), 1u);
    EXPECT_EQ(records.queuedSubmissions(-1)[0].nextAttemptAt, 1015);
    EXPECT_EQ(records.queuedSubmissions(1014).size(), 0u) << "not due before its wait is over";
    EXPECT_EQ(records.queuedSubmissions(1015).size(), 1u);

    startServerOnPort();
    const TsendSummary back = sender.sendQueued(1015, 1015);
    EXPECT_EQ(back.verified, 1) << back.problem;
    EXPECT_EQ(back.waiting, 0);
    EXPECT_EQ(sender.lines().at(playId), "RANK 1 OF 1");
    TsettingsStore stored(settingsFile);
    stored.open();
    EXPECT_EQ(readRankingSettings(stored).token.size(), 64u) << "the registration is kept for later runs";

    // The answer lost on the way: the play is sent again and the server keeps it once.
    TrankingSubmission again;
    again.playId = playId;
    ASSERT_TRUE(records.updateSubmission(again));
    EXPECT_EQ(sender.sendQueued(1100, -1).verified, 1);
    const Treply plays = get("/v1/players/" + std::to_string(readRankingSettings(stored).playerId));
    EXPECT_EQ(plays.body["plays"].size(), 1u);
}

TEST_F(RankingQueueTest, TwoPlayersSeeTheirRanksAndTheWorldBest) {
    startServerOnPort();
    TrecordsDatabase first(folder.file("first.sqlite3"));
    TrecordsDatabase second(folder.file("second.sqlite3"));
    const int64_t close = keepAndQueue(first, 0.5);
    const int64_t loose = keepAndQueue(second, 70.0);
    const TrankingClient ranking(url());
    TrankingSender mika(first, ranking, {url(), "Mika", "", 0}, "");
    TrankingSender noor(second, ranking, {url(), "Noor", "", 0}, "");
    EXPECT_EQ(noor.sendQueued(1000, -1).verified, 1);
    EXPECT_EQ(mika.sendQueued(1000, -1).verified, 1);
    EXPECT_EQ(noor.lines().at(loose), "RANK 1 OF 1");
    EXPECT_EQ(mika.lines().at(close), "RANK 1 OF 2");
    const TleaderboardReply board = readLeaderboardReply(ranking.leaderboard(chartSha, 1, 10));
    ASSERT_EQ(board.entries.size(), 2u);
    EXPECT_EQ(board.entries[0].name, "Mika");
    EXPECT_EQ(rankLine(board, board.entries[1].playerId), "RANK 2 OF 2");
}

// The server judges a play only with offsets it was told of first: the sender registers them.
TEST_F(RankingQueueTest, APlayUnderOtherOffsetsIsSentAfterTheyAreRegistered) {
    startServerOnPort();
    TrecordsDatabase records(folder.file("records.sqlite3"));
    const int64_t late = keepAndQueue(records, 0.5, 30);
    const int64_t later = keepAndQueue(records, 0.25, 30);
    const TrankingClient ranking(url());
    TrankingSender sender(records, ranking, {url(), "Mika", "", 0}, "");
    const TsendSummary summary = sender.sendQueued(1000, -1);
    EXPECT_EQ(summary.verified, 2) << summary.problem << sender.lines().at(late);
    EXPECT_EQ(sender.lines().at(later), "RANK 1 OF 1");
}

TEST_F(RankingQueueTest, APlayWhoseChartChangedIsRefusedNotRetriedForever) {
    startServerOnPort();
    TrecordsDatabase records(folder.file("records.sqlite3"));
    const int64_t playId = keepAndQueue(records, 0.5);
    std::ofstream(chartPath, std::ios::binary) << blockChart(1);
    const TrankingClient ranking(url());
    TrankingSender sender(records, ranking, {url(), "Mika", "", 0}, "");
    const TsendSummary summary = sender.sendQueued(1000, -1);
    EXPECT_EQ(summary.refused, 1);
    EXPECT_EQ(summary.waiting, 0);
    EXPECT_EQ(sender.lines().at(playId), "NOT RANKED: its chart file is gone or changed since the play");
}

}  // namespace
