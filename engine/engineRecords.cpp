// The records in the game: every play kept when its results show, the best on song select, and
// replays of kept plays through the same key path as autoplay.
#include <cmath>
#include <ctime>
#include <string>

#include "engine/performanceCounterTimer.h"
#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "platform/window/globalConsoleCode.h"
#include "platform/store/pathResolver.h"
#include "platform/store/sha256.h"

namespace {

// A kept key is held this long: long enough to light the panel, shorter than any two presses of
// one panel a player makes.
constexpr double replayHoldMs = 20.0;
// Presses that judged nothing are handed over this far ahead of their music time.
constexpr double replayLookAheadMs = 100.0;
// Where the clear mark stands in console space: under the best score, right of the big jacket.
constexpr float clearMarkX = 33.0f;
constexpr float clearMarkY = 10.5f;

bool replaying(const TtrellikGL& game) {
    return game.replay.keys && game.replay.play;
}

bool recordsOpen(const TtrellikGL& game) {
    return game.records && game.records->isOpen();
}

// Kept presses come from a file anyone can edit: one off the grid or at no time is left out.
bool isPlayable(const TkeptPress& press) {
    return press.panel >= 0 && press.panel < 16 && std::isfinite(press.musicMs) && std::isfinite(press.offsetMs);
}

void pressKept(TtrellikGL& game, const TkeptPress& press, double atMs) {
    const int32_t key = game.launch.keys[transposeIndex(press.panel)];
    game.replay.keys->schedulePress(atMs, static_cast<uint16_t>(key), replayHoldMs);
}

int32_t songIndexOf(const TtrellikGL& game, const std::string& name) {
    for (int32_t song = 0; song <= getLastIndex(game.songs); ++song)
        if (getSongName(game.songs, song) == name) return song;
    return -1;
}

TpersonalBest lookUpBest(TtrellikGL& game, int32_t song, int32_t difficulty) {
    if (!recordsOpen(game)) return {};
    const std::string chartSha256 = fileSha256(resolvePath(chartFileOf(getSongName(game.songs, song), difficulty)));
    if (chartSha256.empty()) return {};
    return game.records->bestOf(chartSha256, difficulty, game.practice.choice.rateHundredths);
}

}  // namespace

void openRecords(TtrellikGL& game, const std::string& path) {
    if (path.empty()) return;
    game.records = std::make_unique<TrecordsDatabase>(path);
    if (!game.records->notice().empty()) consoleWriteLine(game.records->notice());
    game.shownBest.stale = true;
}

TplaySource playSourceOf(const TtrellikGL& game) {
    if (replaying(game)) return TplaySource::replay;
    return game.autoplay ? TplaySource::autoplay : TplaySource::player;
}

int32_t audioOffsetInForce(const TtrellikGL& game) {
    return replaying(game) ? game.replay.play->audioOffset : game.launch.audioOffset;
}

int32_t visualOffsetInForce(const TtrellikGL& game) {
    return replaying(game) ? game.replay.play->visualOffset : game.launch.visualOffset;
}

TkeptPlay keptPlayOf(const TtrellikGL& game) {
    const TplayResults& figures = game.results.figures;
    TkeptPlay play;
    play.chartSha256 = game.play.chartSha256;
    play.song = getSongName(game.songs, game.menu.selectedSong);
    play.difficulty = game.results.difficulty;
    play.playedAt = static_cast<int64_t>(std::time(nullptr));
    play.build = game.launch.buildNumber;
    play.markerCount = game.chart.markerCount;
    play.score = figures.score;
    play.maxCombo = figures.maxCombo;
    play.perfect = figures.perfect;
    play.great = figures.great;
    play.good = figures.good;
    play.bad = figures.bad;
    play.miss = figures.miss;
    play.early = figures.early;
    play.late = figures.late;
    play.meanMs = figures.meanMs;
    play.medianMs = figures.medianMs;
    play.audioOffset = audioOffsetInForce(game);
    play.visualOffset = visualOffsetInForce(game);
    play.perfectWindow = game.timing.perfectWindow;
    play.greatWindow = game.timing.greatWindow;
    play.goodWindow = game.timing.goodWindow;
    play.badWindow = game.timing.badWindow;
    play.source = playSourceOf(game);
    play.rateHundredths = static_cast<int32_t>(std::lround(musicRate(game) * 100.0));
    play.practice = game.practice.practicing;
    play.presses = game.play.keyDowns;
    return play;
}

std::string recordLineFor(const TkeptPlay& play, const TpersonalBest& before, int64_t replayedId) {
    if (play.source == TplaySource::replay) return "REPLAY OF PLAY " + std::to_string(replayedId);
    if (play.source == TplaySource::autoplay) return "AUTOPLAY: NOT A BEST";
    if (play.practice) return "PRACTICE: NOT A BEST";
    if (before.exists && play.score <= before.score) return "";
    return "NEW BEST +" + std::to_string(play.score - (before.exists ? before.score : 0));
}

std::string keepPlay(TtrellikGL& game) {
    game.results.keptPlayId = 0;
    if (!recordsOpen(game)) return "";
    const TkeptPlay play = keptPlayOf(game);
    const TpersonalBest before = game.records->bestOf(play.chartSha256, play.difficulty, play.rateHundredths);
    game.shownBest.stale = true;
    game.wheel.recordsStale = true;
    game.results.keptPlayId = game.records->addPlay(play);
    if (game.results.keptPlayId == 0) {
        const std::string line = "This play could not be kept: " + game.records->lastError();
        appendToDebugLog(line);
        return line;
    }
    return recordLineFor(play, before, replaying(game) ? game.replay.play->id : 0);
}

const TpersonalBest& selectedBest(TtrellikGL& game) {
    TshownBest& shown = game.shownBest;
    const int32_t song = game.menu.selectedSong;
    const int32_t difficulty = game.window ? colourIndex(game.window->customCommands) : 0;
    if (shown.stale || shown.song != song || shown.difficulty != difficulty)
        shown = {song, difficulty, false, lookUpBest(game, song, difficulty)};
    return shown.best;
}

void drawSelectedBest(TtrellikGL& game) {
    if (!drawingWindow(game) || !recordsOpen(game)) return;
    const TpersonalBest& best = selectedBest(game);
    if (!best.exists) return;
    drawScoreDigits(game, best.score);
    drawTextColumn(game, {std::string("BEST  ") + clearMarkName(best.clear)}, clearMarkX, clearMarkY);
}

std::string replayRefusal(const TkeptPlay& play) {
    const std::string chart = chartFileOf(play.song, play.difficulty);
    const std::string sha256 = fileSha256(resolvePath(chart));
    const std::string what = "Play " + std::to_string(play.id) + " cannot be replayed: ";
    // A replay plays the song through once; a practice play's presses belong to its bars and passes.
    if (play.practice) return what + "it is a practice play, which loops bars a replay does not.";
    if (sha256.empty()) return what + "its chart " + chart + " cannot be read.";
    if (sha256 != play.chartSha256)
        return what + "its chart " + chart + " has changed since it was played (its SHA-256 differs).";
    return "";
}

void startReplay(TtrellikGL& game) {
    enterSongSelect(game);
    const TkeptPlay& play = *game.replay.play;
    const int32_t song = songIndexOf(game, play.song);
    if (song == -1 || !game.window || !replayRefusal(play).empty()) {
        endReplay(game);
        return;
    }
    TglCustomCommands& commands = game.window->customCommands;
    for (int32_t step = 0; step < 3 && colourIndex(commands) != play.difficulty; ++step) nextColour(commands);
    selectSong(game, song);
    game.replay.keys = std::make_unique<TkeyPusher>();
    startChosenSong(game);
}

void scheduleReplayRow(TtrellikGL& game, uint32_t row) {
    for (const TkeptPress& press : game.replay.play->presses) {
        if (press.row != static_cast<int32_t>(row) || !isPlayable(press)) continue;
        // Against this play's own perfect time, so the press lands exactly as far from it as kept.
        pressKept(game, press, game.play.perfectTime[press.panel] + press.offsetMs);
    }
}

void scheduleReplayUnjudged(TtrellikGL& game) {
    const std::vector<TkeptPress>& presses = game.replay.play->presses;
    const double musicNow = activeClock().musicPositionMs();
    const double now = readHighResolutionMs();
    size_t& next = game.replay.nextUnjudged;
    for (; next < presses.size() && presses[next].musicMs <= musicNow + replayLookAheadMs; ++next)
        if (presses[next].row == -1 && isPlayable(presses[next]))
            pressKept(game, presses[next], now + (presses[next].musicMs - musicNow) / musicRate(game));
}

void endReplay(TtrellikGL& game) {
    if (game.replay.keys) game.replay.keys->cancelAll();
    game.replay.keys.reset();
    game.replay.play.reset();
}
