// Plays a generated song through the whole game loop, with autoplay pressing the keys.
#include "bench/support/playSession.h"

#include <SDL.h>

#include <cmath>
#include <fstream>

#include "engine/performanceCounterTimer.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"
#include "platform/glFont.h"
#include "platform/pathResolver.h"
#include "tools/mp3Writer.h"

namespace {

constexpr int sampleRate = 44100;
constexpr double clickMs = 5.0;
constexpr double clickHz = 2000.0;
constexpr const char* consoleFontFile = "font.fnt";

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

void onTick(TsessionWatch& watch, TSVATimer& timer) {
    TtrellikGL& game = watch.game;
    watch.result.finalScore = game.score;
    const uint32_t before = game.play.nextEntry;
    const bool musicWasPlaying = game.play.musicStarted;
    playTickHandler(game);
    if (!musicWasPlaying && game.play.musicStarted) {
        watch.framesAtMusicStart = presentedFrameCount();
        watch.musicStartMs = activeClock().highResolutionMs();
    }
    if (game.play.nextEntry != before)
        recordRow(watch, before, activeClock().highResolutionMs() - timer.tickDueMs());
    if (!timer.Enabled()) {
        watch.result.musicFrames = presentedFrameCount() - watch.framesAtMusicStart;
        watch.result.musicMs = activeClock().highResolutionMs() - watch.musicStartMs;
        watch.result.ended = true;
        watch.result.endedAt = activeClock().highResolutionMs();
        requestQuit();
    }
}

void recordPress(TsessionWatch& watch, uint16_t key, double handlingStartedMs) {
    TtrellikGL& game = watch.game;
    const int32_t keyIndex = keyIndexOf(game, key);
    const char* title = SDL_GetWindowTitle(game.window->getWindowHandle());
    if (keyIndex < 0 || !title || !*title) return;
    const int32_t panel = transposeIndex(keyIndex);
    const double perfectTime = game.play.perfectTime[panel];
    watch.result.presses.push_back({panel, game.play.panelState[panel], lastHighResolutionMs() - perfectTime,
                                    handlingStartedMs - perfectTime, title});
}

// Watches every key-down of play: the title is cleared first, so a title afterwards means the
// press met a live marker.
void watchKeyDowns(TsessionWatch& watch) {
    const TkeyEvent playKeys = watch.game.window->onKeyDown;
    watch.game.window->onKeyDown = [&watch, playKeys](uint16_t key, double atMs) {
        setWindowTitle(watch.game.window->getWindowHandle(), "");
        const double handlingStartedMs = activeClock().highResolutionMs();
        const bool endsRun = playKeys(key, atMs);
        recordPress(watch, key, handlingStartedMs);
        return endsRun;
    };
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

TplaySessionResult playSong(TtrellikGL& game, bool pressKeys, double timeLimitSeconds) {
    TplaySessionResult result;
    TkeyPusher pusher;
    TsessionWatch watch{game, pusher, result};
    if (pressKeys) game.autoplay = std::make_unique<TkeyPusher>();
    ensureConsoleFont();
    game.window = std::make_unique<TopenGLEngine>();
    game.window->setup(320, 240, false, "play session", consoleFontFile);
    game.window->onInitialise = [&watch, timeLimitSeconds] { beginSong(watch, timeLimitSeconds); };
    game.window->run();
    // The timer's worker must stop before the handlers it calls lose their state.
    delete game.playTick;
    game.playTick = nullptr;
    game.autoplay.reset();
    return result;
}
