// A generated song played through the real window loop, play tick and sound engine, with key
// presses pushed into the window's queue from another thread at each marker's perfect time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/trellikGL38Engine.h"

// A song made for measuring: a click on every row, one marker per row on a rotating panel.
struct TgeneratedSong {
    std::string name = "generated";
    double seconds = 8.0;
    double firstRowSeconds = 1.0;
    double rowSpacingSeconds = 0.25;
    int32_t rows = 20;
    double bpm = 120.0;
};

// Writes the song's music as "sng/<name>.mp3" under folder; false when it cannot be written.
bool writeSongMusic(const TgeneratedSong& song, const std::string& folder);
// Fills the chart with the song's rows.
void fillChart(TsongParser& chart, const TgeneratedSong& song);

struct TjudgedPress {
    int32_t panel = 0;
    uint8_t judgement = 0;
    // Judged now minus the marker's perfect time, in ms.
    double difference = 0.0;
    // The window title the press left.
    std::string title;
};

struct TactivatedRow {
    uint32_t row = 0;
    double perfectTime = 0.0;
    // How late the play tick that activated the row ran against its schedule, in ms.
    double tickLateness = 0.0;
};

struct TplaySessionResult {
    bool ended = false;
    // When the end of the song was seen, on the high-resolution clock (ms).
    double endedAt = 0.0;
    // Frames presented while the music played, and for how long it played (ms).
    uint64_t musicFrames = 0;
    double musicMs = 0.0;
    // The score record as it stood when the song ended (the end resets it).
    ScoreControl finalScore;
    std::vector<TjudgedPress> presses;
    std::vector<TactivatedRow> rows;
};

// Opens a window, goes from GO through the song start and ready scenes into play, presses
// (when asked) every marker at its perfect time and returns when the song has ended or the
// time limit passed. The game needs its chart, keys and sounds; the working directory holds
// the song.
TplaySessionResult playSong(TtrellikGL& game, bool pressKeys, double timeLimitSeconds);

// Pushes key events (and, for key 0, the end of the loop) into the window's queue at given
// high-resolution times, from a thread of its own.
class TkeyPusher {
public:
    TkeyPusher();
    ~TkeyPusher();
    TkeyPusher(const TkeyPusher&) = delete;
    TkeyPusher& operator=(const TkeyPusher&) = delete;

    void schedule(double atMs, uint16_t virtualKey, bool down);
    void scheduleQuit(double atMs);

private:
    struct TkeyAction {
        uint16_t virtualKey;
        bool down;
    };

    static void push(const TkeyAction& action);
    void run();

    std::mutex lock;
    std::condition_variable changed;
    std::multimap<double, TkeyAction> queue;
    bool stopping = false;
    std::thread worker;
};

// Everything one session watches while the game plays.
struct TsessionWatch {
    TtrellikGL& game;
    TkeyPusher& pusher;
    bool pressKeys;
    TplaySessionResult& result;
    uint64_t framesAtMusicStart = 0;
    double musicStartMs = 0.0;
};

// Hooks a watch into a game that GO has just taken out of song select; runs on the main thread.
// The play tick then records each activated row (scheduling its presses when asked) and ends the
// loop with the song; the play key handler records each judged press.
void attachSessionWatch(TsessionWatch& watch);
