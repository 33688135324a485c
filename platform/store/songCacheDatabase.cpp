// The song cache on SQLite: opening (damaged files kept aside, other versions emptied), reading, updating.
#include "platform/store/songCacheDatabase.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "platform/store/gameFolder.h"
#include "platform/store/sqliteFile.h"

namespace fs = std::filesystem;

namespace {

// A cache holds nothing that cannot be read again, so a new layout simply starts it anew.
constexpr int32_t cacheVersion = 2;
constexpr int busyTimeoutMs = 5000;

constexpr const char* schemaSql = R"sql(
    DROP TABLE IF EXISTS charts;
    CREATE TABLE charts (
        path TEXT PRIMARY KEY,
        size INTEGER NOT NULL,
        modified INTEGER NOT NULL,
        inode INTEGER NOT NULL,
        changed INTEGER NOT NULL,
        first_seen INTEGER NOT NULL,
        readable INTEGER NOT NULL,
        marker_count INTEGER NOT NULL,
        length_ms REAL NOT NULL,
        tempo_min REAL NOT NULL,
        tempo_max REAL NOT NULL,
        sha256 TEXT NOT NULL) WITHOUT ROWID;
)sql";

// What the header says the file is.
enum class Tkind { ours, stale, foreign };

Tresult readKind(sqlite3* connection, Tkind& kind) {
    int32_t applicationId = 0;
    int32_t version = 0;
    int32_t tables = 0;
    Tresult result = readPragma(connection, "application_id", applicationId);
    if (result.ok()) result = readPragma(connection, "user_version", version);
    if (result.ok()) result = readPragma(connection, "schema_version", tables);
    if (!result.ok()) return result;
    const bool fresh = applicationId == 0 && tables == 0;
    if (applicationId != songCacheApplicationId && !fresh) kind = Tkind::foreign;
    else kind = version == cacheVersion ? Tkind::ours : Tkind::stale;
    return result;
}

Tresult makeSchema(sqlite3* connection) {
    Tresult result = execute(connection, "BEGIN IMMEDIATE");
    if (result.ok()) result = execute(connection, schemaSql);
    if (result.ok())
        result = execute(connection, "PRAGMA application_id = " + std::to_string(songCacheApplicationId) +
                                         "; PRAGMA user_version = " + std::to_string(cacheVersion));
    if (result.ok()) result = execute(connection, "COMMIT");
    if (!result.ok() && !sqlite3_get_autocommit(connection)) execute(connection, "ROLLBACK");
    return result;
}

// Opens the file and makes it ready; the connection stays null unless it is.
Tresult connect(const std::string& path, sqlite3*& connection, Tkind& kind) {
    Tresult result = resultOf(nullptr, sqlite3_open_v2(path.c_str(), &connection,
                                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                                       nullptr));
    if (connection) {
        sqlite3_extended_result_codes(connection, 1);
        sqlite3_busy_timeout(connection, busyTimeoutMs);
    }
    if (result.ok()) result = readKind(connection, kind);
    if (result.ok() && kind != Tkind::foreign) result = checkPages(connection);
    if (result.ok() && kind == Tkind::stale) result = makeSchema(connection);
    if (result.ok() && kind != Tkind::foreign) result = execute(connection, "PRAGMA journal_mode = WAL");
    if (result.ok() && kind != Tkind::foreign) result = execute(connection, "SELECT count(*) FROM charts");
    if (!result.ok() || kind == Tkind::foreign) {
        sqlite3_close_v2(connection);
        connection = nullptr;
    }
    return result;
}

TcachedChart readRow(const Tstatement& row) {
    TcachedChart chart;
    chart.stamp.size = row.integer(1);
    chart.stamp.modified = row.integer(2);
    chart.stamp.inode = row.integer(3);
    chart.stamp.changed = row.integer(4);
    chart.firstSeen = row.integer(5);
    chart.readable = row.integer(6) != 0;
    chart.markerCount = row.integer32(7);
    chart.lengthMs = row.real(8);
    chart.tempoMin = row.real(9);
    chart.tempoMax = row.real(10);
    chart.sha256 = row.text(11);
    return chart;
}

void bindRow(Tstatement& insert, const std::string& path, const TcachedChart& chart) {
    insert.bind(path);
    insert.bind(chart.stamp.size);
    insert.bind(chart.stamp.modified);
    insert.bind(chart.stamp.inode);
    insert.bind(chart.stamp.changed);
    insert.bind(chart.firstSeen);
    insert.bind(int64_t{chart.readable ? 1 : 0});
    insert.bind(int64_t{chart.markerCount});
    insert.bind(chart.lengthMs);
    insert.bind(chart.tempoMin);
    insert.bind(chart.tempoMax);
    insert.bind(chart.sha256);
}

Tresult writeRows(sqlite3* connection, const TcachedCharts& changed) {
    Tstatement insert(connection, "INSERT OR REPLACE INTO charts VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    Tresult result = insert.prepared();
    for (auto row = changed.begin(); row != changed.end() && result.ok(); ++row) {
        insert.reset();
        bindRow(insert, row->first, row->second);
        result = insert.step();
    }
    return result;
}

Tresult removeRows(sqlite3* connection, const std::vector<std::string>& removed) {
    Tstatement remove(connection, "DELETE FROM charts WHERE path = ?");
    Tresult result = remove.prepared();
    for (auto path = removed.begin(); path != removed.end() && result.ok(); ++path) {
        remove.reset();
        remove.bind(*path);
        result = remove.step();
    }
    return result;
}

}  // namespace

TsongCacheDatabase::TsongCacheDatabase(const std::string& path) : filePath(path) {
    open();
}

TsongCacheDatabase::~TsongCacheDatabase() {
    sqlite3_close_v2(connection);
}

std::string TsongCacheDatabase::defaultPath() {
    return playerDataFolder() + "/songs.sqlite3";
}

bool TsongCacheDatabase::isOpen() const {
    return connection != nullptr;
}

const std::string& TsongCacheDatabase::notice() const {
    return openingNotice;
}

void TsongCacheDatabase::open() {
    const fs::path folder = fs::path(filePath).parent_path();
    std::error_code error;
    if (!folder.empty()) fs::create_directories(folder, error);
    Tkind kind = Tkind::ours;
    const Tresult result = connect(filePath, connection, kind);
    if (isContentFault(result.code)) startAfresh(result.message);
    else if (!result.ok())
        openingNotice = "Songs: the song cache " + fileNameOf(filePath) + " cannot be opened (" + result.message +
                        "); every song is read this run.";
    else if (kind == Tkind::foreign)
        openingNotice = "Songs: " + fileNameOf(filePath) +
                        " is not a song cache (another program's SQLite file?) and is left as it is; every song is "
                        "read this run.";
}

void TsongCacheDatabase::startAfresh(const std::string& reason) {
    const std::string unread = "Songs: the song cache " + fileNameOf(filePath) + " could not be read (" + reason + ")";
    const std::string aside = setFileAside(filePath);
    Tkind kind = Tkind::ours;
    if (aside.empty() || !connect(filePath, connection, kind).ok() || !connection) {
        openingNotice = unread + "; every song is read this run.";
        return;
    }
    openingNotice = unread + "; kept it as " + fileNameOf(aside) + " and started a new one.";
}

TcachedCharts TsongCacheDatabase::chartsUnder(const std::string& prefix) {
    TcachedCharts charts;
    if (!connection) return charts;
    // Every path that starts with the prefix sorts between it and the prefix with its last byte raised.
    Tstatement query(connection, "SELECT * FROM charts WHERE path >= ? AND path < ?");
    if (prefix.empty() || !query.prepared().ok()) return charts;
    std::string bound = prefix;
    bound.back() = static_cast<char>(bound.back() + 1);
    query.bind(prefix);
    query.bind(bound);
    Tresult result = query.step();
    for (; result.code == SQLITE_ROW; result = query.step()) charts.emplace(query.text(0), readRow(query));
    if (!result.ok()) charts.clear();
    return charts;
}

bool TsongCacheDatabase::update(const TcachedCharts& changed, const std::vector<std::string>& removed) {
    if (!connection) return false;
    if (changed.empty() && removed.empty()) return true;
    Tresult result = execute(connection, "BEGIN IMMEDIATE");
    if (result.ok()) result = writeRows(connection, changed);
    if (result.ok()) result = removeRows(connection, removed);
    if (result.ok()) result = execute(connection, "COMMIT");
    if (!result.ok() && !sqlite3_get_autocommit(connection)) execute(connection, "ROLLBACK");
    return result.ok();
}
