// The song cache: what song select needs of each chart file, kept in SQLite in the player's data
// folder and keyed by the file's path, checked against its size, inode, modification and change times.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;

// The application id in the header of the song cache: "TrlS".
constexpr int32_t songCacheApplicationId = 0x54726C53;

// What a file looked like on disk; a cached chart is taken only while all of it is the same.
struct TfileStamp {
    int64_t size = 0;
    // Modification time in nanoseconds since 1970.
    int64_t modified = 0;
    // A file copied over with its times kept ("cp -p", "rsync -a", "touch -r") still gets a new inode
    // or change time, which no program can set back.
    int64_t inode = 0;
    // Change time (ctime) in nanoseconds since 1970.
    int64_t changed = 0;

    bool operator==(const TfileStamp& other) const {
        return size == other.size && modified == other.modified && inode == other.inode && changed == other.changed;
    }
};

// What one chart file gave when it was last read.
struct TcachedChart {
    TfileStamp stamp;
    // Nanoseconds since 1970 when the library first found this file; kept while it is changed.
    int64_t firstSeen = 0;
    // False when the file could not be read or the game refuses its chart.
    bool readable = false;
    int32_t markerCount = 0;
    // Time of the last timed row, in ms.
    double lengthMs = 0.0;
    double tempoMin = 0.0;
    double tempoMax = 0.0;
    // 64 lowercase hex digits, or "" when the file could not be read.
    std::string sha256;
};

using TcachedCharts = std::unordered_map<std::string, TcachedChart>;

// The cache of one player. Opening never fails the game: a damaged file is kept aside as
// "<path>.bad-N" and a new one started; a cache of another version is emptied; another program's
// SQLite file is left alone and the songs are read without a cache this run.
class TsongCacheDatabase {
public:
    explicit TsongCacheDatabase(const std::string& path);
    ~TsongCacheDatabase();
    TsongCacheDatabase(const TsongCacheDatabase&) = delete;
    TsongCacheDatabase& operator=(const TsongCacheDatabase&) = delete;

    // $XDG_DATA_HOME/Trellik/songs.sqlite3, or ~/.local/share/Trellik/songs.sqlite3.
    static std::string defaultPath();

    bool isOpen() const;
    // One console line about what opening did, or "" when it opened quietly.
    const std::string& notice() const;

    // Every cached chart whose path starts with prefix; none when the cache cannot be read.
    TcachedCharts chartsUnder(const std::string& prefix);
    // Writes the changes of one scan in one transaction: charts read anew, and paths gone.
    // False when they could not be kept (the next start reads those files again).
    bool update(const TcachedCharts& changed, const std::vector<std::string>& removed);

private:
    void open();
    void startAfresh(const std::string& reason);

    std::string filePath;
    std::string openingNotice;
    sqlite3* connection = nullptr;
};
