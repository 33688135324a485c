// The ranking server on loopback: players, charts, verified plays, leaderboards, limits and storage.
#include <sqlite3.h>

#include <fstream>
#include <iterator>

#include "ranking/rankingRequests.h"
#include "tests/test_ranking_fixture.h"

namespace {

std::string fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST_F(TrankingServerTest, ATokenIsKeptOnlyAsItsHash) {
    startServer();
    const std::string token = registerPlayer("Mika");
    ASSERT_EQ(token.size(), 64u);
    EXPECT_TRUE(isSha256Text(token));
    EXPECT_NE(token, registerPlayer("Noor")) << "every token is new";
    stopServer();
    const std::string kept = fileBytes(databasePath()) + fileBytes(databasePath() + "-wal");
    EXPECT_EQ(kept.find(token), std::string::npos);
    EXPECT_NE(kept.find(sha256Hex(token)), std::string::npos);
}

TEST_P(TrankingApiTest, NamesAreOneToTwentyFourPrintableCharactersAndUnique) {
    startServer();
    EXPECT_EQ(post("/v1/players", json{{"name", std::string(24, 'a')}}.dump()).status, 201);
    EXPECT_EQ(post("/v1/players", json{{"name", std::string(23, 'b')}}.dump()).status, 201);
    EXPECT_EQ(post("/v1/players", json{{"name", "c"}}.dump()).status, 201);
    for (const std::string& name :
         {std::string(25, 'd'), std::string(), std::string("tab\there"), std::string(" lead")}) {
        const Treply reply = post("/v1/players", json{{"name", name}}.dump());
        EXPECT_EQ(reply.status, 400) << name;
        EXPECT_EQ(reply.body.value("error", ""), "bad_name") << name;
    }
    const Treply taken = post("/v1/players", json{{"name", "C"}}.dump());
    EXPECT_EQ(taken.status, 409);
    EXPECT_EQ(taken.body.value("error", ""), "name_taken");
}

TEST_P(TrankingApiTest, SqlTextInANameIsJustAName) {
    startServer();
    const std::string name = "'; DROP TABLE plays;--";
    const Treply reply = post("/v1/players", json{{"name", name}}.dump());
    ASSERT_EQ(reply.status, 201);
    const Treply player = get("/v1/players/" + std::to_string(reply.body.value("player_id", 0)));
    EXPECT_EQ(player.body.value("name", ""), name);
    const std::string token = reply.body.value("token", "");
    putChart(token, chartSha, chart);
    EXPECT_EQ(submit(token, playBody(chartSha, pressesOn(*parsedChart(chart), 0.5), 900000)).status, 200);
}

TEST_P(TrankingApiTest, AnUnknownChartIsAskedForThenThePlayIsVerified) {
    startServer();
    const std::string token = registerPlayer("Mika");
    const json play = playBody(chartSha, pressesOn(*parsedChart(chart), 0.5), 900000);
    const Treply first = submit(token, play);
    EXPECT_EQ(first.status, 409);
    EXPECT_EQ(first.body.value("error", ""), "need_chart");
    EXPECT_EQ(putChart(token, chartSha, chart).status, 201);
    EXPECT_EQ(putChart(token, chartSha, chart).status, 200) << "a chart is kept once";
    const Treply again = submit(token, play);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body.value("status", ""), "verified");
    EXPECT_EQ(again.body.value("score", 0), 900000);
    EXPECT_EQ(again.body.value("reason", "?"), "");
}

TEST_P(TrankingApiTest, AChartMustHashToItsAddressAndBeOneTheGamePlays) {
    startServer();
    const std::string token = registerPlayer("Mika");
    const Treply swapped = putChart(token, chartSha, blockChart(1));
    EXPECT_EQ(swapped.status, 400);
    EXPECT_EQ(swapped.body.value("error", ""), "chart_sha256_mismatch");
    const std::string refused = "not a chart at all\n";
    EXPECT_EQ(putChart(token, sha256Hex(refused), refused).body.value("error", ""), "chart_refused");
    EXPECT_EQ(putChart(token, "ABC", chart).body.value("error", ""), "bad_chart_sha256");
}

TEST_P(TrankingApiTest, ChartSizeCeiling) {
    limits.maxChartBytes = chart.size();
    startServer();
    const std::string token = registerPlayer("Mika");
    EXPECT_EQ(putChart(token, chartSha, chart).status, 201);
    const std::string over = chart + "\n";
    const Treply tooLarge = putChart(token, sha256Hex(over), over);
    EXPECT_EQ(tooLarge.status, 413);
    EXPECT_EQ(tooLarge.body.value("error", ""), "chart_too_large");
}

TEST_P(TrankingApiTest, LeaderboardHoldsEachPlayersBestVerifiedScoreWithSharedRanks) {
    startServer();
    const auto parsed = parsedChart(chart);
    const std::string mika = registerPlayer("Mika"), noor = registerPlayer("Noor"), ola = registerPlayer("Ola");
    putChart(mika, chartSha, chart);
    const TplayJudgement greats = judgePlay(*parsed, TtimingConstants{}, 0, pressesOn(*parsed, 70.5));
    submit(mika, playBody(chartSha, pressesOn(*parsed, 70.5), greats.score));
    submit(mika, playBody(chartSha, pressesOn(*parsed, 0.5), 900000));
    submit(noor, playBody(chartSha, pressesOn(*parsed, -0.5), 900000));
    submit(ola, playBody(chartSha, pressesOn(*parsed, 70.25), greats.score));
    submit(ola, playBody(chartSha, pressesOn(*parsed, 0.25), 1)) /* rejected: not on the board */;
    const Treply board = leaderboard(chartSha);
    ASSERT_EQ(board.status, 200);
    EXPECT_EQ(board.body.value("players", 0), 3);
    const json& entries = board.body["entries"];
    ASSERT_TRUE(entries.is_array());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]["name"], "Mika");
    EXPECT_EQ(entries[0]["rank"], 1);
    EXPECT_EQ(entries[1]["name"], "Noor");
    EXPECT_EQ(entries[1]["rank"], 1);
    EXPECT_EQ(entries[2]["name"], "Ola");
    EXPECT_EQ(entries[2]["rank"], 3);
    EXPECT_EQ(entries[2]["score"], greats.score);
    EXPECT_EQ(get("/v1/charts/" + chartSha + "/2/leaderboard").body["entries"].size(), 0u);
}

TEST_P(TrankingApiTest, LeaderboardLimitIsOneToTheCeiling) {
    startServer();
    const std::string token = registerPlayer("Mika");
    putChart(token, chartSha, chart);
    submit(token, playBody(chartSha, pressesOn(*parsedChart(chart), 0.5), 900000));
    for (const auto& [query, status] : std::vector<std::pair<std::string, int>>{
             {"?limit=0", 400}, {"?limit=1", 200}, {"?limit=99", 200}, {"?limit=100", 200}, {"?limit=101", 400},
             {"?limit=x", 400}, {"", 200}}) {
        const Treply reply = leaderboard(chartSha, query);
        EXPECT_EQ(reply.status, status) << query;
        if (status == 400) {
            EXPECT_EQ(reply.body.value("error", ""), "bad_limit") << query;
        }
    }
    for (const char* difficulty : {"3", "-1", "x"})
        EXPECT_EQ(get("/v1/charts/" + chartSha + "/" + difficulty + "/leaderboard").status, 400) << difficulty;
    EXPECT_EQ(get("/v1/charts/" + chartSha + "/2/leaderboard").status, 200);
}

TEST_P(TrankingApiTest, APlayersPageListsTheirPlaysWithTheirVerdicts) {
    startServer();
    const std::string token = registerPlayer("Mika");
    putChart(token, chartSha, chart);
    const auto parsed = parsedChart(chart);
    submit(token, playBody(chartSha, pressesOn(*parsed, 0.5), 900000));
    submit(token, playBody(chartSha, pressesOn(*parsed, 1.5), 899999));
    const Treply page = get("/v1/players/1");
    ASSERT_EQ(page.status, 200);
    ASSERT_EQ(page.body["plays"].size(), 2u);
    EXPECT_EQ(page.body["plays"][0]["status"], "rejected");
    EXPECT_EQ(page.body["plays"][0]["claimed_score"], 899999);
    EXPECT_EQ(page.body["plays"][1]["status"], "verified");
    EXPECT_EQ(get("/v1/players/2").status, 404);
    EXPECT_EQ(get("/v1/players/0").status, 404);
    EXPECT_EQ(get("/v1/players/abc").body.value("error", ""), "no_such_player");
}

TEST_P(TrankingApiTest, PressesPerPlayUpToTheChartsMarkersTimesTheFactor) {
    limits.pressesPerMarker = 2;
    startServer();
    const std::string token = registerPlayer("Mika");
    putChart(token, chartSha, chart);
    const auto parsed = parsedChart(chart);
    // Each marker pressed perfectly, then again 100 ms later: 2 presses per marker, judged as the game does.
    std::vector<TjudgePress> presses;
    for (const TjudgePress& press : pressesOn(*parsed, 0.5)) {
        presses.push_back(press);
        presses.push_back({press.panel, press.musicMs + 100.0});
    }
    std::sort(presses.begin(), presses.end(), [](const auto& a, const auto& b) { return a.musicMs < b.musicMs; });
    ASSERT_EQ(presses.size(), 128u);
    EXPECT_EQ(submit(token, playBody(chartSha, presses, 900000)).body.value("status", ""), "verified");
    presses.push_back({0, presses.back().musicMs + 1000.0});
    const Treply over = submit(token, playBody(chartSha, presses, 900000));
    EXPECT_EQ(over.status, 413);
    EXPECT_EQ(over.body.value("error", ""), "too_many_presses");
}

// A valid body padded with spaces to an exact size.
std::string paddedTo(const json& body, size_t size) {
    std::string text = body.dump();
    text.resize(size, ' ');
    return text;
}

TEST_P(TrankingApiTest, BodiesUpToTheCeilingAreReadOneByteMoreIsRefused) {
    limits.maxBodyBytes = 4096;
    startServer();
    const std::string token = registerPlayer("Mika");
    putChart(token, chartSha, chart);
    const json play = playBody(chartSha, pressesOn(*parsedChart(chart), 0.5), 900000);
    ASSERT_LT(play.dump().size(), 4095u);
    EXPECT_EQ(post("/v1/plays", paddedTo(play, 4095), token).status, 200);
    const Treply atCeiling = post("/v1/plays", paddedTo(play, 4096), token);
    EXPECT_EQ(atCeiling.status, 200);
    EXPECT_TRUE(atCeiling.body.value("already_kept", false));
    const Treply over = post("/v1/plays", paddedTo(play, 4097), token);
    EXPECT_EQ(over.status, 413);
    EXPECT_EQ(over.body.value("error", ""), "body_too_large");
}

TEST_P(TrankingApiTest, RequestsPerTokenPerMinuteThenRetryAfter) {
    limits.requestsPerMinute = 3;
    startServer();
    const std::string token = registerPlayer("Mika");
    const std::string other = registerPlayer("Noor");
    for (int request = 0; request < 3; ++request) EXPECT_EQ(putChart(token, chartSha, chart).status / 100, 2);
    const Treply refused = putChart(token, chartSha, chart);
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.body.value("error", ""), "too_many_requests");
    EXPECT_EQ(refused.retryAfter, "60");
    EXPECT_EQ(putChart(other, chartSha, chart).status, 200) << "each token has its own minute";
    clock.highResolution += 58999.0;
    EXPECT_EQ(putChart(token, chartSha, chart).retryAfter, "2");
    clock.highResolution += 2.0;
    EXPECT_EQ(putChart(token, chartSha, chart).retryAfter, "1");
    clock.highResolution += 998.999;
    EXPECT_EQ(putChart(token, chartSha, chart).retryAfter, "1") << "a part of a second waits a whole one";
    clock.highResolution += 0.001;
    EXPECT_EQ(putChart(token, chartSha, chart).status, 200) << "a new minute";
}

TEST_P(TrankingApiTest, EveryRefusalIsJson) {
    startServer();
    EXPECT_EQ(get("/nothing/here").body.value("error", ""), "not_found");
    EXPECT_EQ(post("/v1/players", "{\"name\":").body.value("error", ""), "bad_json");
    EXPECT_EQ(post("/v1/plays", "{}").body.value("error", ""), "bad_token");
    EXPECT_EQ(post("/v1/plays", "{}", std::string(64, 'a')).status, 401);
}

TEST_P(TrankingApiTest, PlaysOutliveTheServerInTheFile) {
    startServer();
    const std::string token = registerPlayer("Mika");
    putChart(token, chartSha, chart);
    submit(token, playBody(chartSha, pressesOn(*parsedChart(chart), 0.5), 900000));
    stopServer();
    startServer();
    const Treply board = leaderboard(chartSha);
    ASSERT_EQ(board.body["entries"].size(), 1u) << board.body.dump();
    EXPECT_EQ(board.body["entries"][0]["score"], 900000);
    EXPECT_EQ(putChart(token, chartSha, chart).status, 200) << "the token still works";
}

TEST_F(TrankingServerTest, AFileOfALaterSchemaIsRefusedUnchanged) {
    sqlite3* db = nullptr;
    sqlite3_open(databasePath().c_str(), &db);
    const std::string later = "PRAGMA user_version = " + std::to_string(rankingSchemaVersion() + 1);
    sqlite3_exec(db, later.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    try {
        TsqliteRankingStore refused(databasePath());
        FAIL() << "opened";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("newer than this server"), std::string::npos) << error.what();
    }
}

// Two server processes behind one load balancer: a client resending a play whose answer it lost
// may reach both at once, and the play is still kept once.
TEST_P(TrankingApiTest, TwoServersSharingADatabaseKeepAResentPlayOnce) {
    startServer();
    const std::string token = registerPlayer("Mika");
    putChart(token, chartSha, chart);
    std::unique_ptr<TrankingStore> otherStore = openStore();
    TrankingServer other(*otherStore, limits);
    const int otherPort = other.bind("127.0.0.1", 0);
    std::thread otherServing([&other] { other.serve(); });
    for (int round = 0; round < 8; ++round) {
        const std::string resent = playBody(chartSha, pressesOn(*parsedChart(chart), 0.5 + round), 900000).dump();
        Treply there;
        std::thread racing([&] {
            httplib::Client otherClient("127.0.0.1", otherPort);
            there = replyOf(otherClient.Post("/v1/plays", bearer(token), resent, "application/json"));
        });
        const Treply here = post("/v1/plays", resent, token);
        racing.join();
        EXPECT_EQ(here.body.value("play_id", 0), there.body.value("play_id", -1)) << here.body.dump() << there.body.dump();
        EXPECT_NE(here.body.value("already_kept", false), there.body.value("already_kept", false));
    }
    other.stop();
    otherServing.join();
    EXPECT_EQ(get("/v1/players/1").body["plays"].size(), 8u);
}

// Leaderboards are answered from memory: a play kept here shows at once, one kept by another
// server process sharing the database within a second.
TEST_P(TrankingApiTest, ALeaderboardPageLastsASecondUnlessThisServerChangedIt) {
    startServer();
    const std::string mika = registerPlayer("Mika");
    putChart(mika, chartSha, chart);
    EXPECT_EQ(leaderboard(chartSha).body.value("players", -1), 0);
    submit(mika, playBody(chartSha, pressesOn(*parsedChart(chart), 0.5), 900000));
    EXPECT_EQ(leaderboard(chartSha).body.value("players", -1), 1) << "kept here: renewed at once";
    std::unique_ptr<TrankingStore> otherStore = openStore();
    TrankingServer other(*otherStore, limits);
    const int otherPort = other.bind("127.0.0.1", 0);
    std::thread otherServing([&other] { other.serve(); });
    httplib::Client otherClient("127.0.0.1", otherPort);
    const std::string noor = registerPlayer("Noor");
    const std::string play = playBody(chartSha, pressesOn(*parsedChart(chart), 0.25), 900000).dump();
    EXPECT_EQ(replyOf(otherClient.Post("/v1/plays", bearer(noor), play, "application/json")).body.value("status", ""),
              "verified");
    other.stop();
    otherServing.join();
    clock.highResolution += 999.999;
    EXPECT_EQ(leaderboard(chartSha).body.value("players", -1), 1);
    EXPECT_EQ(leaderboard(chartSha, "?limit=3").body.value("players", -1), 2) << "another page is read anew";
    clock.highResolution += 0.001;
    EXPECT_EQ(leaderboard(chartSha).body.value("players", -1), 2);
}

TRELLIK_ON_EVERY_DATABASE(TrankingApiTest);

class TpostgresStoreTest : public TrankingServerTest {
protected:
    std::string backend() const override { return "postgresql"; }
};

TEST_F(TpostgresStoreTest, ADatabaseOfALaterSchemaIsRefusedUnchanged) {
    openStore().reset();
    PGconn* connection = PQconnectdb(postgres->address().c_str());
    const std::string later = "UPDATE schema_version SET version = " + std::to_string(rankingSchemaVersion() + 1);
    PQclear(PQexec(connection, later.c_str()));
    try {
        openStore();
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("newer than this server"), std::string::npos) << error.what();
    }
    PGresult* version = PQexec(connection, "SELECT version FROM schema_version");
    EXPECT_EQ(PQntuples(version), 1);
    if (PQntuples(version) == 1) {
        EXPECT_EQ(std::atoi(PQgetvalue(version, 0, 0)), rankingSchemaVersion() + 1) << "left as it was";
    }
    PQclear(version);
    PQfinish(connection);
}

// Press rules at their edges: time order for every press; the music's start and 15 ms on one
// panel for the presses that judged a marker, never for those that judged nothing.
TEST(PressRules, BeforeTheMusicOutOfOrderAndTooFastOnOnePanel) {
    EXPECT_NE(pressesOutOfOrder({{0, 100.0}, {1, 99.999}}), "");
    EXPECT_EQ(pressesOutOfOrder({{0, 100.0}, {1, 100.0}}), "") << "two panels at one moment";
    EXPECT_EQ(pressesOutOfOrder({{0, -100.0}, {1, 100.001}}), "");
    const TpressOutcome judged{perfect, 1.0}, nothing{};
    using Tpresses = std::vector<TjudgePress>;
    using Toutcomes = std::vector<TpressOutcome>;
    EXPECT_NE(pressesRejection(Tpresses{{0, -0.001}}, Toutcomes{judged}), "");
    EXPECT_EQ(pressesRejection(Tpresses{{0, 0.0}}, Toutcomes{judged}), "");
    EXPECT_EQ(pressesRejection(Tpresses{{0, -1.0}}, Toutcomes{nothing}), "") << "a key down before the music";
    const auto twoOnPanel3 = [&](double second, const TpressOutcome& first) {
        return pressesRejection(Tpresses{{3, 100.0}, {3, second}}, Toutcomes{first, judged});
    };
    EXPECT_NE(twoOnPanel3(100.0, judged).find("repeats"), std::string::npos);
    EXPECT_NE(twoOnPanel3(114.999, judged).find("15 ms"), std::string::npos);
    EXPECT_EQ(twoOnPanel3(115.0, judged), "");
    EXPECT_EQ(twoOnPanel3(115.001, judged), "");
    EXPECT_EQ(twoOnPanel3(100.0, nothing), "") << "chatter that judged nothing";
    EXPECT_EQ(twoOnPanel3(114.999, nothing), "");
    EXPECT_EQ(pressesRejection(Tpresses{{3, 100.0}, {4, 105.0}, {3, 115.0}}, Toutcomes{judged, judged, judged}), "");
}

// The API numbers panels in key order, row by row as the chart's grid: presses written from a
// chart's text, each on its row's beat (the chart time - 50 ms), score every marker perfect.
TEST_P(TrankingApiTest, PanelsAreInKeyOrderAsTheChartsGridShows) {
    // Each block: sixteen markers, one a slot of 62.5 ms, none on the grid's diagonal order.
    const std::string grid = "59c2" "1g63" "b4e8" "7daf";
    std::string text;
    for (int block = 0; block < 3; ++block)
        for (int line = 0; line < 4; ++line)
            text += grid.substr(static_cast<size_t>(line) * 4, 4) +
                    (block == 0 && line == 0 ? " |(240)[500]xxxx|\n" : " |xxxx|\n");
    const std::string names = "123456789abcdefg";
    json presses = json::array(), transposed = json::array();
    for (int block = 0; block < 3; ++block)
        for (size_t nth = 0; nth < names.size(); ++nth) {
            const int key = static_cast<int>(grid.find(names[nth]));
            const double beatMs = 500.0 + (block * 16 + static_cast<double>(nth)) * 62.5;
            const double musicMs = beatMs - 50.0 + personsScatterMs[nth % 8];
            presses.push_back({key, musicMs});
            transposed.push_back({transposeIndex(key), musicMs});
        }
    startServer();
    const std::string token = registerPlayer("Mika");
    ASSERT_EQ(putChart(token, sha256Hex(text), text).status, 201);
    json play = playBody(sha256Hex(text), {}, 900000);
    play["presses"] = presses;
    const Treply reply = submit(token, play);
    EXPECT_EQ(reply.body.value("score", 0), 900000) << reply.body.dump();
    EXPECT_EQ(reply.body.value("status", ""), "verified");
    play["presses"] = transposed;
    EXPECT_LT(submit(token, play).body.value("score", 900000), 450000) << "column by column is another play";
}

TEST_P(TrankingApiTest, NamesDifferingOnlyInLookAlikeCharactersAreTaken) {
    limits.registrationsPerHour = 100;
    startServer();
    registerPlayer("alice");
    registerPlayer("Oskar");
    for (const std::string name : {"al1ce", "aIice", "a1ice", "ALICE", "ALlCE", "0skar", "oskar"}) {
        const Treply taken = post("/v1/players", json{{"name", name}}.dump());
        EXPECT_EQ(taken.status, 409) << name;
        EXPECT_EQ(taken.body.value("error", ""), "name_taken") << name;
    }
    for (const std::string name : {"alicf", "alice2", "0skar1"}) EXPECT_EQ(post("/v1/players", json{{"name", name}}.dump()).status, 201) << name;
}

TEST_P(TrankingApiTest, RegistrationsPerAddressPerHour) {
    limits.registrationsPerHour = 3;
    startServer();
    for (const char* name : {"a", "b", "c"}) registerPlayer(name);
    const Treply refused = post("/v1/players", json{{"name", "d"}}.dump());
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.body.value("error", ""), "too_many_registrations");
    EXPECT_EQ(refused.retryAfter, "3600");
    clock.highResolution += 3600000.0 - 1.0;
    EXPECT_EQ(post("/v1/players", json{{"name", "d"}}.dump()).status, 429);
    clock.highResolution += 1.0;
    EXPECT_EQ(post("/v1/players", json{{"name", "d"}}.dump()).status, 201);
}

// A window whose minute is over is let go at the next sweep, once a minute.
TEST(RequestBudget, WindowsThatEndedAreLetGo) {
    TmanualClock clock;
    installClock(&clock);
    TrequestBudget budget(5, 60000.0);
    budget.secondsToWait("a");
    budget.secondsToWait("b");
    clock.highResolution = 59999.0;
    budget.secondsToWait("c");
    EXPECT_EQ(budget.windowsHeld(), 3u);
    clock.highResolution = 60000.0;
    budget.secondsToWait("d");
    EXPECT_EQ(budget.windowsHeld(), 2u) << "a and b ended; c has a ms to go";
    clock.highResolution = 119999.0;
    budget.secondsToWait("d");
    EXPECT_EQ(budget.windowsHeld(), 2u) << "no sweep within a minute of the last";
    clock.highResolution = 120000.0;
    budget.secondsToWait("e");
    EXPECT_EQ(budget.windowsHeld(), 1u);
    installClock(nullptr);
}

// A file written by the server before players' bests were kept apart reads as it did.
TEST_F(TrankingServerTest, AFileOfTheEarlierSchemaIsBroughtUpToDateWithItsPlays) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(databasePath().c_str(), &db), SQLITE_OK);
    for (int version = 1; version <= 2; ++version)
        ASSERT_EQ(sqlite3_exec(db, rankingMigration(version).sqlite, nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string rows =
        "PRAGMA user_version = 2;"
        "INSERT INTO players VALUES (1, 'alice', 'aa', 0), (2, 'al1ce', 'bb', 0), (3, 'Noor', 'cc', 0);"
        "INSERT INTO plays (player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score,"
        " score, max_combo, perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at)"
        " VALUES (1, '" + chartSha + "', 1, 1, 0, 0, 5, 5, 0, 0, 0, 0, 0, 0, 1, '', x'', 'k1', 0),"
        " (2, '" + chartSha + "', 1, 1, 0, 0, 7, 7, 0, 0, 0, 0, 0, 0, 1, '', x'', 'k2', 0),"
        " (2, '" + chartSha + "', 1, 1, 0, 0, 6, 6, 0, 0, 0, 0, 0, 0, 1, '', x'', 'k3', 0),"
        " (3, '" + chartSha + "', 1, 1, 0, 0, 9, 9, 0, 0, 0, 0, 0, 0, 0, 'no', x'', 'k4', 0);";
    ASSERT_EQ(sqlite3_exec(db, rows.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    startServer();
    const Treply board = leaderboard(chartSha);
    EXPECT_EQ(board.body.value("players", 0), 2);
    ASSERT_EQ(board.body["entries"].size(), 2u) << board.body.dump();
    EXPECT_EQ(board.body["entries"][0]["name"], "al1ce");
    EXPECT_EQ(board.body["entries"][0]["score"], 7);
    EXPECT_EQ(board.body["entries"][1]["name"], "alice");
    EXPECT_EQ(get("/v1/charts/" + chartSha + "/2/leaderboard").body["entries"].size(), 0u);
    const std::string token = registerPlayer("Mika");
    putChart(token, chartSha, chart);
    json harder = playBody(chartSha, pressesOn(*parsedChart(chart), 0.5), 900000);
    harder["difficulty"] = 2;
    EXPECT_EQ(submit(token, harder).body.value("error", ""), "wrong_difficulty") << "first ranked as 1";
}

TEST(PlayRequests, FieldsOutOfRangeAreRefusedWithTheirNames) {
    const json good = playBody(std::string(64, 'a'), {{15, 10.0}}, 900000);
    TplaySubmission play;
    EXPECT_FALSE(readPlaySubmission(good.dump(), play).failed());
    const std::vector<std::pair<std::string, json>> cases = {
        {"bad_difficulty", {{"difficulty", 3}}},       {"bad_difficulty", {{"difficulty", -1}}},
        {"bad_offset", {{"audio_offset", 501}}},       {"bad_offset", {{"visual_offset", -501}}},
        {"bad_claimed_score", {{"claimed_score", 900001}}}, {"bad_claimed_score", {{"claimed_score", -1}}},
        {"bad_claimed_score", {{"claimed_score", 1.5}}}, {"unsupported_rate", {{"rate", 1.5}}},
        {"bad_presses", {{"presses", {{16, 10.0}}}}}, {"bad_presses", {{"presses", {{-1, 10.0}}}}},
        {"bad_presses", {{"presses", {{0, "10"}}}}},   {"bad_presses", {{"presses", {{0, 10.0, 1}}}}},
        {"bad_chart_sha256", {{"chart_sha256", std::string(64, 'A')}}},
        {"bad_presses", {{"presses", {{{"panel", 0}}}}}},  {"bad_presses", {{"presses", {{0, {10.0}}}}}},
        {"bad_presses", {{"presses", {{0}}}}},          {"bad_presses", {{"presses", nullptr}}},
        {"bad_presses", {{"presses", {1, 2}}}},         {"bad_chart_sha256", {{"chart_sha256", 7}}},
        {"bad_difficulty", {{"difficulty", {1}}}},      {"bad_rate", {{"rate", "1.0"}}}};
    for (const auto& [code, change] : cases) {
        json body = good;
        body.update(change);
        EXPECT_EQ(readPlaySubmission(body.dump(), play).code, code) << change.dump();
    }
    EXPECT_EQ(readPlaySubmission("[" + good.dump() + "]", play).code, "bad_json");
    EXPECT_EQ(readPlaySubmission(good.dump() + "x", play).code, "bad_json");
    // Fields it does not know are passed over, lists and objects in them too; a repeated field's
    // last value counts.
    json extra = good;
    extra["client"] = {{"presses", {{99, "x"}}}, {"difficulty", 9}};
    EXPECT_FALSE(readPlaySubmission(extra.dump(), play).failed()) << extra.dump();
    std::string repeated = good.dump();
    repeated.insert(1, "\"difficulty\":9,\"presses\":7,");
    ASSERT_FALSE(readPlaySubmission(repeated, play).failed()) << repeated;
    ASSERT_EQ(play.presses.size(), 1u);
    EXPECT_EQ(play.presses[0].panel, 15);
    for (const auto& [field, value] : std::vector<std::pair<std::string, json>>{
             {"difficulty", 2}, {"difficulty", 0}, {"audio_offset", 500}, {"audio_offset", -500},
             {"claimed_score", 0}, {"presses", {{0, 0.0}}}}) {
        json body = good;
        body[field] = value;
        EXPECT_FALSE(readPlaySubmission(body.dump(), play).failed()) << field << " " << value.dump();
    }
}

}  // namespace
