// The records database: writing a play, opening a big file (its page check), looking up a best at
// song select, and bytes kept per play.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/support/playFigures.h"
#include "platform/store/recordsDatabase.h"
#include "platform/store/sha256.h"

namespace fs = std::filesystem;

namespace {

constexpr int writeSamples = 200;
constexpr int chartCount = 100;
constexpr int difficultyCount = 3;
constexpr int lookupPlays = 10000;
constexpr int lookupSamples = 5000;
constexpr int sizedPlays = 50;
// Some years of a keen player's plays: every open reads each page of them once.
constexpr int openPlays = 3000;
constexpr int openPresses = 600;
constexpr int openSamples = 10;

// judged presses, one per marker, and unjudged ones (presses between markers) after them.
TkeptPlay playOf(int chart, int difficulty, int judged, int unjudged) {
    TkeptPlay play;
    play.chartSha256 = sha256Hex("chart " + std::to_string(chart));
    play.song = "Song " + std::to_string(chart);
    play.difficulty = difficulty;
    play.playedAt = 1'800'000'000;
    play.markerCount = judged;
    play.perfect = judged;
    play.meanMs = 1.75;
    play.medianMs = -0.5;
    for (int index = 0; index < judged + unjudged; ++index) {
        const bool judges = index < judged;
        play.presses.push_back({index * 187.5 + 0.123456, index % 16, judges ? index : -1, judges ? 3 : 0,
                                judges ? (index % 41) - 20.25 : 0.0});
    }
    return play;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::vector<double> writeTimes(const std::string& path) {
    TrecordsDatabase records(path);
    const TkeptPlay play = playOf(1, 0, 1000, 0);
    std::vector<double> times;
    for (int sample = 0; sample < writeSamples; ++sample) {
        const auto start = std::chrono::steady_clock::now();
        if (records.addPlay(play) == 0) std::fprintf(stderr, "bench_records: %s\n", records.lastError().c_str());
        times.push_back(millisecondsSince(start));
    }
    return times;
}

std::vector<double> lookupTimes(const std::string& path) {
    TrecordsDatabase records(path);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> chartOf(0, chartCount - 1);
    std::uniform_int_distribution<int> difficultyOf(0, difficultyCount - 1);
    std::uniform_int_distribution<int> sourceOf(0, 3);
    std::uniform_int_distribution<int> scoreOf(0, 1'000'000);
    for (int index = 0; index < lookupPlays; ++index) {
        TkeptPlay play = playOf(chartOf(random), difficultyOf(random), 4, 1);
        // Half the plays the player's own, the rest autoplay and replays.
        const int source = sourceOf(random);
        play.source = source < 2 ? TplaySource::player : static_cast<TplaySource>(source - 1);
        play.score = scoreOf(random);
        records.addPlay(play);
    }
    std::vector<double> times;
    for (int sample = 0; sample < lookupSamples; ++sample) {
        const std::string chart = sha256Hex("chart " + std::to_string(chartOf(random)));
        const int difficulty = difficultyOf(random);
        const auto start = std::chrono::steady_clock::now();
        const TpersonalBest best = records.bestOf(chart, difficulty);
        times.push_back(millisecondsSince(start));
        if (!best.exists) std::fprintf(stderr, "bench_records: a chart without a best\n");
    }
    return times;
}

void fillForOpening(const std::string& path) {
    TrecordsDatabase records(path);
    for (int index = 0; index < openPlays; ++index)
        records.addPlay(playOf(index % chartCount, index % difficultyCount, openPresses - 8, 8));
}

std::vector<double> openTimes(const std::string& path, TrecordsAccess access) {
    std::vector<double> times;
    for (int sample = 0; sample < openSamples; ++sample) {
        const auto start = std::chrono::steady_clock::now();
        const TrecordsDatabase records(path, access);
        times.push_back(millisecondsSince(start));
        if (!records.isOpen()) std::fprintf(stderr, "bench_records: %s\n", records.notice().c_str());
    }
    return times;
}

// The database and its journal, with the journal emptied into the database first.
uintmax_t checkpointedBytes(const std::string& path) {
    sqlite3* connection = nullptr;
    sqlite3_open(path.c_str(), &connection);
    sqlite3_exec(connection, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(connection);
    std::error_code error;
    const uintmax_t journal = fs::file_size(path + "-wal", error);
    return fs::file_size(path) + (error ? 0 : journal);
}

double bytesPerPlay(const std::string& path) {
    TrecordsDatabase records(path);
    const uintmax_t before = checkpointedBytes(path);
    for (int index = 0; index < sizedPlays; ++index) records.addPlay(playOf(index, index % difficultyCount, 500, 8));
    return static_cast<double>(checkpointedBytes(path) - before) / sizedPlays;
}

}  // namespace

int main() {
    char folder[] = "/tmp/bench_records.XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    const std::string base = folder;
    printFigure("records_write", writeTimes(base + "/write.sqlite3"));
    printFigure("song_select_best_lookup", lookupTimes(base + "/lookup.sqlite3"));
    const std::string big = base + "/open.sqlite3";
    fillForOpening(big);
    std::printf("records_open: %d plays of %d presses, %.1f MB\n", openPlays, openPresses,
                static_cast<double>(checkpointedBytes(big)) / 1e6);
    printFigure("records_open_to_keep", openTimes(big, TrecordsAccess::keep));
    printFigure("records_open_to_read", openTimes(big, TrecordsAccess::read));
    std::printf("figure records_bytes_per_play value=%.0f unit=bytes\n", bytesPerPlay(base + "/size.sqlite3"));
    fs::remove_all(base);
    return 0;
}
