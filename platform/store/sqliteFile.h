// Helpers shared by the game's SQLite files: results with their messages, statements, page checks
// and keeping an unreadable file aside.
#pragma once

#include <cstdint>
#include <string>

#include <sqlite3.h>

// An SQLite result code with the connection's message taken when it happened.
struct Tresult {
    int code = SQLITE_OK;
    std::string message;

    bool ok() const { return code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE; }
};

Tresult resultOf(sqlite3* connection, int code);
Tresult execute(sqlite3* connection, const std::string& sql);

// A prepared statement, finalized when it goes; values bound and read by position.
class Tstatement {
public:
    Tstatement(sqlite3* connection, const std::string& sql);
    ~Tstatement();
    Tstatement(const Tstatement&) = delete;
    Tstatement& operator=(const Tstatement&) = delete;

    Tresult prepared() const { return resultOf(owner, prepareCode); }
    Tresult step() { return resultOf(owner, sqlite3_step(handle)); }
    void reset();

    void bind(int64_t value) { sqlite3_bind_int64(handle, nextBinding++, value); }
    void bind(double value) { sqlite3_bind_double(handle, nextBinding++, value); }
    void bind(const std::string& value);

    int64_t integer(int column) const { return sqlite3_column_int64(handle, column); }
    int32_t integer32(int column) const { return sqlite3_column_int(handle, column); }
    double real(int column) const { return sqlite3_column_double(handle, column); }
    std::string text(int column) const;

private:
    sqlite3* owner;
    sqlite3_stmt* handle = nullptr;
    int prepareCode = SQLITE_OK;
    int nextBinding = 1;
};

// One integer pragma's value ("user_version", "application_id").
Tresult readPragma(sqlite3* connection, const char* name, int32_t& value);

// Reads the structure of every page (not the rows' values): a damaged index or a cut-off file
// shows here, before what it holds is lost to it.
Tresult checkPages(sqlite3* connection);

// Faults SQLite finds in the file itself. Any other failure (a statement of ours, busy,
// read-only, full, out of memory) is no reason to move the file.
bool isContentFault(int code);

// Renames the file and its journals to the first free "<path>.bad-N"; that path, or "" when it
// could not be moved.
std::string setFileAside(const std::string& path);

// The last part of a path.
std::string fileNameOf(const std::string& path);
