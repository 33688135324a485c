// From GO to the end of the song: the song start fade, the ready scene, play and judgement.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>

#include "engine/performanceCounterTimer.h"
#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"
#include "platform/store/pathResolver.h"
#include "platform/sound/soundEngine.h"

namespace {

constexpr int32_t panelCount = 16;
constexpr int32_t readyDurationMs = 2500;
constexpr uint32_t musicStartDelayMs = 1885;
constexpr int32_t fullGaugeLevel = 100000;
// How long autoplay holds a key: long enough to show the highlight, short of the next row.
constexpr double autoplayHoldMs = 40.0;

void clearFrame(TtrellikGL& game) {
    if (TopenGLEngine* window = drawingWindow(game)) clearScreen(window->customCommands);
}

void setTimerEnabled(TSVATimer* timer, bool enabled) {
    if (timer) timer->setEnabled(enabled);
}

void stopMusic(TtrellikGL& game) {
    if (game.audio.music) game.audio.music->stop();
}

void playEffect(Tsfx* effect) {
    if (effect) effect->play();
}

// A whole number of ms as text: rounded half to even, no fraction, no "-0".
std::string wholeNumberText(double value) {
    double rounded = std::nearbyint(value);
    if (rounded == 0.0) rounded = 0.0;
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", rounded);
    return text;
}

void openSongDebugFile(TtrellikGL& game) {
    TlaunchCopies& launch = game.launch;
    if (launch.songDebugFile) std::fclose(launch.songDebugFile);
    launch.songDebugFile = std::fopen(resolvePath(songDebugFileName).c_str(), "ab");
    launch.songDebugLines = 0;
}

void closeSongDebugFile(TtrellikGL& game) {
    TlaunchCopies& launch = game.launch;
    if (launch.songDebugFile) std::fclose(launch.songDebugFile);
    launch.songDebugFile = nullptr;
}

// Opens the selected song's music held paused at 0 until the play tick lets it run.
void openSongMusic(TtrellikGL& game) {
    Tstream* music = game.audio.music;
    if (!music) return;
    music->stop();
    music->open(resolvePath(musicFileOf(getSongName(game.songs, game.menu.selectedSong))));
    music->play();
    if (game.audio.sounds) game.audio.sounds->pauseAll();
    music->setPositionMS(0);
}

// Read every tick, not kept from the opening: the stream may learn only while it plays that it
// ends sooner than announced. Music that could not be opened has length 0 and ends at once.
bool musicHasEnded() {
    Tclock& clock = activeClock();
    return clock.musicPositionMs() >= clock.musicLengthMs();
}

void startMusicWhenDue(TtrellikGL& game) {
    if (activeClock().milliseconds() - game.readyStart < musicStartDelayMs) return;
    if (game.audio.sounds) game.audio.sounds->resumeAll();
    game.play.musicStarted = true;
}

// Where a row's markers are perfectly pressed on the music's clock (song ms): the chart's lead is
// the song's own time, since charts give each row its heard beat plus that lead; the audio offset
// is the player's real time, so it stretches with the rate.
double perfectSongMs(const TtrellikGL& game, int32_t row) {
    return perfectMusicMs(game.timing, game.chart.entries[row], 0) + audioOffsetInForce(game) * musicRate(game);
}

// The song debug line of a row: how far the music was past the moment the row became due, less
// the lead of a row's perfect moment before its chart time, as the line has always read.
void writeDifferenceLine(TtrellikGL& game, double songMsLate) {
    TlaunchCopies& launch = game.launch;
    if (!launch.songDebug || launch.songDebugLines > game.play.nextEntry) return;
    const double difference = songMsLate - perfectLeadSongMs(game.timing);
    if (launch.songDebugFile) {
        const std::string line = "Difference: " + wholeNumberText(difference) + "\r\n";
        std::fputs(line.c_str(), launch.songDebugFile);
    }
    launch.songDebugLines += 1;
}

// From a row coming on to its perfect moment, in real ms at any rate.
constexpr double approachToPerfectMs = offsetLeadMs - chartLeadInMs;

// Activates the next chart row once the music is its approach time before it; one row a tick.
// The row is due as the player hears the music, the audio offset after the music's clock, so the
// marker comes, is judged and leaves around the beat they hear. The approach runs in real ms at
// any rate; the row's perfect moment stays where the chart put it in the song.
void activateDueEntry(TtrellikGL& game) {
    TplayState& play = game.play;
    const int32_t rows = std::min(game.chart.entryCount, chartCapacity);
    if (rows <= 0 || play.nextEntry >= static_cast<uint32_t>(rows)) return;
    const ChartEntry& entry = game.chart.entries[play.nextEntry];
    if (!practiceRowDue(game, entry)) return;
    const double rate = musicRate(game);
    const double due = perfectSongMs(game, static_cast<int32_t>(play.nextEntry)) - approachToPerfectMs * rate;
    const double songMsLate = activeClock().musicPositionMs() - due;
    if (songMsLate < 0.0) return;
    play.tempo = entry.bpm;
    play.firstEntryReached = true;
    writeDifferenceLine(game, songMsLate);
    // A tick that comes late starts the markers that much further into their approach, so the
    // perfect time stays on the beat. Adding the lateness instead would move the beat by twice
    // the lateness, which a player feels at the few ms a busy frame delays a tick.
    // An on-time row starts this far into its approach (negative: short of its whole length).
    const double onTimeOffset = approachToPerfectMs - game.timing.stateDuration[approach];
    activateEntry(game, play.nextEntry, onTimeOffset - songMsLate / rate);
    play.nextEntry += 1;
}

// Every row due by now, one after another, as the ticks a stall held back would have.
void activateDueEntries(TtrellikGL& game) {
    for (uint32_t before = game.play.nextEntry + 1; before != game.play.nextEntry;) {
        before = game.play.nextEntry;
        activateDueEntry(game);
    }
}

// The score again from the press log, after a record went in before others.
void rescore(TtrellikGL& game) {
    game.score.reset(game.score.noteCount);
    const std::vector<TpressRecord>& log = game.play.presses;
    for (size_t index = firstPressOfPass(game); index < log.size(); ++index) game.score.apply(log[index].judgement);
}

// Whether a record's moment came before another's; a press at a miss moment comes before the miss.
bool happenedBefore(const TpressRecord& first, const TpressRecord& second) {
    if (first.at != second.at) return first.at < second.at;
    return first.judgement != missScored && second.judgement == missScored;
}

// Keeps a judgement or miss in the log in the order the moments came, and scores it: a press handled
// after a frame scored later misses goes in before them, so the combo runs as the play went.
void keepScored(TtrellikGL& game, const TpressRecord& record) {
    std::vector<TpressRecord>& log = game.play.presses;
    const auto from = log.begin() + static_cast<std::ptrdiff_t>(firstPressOfPass(game));
    const auto place = std::upper_bound(from, log.end(), record, happenedBefore);
    const bool last = place == log.end();
    log.insert(place, record);
    if (last) game.score.apply(record.judgement);
    else rescore(game);
}

// The judgement a press gets on a marker with this perfect time, logged for the results.
TkeptPress judgeMarker(TtrellikGL& game, int32_t panel, int32_t row, double perfectTime, double pressedAt) {
    const double difference = pressedAt - perfectTime;
    if (game.window) setWindowTitle(game.window->getWindowHandle(), judgementTitle(difference));
    const PanelState judgement = judgementFor(game.timing, std::fabs(difference));
    if (judgement == idle) return {};
    return {0.0, panel, row, judgement, difference};
}

// Judged at the moment of the press, not when the loop got to it: a press that waited for a
// slow frame is as early or late as the player made it.
TkeptPress judgePress(TtrellikGL& game, int32_t panel, double pressedAt) {
    const TkeptPress press = judgeMarker(game, panel, game.play.rowOf[panel], game.play.perfectTime[panel], pressedAt);
    if (press.judgement == idle) return press;
    const auto judgement = static_cast<PanelState>(press.judgement);
    keepScored(game, {panel, press.row, static_cast<uint8_t>(judgement), press.offsetMs, pressedAt});
    showPanelState(game, panel, judgement, 0.0);
    return press;
}

// A press made before the miss moment of a marker that a frame or tick retired before the press was
// handled: it counts for that marker, and the miss scored for it becomes this judgement.
TkeptPress judgeLeftMarker(TtrellikGL& game, int32_t panel, double pressedAt) {
    std::vector<TleftMarker>& left = game.play.leftMarkers[panel];
    const TleftMarker oldest = left.front();
    const TkeptPress press = judgeMarker(game, panel, oldest.row, oldest.perfectTime, pressedAt);
    if (press.judgement == idle) return press;
    std::vector<TpressRecord>& log = game.play.presses;
    const auto miss = std::find_if(log.begin(), log.end(), [&](const TpressRecord& record) {
        return record.panel == panel && record.row == oldest.row && record.judgement == missScored;
    });
    if (miss != log.end()) log.erase(miss);
    keepScored(game, {panel, press.row, static_cast<uint8_t>(press.judgement), press.offsetMs, pressedAt});
    rescore(game);
    // A panel gone idle shows the judgement; one showing the next row keeps it.
    if (game.play.panelState[panel] == idle) showPanelState(game, panel, static_cast<PanelState>(press.judgement), 0.0);
    left.erase(left.begin());
    return press;
}

// Forgets the panel's retired markers whose miss moment came before this press: presses are handled
// in the order they happen, so no later one can judge them.
void forgetLeftMarkersMissedBefore(TtrellikGL& game, int32_t panel, double pressedAt) {
    std::vector<TleftMarker>& left = game.play.leftMarkers[panel];
    const double missAfter = missAfterMs(game.timing);
    size_t gone = 0;
    while (gone < left.size() && left[gone].perfectTime + missAfter < pressedAt) ++gone;
    left.erase(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(gone));
}

// Whether the press was made while a marker a miss retired since was still live on its panel (the
// panel's retired markers whose miss moment came before the press are forgotten by then).
bool aimedAtLeftMarker(const TplayState& play, int32_t panel) {
    return !play.leftMarkers[panel].empty();
}

// Scores a marker missed and remembers it, for a press made before its miss moment but handled after.
void scoreMiss(TtrellikGL& game, int32_t panel, int32_t row, double perfectTime) {
    game.play.leftMarkers[panel].push_back({row, perfectTime});
    keepScored(game, {panel, row, missScored, 0.0, perfectTime + missAfterMs(game.timing)});
}

// When the panel's live marker runs out unpressed: its own perfect moment plus the miss time, never
// a frame's, so a play scores the same whatever frames ran (frames move the drawn states on late).
double missMomentOf(const TtrellikGL& game, int32_t panel) {
    return game.play.perfectTime[panel] + missAfterMs(game.timing);
}

// Scores the panel's live marker as missed; a press handled after it left may still judge it.
void retireAsMissed(TtrellikGL& game, int32_t panel) {
    scoreMiss(game, panel, game.play.rowOf[panel], game.play.perfectTime[panel]);
    showPanelState(game, panel, missScored, 0.0);
}

// Waiting markers of the panel whose miss moment came before this moment, missed oldest first.
void retireWaitingMissedBefore(TtrellikGL& game, int32_t panel, double moment) {
    std::vector<TwaitingMarker>& waiting = game.play.waiting[panel];
    const double missAfter = missAfterMs(game.timing);
    size_t missed = 0;
    for (; missed < waiting.size() && waiting[missed].perfectTime + missAfter < moment; ++missed)
        scoreMiss(game, panel, waiting[missed].row, waiting[missed].perfectTime);
    waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(missed));
}

// Every live marker whose miss moment came before this moment is scored missed first, so a press
// after it finds the combo already broken, as it was when the press happened.
void retireMarkersMissedBefore(TtrellikGL& game, double moment) {
    for (int32_t panel = 0; panel < panelCount; ++panel) {
        retireWaitingMissedBefore(game, panel, moment);
        if (isJudgeable(game.play.panelState[panel]) && missMomentOf(game, panel) < moment)
            retireAsMissed(game, panel);
    }
}

// A press on a panel with markers waiting judges the oldest of them, if it is in reach.
TkeptPress judgeWaitingMarker(TtrellikGL& game, int32_t panel, double pressedAt) {
    std::vector<TwaitingMarker>& waiting = game.play.waiting[panel];
    const TwaitingMarker oldest = waiting.front();
    const TkeptPress press = judgeMarker(game, panel, oldest.row, oldest.perfectTime, pressedAt);
    if (press.judgement == idle) return press;
    // The panel keeps showing the row that came on over it.
    keepScored(game, {panel, oldest.row, static_cast<uint8_t>(press.judgement), press.offsetMs, pressedAt});
    waiting.erase(waiting.begin());
    return press;
}

// Where an unjudged press is kept on the music's clock. While the panel's marker (or the one that
// just left it) still counts, the press is kept as far from it as the frame clock put it, so judging
// again never finds that marker in reach where the game did not, however far the music's clock
// wandered. Once that marker has run out, the press is kept at what the music had played, but never
// back inside the marker's life, which a stalled music clock would otherwise put it in.
double unjudgedMusicMs(const TtrellikGL& game, int32_t panel, double pressedAt) {
    const double rate = musicRate(game);
    const double heard = activeClock().musicPositionMs() - (readHighResolutionMs() - pressedAt) * rate;
    const TplayState& play = game.play;
    const bool left = aimedAtLeftMarker(play, panel);
    const int32_t row = left ? play.leftMarkers[panel].front().row : play.rowOf[panel];
    if (row < 0) return heard;
    const double fromPerfect = pressedAt - (left ? play.leftMarkers[panel].front().perfectTime : play.perfectTime[panel]);
    const double missAfter = missAfterMs(game.timing);
    if (fromPerfect <= missAfter) return perfectSongMs(game, row) + fromPerfect * rate;
    return std::max(heard, perfectSongMs(game, row) + (missAfter + 1.0) * rate);
}

// Every key-down of the song goes into the log the records keep, with its time on the music's
// clock. A judged press is kept exactly as far from its row's perfect moment as it was judged, so
// the kept play judged again comes to the same figures even where the music's clock wandered
// from the frame clock between the row coming on and the press.
void logKeyDown(TtrellikGL& game, int32_t panel, double pressedAt, TkeptPress press) {
    if (press.judgement != idle && press.row >= 0)
        press.musicMs = perfectSongMs(game, press.row) + press.offsetMs * musicRate(game);
    else
        press.musicMs = unjudgedMusicMs(game, panel, pressedAt);
    press.panel = panel;
    game.play.keyDowns.push_back(press);
}

// Autoplay's presses for a freshly activated row: each marker's key, down at its perfect time.
void pressRowPerfectly(TtrellikGL& game, const ChartEntry& entry) {
    for (int32_t keyIndex = 0; keyIndex < panelCount; ++keyIndex) {
        if (entry.panels[keyIndex] == 0) continue;
        const double perfectTime = game.play.perfectTime[transposeIndex(keyIndex)];
        game.autoplay->schedulePress(perfectTime, static_cast<uint16_t>(game.launch.keys[keyIndex]), autoplayHoldMs);
    }
}

// Autoplay's presses belong to the song: none may reach song select, and no key it pressed may
// stay held because its release was cancelled.
void cancelAutoplay(TtrellikGL& game) {
    if (!game.autoplay && !game.replay.keys) return;
    if (game.autoplay) game.autoplay->cancelAll();
    if (game.replay.keys) game.replay.keys->cancelAll();
    std::fill(std::begin(game.play.pressed), std::end(game.play.pressed), uint8_t{0});
}

// A live marker the next row comes on over: missed when its miss moment came before the row was due
// to come on (a stalled tick brings it on late), else it waits, live, for its press or its miss.
void replaceLiveMarker(TtrellikGL& game, int32_t panel, double offset) {
    const double now = readHighResolutionMs();
    const double dueAt = now + offset + game.timing.stateDuration[approach] - approachToPerfectMs;
    if (missMomentOf(game, panel) < dueAt) retireAsMissed(game, panel);
    else game.play.waiting[panel].push_back({game.play.rowOf[panel], game.play.perfectTime[panel]});
}

// The music ended: markers still on their panels, and those of rows it never reached, were missed,
// so every marker of the chart is judged or missed whatever the music's length.
void missMarkersLeftAtTheEnd(TtrellikGL& game) {
    retireMarkersMissedBefore(game, INFINITY);
    if (game.practice.practicing) return;
    const int32_t rows = std::min(game.chart.entryCount, chartCapacity);
    for (int32_t row = static_cast<int32_t>(game.play.nextEntry); row < rows; ++row) {
        for (int32_t keyIndex = 0; keyIndex < panelCount; ++keyIndex) {
            if (game.chart.entries[row].panels[keyIndex] == 0) continue;
            keepScored(game, {transposeIndex(keyIndex), row, missScored, 0.0, INFINITY});
        }
    }
    game.play.nextEntry = static_cast<uint32_t>(std::max(rows, 0));
}

// Whether the music ended while a marker's miss moment was still to come: the music's clock stops at
// its end, but the player hears its last moments later by the audio offset, so a marker on them
// stays live until judged or its own miss moment passes (300 ms after its perfect moment at most).
bool markerOutlivesTheMusic(const TtrellikGL& game, int32_t row) {
    const double missMoment = perfectSongMs(game, row) + missAfterMs(game.timing) * musicRate(game);
    return missMoment > activeClock().musicLengthMs();
}

bool markersOutliveTheMusic(TtrellikGL& game) {
    retireMarkersMissedBefore(game, readHighResolutionMs());
    for (int32_t panel = 0; panel < panelCount; ++panel) {
        if (isJudgeable(game.play.panelState[panel]) && markerOutlivesTheMusic(game, game.play.rowOf[panel])) return true;
        for (const TwaitingMarker& marker : game.play.waiting[panel])
            if (markerOutlivesTheMusic(game, marker.row)) return true;
    }
    return false;
}

void enterReadyScene(TtrellikGL& game) {
    playEffect(game.audio.readyGo);
    installDrawHandler(game, readyScene.draw);
    game.readyStart = activeClock().milliseconds();
    setTimerEnabled(game.wheelTimer, false);
    game.play.tempo = game.chart.entries[0].bpm;
    game.play.shutterBob = 0.0;
    game.play.shutterBobEased = 0.0;
}

bool drawSongStart(TtrellikGL& game) {
    clearFrame(game);
    const double dimmed = game.layout.jacketSizeDimmed;
    drawWheel(game, dimmed, dimmed);
    if (fadeToBlack(game)) enterReadyScene(game);
    drawSideMasks(game);
    drawGrid(game);
    drawSelectedJacket(game);
    return true;
}

bool drawReady(TtrellikGL& game) {
    clearFrame(game);
    drawShutters(game);
    drawReadyPanels(game);
    const int32_t elapsed = static_cast<int32_t>(activeClock().milliseconds() - game.readyStart);
    if (elapsed > readyDurationMs) startPlay(game);
    drawSideMasks(game);
    drawGrid(game);
    drawSelectedJacket(game);
    drawScore(game);
    return true;
}

bool drawPlay(TtrellikGL& game) {
    clearFrame(game);
    const double now = readHighResolutionMs();
    drawShutters(game);
    drawCombo(game);
    // Moving panels on after drawing them all shows the same frame as moving each after its own
    // drawing: no panel's drawing depends on another's state.
    drawPlayPanels(game, now);
    advancePanels(game, now);
    drawSideMasks(game);
    drawGrid(game);
    drawScore(game);
    drawSelectedJacket(game);
    drawPracticeLine(game);
    return true;
}

}  // namespace

const Scene songStartScene = {drawSongStart, playKeyDown, playKeyUp};
const Scene readyScene = {drawReady, playKeyDown, playKeyUp};
const Scene playScene = {drawPlay, playKeyDown, playKeyUp};

TopenGLEngine* drawingWindow(TtrellikGL& game) {
    if (!game.window || !game.window->getWindowHandle()) return nullptr;
    return game.window.get();
}

std::string judgementTitle(double differenceMs) {
    return wholeNumberText(differenceMs);
}

void startSong(TtrellikGL& game) {
    if (game.launch.songDebug) openSongDebugFile(game);
    stopMusic(game);
    stopMusic(game);
    playEffect(game.audio.goButton);
    prepareAssistSounds(game);
    installScene(game, songStartScene);
}

void setPanelState(TtrellikGL& game, int32_t panel, PanelState state, double offset) {
    game.score.apply(state);
    showPanelState(game, panel, state, offset);
}

void showPanelState(TtrellikGL& game, int32_t panel, PanelState state, double offset) {
    const double now = readHighResolutionMs();
    const PanelState stored = state == missScored ? idle : state;
    TplayState& play = game.play;
    play.panelState[panel] = stored;
    play.stateStart[panel] = now + offset;
    play.stateEnd[panel] = now + offset + game.timing.stateDuration[stored];
    if (stored == approach) play.perfectTime[panel] = now + offset + game.timing.stateDuration[approach];
}

void activateEntry(TtrellikGL& game, uint32_t row, double offset) {
    const ChartEntry& entry = game.chart.entries[row];
    for (int32_t panel = 0; panel < panelCount; ++panel) {
        if (entry.panels[transposeIndex(panel)] == 0) continue;
        if (isJudgeable(game.play.panelState[panel])) replaceLiveMarker(game, panel, offset);
        game.play.rowOf[panel] = static_cast<int32_t>(row);
        setPanelState(game, panel, approach, offset);
    }
    scheduleAssistTicks(game, row);
    if (game.replay.keys) scheduleReplayRow(game, row);
    else if (game.autoplay) pressRowPerfectly(game, entry);
}

void playTickHandler(TtrellikGL& game) {
    if (game.play.musicStarted && practiceTick(game)) return;
    if (!game.play.musicStarted) startMusicWhenDue(game);
    else activateDueEntry(game);
    if (game.play.musicStarted && game.replay.keys) scheduleReplayUnjudged(game);
    if (!musicHasEnded() || markersOutliveTheMusic(game)) return;
    missMarkersLeftAtTheEnd(game);
    songFinished(game);
}

void createPlayTick(TtrellikGL& game) {
    game.playTick = new TSVATimer();
    game.playTick->setThreadPriority(tpHighest);
    game.playTick->setInterval(1);
    game.playTick->OnTimer = [&game](TSVATimer&) { playTickHandler(game); };
}

void startPlay(TtrellikGL& game) {
    openSongMusic(game);
    startPracticeMusic(game);
    TplayState& play = game.play;
    play.nextEntry = firstPlayedRow(game);
    play.firstEntryReached = false;
    play.musicStarted = false;
    clearPanels(game);
    game.score.reset(markersPlayed(game));
    play.presses.clear();
    play.keyDowns.clear();
    game.replay.nextUnjudged = 0;
    installDrawHandler(game, playScene.draw);
    setTimerEnabled(game.playTick, true);
}

void clearPanels(TtrellikGL& game) {
    TplayState& play = game.play;
    for (int32_t panel = 0; panel < panelCount; ++panel) {
        play.perfectTime[panel] = 0.0;
        play.stateStart[panel] = 0.0;
        play.stateEnd[panel] = 0.0;
        play.panelState[panel] = idle;
        play.leftMarkers[panel].clear();
        play.waiting[panel].clear();
        play.rowOf[panel] = -1;
    }
}

bool playKeyDown(TtrellikGL& game, uint16_t key, double atMs) {
    const int32_t keyIndex = keyIndexOf(game, key);
    if (key == keyEscape) {
        if (closePracticePlay(game)) songFinished(game);
        else endOfSong(game);
    }
    if (practicePlayKey(game, key)) return false;
    if (keyIndex == -1) return false;
    const int32_t panel = transposeIndex(keyIndex);
    playHitSound(game);
    game.play.pressed[panel] = 1;
    const double pressedAt = std::min(atMs, readHighResolutionMs());
    // A stalled frame delays the ticks that bring rows on; the rows due by now come on first, so a
    // press handled straight after the stall finds the marker it was aimed at.
    if (game.play.musicStarted) activateDueEntries(game);
    retireMarkersMissedBefore(game, pressedAt);
    forgetLeftMarkersMissedBefore(game, panel, pressedAt);
    // The oldest marker live when the press was made: one retired since, then those the next row
    // came on over, then the one the panel shows.
    TkeptPress press;
    if (aimedAtLeftMarker(game.play, panel)) press = judgeLeftMarker(game, panel, pressedAt);
    else if (!game.play.waiting[panel].empty()) press = judgeWaitingMarker(game, panel, pressedAt);
    else if (isJudgeable(game.play.panelState[panel])) press = judgePress(game, panel, pressedAt);
    logKeyDown(game, panel, pressedAt, press);
    return false;
}

bool playKeyUp(TtrellikGL& game, uint16_t key, double) {
    const int32_t keyIndex = keyIndexOf(game, key);
    if (keyIndex != -1) game.play.pressed[transposeIndex(keyIndex)] = 0;
    return false;
}

void advancePanels(TtrellikGL& game, double now) {
    // Rows due by now come on first: a marker they replace before its miss moment is not missed.
    if (game.play.musicStarted) activateDueEntries(game);
    retireMarkersMissedBefore(game, now);
    for (int32_t panel = 0; panel < panelCount; ++panel) {
        const uint8_t state = game.play.panelState[panel];
        if (state == idle || now <= game.play.stateEnd[panel]) continue;
        const PanelState next = stateAfter(state);
        // A live marker leaves only at its miss moment, above.
        if (next != missScored) setPanelState(game, panel, next, 0.0);
    }
}

void updateShutterBob(TtrellikGL& game, int32_t gaugeLevel) {
    TplayState& play = game.play;
    play.shutterBob = 0.0;
    if (gaugeLevel != 0 && gaugeLevel != fullGaugeLevel && play.tempo != 0.0) {
        const uint32_t sinceReady = activeClock().milliseconds() - game.readyStart;
        play.shutterBob = std::fabs(std::sin(sinceReady / (20000.0 / play.tempo))) / 8.0;
    }
    play.shutterBobEased -= (play.shutterBobEased - play.shutterBob) / game.layout.shutterEase;
}

void leavePlay(TtrellikGL& game) {
    setTimerEnabled(game.playTick, false);
    cancelAutoplay(game);
    // A song start fade cut short by Escape starts afresh at the next GO.
    game.fade.running = 0;
    closeSongDebugFile(game);
}

void returnToSongSelectAfterSong(TtrellikGL& game) {
    endReplay(game);
    showSongSelectAfterSong(game);
    selectSong(game, game.menu.selectedSong);
    setTimerEnabled(game.playTick, false);
    setTimerEnabled(game.wheelTimer, true);
    game.score.reset(1);
    game.score.gaugeLevel(drawingWindow(game));
}

void endOfSong(TtrellikGL& game) {
    leavePlay(game);
    returnToSongSelectAfterSong(game);
}

void songFinished(TtrellikGL& game) {
    leavePlay(game);
    showResults(game);
}
