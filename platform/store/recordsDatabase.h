// Every play kept: the player's records database (SQLite) of plays, their key presses and bests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

// Who pressed the keys of a play. Only the player's own plays make bests.
enum class TplaySource : int32_t { player = 0, autoplay = 1, replay = 2 };

// The best a play reached, from least to most; song select shows it beside the best score.
enum class TclearMark : int32_t { played = 0, cleared = 1, fullCombo = 2, allPerfect = 3 };

// The application id in the header of every records file: "Trlk". Files from builds before it
// have none and are told by their tables.
constexpr int32_t recordsApplicationId = 0x54726C6B;

// A play clears with at least this score.
constexpr int32_t clearScore = 700000;

// One key-down during a song, as kept.
struct TkeptPress {
    // When the key went down on the music's own clock (0 = the start of the music), in ms.
    double musicMs = 0.0;
    int32_t panel = 0;
    // The chart row whose marker the press judged, or -1 when it judged nothing.
    int32_t row = -1;
    // The panel state it gave (3 perfect, 4 great, 5 good, 6 bad), or 0 when it judged nothing.
    int32_t judgement = 0;
    // Its distance from the perfect time plus the audio offset in ms, negative early; 0 for nothing.
    double offsetMs = 0.0;
};

// One song played to its end, with everything that was in force and every key-down.
struct TkeptPlay {
    // Given by the database when the play is kept; 0 before.
    int64_t id = 0;
    // The chart file's identity: SHA-256 of its bytes, 64 lowercase hex digits.
    std::string chartSha256;
    std::string song;
    int32_t difficulty = 0;
    // Seconds since 1970-01-01 UTC.
    int64_t playedAt = 0;
    int32_t build = 0;
    int32_t markerCount = 0;
    int32_t score = 0;
    int32_t maxCombo = 0;
    int32_t perfect = 0;
    int32_t great = 0;
    int32_t good = 0;
    int32_t bad = 0;
    int32_t miss = 0;
    int32_t early = 0;
    int32_t late = 0;
    double meanMs = 0.0;
    double medianMs = 0.0;
    int32_t audioOffset = 0;
    int32_t visualOffset = 0;
    int32_t perfectWindow = 0;
    int32_t greatWindow = 0;
    int32_t goodWindow = 0;
    int32_t badWindow = 0;
    TplaySource source = TplaySource::player;
    // Filled when a single play is read; lists of plays leave it empty.
    std::vector<TkeptPress> presses;
};

// The clear a play's counts give: every marker perfect; no bad and no miss; the clear score; else played.
TclearMark clearMarkOf(const TkeptPlay& play);
// "ALL PERFECT", "FULL COMBO", "CLEARED", "PLAYED".
const char* clearMarkName(TclearMark mark);

// The player's best on one chart and difficulty, from their own plays only.
struct TpersonalBest {
    bool exists = false;
    int32_t score = 0;
    // The best clear of any of those plays (not necessarily the best-scoring one's).
    TclearMark clear = TclearMark::played;
};

// A chart's best as song select shows it: its best-scoring player play and, separately, the best
// clear of any of the chart's player plays.
struct TchartBest {
    // The earliest of the best-scoring plays when several tie.
    TkeptPlay play;
    TclearMark clear = TclearMark::played;
};

// Where a play stands with the ranking server: waiting to be sent, judged (ranked or not), or
// refused for good (malformed for the server, or its chart file gone or changed).
enum class TsubmissionState : int32_t { queued = 0, verified = 1, rejected = 2, refused = 3 };

// A player play offered to the ranking server, kept until the server has judged it.
struct TrankingSubmission {
    int64_t playId = 0;
    // Random, sent with the play, so that a server can tell a play sent again from a new one.
    std::string clientPlayId;
    // The chart file as it was found when the play was kept; sent when the server asks for it.
    std::string chartPath;
    TsubmissionState state = TsubmissionState::queued;
    int32_t attempts = 0;
    // Seconds since 1970 before which a queued play is not tried again.
    int64_t nextAttemptAt = 0;
    // The server's reason, or why the last attempt failed.
    std::string note;
    int64_t serverPlayId = 0;
    int32_t serverScore = 0;
};

// How a records file is opened: to keep plays (made, its schema brought up to date, started anew
// when unreadable) or only to read them (nothing in the file written, not even its journal mode).
enum class TrecordsAccess { keep, read };

// The records database of one player. Opening never fails the game: a file SQLite finds damaged
// or not a database is kept aside as "<path>.bad-N" and, when keeping, a new one started; when
// even that fails, nothing is kept this run. Another program's SQLite file (told by the
// application id, or by the tables of files from builds before it) and anything but a regular
// file are left as they are. Safe for two programs at once (WAL journal, busy timeout); one
// object is used from one thread.
class TrecordsDatabase {
public:
    explicit TrecordsDatabase(const std::string& path, TrecordsAccess access = TrecordsAccess::keep);
    ~TrecordsDatabase();
    TrecordsDatabase(const TrecordsDatabase&) = delete;
    TrecordsDatabase& operator=(const TrecordsDatabase&) = delete;

    // $XDG_DATA_HOME/Trellik/records.sqlite3, or ~/.local/share/Trellik/records.sqlite3.
    static std::string defaultPath();

    bool isOpen() const;
    const std::string& path() const;
    // One console line about what opening did (a file set aside, a database of a newer build,
    // a folder that cannot be written), or "" when it opened quietly.
    const std::string& notice() const;
    // Why the last operation failed, or "".
    const std::string& lastError() const;

    // Keeps a play and all its presses in one transaction; its new id, or 0 when it was not kept.
    int64_t addPlay(const TkeptPlay& play);
    // The best of the player's own plays on a chart (by SHA-256) at a difficulty.
    TpersonalBest bestOf(const std::string& chartSha256, int32_t difficulty);
    // One play with its presses in the order they happened, or nothing for an unknown id.
    std::optional<TkeptPlay> play(int64_t id);
    // Plays without their presses, newest first; song "" means every song.
    std::vector<TkeptPlay> plays(const std::string& song);
    // The best of each chart and difficulty with a player play, newest first; song "" for all, else
    // the charts with a play of that song.
    std::vector<TchartBest> bests(const std::string& song);

    // Queues a kept play for the ranking server; false (lastError says why) when it was not queued.
    bool queueForRanking(int64_t playId, const std::string& clientPlayId, const std::string& chartPath);
    // The queued plays, earliest kept first; with dueBy >= 0 only those due by then.
    std::vector<TrankingSubmission> queuedSubmissions(int64_t dueBy);
    // One submission's state, attempts, next attempt, note and server figures, as given.
    bool updateSubmission(const TrankingSubmission& submission);

private:
    void open();
    // Keeps the unreadable file aside and, when keeping plays, starts a new database in its place.
    void startAfresh(const std::string& reason);
    // Renames the file (and its journal) to the first free "<path>.bad-N"; that path, or "".
    std::string setAside();
    // The plays a query with the song as its one parameter gives, without their presses.
    std::vector<TkeptPlay> playList(const std::string& sql, const std::string& song);

    std::string filePath;
    TrecordsAccess access;
    std::string openingNotice;
    std::string errorText;
    sqlite3* connection = nullptr;
};
