// Players, charts and plays in PostgreSQL through libpq: parameters only, so names and hashes are data.
#include "ranking/rankingPostgresStore.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "ranking/rankingSchema.h"

namespace {

// Every server process takes this lock while it brings the schema up to date.
constexpr const char* migrationLock = "SELECT pg_advisory_xact_lock(7355608)";

// One parameter of a statement: text, or bytes sent as they are.
struct Tparameter {
    std::string value;
    bool bytes = false;
};

Tparameter text(const std::string& value) {
    return {value, false};
}
Tparameter number(int64_t value) {
    return {std::to_string(value), false};
}
Tparameter real(double value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.17g", value);
    return {digits, false};
}
Tparameter bytes(const std::string& value) {
    return {value, true};
}

// A statement's result, cleared when it goes out of scope.
class Tresult {
public:
    explicit Tresult(PGresult* result) : result_(result) {}
    ~Tresult() { PQclear(result_); }
    Tresult(const Tresult&) = delete;
    Tresult& operator=(const Tresult&) = delete;

    int rows() const { return PQntuples(result_); }
    std::string textAt(int row, int column) const {
        return {PQgetvalue(result_, row, column), static_cast<size_t>(PQgetlength(result_, row, column))};
    }
    int64_t integerAt(int row, int column) const { return std::strtoll(PQgetvalue(result_, row, column), nullptr, 10); }
    double realAt(int row, int column) const { return std::strtod(PQgetvalue(result_, row, column), nullptr); }
    std::string bytesAt(int row, int column) const {
        size_t length = 0;
        unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(result_, row, column)),
                                             &length);
        if (!raw) throw std::runtime_error("ranking store: out of memory");
        std::string value(reinterpret_cast<const char*>(raw), length);
        PQfreemem(raw);
        return value;
    }
    // The SQLSTATE of a failure, "" for success.
    std::string state() const {
        const char* code = PQresultErrorField(result_, PG_DIAG_SQLSTATE);
        return code ? code : "";
    }
    // Rows an INSERT, UPDATE or DELETE changed.
    int64_t changed() const { return std::strtoll(PQcmdTuples(result_), nullptr, 10); }
    bool succeeded() const {
        const ExecStatusType status = PQresultStatus(result_);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }

private:
    PGresult* result_;
};

std::unique_ptr<Tresult> checked(PGconn* connection, PGresult* outcome, bool allowDuplicate) {
    auto result = std::make_unique<Tresult>(outcome);
    if (result->succeeded() || (allowDuplicate && result->state() == "23505")) return result;
    throw std::runtime_error(std::string("ranking store: ") + PQerrorMessage(connection));
}

// Runs a statement, or with prepared set the statement prepared under that name; a failure
// raises, unless it is a unique key's refusal and allowDuplicate is set.
std::unique_ptr<Tresult> run(PGconn* connection, const char* sql, const std::vector<Tparameter>& parameters = {},
                             bool allowDuplicate = false, bool prepared = false) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Tparameter& parameter : parameters) {
        values.push_back(parameter.value.data());
        lengths.push_back(static_cast<int>(parameter.value.size()));
        formats.push_back(parameter.bytes ? 1 : 0);
    }
    const int count = static_cast<int>(parameters.size());
    return checked(connection,
                   prepared ? PQexecPrepared(connection, sql, count, values.data(), lengths.data(), formats.data(), 0)
                            : PQexecParams(connection, sql, count, nullptr, values.data(), lengths.data(),
                                           formats.data(), 0),
                   allowDuplicate);
}

// Runs work between BEGIN and COMMIT, rolling back when it raises.
template <typename Work>
auto inTransaction(PGconn* connection, Work work) {
    run(connection, "BEGIN");
    try {
        auto outcome = work();
        run(connection, "COMMIT");
        return outcome;
    } catch (...) {
        PQclear(PQexec(connection, "ROLLBACK"));
        throw;
    }
}

constexpr const char* playColumns =
    "id, player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score, score, max_combo, "
    "perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at";

TrankedPlay playFromRow(const Tresult& rows, int row) {
    TrankedPlay play;
    play.id = rows.integerAt(row, 0);
    play.playerId = rows.integerAt(row, 1);
    play.chartSha256 = rows.textAt(row, 2);
    play.difficulty = static_cast<int32_t>(rows.integerAt(row, 3));
    play.rate = rows.realAt(row, 4);
    play.audioOffset = static_cast<int32_t>(rows.integerAt(row, 5));
    play.visualOffset = static_cast<int32_t>(rows.integerAt(row, 6));
    play.claimedScore = rows.integerAt(row, 7);
    play.judged = {static_cast<int32_t>(rows.integerAt(row, 8)),  static_cast<int32_t>(rows.integerAt(row, 9)),
                   static_cast<int32_t>(rows.integerAt(row, 10)), static_cast<int32_t>(rows.integerAt(row, 11)),
                   static_cast<int32_t>(rows.integerAt(row, 12)), static_cast<int32_t>(rows.integerAt(row, 13)),
                   static_cast<int32_t>(rows.integerAt(row, 14))};
    play.verified = rows.integerAt(row, 15) != 0;
    play.reason = rows.textAt(row, 16);
    play.presses = rows.bytesAt(row, 17);
    play.pressesSha256 = rows.textAt(row, 18);
    play.submittedAt = rows.integerAt(row, 19);
    return play;
}

// Plays with the same presses on the same chart are kept one after another, whichever server
// process has them; others go side by side. The keys are locked in one order, so two processes'
// batches never wait on each other in a circle.
void lockPlayKeys(PGconn* connection, const std::vector<TrankedPlay>& plays) {
    std::string keys = "{";
    for (const TrankedPlay& play : plays) keys += (keys.size() > 1 ? "," : "") + play.chartSha256 + play.pressesSha256;
    keys += "}";
    run(connection,
        "SELECT count(pg_advisory_xact_lock(key)) FROM "
        "(SELECT DISTINCT hashtextextended(text, 0) AS key FROM unnest($1::text[]) AS text ORDER BY key) AS keys",
        {text(keys)});
}

// The statements of every play kept and every leaderboard, planned once a connection.
constexpr const char* earlierPlays = "earlier_plays";
constexpr const char* insertPlay = "insert_play";
constexpr const char* leaderboardPage = "leaderboard_page";

// The board's best lines: each player's best kept beside the plays, so the page costs its own lines.
constexpr const char* leaderboardSql = R"sql(
SELECT bests.player_id, players.name, bests.score, bests.play_id,
       (SELECT boards.players FROM boards WHERE boards.chart_sha256 = $1 AND boards.difficulty = $2)
FROM bests JOIN players ON players.id = bests.player_id
WHERE bests.chart_sha256 = $1 AND bests.difficulty = $2
ORDER BY bests.score DESC, bests.play_id LIMIT $3
)sql";

// The chart's difficulty, claimed for the play's when it has none yet.
int32_t claimDifficulty(PGconn* connection, const TrankedPlay& play) {
    const auto owned = run(connection,
                           "WITH claimed AS (INSERT INTO chart_difficulties (chart_sha256, difficulty) VALUES ($1, $2) "
                           "ON CONFLICT DO NOTHING RETURNING difficulty) "
                           "SELECT difficulty FROM claimed UNION ALL "
                           "SELECT difficulty FROM chart_difficulties WHERE chart_sha256 = $1",
                           {text(play.chartSha256), number(play.difficulty)});
    return owned->rows() > 0 ? static_cast<int32_t>(owned->integerAt(0, 0)) : play.difficulty;
}

// The play becomes its player's best on the board when it beats it; a first best counts a player.
void keepBest(PGconn* connection, const TrankedPlay& play) {
    const std::vector<Tparameter> key = {text(play.chartSha256), number(play.difficulty), number(play.playerId),
                                         number(play.judged.score), number(play.id)};
    const auto added = run(connection,
                           "INSERT INTO bests (chart_sha256, difficulty, player_id, score, play_id) "
                           "VALUES ($1, $2, $3, $4, $5) ON CONFLICT DO NOTHING",
                           key);
    if (added->changed() == 1) {
        run(connection,
            "INSERT INTO boards (chart_sha256, difficulty, players) VALUES ($1, $2, 1) "
            "ON CONFLICT (chart_sha256, difficulty) DO UPDATE SET players = boards.players + 1",
            {text(play.chartSha256), number(play.difficulty)});
        return;
    }
    run(connection,
        "UPDATE bests SET score = $4, play_id = $5 "
        "WHERE chart_sha256 = $1 AND difficulty = $2 AND player_id = $3 AND score < $4",
        key);
}

void prepareStatements(PGconn* connection) {
    const std::string earlier = std::string("SELECT ") + playColumns +
                                " FROM plays WHERE (chart_sha256, presses_sha256) IN "
                                "(SELECT * FROM unnest($1::text[], $2::text[]))";
    const char* insert =
        "INSERT INTO plays (player_id, chart_sha256, difficulty, rate, audio_offset, visual_offset, claimed_score, "
        "score, max_combo, perfect, great, good, bad, miss, verified, reason, presses, presses_sha256, submitted_at) "
        "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19) RETURNING id";
    checked(connection, PQprepare(connection, earlierPlays, earlier.c_str(), 0, nullptr), false);
    checked(connection, PQprepare(connection, insertPlay, insert, 0, nullptr), false);
    checked(connection, PQprepare(connection, leaderboardPage, leaderboardSql, 0, nullptr), false);
}

// Every kept play with the presses of one of these plays on its chart: one query for the batch.
std::vector<TrankedPlay> playsWithKeysOf(PGconn* connection, const std::vector<TrankedPlay>& plays) {
    std::string charts = "{", presses = "{";
    for (const TrankedPlay& play : plays) {
        charts += (charts.size() > 1 ? "," : "") + play.chartSha256;
        presses += (presses.size() > 1 ? "," : "") + play.pressesSha256;
    }
    const auto rows = run(connection, earlierPlays, {text(charts + "}"), text(presses + "}")}, false, true);
    std::vector<TrankedPlay> known;
    for (int row = 0; row < rows->rows(); ++row) known.push_back(playFromRow(*rows, row));
    return known;
}

// Among the known plays with the play's key, the player's own, else the earliest.
std::optional<TrankedPlay> earlierOf(const TrankedPlay& play, const std::vector<TrankedPlay>& known) {
    const TrankedPlay* chosen = nullptr;
    for (const TrankedPlay& candidate : known) {
        if (candidate.chartSha256 != play.chartSha256 || candidate.pressesSha256 != play.pressesSha256) continue;
        const bool own = candidate.playerId == play.playerId;
        if (!chosen || (own != (chosen->playerId == play.playerId) ? own : candidate.id < chosen->id))
            chosen = &candidate;
    }
    return chosen ? std::optional(*chosen) : std::nullopt;
}

int64_t insertOne(PGconn* connection, const TrankedPlay& p) {
    const TplayJudgement& judged = p.judged;
    const auto added = run(
        connection, insertPlay,
        {number(p.playerId), text(p.chartSha256), number(p.difficulty), real(p.rate), number(p.audioOffset),
         number(p.visualOffset), number(p.claimedScore), number(judged.score), number(judged.maxCombo),
         number(judged.perfect), number(judged.great), number(judged.good), number(judged.bad), number(judged.miss),
         number(p.verified ? 1 : 0), text(p.reason), bytes(p.presses), text(p.pressesSha256), number(p.submittedAt)},
        false, true);
    return added->integerAt(0, 0);
}

PGconn* connect(const std::string& address) {
    PGconn* connection = PQconnectdb(address.c_str());
    if (PQstatus(connection) == CONNECTION_OK) {
        PQclear(PQexec(connection, "SET client_min_messages = warning"));
        return connection;
    }
    const std::string reason = connection ? PQerrorMessage(connection) : "out of memory";
    PQfinish(connection);
    throw std::runtime_error("Cannot connect to the ranking database: " + reason);
}

}  // namespace

TpostgresRankingStore::TpostgresRankingStore(const std::string& address, size_t connections) {
    for (size_t made = 0; made < std::max<size_t>(connections, 1); ++made) {
        try {
            all_.push_back(connect(address));
        } catch (...) {
            for (PGconn* connection : all_) PQfinish(connection);
            throw;
        }
    }
    idle_ = all_;
    try {
        migrate();
        for (PGconn* connection : all_) prepareStatements(connection);
    } catch (const std::runtime_error& error) {
        for (PGconn* connection : all_) PQfinish(connection);
        throw std::runtime_error(std::string("Cannot use the ranking database: ") + error.what());
    }
}

TpostgresRankingStore::~TpostgresRankingStore() {
    for (PGconn* connection : all_) PQfinish(connection);
}

PGconn* TpostgresRankingStore::borrow() {
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(lock, [this] { return !idle_.empty(); });
    PGconn* connection = idle_.back();
    idle_.pop_back();
    lock.unlock();
    // A database restarted since the last request: connect again rather than fail every request.
    if (PQstatus(connection) != CONNECTION_OK) {
        PQreset(connection);
        if (PQstatus(connection) == CONNECTION_OK) prepareStatements(connection);
    }
    return connection;
}

void TpostgresRankingStore::giveBack(PGconn* connection) {
    if (PQtransactionStatus(connection) != PQTRANS_IDLE) PQclear(PQexec(connection, "ROLLBACK"));
    const std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(connection);
    returned_.notify_one();
}

void TpostgresRankingStore::migrate() {
    const Tlease lease(*this, borrow());
    inTransaction(lease.get(), [&] {
        run(lease.get(), migrationLock);
        run(lease.get(), "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
        const auto current = run(lease.get(), "SELECT version FROM schema_version");
        const int64_t version = current->rows() == 0 ? 0 : current->integerAt(0, 0);
        if (current->rows() == 0) run(lease.get(), "INSERT INTO schema_version VALUES (0)");
        if (version > rankingSchemaVersion())
            throw std::runtime_error("its schema version " + std::to_string(version) + " is newer than this server's " +
                                     std::to_string(rankingSchemaVersion()) + ".");
        for (int next = static_cast<int>(version) + 1; next <= rankingSchemaVersion(); ++next) {
            const std::unique_ptr<Tresult> done(new Tresult(PQexec(lease.get(), rankingMigration(next).postgresql)));
            if (!done->succeeded()) throw std::runtime_error(PQerrorMessage(lease.get()));
            run(lease.get(), "UPDATE schema_version SET version = $1", {number(next)});
        }
        return 0;
    });
}

int64_t TpostgresRankingStore::addPlayer(const std::string& name, const std::string& tokenSha256, int64_t now) {
    const Tlease lease(*this, borrow());
    const auto added = run(lease.get(),
                           "INSERT INTO players (name, name_key, token_sha256, created_at) VALUES ($1, $2, $3, $4) "
                           "RETURNING id",
                           {text(name), text(playerNameKey(name)), text(tokenSha256), number(now)}, true);
    return added->rows() == 1 ? added->integerAt(0, 0) : 0;
}

int64_t TpostgresRankingStore::playerWithToken(const std::string& tokenSha256) {
    const Tlease lease(*this, borrow());
    const auto found = run(lease.get(), "SELECT id FROM players WHERE token_sha256 = $1", {text(tokenSha256)});
    return found->rows() == 1 ? found->integerAt(0, 0) : 0;
}

std::optional<std::string> TpostgresRankingStore::playerName(int64_t playerId) {
    const Tlease lease(*this, borrow());
    const auto found = run(lease.get(), "SELECT name FROM players WHERE id = $1", {number(playerId)});
    if (found->rows() == 0) return std::nullopt;
    return found->textAt(0, 0);
}

void TpostgresRankingStore::addChart(const std::string& sha256, const std::string& chart, int64_t now) {
    const Tlease lease(*this, borrow());
    run(lease.get(), "INSERT INTO charts (sha256, bytes, added_at) VALUES ($1, $2, $3) ON CONFLICT DO NOTHING",
        {text(sha256), bytes(chart), number(now)});
}

std::optional<std::string> TpostgresRankingStore::chartBytes(const std::string& sha256) {
    const Tlease lease(*this, borrow());
    const auto found = run(lease.get(), "SELECT bytes FROM charts WHERE sha256 = $1", {text(sha256)});
    if (found->rows() == 0) return std::nullopt;
    return found->bytesAt(0, 0);
}

bool TpostgresRankingStore::offsetsRegistered(int64_t playerId, int32_t audioOffset, int32_t visualOffset) {
    const Tlease lease(*this, borrow());
    const auto found = run(lease.get(),
                           "SELECT 1 FROM player_offsets WHERE player_id = $1 AND audio_offset = $2 AND visual_offset = $3",
                           {number(playerId), number(audioOffset), number(visualOffset)});
    return found->rows() == 1;
}

bool TpostgresRankingStore::registerOffsets(int64_t playerId, int32_t audioOffset, int32_t visualOffset, int64_t now) {
    const Tlease lease(*this, borrow());
    const auto added = run(lease.get(),
                           "INSERT INTO player_offsets (player_id, audio_offset, visual_offset, registered_at) "
                           "VALUES ($1, $2, $3, $4) ON CONFLICT DO NOTHING",
                           {number(playerId), number(audioOffset), number(visualOffset), number(now)});
    return added->changed() == 1;
}

std::optional<int32_t> TpostgresRankingStore::chartDifficulty(const std::string& sha256) {
    const Tlease lease(*this, borrow());
    const auto found = run(lease.get(), "SELECT difficulty FROM chart_difficulties WHERE chart_sha256 = $1",
                           {text(sha256)});
    if (found->rows() == 0) return std::nullopt;
    return static_cast<int32_t>(found->integerAt(0, 0));
}

std::vector<TrankedPlayKept> TpostgresRankingStore::keepPlays(std::vector<TrankedPlay> plays) {
    const Tlease lease(*this, borrow());
    PGconn* connection = lease.get();
    return inTransaction(connection, [&] {
        lockPlayKeys(connection, plays);
        std::vector<TrankedPlay> known = playsWithKeysOf(connection, plays);
        std::vector<TrankedPlayKept> kept;
        for (TrankedPlay& play : plays) {
            const std::optional<TrankedPlay> earlier = earlierOf(play, known);
            kept.push_back(keptAfter(std::move(play), earlier));
            if (kept.back().alreadyKept) continue;
            TrankedPlay& added = kept.back().play;
            if (added.verified) ownedDifficulty(added, claimDifficulty(connection, added));
            added.id = insertOne(connection, added);
            if (added.verified) keepBest(connection, added);
            known.push_back(added);
        }
        return kept;
    });
}

TleaderboardPage TpostgresRankingStore::leaderboard(const std::string& chartSha256, int32_t difficulty,
                                                    int32_t limit) {
    const Tlease lease(*this, borrow());
    const auto rows = run(lease.get(), leaderboardPage, {text(chartSha256), number(difficulty), number(limit)},
                          false, true);
    TleaderboardPage page;
    for (int row = 0; row < rows->rows(); ++row) {
        page.lines.push_back({0, rows->integerAt(row, 0), rows->textAt(row, 1),
                              static_cast<int32_t>(rows->integerAt(row, 2)), rows->integerAt(row, 3)});
        page.players = rows->integerAt(row, 4);
    }
    rankLines(page.lines);
    return page;
}

std::vector<TrankedPlay> TpostgresRankingStore::playsOf(int64_t playerId, int32_t limit) {
    const Tlease lease(*this, borrow());
    const std::string sql =
        std::string("SELECT ") + playColumns + " FROM plays WHERE player_id = $1 ORDER BY id DESC LIMIT $2";
    const auto rows = run(lease.get(), sql.c_str(), {number(playerId), number(limit)});
    std::vector<TrankedPlay> plays;
    for (int row = 0; row < rows->rows(); ++row) plays.push_back(playFromRow(*rows, row));
    return plays;
}
