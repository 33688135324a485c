// Practice in song select and in play: the rate, the start bar, the loop and its passes.
#include "engine/practiceMode.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "content/chartBars.h"
#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "platform/sound/soundEngine.h"
#include "platform/sound/timeStretcher.h"
#include "platform/window/globalConsoleCode.h"

namespace {

constexpr uint16_t slowerKey = 219;  // [
constexpr uint16_t fasterKey = 221;  // ]
constexpr uint16_t practiceKey = 80;  // P
constexpr uint16_t earlierKey = 188;  // ,
constexpr uint16_t laterKey = 190;  // .
constexpr int32_t slowerPanel = 12;
constexpr int32_t fasterPanel = 13;
constexpr int32_t practicePanel = 15;
constexpr int32_t beatsPerBar = 4;
// Where the practice line stands in console space: one line under the best and its clear mark,
// above the grid, clear of the selected song's group lines.
constexpr float lineX = 33.0f;
constexpr float lineY = 9.0f;
// A count-in tick is handed to the mixer this far ahead of its beat (song ms), more than any
// output hands frames over ahead of playing them, and left out when the music is already past it
// by more than this.
constexpr double tickLookAheadMs = 1500.0;
constexpr double tickTooLateMs = 20.0;
// The music starts this far (song ms) before the first count-in tick: a tick on the very first
// frame after a seek could only go to the mixer once that frame was already on its way out.
constexpr double countInLeadMs = 250.0;
// The results list the last few passes one a line; the summary line covers the rest.
constexpr size_t passLinesShown = 3;

double barLengthMs(double bpm) {
    return chartBarLengthMs(bpm);
}

int32_t rowCount(const TsongParser& chart) {
    return std::clamp(chart.entryCount, 0, chartCapacity);
}

// The tempo in force at a music time: the last row's at or before it, else the first row's.
double bpmAt(const TsongParser& chart, double musicMs) {
    double bpm = rowCount(chart) > 0 ? chart.entries[0].bpm : 0.0;
    for (int32_t row = 0; row < rowCount(chart) && chart.entries[row].time * 1000.0 <= musicMs; ++row)
        bpm = chart.entries[row].bpm;
    return bpm;
}

double barStart(const TpracticeState& practice, int32_t bar) {
    if (practice.bars.empty()) return 0.0;
    if (bar > static_cast<int32_t>(practice.bars.size())) return practice.barsEndMs;
    return practice.bars[static_cast<size_t>(std::clamp<int32_t>(bar, 1, static_cast<int32_t>(practice.bars.size())) - 1)];
}

double rateOf(int32_t hundredths) {
    return hundredths / 100.0;
}

int32_t hundredthsOf(double rate) {
    return static_cast<int32_t>(std::lround(rate * 100.0));
}

void keepChoice(TtrellikGL& game) {
    game.shownBest.stale = true;
    if (game.launch.savePractice) game.launch.savePractice(game.practice.choice);
}

// The player's own step: from now on the rate in force is the one the settings keep.
void changeRate(TtrellikGL& game, int32_t steps) {
    TpracticeChoice& choice = game.practice.choice;
    choice.rateHundredths = steppedRate(choice.rateHundredths, steps);
    choice.keptRateHundredths = 0;
}

// The rate the play runs at: a replay's own, else the chosen one.
int32_t playRateHundredths(const TtrellikGL& game) {
    if (game.replay.keys && game.replay.play) return game.replay.play->rateHundredths;
    return game.practice.choice.rateHundredths;
}

// The music at the play's rate, or at 1.00x where the stretcher cannot start.
void putPlayRateInForce(TtrellikGL& game) {
    const double rate = rateOf(playRateHundredths(game));
    game.practice.rateInForce = game.audio.music ? game.audio.music->setRate(rate) : rate;
}

uint32_t firstRowFrom(const TsongParser& chart, double musicMs) {
    int32_t row = 0;
    while (row < rowCount(chart) && chart.entries[row].time * 1000.0 < musicMs - 0.5) ++row;
    return static_cast<uint32_t>(row);
}

int32_t markersFrom(const TsongParser& chart, double fromMs, double toMs) {
    int32_t markers = 0;
    for (int32_t row = 0; row < rowCount(chart); ++row) {
        const double at = chart.entries[row].time * 1000.0;
        if (at < fromMs - 0.5 || at >= toMs - 0.5) continue;
        markers += static_cast<int32_t>(std::count_if(std::begin(chart.entries[row].panels), std::end(chart.entries[row].panels),
                                                      [](uint8_t panel) { return panel != 0; }));
    }
    return markers;
}

// Where the music plays a chart time's beat: a row's perfect moment lies that far before its chart
// time, so the beats of the bar before a section are heard as early as its markers are.
double heardBeatMs(const TtrellikGL& game, double chartMs) {
    return chartMs - perfectLeadSongMs(game.timing);
}

// The chart time of the beat the player hears now: the music's clock less the audio offset, which
// is how much later than the clock they hear it (real ms), plus a perfect moment's lead.
double heardChartMs(const TtrellikGL& game) {
    return activeClock().musicPositionMs() - audioOffsetInForce(game) * game.practice.rateInForce +
           perfectLeadSongMs(game.timing);
}

// The music from a little before the count-in bar ahead of the section's first bar, a tick due on
// each of its beats as heard.
void seekToCountIn(TtrellikGL& game, int32_t firstBar) {
    TpracticeState& practice = game.practice;
    const double sectionStart = barStart(practice, firstBar);
    const double barMs = barLengthMs(bpmAt(game.chart, sectionStart));
    const double firstTick = heardBeatMs(game, sectionStart - barMs);
    practice.seekMs = std::max(0.0, std::floor(firstTick - countInLeadMs));
    if (game.audio.music) game.audio.music->setPositionMS(static_cast<int32_t>(practice.seekMs));
    practice.pendingTicks.clear();
    for (int32_t beat = 0; beat < beatsPerBar; ++beat) {
        const double at = firstTick + beat * barMs / beatsPerBar;
        if (at >= practice.seekMs) practice.pendingTicks.push_back(at);
    }
}

void handDueTicks(TtrellikGL& game) {
    TpracticeState& practice = game.practice;
    if (practice.pendingTicks.empty() || !game.audio.music) return;
    if (!practice.tick) {
        practice.tick = std::make_shared<Tsfx>();
        practice.tick->use(metronomeClickSamples());
    }
    const double now = activeClock().musicPositionMs();
    std::erase_if(practice.pendingTicks, [&](double at) {
        if (at < now - tickTooLateMs) return true;
        return at < now + tickLookAheadMs && practice.tick->playAtSongTime(*game.audio.music, at).has_value();
    });
}

// Where the pass in progress ends: the loop's end, else the end of the song.
double passEndMs(const TpracticeState& practice) {
    return practice.loop.set() ? barStart(practice, practice.loop.endBar) : std::numeric_limits<double>::infinity();
}

// When the last marker of the pass has been judged or missed on the music's clock: its row's
// perfect moment moves with the audio offset as every row's does, and both the offset and the
// miss time are real ms.
double passRunsOutMs(const TtrellikGL& game) {
    const TpracticeState& practice = game.practice;
    return barStart(practice, practice.loop.endBar) +
           (missAfterMs(game.timing) + audioOffsetInForce(game)) * practice.rateInForce;
}

// The pass scored on its own: the judgements of its markers (a row the loop's end cut off, which
// came before the loop was set, counts for no pass) against the markers between its start and end.
void finishPass(TtrellikGL& game, bool leftEarly = false) {
    TpracticeState& practice = game.practice;
    const std::vector<TpressRecord>& presses = game.play.presses;
    const double endMs = passEndMs(practice);
    const auto inPass = [&](const TpressRecord& press) {
        const double at = game.chart.entries[std::clamp(press.row, 0, chartCapacity - 1)].time * 1000.0;
        return at >= practice.passStartMs - 0.5 && at < endMs - 0.5;
    };
    std::vector<TpressRecord> pass;
    for (size_t index = std::min(practice.passFirstPress, presses.size()); index < presses.size(); ++index)
        if (inPass(presses[index])) pass.push_back(presses[index]);
    // A pass left early counts the markers that came to a judgement or a miss, not those still to come.
    ScoreControl score;
    score.reset(leftEarly ? static_cast<int32_t>(pass.size()) : markersFrom(game.chart, practice.passStartMs, endMs));
    for (const TpressRecord& press : pass) score.apply(press.judgement);
    TpassResult result;
    result.pass = practice.pass;
    result.markers = score.noteCount;
    result.rateHundredths = hundredthsOf(practice.rateInForce);
    result.figures = playResultsOf(score, pass);
    practice.passes.push_back(result);
    practice.passPresses.insert(practice.passPresses.end(), pass.begin(), pass.end());
}

void restartSection(TtrellikGL& game) {
    TpracticeState& practice = game.practice;
    if (game.autoplay) game.autoplay->cancelAll();
    clearPanels(game);
    const double sectionStart = barStart(practice, practice.loop.firstBar);
    game.play.nextEntry = firstRowFrom(game.chart, sectionStart);
    game.play.firstEntryReached = false;
    game.score.reset(markersFrom(game.chart, sectionStart, barStart(practice, practice.loop.endBar)));
    practice.pass += 1;
    practice.passFirstPress = game.play.presses.size();
    practice.passStartMs = sectionStart;
    // A rate chosen during the pass that ended starts with this one, before any marker comes.
    if (rateOf(playRateHundredths(game)) != practice.rateInForce) putPlayRateInForce(game);
    seekToCountIn(game, practice.loop.firstBar);
    const TplayResults& last = practice.passes.back().figures;
    practice.line = "PASS " + std::to_string(practice.pass - 1) + " " + std::to_string(last.score) + "  BARS " +
                    std::to_string(practice.loop.firstBar) + "-" + std::to_string(practice.loop.endBar - 1);
}

// "PASS 3  1.50x  835714  P13 GR1 GD0 BD1 MS1".
std::string passLine(const TpassResult& pass) {
    const TplayResults& figures = pass.figures;
    return "PASS " + std::to_string(pass.pass) + "  " + rateText(pass.rateHundredths) + "  " +
           std::to_string(figures.score) + "  P" + std::to_string(figures.perfect) + " GR" +
           std::to_string(figures.great) + " GD" + std::to_string(figures.good) + " BD" +
           std::to_string(figures.bad) + " MS" + std::to_string(figures.miss);
}

// "PRACTICE  12 PASSES  BEST 900000 (PASS 4)": the passes the results have no room to list.
std::string practiceSummaryLine(const std::vector<TpassResult>& passes) {
    std::string line = "PRACTICE  " + std::to_string(passes.size()) + (passes.size() == 1 ? " PASS" : " PASSES");
    const auto best = std::max_element(passes.begin(), passes.end(), [](const TpassResult& a, const TpassResult& b) {
        return a.figures.score < b.figures.score;
    });
    if (best != passes.end())
        line += "  BEST " + std::to_string(best->figures.score) + " (PASS " + std::to_string(best->pass) + ")";
    return line;
}

void markLoopEnd(TtrellikGL& game, int32_t bar) {
    TpracticeState& practice = game.practice;
    if (practice.markedStartBar == 0) {
        practice.line = "MARK THE LOOP START FIRST (,)";
        return;
    }
    const TloopOutcome outcome = loopBetween(practice.markedStartBar, bar);
    practice.loop = outcome.section;
    practice.line = outcome.refusal.empty() ? "LOOP BARS " + std::to_string(outcome.section.firstBar) + "-" +
                                                  std::to_string(outcome.section.endBar - 1)
                                            : outcome.refusal;
}

}  // namespace

std::vector<double> barStartsMs(const TsongParser& chart) {
    return chartBarStartsMs(chart, chartBarLimit);
}

int32_t barAt(const std::vector<double>& bars, double musicMs) {
    return static_cast<int32_t>(std::upper_bound(bars.begin(), bars.end(), musicMs) - bars.begin());
}

TloopOutcome loopBetween(int32_t startBar, int32_t endBar) {
    TloopOutcome outcome;
    const int32_t first = std::min(startBar, endBar);
    const int32_t end = std::max(startBar, endBar);
    if (end - first < 1) {
        outcome.refusal = "LOOP REFUSED: SHORTER THAN A BAR";
        return outcome;
    }
    outcome.section = {first, end};
    return outcome;
}

double musicRate(const TtrellikGL& game) {
    return game.practice.rateInForce;
}

std::vector<std::string> practiceChoiceLines(const TtrellikGL& game) {
    const TpracticeChoice& choice = game.practice.choice;
    const bool atOwnSpeed = game.practice.stretcherMissing && choice.rateHundredths != normalRateHundredths;
    std::string line = atOwnSpeed ? "RATE 1.00x ONLY" : "RATE " + rateText(choice.rateHundredths);
    if (choice.practice) line += "  PRACTICE FROM BAR " + std::to_string(choice.startBar);
    return {line};
}

bool practiceSelectKey(TtrellikGL& game, uint16_t key) {
    if (keyIndexOf(game, key) != -1) return false;
    TpracticeChoice& choice = game.practice.choice;
    if (key == slowerKey || key == fasterKey) changeRate(game, key == slowerKey ? -1 : 1);
    else if (key == practiceKey) choice.practice = !choice.practice;
    else if (choice.practice && (key == earlierKey || key == laterKey)) choice.startBar = std::max(1, choice.startBar + (key == laterKey ? 1 : -1));
    else return false;
    keepChoice(game);
    return true;
}

void startPracticeMusic(TtrellikGL& game) {
    TpracticeState& practice = game.practice;
    practice.practicing = practice.choice.practice && !game.replay.keys;
    practice.bars = barStartsMs(game.chart);
    practice.barsEndMs = practice.bars.empty() ? 0.0 : practice.bars.back() + barLengthMs(bpmAt(game.chart, practice.bars.back()));
    practice.markedStartBar = 0;
    practice.loop = {};
    practice.pass = 1;
    practice.passFirstPress = 0;
    practice.passes.clear();
    practice.passPresses.clear();
    practice.pendingTicks.clear();
    practice.line.clear();
    putPlayRateInForce(game);
    if (!practice.practicing) return;
    practice.choice.startBar = std::clamp(practice.choice.startBar, 1, std::max<int32_t>(1, static_cast<int32_t>(practice.bars.size())));
    seekToCountIn(game, practice.choice.startBar);
    practice.passStartMs = barStart(practice, practice.choice.startBar);
    practice.line = "PRACTICE FROM BAR " + std::to_string(practice.choice.startBar);
}

uint32_t firstPlayedRow(const TtrellikGL& game) {
    if (!game.practice.practicing) return 0;
    return firstRowFrom(game.chart, barStart(game.practice, game.practice.choice.startBar));
}

bool practiceRowDue(const TtrellikGL& game, const ChartEntry& entry) {
    return !game.practice.practicing || entry.time * 1000.0 < passEndMs(game.practice) - 0.5;
}

int32_t markersPlayed(const TtrellikGL& game) {
    if (!game.practice.practicing) return game.chart.markerCount;
    return markersFrom(game.chart, barStart(game.practice, game.practice.choice.startBar),
                       std::numeric_limits<double>::infinity());
}

bool practicePanelKey(TtrellikGL& game, int32_t keyIndex) {
    if (keyIndex == slowerPanel || keyIndex == fasterPanel) changeRate(game, keyIndex == slowerPanel ? -1 : 1);
    else if (keyIndex == practicePanel) game.practice.choice.practice = !game.practice.choice.practice;
    else return false;
    keepChoice(game);
    return true;
}

bool fullPlayAtOwnSpeed(const TtrellikGL& game) {
    return game.practice.choice.rateHundredths == 100 && !game.practice.choice.practice;
}

void noteWhetherTheStretcherStarts(TpracticeState& practice) {
    if (practice.choice.rateHundredths == normalRateHundredths || practice.stretcherTried) return;
    std::string failure;
    practice.stretcherMissing = TtimeStretcher::start(rateOf(practice.choice.rateHundredths), failure) == nullptr;
    practice.stretcherTried = true;
    if (practice.stretcherMissing) appendToDebugLog("No time stretcher (" + failure + "): every play runs at 1.00x");
}

// Said only when it is not the usual full play, which leaves its line to the world best.
void drawPracticeChoice(TtrellikGL& game) {
    if (!drawingWindow(game) || fullPlayAtOwnSpeed(game)) return;
    noteWhetherTheStretcherStarts(game.practice);
    drawTextColumn(game, practiceChoiceLines(game), lineX, lineY);
}

bool practicePlayKey(TtrellikGL& game, uint16_t key) {
    if (keyIndexOf(game, key) != -1) return false;
    TpracticeState& practice = game.practice;
    // Only a practice play changes speed mid-song: a full play keeps one rate for its best.
    if (!practice.practicing) return false;
    // Markers already on their way keep the rate they came at: a new rate starts with a pass.
    if (key == slowerKey || key == fasterKey) {
        if (!practice.loop.set()) {
            practice.line = "RATE: SET A LOOP FIRST";
            return true;
        }
        changeRate(game, key == slowerKey ? -1 : 1);
        keepChoice(game);
        practice.line = "NEXT PASS AT " + rateText(practice.choice.rateHundredths);
        return true;
    }
    if (key != earlierKey && key != laterKey) return false;
    const double heard = heardChartMs(game);
    const int32_t lastBar = static_cast<int32_t>(practice.bars.size());
    const int32_t bar = heard >= practice.barsEndMs ? lastBar + 1 : std::max(1, barAt(practice.bars, heard));
    if (key == earlierKey) {
        practice.markedStartBar = bar;
        practice.line = "LOOP FROM BAR " + std::to_string(bar);
    } else {
        markLoopEnd(game, bar);
    }
    return true;
}

bool practiceTick(TtrellikGL& game) {
    TpracticeState& practice = game.practice;
    if (!practice.practicing) return false;
    handDueTicks(game);
    Tclock& clock = activeClock();
    // Without a loop the song's end finishes the one pass, once the play has missed what was left.
    if (!practice.loop.set()) return false;
    const double passEnd = passRunsOutMs(game);
    const bool songEnded = clock.musicPositionMs() >= clock.musicLengthMs();
    const bool pastSection = practice.loop.endBar <= static_cast<int32_t>(practice.bars.size()) + 1 && clock.musicPositionMs() >= passEnd;
    if (!songEnded && !pastSection) return false;
    finishPass(game);
    restartSection(game);
    return true;
}

bool closePracticePlay(TtrellikGL& game) {
    TpracticeState& practice = game.practice;
    if (!practice.practicing) return false;
    if (game.play.presses.size() > practice.passFirstPress) finishPass(game, true);
    return !practice.passes.empty();
}

void finishPassAtSongEnd(TtrellikGL& game) {
    const TpracticeState& practice = game.practice;
    const bool passOpen = practice.passes.empty() || practice.passes.back().pass != practice.pass;
    Tclock& clock = activeClock();
    if (practice.practicing && passOpen && clock.musicPositionMs() >= clock.musicLengthMs()) finishPass(game);
}

std::vector<std::string> practiceResultLines(const TtrellikGL& game) {
    const TpracticeState& practice = game.practice;
    std::vector<std::string> lines = {"RATE " + rateText(hundredthsOf(practice.rateInForce))};
    if (!practice.practicing) return lines;
    lines.push_back(practiceSummaryLine(practice.passes));
    const size_t shownFrom = practice.passes.size() - std::min(practice.passes.size(), passLinesShown);
    for (size_t index = shownFrom; index < practice.passes.size(); ++index) lines.push_back(passLine(practice.passes[index]));
    return lines;
}

ScoreControl practicePlayScore(const TtrellikGL& game) {
    const TpracticeState& practice = game.practice;
    int32_t markers = 0;
    for (const TpassResult& pass : practice.passes) markers += pass.markers;
    ScoreControl score;
    score.reset(markers);
    for (const TpressRecord& press : practice.passPresses) score.apply(press.judgement);
    return score;
}

size_t firstPressOfPass(const TtrellikGL& game) {
    return game.practice.practicing ? std::min(game.practice.passFirstPress, game.play.presses.size()) : 0;
}

void drawPracticeLine(TtrellikGL& game) {
    const TpracticeState& practice = game.practice;
    if (!drawingWindow(game) || (!practice.practicing && practice.rateInForce == 1.0)) return;
    std::string line = rateText(static_cast<int32_t>(std::lround(practice.rateInForce * 100.0)));
    if (practice.practicing) line += "  " + (practice.line.empty() ? std::string("PRACTICE") : practice.line);
    drawTextColumn(game, {line}, lineX, lineY);
}
