// The ranking database's schema as migrations, each written once for SQLite and once for
// PostgreSQL: the same tables, columns and indexes in both.
#include "ranking/rankingSchema.h"

namespace {

const TrankingMigration migrations[] = {
    {R"sql(
CREATE TABLE players (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE COLLATE NOCASE,
    token_sha256 TEXT NOT NULL UNIQUE,
    created_at INTEGER NOT NULL
);
CREATE TABLE charts (
    sha256 TEXT PRIMARY KEY,
    bytes BLOB NOT NULL,
    added_at INTEGER NOT NULL
);
CREATE TABLE plays (
    id INTEGER PRIMARY KEY,
    player_id INTEGER NOT NULL REFERENCES players(id),
    chart_sha256 TEXT NOT NULL,
    difficulty INTEGER NOT NULL,
    rate REAL NOT NULL,
    audio_offset INTEGER NOT NULL,
    visual_offset INTEGER NOT NULL,
    claimed_score INTEGER NOT NULL,
    score INTEGER NOT NULL,
    max_combo INTEGER NOT NULL,
    perfect INTEGER NOT NULL,
    great INTEGER NOT NULL,
    good INTEGER NOT NULL,
    bad INTEGER NOT NULL,
    miss INTEGER NOT NULL,
    verified INTEGER NOT NULL,
    reason TEXT NOT NULL,
    presses BLOB NOT NULL,
    presses_sha256 TEXT NOT NULL,
    submitted_at INTEGER NOT NULL
);
CREATE INDEX plays_board ON plays (chart_sha256, difficulty, verified, player_id, score DESC, id);
CREATE INDEX plays_of_player ON plays (player_id, id);
CREATE INDEX plays_presses ON plays (chart_sha256, presses_sha256, id);
)sql",
     R"sql(
CREATE TABLE players (
    id BIGSERIAL PRIMARY KEY,
    name TEXT NOT NULL,
    token_sha256 TEXT NOT NULL UNIQUE,
    created_at BIGINT NOT NULL
);
CREATE UNIQUE INDEX players_name ON players (lower(name));
CREATE TABLE charts (
    sha256 TEXT PRIMARY KEY,
    bytes BYTEA NOT NULL,
    added_at BIGINT NOT NULL
);
CREATE TABLE plays (
    id BIGSERIAL PRIMARY KEY,
    player_id BIGINT NOT NULL REFERENCES players(id),
    chart_sha256 TEXT NOT NULL,
    difficulty INTEGER NOT NULL,
    rate DOUBLE PRECISION NOT NULL,
    audio_offset INTEGER NOT NULL,
    visual_offset INTEGER NOT NULL,
    claimed_score BIGINT NOT NULL,
    score INTEGER NOT NULL,
    max_combo INTEGER NOT NULL,
    perfect INTEGER NOT NULL,
    great INTEGER NOT NULL,
    good INTEGER NOT NULL,
    bad INTEGER NOT NULL,
    miss INTEGER NOT NULL,
    verified INTEGER NOT NULL,
    reason TEXT NOT NULL,
    presses BYTEA NOT NULL,
    presses_sha256 TEXT NOT NULL,
    submitted_at BIGINT NOT NULL
);
CREATE INDEX plays_board ON plays (chart_sha256, difficulty, verified, player_id, score DESC, id);
CREATE INDEX plays_of_player ON plays (player_id, id);
CREATE INDEX plays_presses ON plays (chart_sha256, presses_sha256, id);
)sql"},
    // A player's play is kept once (its key: player, chart, presses), also when several server
    // processes share the database and a resent play reaches two of them at once.
    {"CREATE UNIQUE INDEX plays_key ON plays (player_id, chart_sha256, presses_sha256);",
     "CREATE UNIQUE INDEX plays_key ON plays (player_id, chart_sha256, presses_sha256);"},
};

}  // namespace

int rankingSchemaVersion() {
    return static_cast<int>(sizeof migrations / sizeof migrations[0]);
}

const TrankingMigration& rankingMigration(int version) {
    return migrations[version - 1];
}
