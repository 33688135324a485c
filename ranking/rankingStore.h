// What the ranking server keeps: players, charts and judged plays, behind one interface so that
// another database can stand in for the SQLite file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/playJudge.h"

// A play as the server judged it and keeps it.
struct TrankedPlay {
    int64_t id = 0;
    int64_t playerId = 0;
    std::string chartSha256;
    int32_t difficulty = 0;
    double rate = 1.0;
    int32_t audioOffset = 0;
    int32_t visualOffset = 0;
    int64_t claimedScore = 0;
    TplayJudgement judged;
    bool verified = false;
    // Why the play was rejected; "" for a verified one.
    std::string reason;
    // The presses packed (panel byte, music ms as a little-endian double), and their SHA-256.
    std::string presses;
    std::string pressesSha256;
    int64_t submittedAt = 0;
};

// One line of a chart's leaderboard: a player's best verified play.
struct TleaderboardLine {
    int32_t rank = 0;
    int64_t playerId = 0;
    std::string name;
    int32_t score = 0;
    int64_t playId = 0;
};

// A play as kept: the new one, or the earlier one its player sent with the same presses.
struct TrankedPlayKept {
    TrankedPlay play;
    bool alreadyKept = false;
};

struct TleaderboardPage {
    // How many players have a verified play on the chart.
    int64_t players = 0;
    std::vector<TleaderboardLine> lines;
};

class TrankingStore {
public:
    virtual ~TrankingStore() = default;
    // The new player's id, or 0 when the name is taken: names must differ in more than letter case
    // and look-alike characters (playerNameKey).
    virtual int64_t addPlayer(const std::string& name, const std::string& tokenSha256, int64_t now) = 0;
    // The player whose token has this SHA-256, or 0.
    virtual int64_t playerWithToken(const std::string& tokenSha256) = 0;
    virtual std::optional<std::string> playerName(int64_t playerId) = 0;
    // Whether the player registered these offsets; registers them (true when they are new).
    virtual bool offsetsRegistered(int64_t playerId, int32_t audioOffset, int32_t visualOffset) = 0;
    virtual bool registerOffsets(int64_t playerId, int32_t audioOffset, int32_t visualOffset, int64_t now) = 0;
    // The difficulty the chart was first verified under, if any play of it was.
    virtual std::optional<int32_t> chartDifficulty(const std::string& sha256) = 0;
    // A chart's bytes, kept once under their SHA-256.
    virtual void addChart(const std::string& sha256, const std::string& bytes, int64_t now) = 0;
    virtual std::optional<std::string> chartBytes(const std::string& sha256) = 0;
    // Keeps the plays in order, in one transaction no other writer of the database (in any process)
    // comes between: see keptAfter for what an earlier play with the same presses changes. The
    // first verified play of a chart gives it its difficulty; a verified play under another is
    // kept as rejected (ownedDifficulty). A verified play may become its player's best.
    virtual std::vector<TrankedPlayKept> keepPlays(std::vector<TrankedPlay> plays) = 0;
    // Best verified score per player, highest first (ties: the earlier play first, same rank).
    virtual TleaderboardPage leaderboard(const std::string& chartSha256, int32_t difficulty, int32_t limit) = 0;
    // A player's plays, newest first, at most limit of them.
    virtual std::vector<TrankedPlay> playsOf(int64_t playerId, int32_t limit) = 0;
};

// What becomes of a new play given a kept play with the same presses on its chart (the player's
// own if there is one, else the earliest): the player's own is the answer (alreadyKept); another
// player's sending them first rejects the new play, which is still kept. Sets play.verified.
TrankedPlayKept keptAfter(TrankedPlay play, const std::optional<TrankedPlay>& earlier);
// Rejects a verified play sent under another difficulty than the one its chart is ranked under.
void ownedDifficulty(TrankedPlay& play, int32_t chartDifficulty);
// Leaderboard lines, best first, given their ranks: a tie shares the rank of its first line.
void rankLines(std::vector<TleaderboardLine>& lines);
// A name with case and look-alike characters folded (I, l and 1 to l; O and 0 to o): two names
// with the same key are one name.
std::string playerNameKey(const std::string& name);
