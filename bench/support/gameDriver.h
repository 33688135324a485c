// The player's part for benchmarks that run the whole game: a game folder made from the stock
// pack, and the menus driven by key presses from another thread while the game runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/trellikGL38Engine.h"
#include "platform/input/keyEventPusher.h"
#include "platform/sound/soundEngine.h"

// The stock pack the build made beside the benchmark programs.
std::string stockPackFolder();

// Fills folder as a player has it after the first run: stock files, demo songs and skins from
// the build's stock pack. False, after saying why on standard error, when it cannot.
bool prepareGameFolder(const std::string& folder);

// A game record with a sound system and music stream of its own and autoplay on. Its timers stop
// before the record goes, as their workers call into it.
struct TautoplayGame {
    TautoplayGame();
    ~TautoplayGame();
    TautoplayGame(const TautoplayGame&) = delete;
    TautoplayGame& operator=(const TautoplayGame&) = delete;

    Tsounds sounds;
    Tstream music;
    std::unique_ptr<TtrellikGL> game;
};

// One chart of a song folder.
struct TdemoChart {
    std::string song;
    int difficulty = 0;
    int32_t markers = 0;
};

// Every chart of the folder that loads, by song name and difficulty.
std::vector<TdemoChart> demoCharts(const std::string& songFolder);

// Runs a call on the game's main thread between frames and waits for it; false when the loop
// did not take it within a minute.
bool onMainThread(const std::function<void()>& call);

// Drives the title and song select screens with key presses, from a thread other than the game's.
class TmenuDriver {
public:
    TmenuDriver(TtrellikGL& game, TkeyPusher& pusher) : game(game), pusher(pusher) {}

    // Waits for the loading to finish; the seconds "Time Taken" reported, or nothing.
    std::optional<double> waitForLoading();
    // Presses Enter until song select has begun; false when it never did.
    bool enterSongSelect();
    // Selects the chart's song and cycles its difficulty; false when song select does not show it.
    bool chooseChart(const TdemoChart& chart);
    // Presses GO through the event queue.
    void pressGo();
    void pressKey(int keyIndex);

private:
    uint16_t keyOf(int keyIndex) const { return static_cast<uint16_t>(game.launch.keys[keyIndex]); }
    bool chosen(int32_t song, int difficulty, bool& matches);
    void pressAndSettle(int keyIndex);

    TtrellikGL& game;
    TkeyPusher& pusher;
};
