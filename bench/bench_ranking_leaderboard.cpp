// How long the ranking server takes to answer a leaderboard when it keeps 1 000 000 plays over
// 10 000 charts: an SQLite file, and the PostgreSQL cluster at TRELLIK_POSTGRES when set.
#include <httplib.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_ranking_database.h"
#include "bench/support/playFigures.h"
#include "ranking/rankingPostgresStore.h"
#include "ranking/rankingServer.h"
#include "ranking/rankingSqliteStore.h"

namespace {

constexpr int playCount = 1000000;
constexpr int chartCount = 10000;
constexpr int playerCount = 1000;
constexpr int requests = 3000;

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
)sql";

const char* const postgresFill = R"sql(
INSERT INTO players (id, name, token_sha256, created_at)
SELECT i, 'player ' || i, lpad(to_hex(i), 64, '0'), 0 FROM generate_series(1, 1000) AS i;
INSERT INTO plays (player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score, score,
                   max_combo, perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at)
SELECT (i / 10000) % 1000 + 1, lpad(to_hex(i % 10000), 64, '0'), (i / 10000) % 3, 1.0, 0, 0, s, s, 0, 0, 0, 0, 0, 0,
       (i % 10 <> 0)::int, '', '', lpad(to_hex(i), 64, '0'), 0
FROM (SELECT i, (random() * 900000)::int AS s FROM generate_series(0, 999999) AS i) AS n;
SELECT setval('players_id_seq', 1000);
)sql";

bool fillSqlite(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    char* message = nullptr;
    // The whole fill in memory until its end; the file is scratch.
    const bool filled = sqlite3_exec(db, (std::string("PRAGMA synchronous = OFF; PRAGMA cache_size = -400000; BEGIN;") + sqliteFill + "COMMIT; ANALYZE;").c_str(), nullptr,
                                     nullptr, &message) == SQLITE_OK;
    if (!filled) std::fprintf(stderr, "bench_ranking_leaderboard: %s\n", message ? message : "?");
    sqlite3_free(message);
    sqlite3_close(db);
    return filled;
}

bool fillPostgres(const std::string& address) {
    PGconn* connection = PQconnectdb(address.c_str());
    PGresult* result = PQexec(connection, postgresFill);
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

// Leaderboards of charts picked at random, one request after another on one connection.
bool measure(TrankingStore& store, const std::string& suffix) {
    TrankingServer server(store, TrankingLimits{});
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
    server.stop();
    serving.join();
    std::printf("ranking_leaderboard%s: %d requests over %d plays of %d charts, %d failed, %zu bytes answered\n",
                suffix.c_str(), requests, playCount, chartCount, failures, entries);
    printFigure(("ranking_leaderboard_latency" + suffix).c_str(), latencies);
    return failures == 0;
}

}  // namespace

int main() {
    char folder[] = "/tmp/bench_ranking_leaderboard.XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    bool answered = true;
    {
        const std::string path = std::string(folder) + "/ranking.sqlite3";
        { TsqliteRankingStore schema(path); }
        answered = fillSqlite(path);
        TsqliteRankingStore store(path);
        answered = measure(store, "") && answered;
    }
    std::filesystem::remove_all(folder);
    const TbenchPostgresDatabase postgres("leaderboard");
    if (!postgres.address().empty()) {
        TpostgresRankingStore store(postgres.address());
        answered = fillPostgres(postgres.address()) && measure(store, "_postgresql") && answered;
    } else {
        std::printf("ranking_leaderboard_postgresql: skipped, no cluster in TRELLIK_POSTGRES\n");
    }
    return answered ? 0 : 1;
}
