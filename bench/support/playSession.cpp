// Plays a generated song through the whole game loop, with autoplay or the X server pressing the keys.
#include "bench/support/playSession.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "engine/performanceCounterTimer.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"
#include "platform/window/glFont.h"
#include "platform/store/pathResolver.h"
#include "tools/mp3Writer.h"

namespace {

constexpr int sampleRate = 44100;
constexpr double clickMs = 5.0;
constexpr double clickHz = 2000.0;
constexpr const char* consoleFontFile = "font.fnt";
// How long an XTest press holds its key: as long as autoplay's, short of the next row.
constexpr double xTestHoldMs = 40.0;

int keyIndexOfRow(int32_t row) {
    return (row * 5) % 16;
}

void recordRow(TsessionWatch& watch, uint32_t row, double tickLateness) {
    const ChartEntry& entry = watch.game.chart.entries[row];
    for (int keyIndex = 0; keyIndex < 16; ++keyIndex) {
        if (!entry.panels[keyIndex]) continue;
        const double perfectTime = watch.game.play.perfectTime[transposeIndex(keyIndex)];
        watch.result.rows.push_back({row, perfectTime, tickLateness});
        return;
    }
}

// The row's marker keys, each down at its marker's perfect time, as a player on time presses them.
void pressRowThroughX(TsessionWatch& watch, uint32_t row) {
    const TtrellikGL& game = watch.game;
    const ChartEntry& entry = game.chart.entries[row];
    for (int keyIndex = 0; keyIndex < 16; ++keyIndex) {
        if (!entry.panels[keyIndex]) continue;
        const double perfectTime = game.play.perfectTime[transposeIndex(keyIndex)];
        watch.presser->schedulePress(perfectTime, static_cast<uint16_t>(game.launch.keys[keyIndex]), xTestHoldMs);
    }
}

void onTick(TsessionWatch& watch, TSVATimer& timer) {
    TtrellikGL& game = watch.game;
    watch.result.finalScore = game.score;
    const bool musicWasPlaying = game.play.musicStarted;
    playTickHandler(game);
    if (!musicWasPlaying && game.play.musicStarted) {
        watch.framesAtMusicStart = presentedFrameCount();
        watch.musicStartMs = activeClock().highResolutionMs();
    }
    for (; watch.nextRowToRecord < game.play.nextEntry; ++watch.nextRowToRecord) {
        recordRow(watch, watch.nextRowToRecord, activeClock().highResolutionMs() - timer.tickDueMs());
        if (watch.presser) pressRowThroughX(watch, watch.nextRowToRecord);
    }
    if (!timer.Enabled()) {
        watch.result.musicFrames = presentedFrameCount() - watch.framesAtMusicStart;
        watch.result.musicMs = activeClock().highResolutionMs() - watch.musicStartMs;
        watch.result.ended = true;
        watch.result.endedAt = activeClock().highResolutionMs();
        requestQuit();
    }
}

// How the play key handler got a key-down.
struct ThandledKey {
    uint16_t key = 0;
    double atMs = 0.0;
    double handlingStartedMs = 0.0;
    std::optional<size_t> sentPress;
};

void recordPress(TsessionWatch& watch, const ThandledKey& handled) {
    TtrellikGL& game = watch.game;
    const int32_t keyIndex = keyIndexOf(game, handled.key);
    const char* title = SDL_GetWindowTitle(game.window->getWindowHandle());
    if (keyIndex < 0 || !title || !*title) return;
    const int32_t panel = transposeIndex(keyIndex);
    TjudgedPress press;
    press.panel = panel;
    press.judgement = game.play.panelState[panel];
    press.perfectTime = game.play.perfectTime[panel];
    press.difference = lastHighResolutionMs() - press.perfectTime;
    press.earliestDifference = handled.handlingStartedMs - press.perfectTime;
    press.title = title;
    press.atMs = handled.atMs;
    press.judgedAtMs = std::min(handled.atMs, handled.handlingStartedMs);
    press.sentPress = handled.sentPress;
    watch.result.presses.push_back(std::move(press));
}

// Watches every key-down of play: the title is cleared first, so a title afterwards means the
// press met a live marker. Every key-down takes its XTest press, judged or not, so the presses
// of one key pair up in order.
void watchKeyDowns(TsessionWatch& watch) {
    const TkeyEvent playKeys = watch.game.window->onKeyDown;
    watch.game.window->onKeyDown = [&watch, playKeys](uint16_t key, double atMs) {
        setWindowTitle(watch.game.window->getWindowHandle(), "");
        ThandledKey handled{key, atMs, activeClock().highResolutionMs(), std::nullopt};
        const bool endsRun = playKeys(key, atMs);
        if (watch.presser) handled.sentPress = watch.presser->claim(key);
        recordPress(watch, handled);
        return endsRun;
    };
}

// A draw handler that runs the scene's draw and then spins until the frame has lasted its
// minimum. A scene that installs its successor's draw during a frame hands it over to this one.
struct TstretchedDraw {
    TsessionWatch* watch;

    bool operator()() const {
        const double began = systemHighResolutionMs();
        TopenGLEngine& window = *watch->game.window;
        const std::function<bool()> draw = watch->sceneDraw;
        const bool going = draw && draw();
        if (!window.onDraw.target<TstretchedDraw>()) {
            watch->sceneDraw = window.onDraw;
            if (window.onDraw) window.onDraw = *this;
        }
        while (systemHighResolutionMs() - began < watch->minimumFrameMs) {
        }
        return going;
    }
};

void stretchFrames(TsessionWatch& watch) {
    watch.sceneDraw = watch.game.window->onDraw;
    watch.game.window->onDraw = TstretchedDraw{&watch};
}

// The presses go to the window that has the keyboard focus; without a window manager nothing
// gives it to the game's window.
void focusGameWindow(TsessionWatch& watch) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(watch.game.window->getWindowHandle(), &info) || info.subsystem != SDL_SYSWM_X11 ||
        !watch.presser->focus(info.info.x11.window))
        std::fprintf(stderr, "the game window did not get the keyboard focus\n");
}

void beginSong(TsessionWatch& watch, double timeLimitSeconds) {
    TtrellikGL& game = watch.game;
    createPlayTick(game);
    startSong(game);
    attachSessionWatch(watch);
    watch.pusher.scheduleQuit(systemHighResolutionMs() + timeLimitSeconds * 1000.0);
}

void addClick(std::vector<int16_t>& samples, double atSeconds) {
    const size_t first = static_cast<size_t>(atSeconds * sampleRate);
    const size_t length = static_cast<size_t>(clickMs / 1000.0 * sampleRate);
    for (size_t i = 0; i < length && 2 * (first + i) + 1 < samples.size(); ++i) {
        const double value = 12000.0 * std::sin(2.0 * M_PI * clickHz * static_cast<double>(i) / sampleRate);
        samples[2 * (first + i)] = static_cast<int16_t>(value);
        samples[2 * (first + i) + 1] = static_cast<int16_t>(value);
    }
}

}  // namespace

void ensureConsoleFont() {
    if (pathExists(consoleFontFile)) return;
    TglFont font;
    font.texWidth = 8;
    font.texHeight = 8;
    font.firstChar = '?';
    font.lastChar = '?';
    font.glyphs.push_back({1.0f, 1.5f, 0.0f, 0.0f, 1.0f, 1.0f});
    const std::string bytes = fontFileBytes(font, std::vector<uint8_t>(2 * 8 * 8, 255));
    std::ofstream(resolvePath(consoleFontFile), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void attachSessionWatch(TsessionWatch& watch) {
    watch.game.playTick->OnTimer = [&watch](TSVATimer& timer) { onTick(watch, timer); };
    watchKeyDowns(watch);
    if (watch.minimumFrameMs > 0.0) stretchFrames(watch);
    if (watch.presser) focusGameWindow(watch);
}

void finishSessionWatch(TsessionWatch& watch) {
    if (!watch.presser) return;
    const std::vector<TxTestPresser::TsentPress> sent = watch.presser->sent();
    const size_t slowSends = static_cast<size_t>(std::count_if(
        sent.begin(), sent.end(), [](const TxTestPresser::TsentPress& press) { return press.sendingMs > 1.0; }));
    // A press time before the key left cannot be, and says the event carried a stamp not meant for it.
    size_t pressedBeforeSent = 0;
    for (TjudgedPress& press : watch.result.presses) {
        if (press.sentPress) press.sentMs = sent[*press.sentPress].sentMs;
        if (press.sentMs && press.atMs < *press.sentMs - 1.0) pressedBeforeSent += 1;
    }
    std::printf("xtest: %zu presses sent, %zu of them never reached the play keys, %zu took over 1 ms to send, "
                "%zu handed over with a press time over 1 ms before they were sent\n",
                sent.size(), watch.presser->unclaimed(), slowSends, pressedBeforeSent);
}

bool writeSongMusic(const TgeneratedSong& song, const std::string& folder) {
    std::vector<int16_t> samples(2 * static_cast<size_t>(song.seconds * sampleRate), 0);
    for (int32_t row = 0; row < song.rows; ++row) addClick(samples, song.firstRowSeconds + row * song.rowSpacingSeconds);
    const std::string songFolder = joinPath(folder, "sng");
    if (!createFolders(songFolder)) return false;
    return writeMp3File(joinPath(songFolder, song.name + ".mp3"), samples, sampleRate, 2, 128);
}

void fillChart(TsongParser& chart, const TgeneratedSong& song) {
    for (int32_t row = 0; row < song.rows; ++row) {
        ChartEntry& entry = chart.entries[row];
        entry = ChartEntry{};
        entry.time = song.firstRowSeconds + row * song.rowSpacingSeconds;
        entry.bpm = song.bpm;
        entry.panels[keyIndexOfRow(row)] = 1;
    }
    chart.entries[song.rows] = ChartEntry{};
    chart.entryCount = song.rows;
    chart.markerCount = song.rows;
}

namespace {

void runSession(TsessionWatch& watch, double timeLimitSeconds) {
    TtrellikGL& game = watch.game;
    ensureConsoleFont();
    game.window = std::make_unique<TopenGLEngine>();
    game.window->setup(320, 240, false, "play session", consoleFontFile);
    game.window->onInitialise = [&watch, timeLimitSeconds] { beginSong(watch, timeLimitSeconds); };
    game.window->run();
    // The timer's worker must stop before the handlers it calls lose their state.
    delete game.playTick;
    game.playTick = nullptr;
    game.autoplay.reset();
    finishSessionWatch(watch);
}

}  // namespace

TplaySessionResult playSong(TtrellikGL& game, bool pressKeys, double timeLimitSeconds) {
    TplaySessionResult result;
    TkeyPusher pusher;
    TsessionWatch watch{game, pusher, result};
    if (pressKeys) game.autoplay = std::make_unique<TkeyPusher>();
    runSession(watch, timeLimitSeconds);
    return result;
}

TplaySessionResult playSongThroughX(TtrellikGL& game, TxTestPresser& presser, double minimumFrameMs,
                                    double timeLimitSeconds) {
    TplaySessionResult result;
    TkeyPusher pusher;
    TsessionWatch watch{game, pusher, result};
    watch.presser = &presser;
    watch.minimumFrameMs = minimumFrameMs;
    game.autoplay.reset();
    runSession(watch, timeLimitSeconds);
    return result;
}
