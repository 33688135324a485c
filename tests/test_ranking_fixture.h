// A ranking server on loopback with a fresh database (an SQLite file, or a database in the private
// PostgreSQL cluster ./test.sh starts), charts made for it, and a client's helpers.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "engine/playJudge.h"
#include "platform/clockSeam.h"
#include "platform/store/sha256.h"
#include "ranking/rankingPostgresStore.h"
#include "ranking/rankingServer.h"
#include "ranking/rankingSqliteStore.h"
#include "tests/support/testSupport.h"

using nlohmann::json;

// A chart of blocks of sixteen single markers, one on each panel in turn, at a tempo.
inline std::string blockChart(int blocks, int bpm = 240) {
    std::string text;
    const char* const rows[] = {"1234", "5678", "9abc", "defg"};
    for (int block = 0; block < blocks; ++block)
        for (const char* row : rows) {
            const bool first = block == 0 && row == rows[0];
            text += std::string(row) + (first ? " |(" + std::to_string(bpm) + ")[500]" : " |") + "xxxx|\n";
        }
    return text;
}

inline std::unique_ptr<TsongParser> parsedChart(const std::string& bytes) {
    auto chart = std::make_unique<TsongParser>();
    loadChartFromBytes(*chart, bytes);
    return chart;
}

// How a person's presses scatter about their aim, in ms (a standard deviation of 4.1 ms), press by press.
constexpr double personsScatterMs[] = {-4.5, 3.0, -1.5, 6.0, -6.0, 1.5, -3.0, 4.5};

// One press on each marker (its panel numbered as the judge numbers them), in time order: this
// far from its perfect moment, plus a person's scatter times scatter.
inline std::vector<TjudgePress> pressesOn(const TsongParser& chart, double offBy, int32_t audioOffset = 0,
                                          double scatter = 1.0) {
    std::vector<TjudgePress> presses;
    for (int32_t row = 0; row < chart.entryCount; ++row)
        for (int32_t keyIndex = 0; keyIndex < 16; ++keyIndex)
            if (chart.entries[row].panels[keyIndex] != 0) {
                const double scattered = scatter * personsScatterMs[presses.size() % std::size(personsScatterMs)];
                presses.push_back({transposeIndex(keyIndex),
                                   perfectMusicMs(TtimingConstants{}, chart.entries[row], audioOffset) + offBy +
                                       scattered});
            }
    return presses;
}

// The presses as the API takes them: panels in key order, row by row.
inline json pressesJson(const std::vector<TjudgePress>& presses) {
    json list = json::array();
    for (const TjudgePress& press : presses) list.push_back({transposeIndex(press.panel), press.musicMs});
    return list;
}

inline json playBody(const std::string& chartSha256, const std::vector<TjudgePress>& presses, int64_t claimedScore,
                     int32_t audioOffset = 0) {
    return {{"chart_sha256", chartSha256}, {"difficulty", 1},         {"rate", 1.0},
            {"audio_offset", audioOffset}, {"visual_offset", 0},      {"claimed_score", claimedScore},
            {"presses", pressesJson(presses)}};
}

// A database of its own in the cluster at TRELLIK_POSTGRES, dropped when it goes.
class TpostgresScratchDatabase {
public:
    TpostgresScratchDatabase() {
        const char* cluster = std::getenv("TRELLIK_POSTGRES");
        if (!cluster || !*cluster) return;
        static int made = 0;
        name_ = "ranking_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
        maintenance_ = cluster;
        address_ = maintenance_;
        const size_t database = address_.find("/postgres?");
        if (database != std::string::npos) address_.replace(database, 10, "/" + name_ + "?");
        ok_ = command("CREATE DATABASE " + name_);
    }
    ~TpostgresScratchDatabase() {
        if (ok_) command("DROP DATABASE " + name_ + " WITH (FORCE)");
    }
    bool ok() const { return ok_; }
    const std::string& address() const { return address_; }

private:
    bool command(const std::string& sql) {
        PGconn* connection = PQconnectdb(maintenance_.c_str());
        PGresult* result = PQexec(connection, sql.c_str());
        const bool done = PQresultStatus(result) == PGRES_COMMAND_OK;
        if (!done) ADD_FAILURE() << sql << ": " << PQerrorMessage(connection);
        PQclear(result);
        PQfinish(connection);
        return done;
    }
    std::string maintenance_, address_, name_;
    bool ok_ = false;
};

class TrankingServerTest : public ::testing::Test {
protected:
    TtemporaryFolder folder;
    TmanualClock clock;
    TrankingLimits limits;
    std::unique_ptr<TpostgresScratchDatabase> postgres;
    std::unique_ptr<TrankingStore> store;
    std::unique_ptr<TrankingServer> server;
    std::thread serving;
    std::unique_ptr<httplib::Client> client;
    // A chart of 64 markers at 240 bpm, a quarter of a second apart on one panel after another.
    const std::string chart = blockChart(4);
    const std::string chartSha = sha256Hex(chart);

    // "sqlite" or "postgresql".
    virtual std::string backend() const { return "sqlite"; }

    void SetUp() override {
        clock.highResolution = 1000.0;
        installClock(&clock);
        limits.requestsPerMinute = 100000;
        if (backend() != "postgresql") return;
        postgres = std::make_unique<TpostgresScratchDatabase>();
        if (!postgres->ok()) GTEST_SKIP() << "no PostgreSQL cluster in TRELLIK_POSTGRES (./test.sh starts one)";
    }

    // A new connection to the test's database, as another server process would have.
    std::unique_ptr<TrankingStore> openStore() const {
        if (postgres) return std::make_unique<TpostgresRankingStore>(postgres->address(), 2);
        return std::make_unique<TsqliteRankingStore>(databasePath());
    }

    void TearDown() override {
        stopServer();
        installClock(nullptr);
        postgres.reset();
    }

    std::string databasePath() const { return folder.file("ranking.sqlite3"); }

    void startServer() {
        store = openStore();
        server = std::make_unique<TrankingServer>(*store, limits);
        const int port = server->bind("127.0.0.1", 0);
        serving = std::thread([this] { server->serve(); });
        client = std::make_unique<httplib::Client>("127.0.0.1", port);
    }

    void stopServer() {
        if (!server) return;
        server->stop();
        serving.join();
        server.reset();
        store.reset();
    }

    // Status and JSON body of a reply; a reply that is not JSON fails the test.
    struct Treply {
        int status = 0;
        json body;
        std::string retryAfter;
    };

    Treply replyOf(const httplib::Result& result) {
        Treply reply;
        if (!result) {
            ADD_FAILURE() << "no reply: " << httplib::to_string(result.error());
            return reply;
        }
        reply.status = result->status;
        reply.body = json::parse(result->body, nullptr, false);
        EXPECT_FALSE(reply.body.is_discarded()) << "not JSON: " << result->body;
        EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
        reply.retryAfter = result->get_header_value("Retry-After");
        return reply;
    }

    httplib::Headers bearer(const std::string& token) const { return {{"Authorization", "Bearer " + token}}; }

    Treply post(const std::string& path, const std::string& body, const std::string& token = "") {
        const httplib::Headers headers = token.empty() ? httplib::Headers{} : bearer(token);
        return replyOf(client->Post(path, headers, body, "application/json"));
    }

    Treply get(const std::string& path) { return replyOf(client->Get(path)); }

    // A new player's token.
    std::string registerPlayer(const std::string& name) {
        const Treply reply = post("/v1/players", json{{"name", name}}.dump());
        EXPECT_EQ(reply.status, 201) << reply.body.dump();
        return reply.body.value("token", "");
    }

    Treply putChart(const std::string& token, const std::string& sha256, const std::string& bytes) {
        return replyOf(client->Put("/v1/charts/" + sha256, bearer(token), bytes, "text/plain"));
    }

    Treply submit(const std::string& token, const json& body) { return post("/v1/plays", body.dump(), token); }

    Treply registerOffsets(const std::string& token, int32_t audioOffset, int32_t visualOffset = 0) {
        return post("/v1/offsets", json{{"audio_offset", audioOffset}, {"visual_offset", visualOffset}}.dump(), token);
    }

    Treply leaderboard(const std::string& sha256, const std::string& query = "") {
        return get("/v1/charts/" + sha256 + "/1/leaderboard" + query);
    }
};

// The same tests on each database the server keeps its rankings in.
class TrankingApiTest : public TrankingServerTest, public ::testing::WithParamInterface<std::string> {
protected:
    std::string backend() const override { return GetParam(); }
};

#define TRELLIK_ON_EVERY_DATABASE(fixture) \
    INSTANTIATE_TEST_SUITE_P(Databases, fixture, ::testing::Values("sqlite", "postgresql"), \
                             [](const ::testing::TestParamInfo<std::string>& info) { return info.param; })
