// The ranking server's store in one SQLite file, its schema brought up to date on opening.
#pragma once

#include <mutex>
#include <string>

#include "ranking/rankingSchema.h"
#include "ranking/rankingStore.h"

struct sqlite3;
struct sqlite3_stmt;

class TsqliteRankingStore : public TrankingStore {
public:
    // How each commit reaches the disk: full waits for the write-ahead log to be flushed, so a play
    // answered "kept" survives a power loss; normal flushes at checkpoints only (benchmarks compare).
    enum class Tsync { full, normal };
    // Opens or creates the file and runs the migrations it lacks; raises std::runtime_error with
    // the reason when the file cannot be used.
    explicit TsqliteRankingStore(const std::string& path, Tsync sync = Tsync::full);
    ~TsqliteRankingStore() override;
    TsqliteRankingStore(const TsqliteRankingStore&) = delete;
    TsqliteRankingStore& operator=(const TsqliteRankingStore&) = delete;

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
    void migrate();
    void execute(const char* sql);
    int64_t addPlay(const TrankedPlay& play);
    // The chart's difficulty, claimed for the play's when it has none yet.
    int32_t claimDifficulty(const TrankedPlay& play);
    void keepBest(const TrankedPlay& play);
    // The player's own play with these presses on the chart, else the earliest one of anybody's.
    std::optional<TrankedPlay> playWithPresses(int64_t playerId, const std::string& chartSha256,
                                               const std::string& pressesSha256);

    sqlite3* db = nullptr;
    // One connection serves every worker thread, one statement (or the transaction keeping a play) at a time.
    std::recursive_mutex mutex;
};
