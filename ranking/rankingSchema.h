// The ranking database's schema version and the migrations that reach it, for both databases.
#pragma once

struct TrankingMigration {
    const char* sqlite;
    const char* postgresql;
};

// The schema version this build writes; a database of a later version is refused, not changed.
int rankingSchemaVersion();
// The migration from version - 1 to version, 1 <= version <= rankingSchemaVersion().
const TrankingMigration& rankingMigration(int version);
