// A generated song played through the real window loop, play tick and sound engine, with each
// marker's key pressed at its perfect time: pushed into the window's queue by autoplay, or sent
// through the X server.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/support/xTestPresser.h"
#include "engine/trellikGL38Engine.h"
#include "platform/input/keyEventPusher.h"

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
    // The clock's last reading after the press was handled, minus the marker's perfect time (ms).
    double difference = 0.0;
    // The same as the key handler began; the judgement's own reading lies between the two.
    double earliestDifference = 0.0;
    // The window title the press left.
    std::string title;
    double perfectTime = 0.0;
    // The press time the handler got, and the one the judgement took: that, or the clock as the
    // handler began when it is earlier.
    double atMs = 0.0;
    double judgedAtMs = 0.0;
    // The XTest press it came from, and when that left for the X server, when presses went there.
    std::optional<size_t> sentPress;
    std::optional<double> sentMs;
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
// (when asked, by autoplay) every marker at its perfect time and returns when the song has ended
// or the time limit passed. The game needs its chart, keys and sounds; the working directory holds
// the song.
TplaySessionResult playSong(TtrellikGL& game, bool pressKeys, double timeLimitSeconds);
// The same with the presser sending every marker's key through the X server at its perfect time
// (the game's autoplay stays off), each frame lasting at least minimumFrameMs.
TplaySessionResult playSongThroughX(TtrellikGL& game, TxTestPresser& presser, double minimumFrameMs,
                                    double timeLimitSeconds);

// Everything one session watches while the game plays.
struct TsessionWatch {
    TtrellikGL& game;
    TkeyPusher& pusher;
    TplaySessionResult& result;
    uint64_t framesAtMusicStart = 0;
    double musicStartMs = 0.0;
    // The first row not yet recorded: a key handled just after a stall brings on the rows due by
    // then itself, so rows are recorded by what has come on, not by what a tick brought on.
    uint32_t nextRowToRecord = 0;
    // When set, presses each activated row's marker keys through the X server.
    TxTestPresser* presser = nullptr;
    // Frames are stretched to this length by spinning after the scene's draw; 0 leaves them be.
    double minimumFrameMs = 0.0;
    // The draw handler of the scene shown, while frames are stretched.
    std::function<bool()> sceneDraw = nullptr;
};

// Writes a one-glyph "font.fnt" into the working directory when there is none: the window's
// console needs a font and would otherwise fetch one from the update server.
void ensureConsoleFont();

// Hooks a watch into a game that GO has just taken out of song select; runs on the main thread.
// The play tick then records each activated row and ends the loop with the song; the play key
// handler records each judged press.
void attachSessionWatch(TsessionWatch& watch);
// Once the loop has ended: gives each press its XTest send time and says how many sent presses
// never arrived.
void finishSessionWatch(TsessionWatch& watch);
