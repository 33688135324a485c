// The ranking server's store in a PostgreSQL database that several server processes may share.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "ranking/rankingStore.h"

struct pg_conn;

class TpostgresRankingStore : public TrankingStore {
public:
    // Opens this many connections (a postgresql:// address or libpq's key=value words) and runs
    // the migrations the database lacks; raises std::runtime_error with the reason when it cannot
    // be used.
    explicit TpostgresRankingStore(const std::string& address, size_t connections = 8);
    ~TpostgresRankingStore() override;
    TpostgresRankingStore(const TpostgresRankingStore&) = delete;
    TpostgresRankingStore& operator=(const TpostgresRankingStore&) = delete;

    int64_t addPlayer(const std::string& name, const std::string& tokenSha256, int64_t now) override;
    int64_t playerWithToken(const std::string& tokenSha256) override;
    std::optional<std::string> playerName(int64_t playerId) override;
    void addChart(const std::string& sha256, const std::string& bytes, int64_t now) override;
    std::optional<std::string> chartBytes(const std::string& sha256) override;
    bool offsetsRegistered(int64_t playerId, int32_t audioOffset, int32_t visualOffset) override;
    bool registerOffsets(int64_t playerId, int32_t audioOffset, int32_t visualOffset, int64_t now) override;
    std::optional<int32_t> chartDifficulty(const std::string& sha256) override;
    std::vector<TrankedPlayKept> keepPlays(std::vector<TrankedPlay> plays) override;
    TleaderboardPage leaderboard(const std::string& chartSha256, int32_t difficulty, int32_t limit) override;
    std::vector<TrankedPlay> playsOf(int64_t playerId, int32_t limit) override;

private:
    // A connection lent to one thread for one request, returned to the pool when it goes.
    class Tlease {
    public:
        Tlease(TpostgresRankingStore& store, pg_conn* connection) : store_(store), connection_(connection) {}
        ~Tlease() { store_.giveBack(connection_); }
        Tlease(const Tlease&) = delete;
        Tlease& operator=(const Tlease&) = delete;
        pg_conn* get() const { return connection_; }

    private:
        TpostgresRankingStore& store_;
        pg_conn* connection_;
    };

    pg_conn* borrow();
    void giveBack(pg_conn* connection);
    void migrate();

    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<pg_conn*> idle_;
    std::vector<pg_conn*> all_;
};
