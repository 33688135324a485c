// A database of the ranking benchmarks' own in the PostgreSQL cluster at TRELLIK_POSTGRES, made
// empty for them and dropped afterwards, so that the benchmarks never see each other's players.
#pragma once

#include <libpq-fe.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class TbenchPostgresDatabase {
public:
    explicit TbenchPostgresDatabase(const std::string& purpose) {
        const char* cluster = std::getenv("TRELLIK_POSTGRES");
        if (!cluster || !*cluster) return;
        maintenance_ = cluster;
        name_ = "bench_" + purpose + "_" + std::to_string(::getpid());
        const size_t database = maintenance_.find("/postgres?");
        if (database == std::string::npos) return;
        address_ = maintenance_;
        address_.replace(database, 10, "/" + name_ + "?");
        if (!command("CREATE DATABASE " + name_)) address_.clear();
    }
    ~TbenchPostgresDatabase() {
        if (!address_.empty()) command("DROP DATABASE " + name_ + " WITH (FORCE)");
    }
    TbenchPostgresDatabase(const TbenchPostgresDatabase&) = delete;
    TbenchPostgresDatabase& operator=(const TbenchPostgresDatabase&) = delete;

    // "" when there is no cluster to measure on.
    const std::string& address() const { return address_; }

private:
    bool command(const std::string& sql) const {
        PGconn* connection = PQconnectdb(maintenance_.c_str());
        PGresult* result = PQexec(connection, sql.c_str());
        const bool done = PQresultStatus(result) == PGRES_COMMAND_OK;
        if (!done) std::fprintf(stderr, "%s: %s\n", sql.c_str(), PQerrorMessage(connection));
        PQclear(result);
        PQfinish(connection);
        return done;
    }
    std::string maintenance_, name_, address_;
};
