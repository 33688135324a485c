// How long the ranking server takes to answer a leaderboard when it keeps 1 000 000 plays over
// 10 000 charts and one chart played by all 1000 players, how long a play waits while 8 clients
// read that chart's leaderboard, and what flushing every commit costs SQLite: an SQLite file, and
// the PostgreSQL cluster at TRELLIK_POSTGRES when set. The plays are written at the schema before
// players' bests were kept apart, so the figures include bringing such a database up to date.
#include <httplib.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_ranking_database.h"
#include "bench/support/playFigures.h"
#include "engine/playJudge.h"
#include "platform/store/sha256.h"
#include "ranking/rankingPostgresStore.h"
#include "ranking/rankingSchema.h"
#include "ranking/rankingServer.h"
#include "ranking/rankingSqliteStore.h"

namespace {

constexpr int playCount = 1000000;
constexpr int chartCount = 10000;
constexpr int playerCount = 1000;
constexpr int requests = 3000;
// The chart every player played, four times each.
constexpr int crowdedChart = 99999;
constexpr int readers = 8;
// Each reader's pace: a song select asks once a song; a hundred a second is a crowd of them. 0 reads
// without pause (the readers then take every core they can get, and the plays wait for a core).
constexpr double readsPerSecond = 100.0;
constexpr int submissions = 400;
constexpr int keptAlone = 300;
// The schema the plays are written at.
constexpr int fillVersion = 2;

// Players, then plays spread over the charts and difficulties, a tenth of them rejected. Play n is
// on chart n % 10000 (written as 64 hex digits) by player n / 10000 + 1 at difficulty
// (n / 10000) % 3: about 33 players on each leaderboard. Every play's presses differ.
const char* const sqliteFill = R"sql(
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000)
INSERT INTO players (id, name, token_sha256, created_at) SELECT i, 'player ' || i, printf('%064x', i), 0 FROM n;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999999)
INSERT INTO plays (player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score, score,
                   max_combo, perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at)
SELECT (i / 10000) % 1000 + 1, printf('%064x', i % 10000), (i / 10000) % 3, 1.0, 0, 0, s, s, 0, 0, 0, 0, 0, 0,
       i % 10 <> 0, '', x'', printf('%064x', i), 0
FROM (SELECT i, abs(random()) % 900001 AS s FROM n);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 3999)
INSERT INTO plays (player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score, score,
                   max_combo, perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at)
SELECT i % 1000 + 1, printf('%064x', 99999), 1, 1.0, 0, 0, s, s, 0, 0, 0, 0, 0, 0, 1, '', x'',
       printf('c%063x', i), 0
FROM (SELECT i, abs(random()) % 900001 AS s FROM n);
)sql";

const char* const postgresFill = R"sql(
INSERT INTO players (id, name, token_sha256, created_at)
SELECT i, 'player ' || i, lpad(to_hex(i), 64, '0'), 0 FROM generate_series(1, 1000) AS i;
INSERT INTO plays (player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score, score,
                   max_combo, perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at)
SELECT (i / 10000) % 1000 + 1, lpad(to_hex(i % 10000), 64, '0'), (i / 10000) % 3, 1.0, 0, 0, s, s, 0, 0, 0, 0, 0, 0,
       (i % 10 <> 0)::int, '', '', lpad(to_hex(i), 64, '0'), 0
FROM (SELECT i, (random() * 900000)::int AS s FROM generate_series(0, 999999) AS i) AS n;
INSERT INTO plays (player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score, score,
                   max_combo, perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at)
SELECT i % 1000 + 1, lpad(to_hex(99999), 64, '0'), 1, 1.0, 0, 0, s, s, 0, 0, 0, 0, 0, 0, 1, '', '',
       'c' || lpad(to_hex(i), 63, '0'), 0
FROM (SELECT i, (random() * 900000)::int AS s FROM generate_series(0, 3999) AS i) AS n;
SELECT setval('players_id_seq', 1000);
)sql";

bool fillSqlite(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    char* message = nullptr;
    // The whole fill in memory until its end; the file is scratch.
    std::string schema;
    for (int version = 1; version <= fillVersion; ++version) schema += rankingMigration(version).sqlite;
    schema += "PRAGMA user_version = " + std::to_string(fillVersion) + ";";
    const bool filled = sqlite3_exec(db, (std::string("PRAGMA synchronous = OFF; PRAGMA cache_size = -400000; BEGIN;") + schema + sqliteFill + "COMMIT; ANALYZE;").c_str(), nullptr,
                                     nullptr, &message) == SQLITE_OK;
    if (!filled) std::fprintf(stderr, "bench_ranking_leaderboard: %s\n", message ? message : "?");
    sqlite3_free(message);
    sqlite3_close(db);
    return filled;
}

bool fillPostgres(const std::string& address) {
    PGconn* connection = PQconnectdb(address.c_str());
    std::string schema = "CREATE TABLE schema_version (version INTEGER NOT NULL);"
                         "INSERT INTO schema_version VALUES (" + std::to_string(fillVersion) + ");";
    for (int version = 1; version <= fillVersion; ++version) schema += rankingMigration(version).postgresql;
    PGresult* result = PQexec(connection, (schema + postgresFill).c_str());
    const bool filled = PQresultStatus(result) == PGRES_TUPLES_OK || PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!filled) std::fprintf(stderr, "bench_ranking_leaderboard: %s\n", PQerrorMessage(connection));
    PQclear(result);
    // As autovacuum leaves a settled database: hint bits set, the visibility map made, statistics.
    result = PQexec(connection, "VACUUM ANALYZE");
    PQclear(result);
    PQfinish(connection);
    return filled;
}

std::string chartAddress(int chart) {
    char hex[65];
    std::snprintf(hex, sizeof hex, "%064x", chart);
    return hex;
}

std::unique_ptr<httplib::Client> connectedClient(int port) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    return client;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// 16 blocks of sixteen single markers at 240 bpm: 256 markers.
std::string submittedChart() {
    std::string text;
    const char* const rows[] = {"1234", "5678", "9abc", "defg"};
    for (int block = 0; block < 16; ++block)
        for (const char* row : rows)
            text += std::string(row) + (block == 0 && row == rows[0] ? " |(240)[500]" : " |") + "xxxx|\n";
    return text;
}

// A person's play of the chart: every marker pressed up to 40 ms off, panels in key order.
std::string personsPlay(const TsongParser& chart, const std::string& sha256, std::mt19937& random) {
    std::uniform_real_distribution<double> off(-40.0, 40.0);
    std::vector<TjudgePress> presses;
    for (int32_t row = 0; row < chart.entryCount; ++row)
        for (int32_t keyIndex = 0; keyIndex < 16; ++keyIndex)
            if (chart.entries[row].panels[keyIndex] != 0)
                presses.push_back({transposeIndex(keyIndex),
                                   perfectMusicMs(TtimingConstants{}, chart.entries[row], 0) + off(random) + 0.25});
    std::sort(presses.begin(), presses.end(), [](const auto& a, const auto& b) { return a.musicMs < b.musicMs; });
    nlohmann::json list = nlohmann::json::array();
    for (const TjudgePress& press : presses) list.push_back({transposeIndex(press.panel), press.musicMs});
    const int32_t score = judgePlay(chart, TtimingConstants{}, 0, presses).score;
    return nlohmann::json{{"chart_sha256", sha256}, {"difficulty", 1},        {"rate", 1.0},
                          {"audio_offset", 0},      {"visual_offset", 0},     {"claimed_score", score},
                          {"presses", list}}
        .dump();
}

// One player's plays, one after another, while readers ask for the crowded chart's leaderboard,
// each at its pace (0: without pause).
bool measureSubmitsWithReaders(int port, const std::string& suffix, int readerCount, double pace) {
    const std::string chartText = submittedChart();
    const std::string chartSha = sha256Hex(chartText);
    TsongParser chart;
    loadChartFromBytes(chart, chartText);
    auto client = connectedClient(port);
    const std::string name = "submitter " + std::to_string(readerCount) + " " + std::to_string(pace);
    const httplib::Result registered =
        client->Post("/v1/players", nlohmann::json{{"name", name}}.dump(), "application/json");
    if (!registered || registered->status != 201) return false;
    const httplib::Headers bearer = {
        {"Authorization", "Bearer " + nlohmann::json::parse(registered->body).value("token", "")}};
    client->Put("/v1/charts/" + chartSha, bearer, chartText, "text/plain");
    std::atomic<bool> reading{true};
    std::atomic<int> reads{0};
    std::vector<std::thread> threads;
    for (int reader = 0; reader < readerCount; ++reader)
        threads.emplace_back([&] {
            auto own = connectedClient(port);
            const std::string path = "/v1/charts/" + chartAddress(crowdedChart) + "/1/leaderboard?limit=100";
            auto next = std::chrono::steady_clock::now();
            while (reading) {
                if (own->Get(path)) ++reads;
                if (pace <= 0.0) continue;
                next += std::chrono::microseconds(static_cast<int64_t>(1e6 / pace));
                std::this_thread::sleep_until(next);
            }
        });
    // Seeded apart for each run: another player's presses would be rejected as a copy.
    std::mt19937 random(static_cast<uint32_t>(11 + readerCount + pace));
    std::vector<double> latencies;
    int failures = 0;
    for (int play = 0; play < submissions; ++play) {
        const std::string body = personsPlay(chart, chartSha, random);
        const auto start = std::chrono::steady_clock::now();
        const httplib::Result result = client->Post("/v1/plays", bearer, body, "application/json");
        latencies.push_back(msSince(start));
        if (!result || result->status != 200 || result->body.find("\"verified\"") == std::string::npos) ++failures;
    }
    reading = false;
    for (std::thread& thread : threads) thread.join();
    std::printf("ranking_submit%s: %d plays with %d readers at %.0f reads a second each (0: without pause), "
                "%d leaderboards read, %d not verified\n",
                suffix.c_str(), submissions, readerCount, pace, reads.load(), failures);
    printFigure(("ranking_submit_latency" + suffix).c_str(), latencies);
    return failures == 0;
}

// Leaderboards of charts picked at random, one request after another on one connection; then the
// crowded chart's; then plays sent alone and beside 8 readers.
bool measure(TrankingStore& store, const std::string& suffix) {
    TrankingLimits limits;
    limits.requestsPerMinute = 1000000;
    TrankingServer server(store, limits);
    const int port = server.bind("127.0.0.1", 0);
    std::thread serving([&server] { server.serve(); });
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    std::mt19937 random(5);
    std::uniform_int_distribution<int> chart(0, chartCount - 1), difficulty(0, 2);
    std::vector<double> latencies;
    int failures = 0;
    size_t entries = 0;
    for (int request = 0; request < requests; ++request) {
        const std::string path = "/v1/charts/" + chartAddress(chart(random)) + "/" + std::to_string(difficulty(random)) +
                                 "/leaderboard?limit=10";
        const auto start = std::chrono::steady_clock::now();
        const httplib::Result result = client.Get(path);
        latencies.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (!result || result->status != 200) ++failures;
        else entries += result->body.size();
    }
    std::printf("ranking_leaderboard%s: %d requests over %d plays of %d charts, %d failed, %zu bytes answered\n",
                suffix.c_str(), requests, playCount, chartCount, failures, entries);
    printFigure(("ranking_leaderboard_latency" + suffix).c_str(), latencies);
    std::vector<double> crowded;
    for (int request = 0; request < requests; ++request) {
        const auto start = std::chrono::steady_clock::now();
        const httplib::Result result =
            client.Get("/v1/charts/" + chartAddress(crowdedChart) + "/1/leaderboard?limit=100");
        crowded.push_back(msSince(start));
        if (!result || result->status != 200 || result->body.find("\"players\":1000") == std::string::npos)
            ++failures;
    }
    std::printf("ranking_leaderboard_crowded%s: %d requests of the top 100 of 1000 players\n", suffix.c_str(),
                requests);
    printFigure(("ranking_leaderboard_latency_crowded" + suffix).c_str(), crowded);
    const bool alone = measureSubmitsWithReaders(port, suffix, 0, 0.0);
    const bool beside = measureSubmitsWithReaders(port, "_with_readers" + suffix, readers, readsPerSecond);
    const bool greedy = measureSubmitsWithReaders(port, "_with_greedy_readers" + suffix, readers, 0.0);
    server.stop();
    serving.join();
    return failures == 0 && alone && beside && greedy;
}

// Plays kept one transaction each, straight into a fresh SQLite file: what flushing each commit costs.
void measureSqliteSync(const std::string& folder, TsqliteRankingStore::Tsync sync, const char* figure) {
    const std::string path = folder + "/" + figure + ".sqlite3";
    TsqliteRankingStore store(path, sync);
    const int64_t player = store.addPlayer("keeper", std::string(64, 'a'), 0);
    std::vector<double> latencies;
    for (int play = 0; play < keptAlone; ++play) {
        TrankedPlay kept;
        kept.playerId = player;
        kept.chartSha256 = std::string(64, 'b');
        kept.reason = "kept alone";
        kept.presses = std::string(900, 'p');
        kept.pressesSha256 = chartAddress(play);
        const auto start = std::chrono::steady_clock::now();
        store.keepPlays({kept});
        latencies.push_back(msSince(start));
    }
    std::printf("%s: %d plays kept one transaction each\n", figure, keptAlone);
    printFigure(figure, latencies);
}

}  // namespace

int main() {
    char folder[] = "/tmp/bench_ranking_leaderboard.XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    bool answered = true;
    {
        const std::string path = std::string(folder) + "/ranking.sqlite3";
        answered = fillSqlite(path);
        const auto migrating = std::chrono::steady_clock::now();
        TsqliteRankingStore store(path);
        std::printf("ranking_migration: %.0f ms to bring 1 004 000 plays up to date\n", msSince(migrating));
        answered = measure(store, "") && answered;
        measureSqliteSync(folder, TsqliteRankingStore::Tsync::full, "ranking_sqlite_keep_latency_sync_full");
        measureSqliteSync(folder, TsqliteRankingStore::Tsync::normal, "ranking_sqlite_keep_latency_sync_normal");
    }
    std::filesystem::remove_all(folder);
    const TbenchPostgresDatabase postgres("leaderboard");
    if (!postgres.address().empty()) {
        const bool filled = fillPostgres(postgres.address());
        TpostgresRankingStore store(postgres.address());
        answered = filled && measure(store, "_postgresql") && answered;
    } else {
        std::printf("ranking_leaderboard_postgresql: skipped, no cluster in TRELLIK_POSTGRES\n");
    }
    return answered ? 0 : 1;
}
