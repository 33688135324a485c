// The records database on SQLite: opening (unreadable files kept aside), schema steps, plays and bests.
#include "platform/store/recordsDatabase.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "platform/store/gameFolder.h"
#include "platform/store/sqliteFile.h"

namespace fs = std::filesystem;

namespace {

// Long enough for the other program's one-play transaction; short enough not to hang a start.
constexpr int busyTimeoutMs = 5000;
constexpr int busyRetryMs = 5;

// One step of the schema: the SQL that brings a database of the version before it to its own.
struct TschemaStep {
    int32_t version;
    const char* sql;
};

// In order; a step is never changed once released, later changes are new steps.
constexpr TschemaStep schemaSteps[] = {
    {1, R"sql(
        CREATE TABLE plays (
            id INTEGER PRIMARY KEY,
            chart_sha256 TEXT NOT NULL,
            song TEXT NOT NULL,
            difficulty INTEGER NOT NULL,
            played_at INTEGER NOT NULL,
            build INTEGER NOT NULL,
            marker_count INTEGER NOT NULL,
            score INTEGER NOT NULL,
            max_combo INTEGER NOT NULL,
            perfect INTEGER NOT NULL,
            great INTEGER NOT NULL,
            good INTEGER NOT NULL,
            bad INTEGER NOT NULL,
            miss INTEGER NOT NULL,
            early INTEGER NOT NULL,
            late INTEGER NOT NULL,
            mean_ms REAL,
            median_ms REAL,
            audio_offset INTEGER NOT NULL,
            visual_offset INTEGER NOT NULL,
            perfect_window INTEGER NOT NULL,
            great_window INTEGER NOT NULL,
            good_window INTEGER NOT NULL,
            bad_window INTEGER NOT NULL,
            source INTEGER NOT NULL,
            clear INTEGER NOT NULL,
            press_count INTEGER NOT NULL);
        CREATE TABLE presses (
            play_id INTEGER NOT NULL REFERENCES plays(id) ON DELETE CASCADE,
            seq INTEGER NOT NULL,
            music_ms REAL,
            panel INTEGER NOT NULL,
            "row" INTEGER NOT NULL,
            judgement INTEGER NOT NULL,
            offset_ms REAL,
            PRIMARY KEY (play_id, seq)) WITHOUT ROWID;
        -- clear rides along so that a personal best is read from the index alone.
        CREATE INDEX plays_by_chart ON plays (chart_sha256, difficulty, source, score, clear);
    )sql"},
    // The music rate of each play (pitch kept), and practice plays, which are never bests.
    {2, R"sql(
        ALTER TABLE plays ADD COLUMN rate REAL NOT NULL DEFAULT 1.0;
        ALTER TABLE plays ADD COLUMN practice INTEGER NOT NULL DEFAULT 0;
    )sql"},
    // Plays waiting for the ranking server, and what it said of those it judged.
    {3, R"sql(
        CREATE TABLE IF NOT EXISTS ranking_submissions (
            play_id INTEGER PRIMARY KEY REFERENCES plays(id) ON DELETE CASCADE,
            client_play_id TEXT NOT NULL,
            chart_path TEXT NOT NULL,
            state INTEGER NOT NULL DEFAULT 0,
            attempts INTEGER NOT NULL DEFAULT 0,
            next_attempt_at INTEGER NOT NULL DEFAULT 0,
            note TEXT NOT NULL DEFAULT '',
            server_play_id INTEGER NOT NULL DEFAULT 0,
            server_score INTEGER NOT NULL DEFAULT 0);
        CREATE INDEX IF NOT EXISTS ranking_submissions_due ON ranking_submissions (state, next_attempt_at);
    )sql"},
};
// Builds of a while numbered the ranking queue step 2 and had no rate step: their files say version
// 2 (the queue is there, IF NOT EXISTS above lets step 3 pass over it) without the rate columns.
constexpr const TschemaStep& rateColumnsStep = schemaSteps[1];
constexpr const char* rateColumnsSql =
    "SELECT count(*) FROM pragma_table_info('plays') WHERE name IN ('rate', 'practice')";

constexpr int32_t knownVersion = schemaSteps[std::size(schemaSteps) - 1].version;

constexpr const char* playColumns =
    "id, chart_sha256, song, difficulty, played_at, build, marker_count, score, max_combo, perfect, great, "
    "good, bad, miss, early, late, mean_ms, median_ms, audio_offset, visual_offset, perfect_window, "
    "great_window, good_window, bad_window, source, rate, practice";
constexpr int playColumnCount = 27;
// The plays a best is made of: the player's own full plays; rate_step is the rate in hundredths.
constexpr const char* bestPlaysFilter = "source = 0 AND practice = 0";
static_assert(static_cast<int>(TplaySource::player) == 0, "bestPlaysFilter names the player's source");
constexpr const char* rateStep = "CAST(round(rate * 100) AS INTEGER)";

Tresult readVersion(sqlite3* connection, int32_t& version) {
    return readPragma(connection, "user_version", version);
}

// Applies one step in a transaction of its own, unless another connection got there first.
Tresult applyStep(sqlite3* connection, const TschemaStep& step) {
    Tresult result = execute(connection, "BEGIN IMMEDIATE");
    if (!result.ok()) return result;
    int32_t version = 0;
    result = readVersion(connection, version);
    if (result.ok() && version < step.version) {
        result = execute(connection, step.sql);
        if (result.ok()) result = execute(connection, "PRAGMA user_version = " + std::to_string(step.version));
    }
    if (result.ok()) result = execute(connection, "COMMIT");
    if (!result.ok() && !sqlite3_get_autocommit(connection)) execute(connection, "ROLLBACK");
    return result;
}

// How many of the rate step's columns the plays table has: 0 or 2.
Tresult rateColumnCount(sqlite3* connection, int64_t& count) {
    Tstatement query(connection, rateColumnsSql);
    Tresult result = query.prepared();
    if (result.ok()) result = query.step();
    if (result.code == SQLITE_ROW) {
        count = query.integer(0);
        result = {};
    }
    return result;
}

// Gives a file of those builds the rate columns, unless another connection got there first.
Tresult addMissingRateColumns(sqlite3* connection) {
    Tresult result = execute(connection, "BEGIN IMMEDIATE");
    if (!result.ok()) return result;
    int64_t columns = 0;
    result = rateColumnCount(connection, columns);
    if (result.ok() && columns == 0) result = execute(connection, rateColumnsStep.sql);
    if (result.ok()) result = execute(connection, "COMMIT");
    if (!result.ok() && !sqlite3_get_autocommit(connection)) execute(connection, "ROLLBACK");
    return result;
}

Tresult migrate(sqlite3* connection, int32_t fromVersion, bool hasRateColumns) {
    for (const TschemaStep& step : schemaSteps) {
        if (step.version <= fromVersion) continue;
        const Tresult result = applyStep(connection, step);
        if (!result.ok()) return result;
    }
    if (fromVersion >= rateColumnsStep.version && !hasRateColumns) return addMissingRateColumns(connection);
    return {};
}

// A reader never changes the file: the plays of a file without the rate columns are read through
// a view of its own connection that gives each the rate and practice those builds played at.
Tresult readWithoutRateColumns(sqlite3* connection) {
    return execute(connection,
                   "CREATE TEMP VIEW plays AS SELECT *, 1.0 AS rate, 0 AS practice FROM main.plays");
}

// Reads the ends of both tables: the statements of ours that the game runs first.
Tresult probeTables(sqlite3* connection) {
    return execute(connection,
                   "SELECT max(id) FROM plays; SELECT play_id FROM presses ORDER BY play_id DESC, seq DESC LIMIT 1");
}

// Why an existing file is not to be opened, or "" (also when there is none yet). Checked
// without opening it: closing a descriptor of our own would drop the locks SQLite holds on it.
std::string refusedFileReason(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return "";
    if (!S_ISREG(status.st_mode)) return "it is not a regular file";
    if (::access(path.c_str(), R_OK) != 0) return std::strerror(errno);
    return "";
}

// What a file says it is: its header's two numbers and whether its schema is ours.
struct Tidentity {
    int32_t applicationId = 0;
    int32_t version = 0;
    bool empty = false;
    bool hasOurTables = false;
    bool hasRateColumns = false;
};

// Files made before the application id are told by columns only our two tables have together.
constexpr const char* schemaSql =
    "SELECT (SELECT count(*) FROM sqlite_master), "
    "(SELECT count(*) FROM pragma_table_info('plays') "
    "WHERE name IN ('chart_sha256', 'marker_count', 'press_count', 'clear')) + "
    "(SELECT count(*) FROM pragma_table_info('presses') WHERE name IN ('play_id', 'seq', 'judgement')), "
    "(SELECT count(*) FROM pragma_table_info('plays') WHERE name IN ('rate', 'practice'))";
constexpr int64_t markingColumns = 7;

// The header is read before the schema: a program making the file meanwhile adds tables after
// the header was read, never an id before.
Tresult readIdentity(sqlite3* connection, Tidentity& identity) {
    Tresult result = readPragma(connection, "application_id", identity.applicationId);
    if (result.ok()) result = readVersion(connection, identity.version);
    if (!result.ok()) return result;
    Tstatement schema(connection, schemaSql);
    result = schema.prepared();
    if (result.ok()) result = schema.step();
    if (result.code == SQLITE_ROW) {
        identity.empty = schema.integer(0) == 0;
        identity.hasOurTables = schema.integer(1) == markingColumns;
        identity.hasRateColumns = schema.integer(2) == 2;
    }
    return result;
}

bool isOurs(const Tidentity& identity) {
    if (identity.applicationId != 0) return identity.applicationId == recordsApplicationId;
    return identity.hasOurTables || (identity.empty && identity.version == 0);
}

// What opening the file came to: ready, to be kept aside, another program's, a newer build's,
// or not usable now.
enum class Topening { ready, unreadable, foreign, newer, failed };

// The outcome of opening and the reason for the notice when it is not ready.
struct Tattempt {
    Topening outcome = Topening::ready;
    std::string reason;
};

Tattempt failedAttempt(const Tresult& result) {
    return {isContentFault(result.code) ? Topening::unreadable : Topening::failed, result.message};
}

// Nothing is written before this says the file is ours and of a version this build knows.
Tattempt attemptFor(const Tresult& read, const Tidentity& identity, TrecordsAccess access) {
    if (!read.ok()) return failedAttempt(read);
    if (!isOurs(identity)) return {Topening::foreign, ""};
    if (identity.version > knownVersion)
        return {Topening::newer, "schema version " + std::to_string(identity.version) +
                                     ", this build knows up to " + std::to_string(knownVersion)};
    if (access == TrecordsAccess::read && identity.empty) return {Topening::failed, "it holds no plays table yet"};
    return {};
}

// Switching a new file into WAL needs it for a moment alone and does not wait through the busy
// handler, so another program opening the same new file at that instant is waited for here.
Tresult useWriteAheadLog(sqlite3* connection) {
    for (int waited = 0;; waited += busyRetryMs) {
        const Tresult result = execute(connection, "PRAGMA journal_mode = WAL");
        if ((result.code & 0xff) != SQLITE_BUSY || waited >= busyTimeoutMs) return result;
        sqlite3_sleep(busyRetryMs);
    }
}

// Files from builds before the application id get it; the schema version stays, so those
// builds still keep plays in it.
Tresult stampApplicationId(sqlite3* connection, const Tidentity& identity) {
    if (identity.applicationId == recordsApplicationId) return {};
    return execute(connection, "PRAGMA application_id = " + std::to_string(recordsApplicationId));
}

// Everything after the file is known to be ours and sound: journal, connection settings, schema, id.
Tresult prepareForKeeping(sqlite3* connection, const Tidentity& identity) {
    Tresult result = useWriteAheadLog(connection);
    if (result.ok()) result = execute(connection, "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON");
    if (result.ok()) result = migrate(connection, identity.version, identity.hasRateColumns);
    if (result.ok()) result = stampApplicationId(connection, identity);
    return result;
}

Tattempt prepareConnection(sqlite3* connection, const Tidentity& identity, TrecordsAccess access) {
    Tresult result = checkPages(connection);
    if (result.ok() && access == TrecordsAccess::keep) result = prepareForKeeping(connection, identity);
    if (result.ok() && access == TrecordsAccess::read && !identity.hasRateColumns)
        result = readWithoutRateColumns(connection);
    if (result.ok()) result = probeTables(connection);
    return result.ok() ? Tattempt{} : failedAttempt(result);
}

int openFlags(TrecordsAccess access) {
    const int mode = access == TrecordsAccess::keep ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    return mode | SQLITE_OPEN_NOMUTEX;
}

// Closes a connection that is not used, leaving the file's journal as it is (no checkpoint into it).
void closeUnused(sqlite3*& connection) {
    if (connection) sqlite3_db_config(connection, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_close_v2(connection);
    connection = nullptr;
}

// Opens the file at location (a path, or a URI with the flag for it) and reads what it is.
Tresult connect(const std::string& location, int flags, sqlite3*& connection, Tidentity& identity) {
    Tresult result = resultOf(nullptr, sqlite3_open_v2(location.c_str(), &connection, flags, nullptr));
    if (!result.ok()) {
        if (connection) result.message = sqlite3_errmsg(connection);
        return result;
    }
    sqlite3_extended_result_codes(connection, 1);
    sqlite3_busy_timeout(connection, busyTimeoutMs);
    return readIdentity(connection, identity);
}

// A file URI that names the path exactly, whatever characters it holds, read as a file no one
// writes to: no locks, no shared-memory index beside it.
std::string immutableUri(const std::string& path) {
    static const char digits[] = "0123456789ABCDEF";
    std::string uri = "file:";
    std::error_code error;
    for (const char c : fs::absolute(path, error).string()) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::strchr("/._-~", c)) uri += c;
        else uri += {'%', digits[byte >> 4], digits[byte & 15]};
    }
    return uri + "?immutable=1";
}

// A WAL file in a folder the reader cannot write to cannot be opened the usual way (the index
// beside it cannot be made). With no journal beside it there is nothing newer than the file
// itself, so it is read as it stands.
bool needsImmutableRead(const Tresult& result, TrecordsAccess access, const std::string& path) {
    const int primary = result.code & 0xff;
    std::error_code error;
    return access == TrecordsAccess::read && (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN) &&
           !fs::exists(path + "-wal", error);
}

// Opens and prepares the database at path; connection is left null unless it is ready.
Tattempt openConnection(const std::string& path, TrecordsAccess access, sqlite3*& connection) {
    const std::string refused = refusedFileReason(path);
    if (!refused.empty()) return {Topening::failed, refused};
    Tidentity identity;
    Tresult result = connect(path, openFlags(access), connection, identity);
    if (needsImmutableRead(result, access, path)) {
        closeUnused(connection);
        result = connect(immutableUri(path), openFlags(access) | SQLITE_OPEN_URI, connection, identity);
    }
    Tattempt attempt = attemptFor(result, identity, access);
    if (attempt.outcome == Topening::ready) attempt = prepareConnection(connection, identity, access);
    if (attempt.outcome != Topening::ready) closeUnused(connection);
    return attempt;
}

// A reader has nothing to keep: its notice only says what happened.
std::string notKeptNotice(const std::string& what, TrecordsAccess access) {
    return "Records: " + what + (access == TrecordsAccess::keep ? "; plays are not kept this run." : ".");
}

TkeptPlay readPlayRow(const Tstatement& row) {
    TkeptPlay play;
    int column = 0;
    play.id = row.integer(column++);
    play.chartSha256 = row.text(column++);
    play.song = row.text(column++);
    play.difficulty = row.integer32(column++);
    play.playedAt = row.integer(column++);
    play.build = row.integer32(column++);
    play.markerCount = row.integer32(column++);
    play.score = row.integer32(column++);
    play.maxCombo = row.integer32(column++);
    play.perfect = row.integer32(column++);
    play.great = row.integer32(column++);
    play.good = row.integer32(column++);
    play.bad = row.integer32(column++);
    play.miss = row.integer32(column++);
    play.early = row.integer32(column++);
    play.late = row.integer32(column++);
    play.meanMs = row.real(column++);
    play.medianMs = row.real(column++);
    play.audioOffset = row.integer32(column++);
    play.visualOffset = row.integer32(column++);
    play.perfectWindow = row.integer32(column++);
    play.greatWindow = row.integer32(column++);
    play.goodWindow = row.integer32(column++);
    play.badWindow = row.integer32(column++);
    play.source = static_cast<TplaySource>(row.integer32(column++));
    play.rateHundredths = static_cast<int32_t>(std::lround(row.real(column++) * 100.0));
    play.practice = row.integer32(column++) != 0;
    return play;
}

void bindPlay(Tstatement& insert, const TkeptPlay& play) {
    insert.bind(play.chartSha256);
    insert.bind(play.song);
    for (const int64_t value : {int64_t(play.difficulty), play.playedAt, int64_t(play.build), int64_t(play.markerCount),
                                int64_t(play.score), int64_t(play.maxCombo), int64_t(play.perfect), int64_t(play.great),
                                int64_t(play.good), int64_t(play.bad), int64_t(play.miss), int64_t(play.early),
                                int64_t(play.late)})
        insert.bind(value);
    insert.bind(play.meanMs);
    insert.bind(play.medianMs);
    for (const int32_t value : {play.audioOffset, play.visualOffset, play.perfectWindow, play.greatWindow,
                                play.goodWindow, play.badWindow, static_cast<int32_t>(play.source),
                                static_cast<int32_t>(clearMarkOf(play))})
        insert.bind(int64_t(value));
    insert.bind(static_cast<int64_t>(play.presses.size()));
    insert.bind(play.rateHundredths / 100.0);
    insert.bind(int64_t(play.practice ? 1 : 0));
}

Tresult insertPlay(sqlite3* connection, const TkeptPlay& play, int64_t& id) {
    Tstatement insert(connection,
                      "INSERT INTO plays (chart_sha256, song, difficulty, played_at, build, marker_count, score, "
                      "max_combo, perfect, great, good, bad, miss, early, late, mean_ms, median_ms, audio_offset, "
                      "visual_offset, perfect_window, great_window, good_window, bad_window, source, clear, "
                      "press_count, rate, practice) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    Tresult result = insert.prepared();
    if (!result.ok()) return result;
    bindPlay(insert, play);
    result = insert.step();
    if (result.ok()) id = sqlite3_last_insert_rowid(connection);
    return result;
}

Tresult insertPresses(sqlite3* connection, int64_t playId, const std::vector<TkeptPress>& presses) {
    Tstatement insert(connection,
                      "INSERT INTO presses (play_id, seq, music_ms, panel, \"row\", judgement, offset_ms) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?)");
    Tresult result = insert.prepared();
    for (size_t seq = 0; result.ok() && seq < presses.size(); ++seq) {
        const TkeptPress& press = presses[seq];
        insert.reset();
        insert.bind(playId);
        insert.bind(static_cast<int64_t>(seq));
        insert.bind(press.musicMs);
        insert.bind(int64_t(press.panel));
        insert.bind(int64_t(press.row));
        insert.bind(int64_t(press.judgement));
        insert.bind(press.offsetMs);
        result = insert.step();
    }
    return result;
}

}  // namespace

TclearMark clearMarkOf(const TkeptPlay& play) {
    if (play.markerCount > 0 && play.perfect == play.markerCount) return TclearMark::allPerfect;
    if (play.markerCount > 0 && play.bad == 0 && play.miss == 0) return TclearMark::fullCombo;
    if (play.score >= clearScore) return TclearMark::cleared;
    return TclearMark::played;
}

const char* clearMarkName(TclearMark mark) {
    switch (mark) {
    case TclearMark::allPerfect: return "ALL PERFECT";
    case TclearMark::fullCombo: return "FULL COMBO";
    case TclearMark::cleared: return "CLEARED";
    case TclearMark::played: break;
    }
    return "PLAYED";
}

TrecordsDatabase::TrecordsDatabase(const std::string& path, TrecordsAccess access)
    : filePath(path), access(access) {
    open();
}

TrecordsDatabase::~TrecordsDatabase() {
    sqlite3_close_v2(connection);
}

std::string TrecordsDatabase::defaultPath() {
    return playerDataFolder() + "/records.sqlite3";
}

bool TrecordsDatabase::isOpen() const {
    return connection != nullptr;
}

const std::string& TrecordsDatabase::path() const {
    return filePath;
}

const std::string& TrecordsDatabase::notice() const {
    return openingNotice;
}

const std::string& TrecordsDatabase::lastError() const {
    return errorText;
}

void TrecordsDatabase::open() {
    const fs::path folder = fs::path(filePath).parent_path();
    std::error_code error;
    if (!folder.empty() && access == TrecordsAccess::keep) fs::create_directories(folder, error);
    if (error) {
        openingNotice = notKeptNotice("the folder " + folder.string() + " cannot be made (" + error.message() + ")",
                                      access);
        return;
    }
    const std::string name = fileNameOf(filePath);
    const Tattempt attempt = openConnection(filePath, access, connection);
    if (attempt.outcome == Topening::foreign)
        openingNotice = notKeptNotice(name + " is not a records database (another program's SQLite file?) and is "
                                             "left as it is",
                                      access);
    else if (attempt.outcome == Topening::newer)
        openingNotice =
            notKeptNotice(name + " belongs to a newer build (" + attempt.reason + ") and is left as it is", access);
    else if (attempt.outcome == Topening::failed)
        openingNotice = notKeptNotice(name + " cannot be opened (" + attempt.reason + ")", access);
    else if (attempt.outcome == Topening::unreadable)
        startAfresh(attempt.reason);
}

void TrecordsDatabase::startAfresh(const std::string& reason) {
    const std::string name = fileNameOf(filePath);
    const std::string unread = name + " could not be read (" + reason + ")";
    const std::string aside = setAside();
    if (aside.empty()) {
        openingNotice = notKeptNotice(unread + " and could not be kept aside", access);
        return;
    }
    const std::string kept = unread + "; kept it as " + fileNameOf(aside);
    if (access == TrecordsAccess::read) {
        openingNotice = notKeptNotice(kept, access);
        return;
    }
    const Tattempt fresh = openConnection(filePath, access, connection);
    if (fresh.outcome == Topening::ready)
        openingNotice = "Records: " + kept + " and started a new one.";
    else
        openingNotice = notKeptNotice(kept + ", but a new one cannot be started (" + fresh.reason + ")", access);
}

std::string TrecordsDatabase::setAside() {
    return setFileAside(filePath);
}

int64_t TrecordsDatabase::addPlay(const TkeptPlay& play) {
    errorText.clear();
    if (!connection) {
        errorText = "the records database is not open";
        return 0;
    }
    int64_t id = 0;
    Tresult result = execute(connection, "BEGIN IMMEDIATE");
    if (result.ok()) result = insertPlay(connection, play, id);
    if (result.ok()) result = insertPresses(connection, id, play.presses);
    if (result.ok()) result = execute(connection, "COMMIT");
    if (result.ok()) return id;
    if (!sqlite3_get_autocommit(connection)) execute(connection, "ROLLBACK");
    errorText = result.message;
    return 0;
}

TpersonalBest TrecordsDatabase::bestOf(const std::string& chartSha256, int32_t difficulty, int32_t rateHundredths) {
    errorText.clear();
    TpersonalBest best;
    if (!connection) return best;
    Tstatement query(connection, std::string("SELECT count(*), max(score), max(clear) FROM plays "
                                             "WHERE chart_sha256 = ? AND difficulty = ? AND ") +
                                     bestPlaysFilter + " AND " + rateStep + " = ?");
    Tresult result = query.prepared();
    if (result.ok()) {
        query.bind(chartSha256);
        query.bind(int64_t(difficulty));
        query.bind(int64_t(rateHundredths));
        result = query.step();
    }
    if (result.code == SQLITE_ROW && query.integer(0) > 0) {
        best.exists = true;
        best.score = query.integer32(1);
        best.clear = static_cast<TclearMark>(query.integer32(2));
    }
    if (!result.ok()) errorText = result.message;
    return best;
}

std::optional<TkeptPlay> TrecordsDatabase::play(int64_t id) {
    errorText.clear();
    if (!connection) return std::nullopt;
    Tstatement query(connection, std::string("SELECT ") + playColumns + " FROM plays WHERE id = ?");
    Tresult result = query.prepared();
    if (result.ok()) {
        query.bind(id);
        result = query.step();
    }
    if (result.code != SQLITE_ROW) {
        if (!result.ok()) errorText = result.message;
        return std::nullopt;
    }
    TkeptPlay found = readPlayRow(query);
    Tstatement presses(connection,
                       "SELECT music_ms, panel, \"row\", judgement, offset_ms FROM presses "
                       "WHERE play_id = ? ORDER BY seq");
    result = presses.prepared();
    if (result.ok()) presses.bind(id);
    while (result.ok() && (result = presses.step()).code == SQLITE_ROW) {
        found.presses.push_back({presses.real(0), presses.integer32(1), presses.integer32(2), presses.integer32(3),
                                 presses.real(4)});
    }
    if (!result.ok()) {
        errorText = result.message;
        return std::nullopt;
    }
    return found;
}

std::vector<TkeptPlay> TrecordsDatabase::playList(const std::string& sql, const std::string& song) {
    errorText.clear();
    std::vector<TkeptPlay> list;
    if (!connection) return list;
    Tstatement query(connection, sql);
    Tresult result = query.prepared();
    if (result.ok()) query.bind(song);
    while (result.ok() && (result = query.step()).code == SQLITE_ROW) list.push_back(readPlayRow(query));
    if (!result.ok()) errorText = result.message;
    return list;
}

std::vector<TkeptPlay> TrecordsDatabase::plays(const std::string& song) {
    return playList(std::string("SELECT ") + playColumns + " FROM plays WHERE ?1 = '' OR song = ?1 ORDER BY id DESC",
                    song);
}

// Ranked over all of a chart's player plays, as bestOf counts them, whatever the song filter.
std::vector<TchartBest> TrecordsDatabase::bests(const std::string& song) {
    errorText.clear();
    std::vector<TchartBest> list;
    if (!connection) return list;
    const std::string chartAtRate = std::string("chart_sha256, difficulty, ") + rateStep;
    Tstatement query(connection,
                     std::string("SELECT ") + playColumns +
                         ", best_clear FROM (SELECT *, row_number() OVER chart_plays AS rank, "
                         "max(clear) OVER (PARTITION BY " + chartAtRate + ") AS best_clear FROM plays "
                         "WHERE " + bestPlaysFilter +
                         " WINDOW chart_plays AS (PARTITION BY " + chartAtRate + " ORDER BY score DESC, id)) "
                         "WHERE rank = 1 AND (?1 = '' OR chart_sha256 IN (SELECT chart_sha256 FROM plays "
                         "WHERE song = ?1)) ORDER BY id DESC");
    Tresult result = query.prepared();
    if (result.ok()) query.bind(song);
    while (result.ok() && (result = query.step()).code == SQLITE_ROW)
        list.push_back({readPlayRow(query), static_cast<TclearMark>(query.integer32(playColumnCount))});
    if (!result.ok()) errorText = result.message;
    return list;
}

bool TrecordsDatabase::queueForRanking(int64_t playId, const std::string& clientPlayId, const std::string& chartPath) {
    errorText.clear();
    if (!connection) {
        errorText = "the records database is not open";
        return false;
    }
    Tstatement insert(connection,
                      "INSERT OR IGNORE INTO ranking_submissions (play_id, client_play_id, chart_path) VALUES (?, ?, ?)");
    Tresult result = insert.prepared();
    if (result.ok()) {
        insert.bind(playId);
        insert.bind(clientPlayId);
        insert.bind(chartPath);
        result = insert.step();
    }
    if (!result.ok()) errorText = result.message;
    return result.ok();
}

std::vector<TrankingSubmission> TrecordsDatabase::queuedSubmissions(int64_t dueBy) {
    errorText.clear();
    std::vector<TrankingSubmission> list;
    if (!connection) return list;
    Tstatement query(connection,
                     "SELECT play_id, client_play_id, chart_path, state, attempts, next_attempt_at, note, "
                     "server_play_id, server_score FROM ranking_submissions "
                     "WHERE state = 0 AND (?1 < 0 OR next_attempt_at <= ?1) ORDER BY play_id");
    Tresult result = query.prepared();
    if (result.ok()) query.bind(dueBy);
    while (result.ok() && (result = query.step()).code == SQLITE_ROW)
        list.push_back({query.integer(0), query.text(1), query.text(2),
                        static_cast<TsubmissionState>(query.integer32(3)), query.integer32(4), query.integer(5),
                        query.text(6), query.integer(7), query.integer32(8)});
    if (!result.ok()) errorText = result.message;
    return list;
}

bool TrecordsDatabase::updateSubmission(const TrankingSubmission& submission) {
    errorText.clear();
    if (!connection) {
        errorText = "the records database is not open";
        return false;
    }
    Tstatement update(connection,
                      "UPDATE ranking_submissions SET state = ?, attempts = ?, next_attempt_at = ?, note = ?, "
                      "server_play_id = ?, server_score = ? WHERE play_id = ?");
    Tresult result = update.prepared();
    if (result.ok()) {
        update.bind(int64_t(submission.state));
        update.bind(int64_t(submission.attempts));
        update.bind(submission.nextAttemptAt);
        update.bind(submission.note);
        update.bind(submission.serverPlayId);
        update.bind(int64_t(submission.serverScore));
        update.bind(submission.playId);
        result = update.step();
    }
    if (!result.ok()) errorText = result.message;
    return result.ok();
}
