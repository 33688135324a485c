// Practice: the music rate in play, practice mode's start bar, the looped section and its passes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/playResults.h"
#include "platform/store/practiceSettings.h"

struct TtrellikGL;
struct TsongParser;
struct ChartEntry;
class Tsfx;

// The bars of a chart: where each starts on the music's clock (ms), bar 1 first. A bar is four
// beats at the tempo of the row in force where it starts; bar 1 starts at the first row.
std::vector<double> barStartsMs(const TsongParser& chart);
// The bar (from 1) a music time falls in; 0 before bar 1.
int32_t barAt(const std::vector<double>& bars, double musicMs);

// One pass of a practice play through the section, or the whole practice play without a loop.
struct TpassResult {
    int32_t pass = 0;
    int32_t markers = 0;
    // The rate the pass was played at.
    int32_t rateHundredths = 100;
    TplayResults figures;
};

// A loop of whole bars: from the start of firstBar up to the start of endBar.
struct TloopSection {
    int32_t firstBar = 0;
    int32_t endBar = 0;
    bool set() const { return endBar > firstBar; }
};

// What setting a loop's end gives: the section, or why it was refused (then the section is unset).
struct TloopOutcome {
    TloopSection section;
    std::string refusal;
};
// The section from a start bar and an end bar set at the bars their keys were pressed in: an end
// before the start swaps them; one that leaves less than a bar is refused.
TloopOutcome loopBetween(int32_t startBar, int32_t endBar);

// The practice state of a game run: the player's choices and what the play in progress does.
struct TpracticeState {
    TpracticeChoice choice;
    // The rate the music plays at: the chosen one, or 1 when the stretcher could not start.
    double rateInForce = 1.0;
    // Whether song select tried a stretcher at the chosen rate, and whether none started (then
    // every play runs at 1.00x).
    bool stretcherTried = false;
    bool stretcherMissing = false;
    // Whether the play in progress is a practice play.
    bool practicing = false;
    std::vector<double> bars;
    // Where the last bar ends: the bar after the last, which a loop of the last bar ends at.
    double barsEndMs = 0.0;
    // The bar the loop's start key set (0: none yet) and the section looped.
    int32_t markedStartBar = 0;
    TloopSection loop;
    int32_t pass = 0;
    // Where the pass in progress starts in the press log.
    size_t passFirstPress = 0;
    // Where the pass in progress starts on the music's clock (ms): the start bar, then the section.
    double passStartMs = 0.0;
    std::vector<TpassResult> passes;
    // Every pass's judgements and misses, pass after pass: what the whole practice play comes to.
    std::vector<TpressRecord> passPresses;
    // Where the music was last sent for a count-in (ms).
    double seekMs = 0.0;
    // Count-in ticks still to hand to the mixer, on the music's clock (ms) where their beats are heard.
    std::vector<double> pendingTicks;
    // The line under the score: the pass, the loop, or why a loop was refused.
    std::string line;
    std::shared_ptr<Tsfx> tick;
};

// The rate the song being played runs at: song ms per real ms.
double musicRate(const TtrellikGL& game);
// The music rate of song select as text, with "PRACTICE FROM BAR n" when practice mode is on.
std::vector<std::string> practiceChoiceLines(const TtrellikGL& game);
// Song select's practice keys: [ and ] step the rate, P toggles practice mode, , and . move the
// start bar. True when the key was one of them.
bool practiceSelectKey(TtrellikGL& game, uint16_t key);
// The music opened for play: its rate set; a practice play seeks to its start bar's count-in.
void startPracticeMusic(TtrellikGL& game);
// The first chart row a play starts with: 0, or a practice play's first row of its start bar.
uint32_t firstPlayedRow(const TtrellikGL& game);
// Whether a chart row is still played: in a looped section, rows from the loop's end on wait for
// no pass.
bool practiceRowDue(const TtrellikGL& game, const ChartEntry& entry);
// The markers a play counts: the chart's, or a practice play's from its start bar on.
int32_t markersPlayed(const TtrellikGL& game);
// Marker select's practice panels: key 12 slower, key 13 faster, key 15 practice mode on or off.
bool practicePanelKey(TtrellikGL& game, int32_t keyIndex);
// Tries once a run, when a rate other than 1.00x is chosen, whether the stretcher starts.
void noteWhetherTheStretcherStarts(TpracticeState& practice);
// The choice lines in song select and marker select, beside the selected song's lines.
void drawPracticeChoice(TtrellikGL& game);
// Whether song select's choice is a full play at the song's own speed, the kind rankings compare.
bool fullPlayAtOwnSpeed(const TtrellikGL& game);
// A practice play's keys: [ and ] step the rate from the next pass (refused without a loop), ,
// marks the loop start and . its end at the bar heard. True when the key was one of them.
bool practicePlayKey(TtrellikGL& game, uint16_t key);
// One tick of a practice play: hands due count-in ticks to the mixer and starts the section again
// when a pass ended (also when the song ended inside it). True when it restarted the section.
bool practiceTick(TtrellikGL& game);
// Finishes a pass the song's end cut off, its markers left on their way already missed.
void finishPassAtSongEnd(TtrellikGL& game);
// Escape during a practice play: the pass in progress counts when any of its markers was judged.
// True when the play has a pass and so ends in its results.
bool closePracticePlay(TtrellikGL& game);
// The pass lines the results scene shows for a practice play (the last few and a summary of all),
// and the rate line for any play.
std::vector<std::string> practiceResultLines(const TtrellikGL& game);
// A practice play's score: every pass's markers and judgements, as the results show and keep them
// (the judgements and misses themselves are practice.passPresses).
ScoreControl practicePlayScore(const TtrellikGL& game);
// Where the presses the score in force counts start in the press log: a practice play's pass in
// progress, else the first.
size_t firstPressOfPass(const TtrellikGL& game);
// The practice line during play.
void drawPracticeLine(TtrellikGL& game);
