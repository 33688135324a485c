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
    // Names told apart by more than look-alike characters (see playerNameKey, whose mapping the
    // first UPDATE repeats; names that already collide keep their place under a key of their own);
    // the offsets each player registered; the difficulty a chart is ranked under; and each
    // player's best per board with the boards' sizes, so that a leaderboard reads its own lines only.
    {R"sql(
ALTER TABLE players ADD COLUMN name_key TEXT;
UPDATE players SET name_key = replace(replace(replace(lower(name), '1', 'l'), 'i', 'l'), '0', 'o');
UPDATE players SET name_key = name_key || '#' || id
    WHERE id NOT IN (SELECT min(id) FROM players GROUP BY name_key);
CREATE UNIQUE INDEX players_name_key ON players (name_key);
CREATE TABLE player_offsets (
    player_id INTEGER NOT NULL REFERENCES players(id),
    audio_offset INTEGER NOT NULL,
    visual_offset INTEGER NOT NULL,
    registered_at INTEGER NOT NULL,
    PRIMARY KEY (player_id, audio_offset, visual_offset)
);
CREATE TABLE chart_difficulties (
    chart_sha256 TEXT PRIMARY KEY,
    difficulty INTEGER NOT NULL
);
INSERT INTO chart_difficulties (chart_sha256, difficulty)
    SELECT chart_sha256, difficulty FROM plays
    WHERE id IN (SELECT min(id) FROM plays WHERE verified = 1 GROUP BY chart_sha256);
CREATE TABLE bests (
    chart_sha256 TEXT NOT NULL,
    difficulty INTEGER NOT NULL,
    player_id INTEGER NOT NULL REFERENCES players(id),
    score INTEGER NOT NULL,
    play_id INTEGER NOT NULL,
    PRIMARY KEY (chart_sha256, difficulty, player_id)
);
CREATE INDEX bests_board ON bests (chart_sha256, difficulty, score DESC, play_id);
INSERT INTO bests (chart_sha256, difficulty, player_id, score, play_id)
    SELECT chart_sha256, difficulty, player_id, score, id FROM (
        SELECT chart_sha256, difficulty, player_id, score, id,
               ROW_NUMBER() OVER (PARTITION BY chart_sha256, difficulty, player_id ORDER BY score DESC, id) AS nth
        FROM plays WHERE verified = 1) AS ranked
    WHERE nth = 1;
CREATE TABLE boards (
    chart_sha256 TEXT NOT NULL,
    difficulty INTEGER NOT NULL,
    players INTEGER NOT NULL,
    PRIMARY KEY (chart_sha256, difficulty)
);
INSERT INTO boards (chart_sha256, difficulty, players)
    SELECT chart_sha256, difficulty, count(*) FROM bests GROUP BY chart_sha256, difficulty;
)sql",
     R"sql(
ALTER TABLE players ADD COLUMN name_key TEXT;
UPDATE players SET name_key = replace(replace(replace(lower(name), '1', 'l'), 'i', 'l'), '0', 'o');
UPDATE players SET name_key = name_key || '#' || id
    WHERE id NOT IN (SELECT min(id) FROM players GROUP BY name_key);
CREATE UNIQUE INDEX players_name_key ON players (name_key);
CREATE TABLE player_offsets (
    player_id BIGINT NOT NULL REFERENCES players(id),
    audio_offset INTEGER NOT NULL,
    visual_offset INTEGER NOT NULL,
    registered_at BIGINT NOT NULL,
    PRIMARY KEY (player_id, audio_offset, visual_offset)
);
CREATE TABLE chart_difficulties (
    chart_sha256 TEXT PRIMARY KEY,
    difficulty INTEGER NOT NULL
);
INSERT INTO chart_difficulties (chart_sha256, difficulty)
    SELECT chart_sha256, difficulty FROM plays
    WHERE id IN (SELECT min(id) FROM plays WHERE verified = 1 GROUP BY chart_sha256);
CREATE TABLE bests (
    chart_sha256 TEXT NOT NULL,
    difficulty INTEGER NOT NULL,
    player_id BIGINT NOT NULL REFERENCES players(id),
    score INTEGER NOT NULL,
    play_id BIGINT NOT NULL,
    PRIMARY KEY (chart_sha256, difficulty, player_id)
);
CREATE INDEX bests_board ON bests (chart_sha256, difficulty, score DESC, play_id);
INSERT INTO bests (chart_sha256, difficulty, player_id, score, play_id)
    SELECT chart_sha256, difficulty, player_id, score, id FROM (
        SELECT chart_sha256, difficulty, player_id, score, id,
               ROW_NUMBER() OVER (PARTITION BY chart_sha256, difficulty, player_id ORDER BY score DESC, id) AS nth
        FROM plays WHERE verified = 1) AS ranked
    WHERE nth = 1;
CREATE TABLE boards (
    chart_sha256 TEXT NOT NULL,
    difficulty INTEGER NOT NULL,
    players BIGINT NOT NULL,
    PRIMARY KEY (chart_sha256, difficulty)
);
INSERT INTO boards (chart_sha256, difficulty, players)
    SELECT chart_sha256, difficulty, count(*) FROM bests GROUP BY chart_sha256, difficulty;
)sql"},
};

}  // namespace

int rankingSchemaVersion() {
    return static_cast<int>(sizeof migrations / sizeof migrations[0]);
}

const TrankingMigration& rankingMigration(int version) {
    return migrations[version - 1];
}
