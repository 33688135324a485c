// Players, charts and plays in SQLite: prepared statements only, so names and hashes are data.
#include "ranking/rankingSqliteStore.h"

#include <sqlite3.h>

#include <stdexcept>

namespace {

// A prepared statement, finalised when it goes out of scope.
class Tstatement {
public:
    Tstatement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("ranking store: ") + sqlite3_errmsg(db));
    }
    ~Tstatement() { sqlite3_finalize(statement_); }
    Tstatement(const Tstatement&) = delete;
    Tstatement& operator=(const Tstatement&) = delete;

    Tstatement& bind(int index, const std::string& text) {
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Tstatement& bindBlob(int index, const std::string& bytes) {
        sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Tstatement& bind(int index, int64_t value) {
        sqlite3_bind_int64(statement_, index, value);
        return *this;
    }
    Tstatement& bind(int index, double value) {
        sqlite3_bind_double(statement_, index, value);
        return *this;
    }
    // True while there is a row; raises on failure.
    bool step() {
        const int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW) return true;
        if (result == SQLITE_DONE) return false;
        throw std::runtime_error(std::string("ranking store: ") + sqlite3_errmsg(db_));
    }
    // SQLITE_DONE, SQLITE_CONSTRAINT or a failure raised.
    int stepExpectingConstraint() {
        const int result = sqlite3_step(statement_);
        if (result == SQLITE_DONE || (result & 0xff) == SQLITE_CONSTRAINT) return result & 0xff;
        throw std::runtime_error(std::string("ranking store: ") + sqlite3_errmsg(db_));
    }
    int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
    double real(int column) const { return sqlite3_column_double(statement_, column); }
    std::string text(int column) const {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
        return bytes ? std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : "";
    }

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

constexpr const char* playColumns =
    "id, player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score, score, max_combo, "
    "perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at";

TrankedPlay playFromRow(const Tstatement& row) {
    TrankedPlay play;
    play.id = row.integer(0);
    play.playerId = row.integer(1);
    play.chartSha256 = row.text(2);
    play.difficulty = static_cast<int32_t>(row.integer(3));
    play.rate = row.real(4);
    play.audioOffset = static_cast<int32_t>(row.integer(5));
    play.visualOffset = static_cast<int32_t>(row.integer(6));
    play.claimedScore = row.integer(7);
    play.judged = {static_cast<int32_t>(row.integer(8)),  static_cast<int32_t>(row.integer(9)),
                   static_cast<int32_t>(row.integer(10)), static_cast<int32_t>(row.integer(11)),
                   static_cast<int32_t>(row.integer(12)), static_cast<int32_t>(row.integer(13)),
                   static_cast<int32_t>(row.integer(14))};
    play.verified = row.integer(15) != 0;
    play.reason = row.text(16);
    play.presses = row.text(17);
    play.pressesSha256 = row.text(18);
    play.submittedAt = row.integer(19);
    return play;
}

}  // namespace

TsqliteRankingStore::TsqliteRankingStore(const std::string& path, Tsync sync) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("Cannot open the ranking database " + path + ": " + reason);
    }
    sqlite3_busy_timeout(db, 5000);
    try {
        execute("PRAGMA journal_mode = WAL");
        execute(sync == Tsync::full ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL");
        execute("PRAGMA foreign_keys = ON");
        migrate();
    } catch (const std::runtime_error& error) {
        sqlite3_close(db);
        throw std::runtime_error("Cannot use the ranking database " + path + ": " + error.what());
    }
}

TsqliteRankingStore::~TsqliteRankingStore() {
    sqlite3_close(db);
}

void TsqliteRankingStore::execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return;
    const std::string reason = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw std::runtime_error(reason);
}

void TsqliteRankingStore::migrate() {
    Tstatement query(db, "PRAGMA user_version");
    query.step();
    const int64_t version = query.integer(0);
    const int migrationCount = rankingSchemaVersion();
    if (version > migrationCount)
        throw std::runtime_error("its schema version " + std::to_string(version) + " is newer than this server's " +
                                 std::to_string(migrationCount) + ".");
    for (int64_t next = version; next < migrationCount; ++next) {
        execute("BEGIN IMMEDIATE");
        try {
            execute(rankingMigration(static_cast<int>(next + 1)).sqlite);
            execute(("PRAGMA user_version = " + std::to_string(next + 1)).c_str());
            execute("COMMIT");
        } catch (const std::runtime_error&) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }
}

int64_t TsqliteRankingStore::addPlayer(const std::string& name, const std::string& tokenSha256, int64_t now) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement insert(db, "INSERT INTO players (name, name_key, token_sha256, created_at) VALUES (?, ?, ?, ?)");
    insert.bind(1, name).bind(2, playerNameKey(name)).bind(3, tokenSha256).bind(4, now);
    if (insert.stepExpectingConstraint() == SQLITE_CONSTRAINT) return 0;
    return sqlite3_last_insert_rowid(db);
}

int64_t TsqliteRankingStore::playerWithToken(const std::string& tokenSha256) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement query(db, "SELECT id FROM players WHERE token_sha256 = ?");
    query.bind(1, tokenSha256);
    return query.step() ? query.integer(0) : 0;
}

std::optional<std::string> TsqliteRankingStore::playerName(int64_t playerId) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement query(db, "SELECT name FROM players WHERE id = ?");
    query.bind(1, playerId);
    if (!query.step()) return std::nullopt;
    return query.text(0);
}

void TsqliteRankingStore::addChart(const std::string& sha256, const std::string& bytes, int64_t now) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement insert(db, "INSERT OR IGNORE INTO charts (sha256, bytes, added_at) VALUES (?, ?, ?)");
    insert.bind(1, sha256).bindBlob(2, bytes).bind(3, now);
    insert.step();
}

std::optional<std::string> TsqliteRankingStore::chartBytes(const std::string& sha256) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement query(db, "SELECT bytes FROM charts WHERE sha256 = ?");
    query.bind(1, sha256);
    if (!query.step()) return std::nullopt;
    return query.text(0);
}

bool TsqliteRankingStore::offsetsRegistered(int64_t playerId, int32_t audioOffset, int32_t visualOffset) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement query(db, "SELECT 1 FROM player_offsets WHERE player_id = ? AND audio_offset = ? AND visual_offset = ?");
    query.bind(1, playerId).bind(2, int64_t{audioOffset}).bind(3, int64_t{visualOffset});
    return query.step();
}

bool TsqliteRankingStore::registerOffsets(int64_t playerId, int32_t audioOffset, int32_t visualOffset, int64_t now) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement insert(db,
                      "INSERT OR IGNORE INTO player_offsets (player_id, audio_offset, visual_offset, registered_at) "
                      "VALUES (?, ?, ?, ?)");
    insert.bind(1, playerId).bind(2, int64_t{audioOffset}).bind(3, int64_t{visualOffset}).bind(4, now);
    insert.step();
    return sqlite3_changes(db) == 1;
}

std::optional<int32_t> TsqliteRankingStore::chartDifficulty(const std::string& sha256) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement query(db, "SELECT difficulty FROM chart_difficulties WHERE chart_sha256 = ?");
    query.bind(1, sha256);
    if (!query.step()) return std::nullopt;
    return static_cast<int32_t>(query.integer(0));
}

int32_t TsqliteRankingStore::claimDifficulty(const TrankedPlay& play) {
    Tstatement claim(db, "INSERT OR IGNORE INTO chart_difficulties (chart_sha256, difficulty) VALUES (?, ?)");
    claim.bind(1, play.chartSha256).bind(2, int64_t{play.difficulty});
    claim.step();
    return chartDifficulty(play.chartSha256).value_or(play.difficulty);
}

void TsqliteRankingStore::keepBest(const TrankedPlay& play) {
    Tstatement insert(db,
                      "INSERT OR IGNORE INTO bests (chart_sha256, difficulty, player_id, score, play_id) "
                      "VALUES (?, ?, ?, ?, ?)");
    insert.bind(1, play.chartSha256).bind(2, int64_t{play.difficulty}).bind(3, play.playerId);
    insert.bind(4, int64_t{play.judged.score}).bind(5, play.id);
    insert.step();
    if (sqlite3_changes(db) == 1) {
        Tstatement count(db,
                         "INSERT INTO boards (chart_sha256, difficulty, players) VALUES (?, ?, 1) "
                         "ON CONFLICT (chart_sha256, difficulty) DO UPDATE SET players = players + 1");
        count.bind(1, play.chartSha256).bind(2, int64_t{play.difficulty});
        count.step();
        return;
    }
    Tstatement better(db,
                      "UPDATE bests SET score = ?1, play_id = ?2 "
                      "WHERE chart_sha256 = ?3 AND difficulty = ?4 AND player_id = ?5 AND score < ?1");
    better.bind(1, int64_t{play.judged.score}).bind(2, play.id).bind(3, play.chartSha256);
    better.bind(4, int64_t{play.difficulty}).bind(5, play.playerId);
    better.step();
}

int64_t TsqliteRankingStore::addPlay(const TrankedPlay& play) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    Tstatement insert(db,
                      "INSERT INTO plays (player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, "
                      "claimed_score, score, max_combo, perfect, great, good, bad, miss, verified, reason, presses, "
                      "presses_sha256, submitted_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const TplayJudgement& judged = play.judged;
    insert.bind(1, play.playerId).bind(2, play.chartSha256).bind(3, int64_t{play.difficulty}).bind(4, play.rate);
    insert.bind(5, int64_t{play.audioOffset}).bind(6, int64_t{play.visualOffset}).bind(7, play.claimedScore);
    insert.bind(8, int64_t{judged.score}).bind(9, int64_t{judged.maxCombo}).bind(10, int64_t{judged.perfect});
    insert.bind(11, int64_t{judged.great}).bind(12, int64_t{judged.good}).bind(13, int64_t{judged.bad});
    insert.bind(14, int64_t{judged.miss}).bind(15, int64_t{play.verified ? 1 : 0}).bind(16, play.reason);
    insert.bindBlob(17, play.presses).bind(18, play.pressesSha256).bind(19, play.submittedAt);
    insert.step();
    return sqlite3_last_insert_rowid(db);
}

std::vector<TrankedPlayKept> TsqliteRankingStore::keepPlays(std::vector<TrankedPlay> plays) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    // IMMEDIATE: another process writing the same file waits for this step to end.
    execute("BEGIN IMMEDIATE");
    try {
        std::vector<TrankedPlayKept> kept;
        for (TrankedPlay& play : plays) {
            const std::optional<TrankedPlay> earlier =
                playWithPresses(play.playerId, play.chartSha256, play.pressesSha256);
            kept.push_back(keptAfter(std::move(play), earlier));
            TrankedPlay& added = kept.back().play;
            if (kept.back().alreadyKept) continue;
            if (added.verified) ownedDifficulty(added, claimDifficulty(added));
            added.id = addPlay(added);
            if (added.verified) keepBest(added);
        }
        execute("COMMIT");
        return kept;
    } catch (const std::runtime_error&) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::optional<TrankedPlay> TsqliteRankingStore::playWithPresses(int64_t playerId, const std::string& chartSha256,
                                                                const std::string& pressesSha256) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    const std::string sql = std::string("SELECT ") + playColumns +
                            " FROM plays WHERE chart_sha256 = ? AND presses_sha256 = ? "
                            "ORDER BY player_id = ? DESC, id LIMIT 1";
    Tstatement query(db, sql.c_str());
    query.bind(1, chartSha256).bind(2, pressesSha256).bind(3, playerId);
    if (!query.step()) return std::nullopt;
    return playFromRow(query);
}

TleaderboardPage TsqliteRankingStore::leaderboard(const std::string& chartSha256, int32_t difficulty,
                                                  int32_t limit) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    TleaderboardPage page;
    Tstatement size(db, "SELECT players FROM boards WHERE chart_sha256 = ? AND difficulty = ?");
    size.bind(1, chartSha256).bind(2, int64_t{difficulty});
    if (size.step()) page.players = size.integer(0);
    Tstatement query(db, R"sql(
SELECT bests.player_id, players.name, bests.score, bests.play_id
FROM bests JOIN players ON players.id = bests.player_id
WHERE bests.chart_sha256 = ? AND bests.difficulty = ?
ORDER BY bests.score DESC, bests.play_id LIMIT ?
)sql");
    query.bind(1, chartSha256).bind(2, int64_t{difficulty}).bind(3, int64_t{limit});
    while (query.step())
        page.lines.push_back({0, query.integer(0), query.text(1), static_cast<int32_t>(query.integer(2)),
                              query.integer(3)});
    rankLines(page.lines);
    return page;
}

std::vector<TrankedPlay> TsqliteRankingStore::playsOf(int64_t playerId, int32_t limit) {
    const std::lock_guard<std::recursive_mutex> lock(mutex);
    const std::string sql =
        std::string("SELECT ") + playColumns + " FROM plays WHERE player_id = ? ORDER BY id DESC LIMIT ?";
    Tstatement query(db, sql.c_str());
    query.bind(1, playerId).bind(2, int64_t{limit});
    std::vector<TrankedPlay> plays;
    while (query.step()) plays.push_back(playFromRow(query));
    return plays;
}
