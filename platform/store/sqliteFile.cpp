// Shared SQLite helpers: results, statements, page checks, files kept aside.
#include "platform/store/sqliteFile.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Files kept aside before the oldest ones have to be cleared by hand.
constexpr int mostKeptAside = 1000;

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// The first "<path>.bad-N" free for the file and its journals, or "" when all are taken.
std::string freeAsideName(const std::string& path) {
    for (int number = 1; number <= mostKeptAside; ++number) {
        const std::string candidate = path + ".bad-" + std::to_string(number);
        if (!exists(candidate) && !exists(candidate + "-wal") && !exists(candidate + "-journal")) return candidate;
    }
    return "";
}

// Moves a journal along with its database; one left behind would be replayed into the new file.
bool moveJournal(const std::string& path, const std::string& aside, const char* suffix) {
    if (!exists(path + suffix)) return true;
    std::error_code error;
    fs::rename(path + suffix, aside + suffix, error);
    return !error;
}

}  // namespace

Tresult resultOf(sqlite3* connection, int code) {
    Tresult result{code, ""};
    if (!result.ok()) result.message = connection ? sqlite3_errmsg(connection) : sqlite3_errstr(code);
    return result;
}

Tresult execute(sqlite3* connection, const std::string& sql) {
    return resultOf(connection, sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr));
}

Tstatement::Tstatement(sqlite3* connection, const std::string& sql) : owner(connection) {
    prepareCode = sqlite3_prepare_v2(connection, sql.c_str(), -1, &handle, nullptr);
}

Tstatement::~Tstatement() {
    sqlite3_finalize(handle);
}

void Tstatement::reset() {
    sqlite3_reset(handle);
    nextBinding = 1;
}

void Tstatement::bind(const std::string& value) {
    sqlite3_bind_text(handle, nextBinding++, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}

std::string Tstatement::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(handle, column));
    return bytes ? std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(handle, column))) : std::string();
}

Tresult readPragma(sqlite3* connection, const char* name, int32_t& value) {
    Tstatement query(connection, std::string("PRAGMA ") + name);
    Tresult result = query.prepared();
    if (result.ok()) result = query.step();
    if (result.code == SQLITE_ROW) value = query.integer32(0);
    return result;
}

Tresult checkPages(sqlite3* connection) {
    Tstatement check(connection, "PRAGMA quick_check(1)");
    Tresult result = check.prepared();
    if (result.ok()) result = check.step();
    if (result.code != SQLITE_ROW || check.text(0) == "ok") return result;
    std::string finding = check.text(0);
    std::replace(finding.begin(), finding.end(), '\n', ' ');
    return {SQLITE_CORRUPT, "damaged: " + finding};
}

bool isContentFault(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

std::string setFileAside(const std::string& path) {
    const std::string aside = freeAsideName(path);
    if (aside.empty()) return "";
    std::error_code error;
    fs::rename(path, aside, error);
    if (error) return "";
    if (!moveJournal(path, aside, "-wal") || !moveJournal(path, aside, "-journal")) return "";
    fs::remove(path + "-shm", error);
    return aside;
}

std::string fileNameOf(const std::string& path) {
    return fs::path(path).filename().string();
}
