// The judgement rules of play, free of frames and windows: the game judges presses with them as
// they come, and a whole play's presses can be judged after the fact (the ranking server does).
#pragma once

#include <cstdint>
#include <vector>

#include "content/trellikSongDataLoader.h"

enum PanelState : uint8_t {
    idle = 0,
    approach = 1,
    overrun = 2,
    perfect = 3,
    great = 4,
    good = 5,
    bad = 6,
    miss = 7,
    missScored = 8,
};

// Judgement windows and the length of each panel state, in ms.
struct TtimingConstants {
    int32_t perfectWindow = 50;
    int32_t greatWindow = 100;
    int32_t goodWindow = 200;
    int32_t badWindow = 300;
    // Indexed by PanelState; the idle slot holds the bad window.
    int32_t stateDuration[8] = {300, 550, 100, 200, 200, 200, 200, 200};
};

// Converts between key index (row-major) and panel index (column-major); its own inverse.
constexpr int32_t transposeIndex(int32_t index) {
    return index / 4 + 4 * (index % 4);
}

// Chart times are laid out 2000 ms after the start of the music.
constexpr double chartLeadInMs = 2000.0;
// A row activated exactly on time starts 50 ms into its approach (2500 ms against the 2550 ms that
// make it due), so its perfect time falls 50 ms before the row's time, which charts allow for.
constexpr double offsetLeadMs = 2500.0;

// Whether a press on a panel in this state can judge its marker.
bool isJudgeable(uint8_t state);
// The judgement of a press this far from the perfect time; idle when it is too far to count.
PanelState judgementFor(const TtimingConstants& timing, double distance);
// The state a panel moves on to when its current state has run its length.
PanelState stateAfter(uint8_t state);
// The row's time as the player hears it on the music's clock: the audio offset in force is part of it.
double rowBeatMs(const ChartEntry& entry, int32_t audioOffset);
// How far a row's perfect moment lies before its chart time, in the song's own ms.
double perfectLeadSongMs(const TtimingConstants& timing);
// The music position at which a row's markers are perfectly pressed.
double perfectMusicMs(const TtimingConstants& timing, const ChartEntry& entry, int32_t audioOffset);
// The music position at which a row's markers come on their panels.
double activationMusicMs(const TtimingConstants& timing, const ChartEntry& entry, int32_t audioOffset);
// How long after its perfect time an unpressed marker is retired and scored a miss.
double missAfterMs(const TtimingConstants& timing);

// One key-down of a play: its panel (0..15) and the music position when it went down.
struct TjudgePress {
    int32_t panel = 0;
    double musicMs = 0.0;
};

// What a play's presses come to: the figures the results scene shows.
struct TplayJudgement {
    int32_t score = 0;
    int32_t maxCombo = 0;
    int32_t perfect = 0;
    int32_t great = 0;
    int32_t good = 0;
    int32_t bad = 0;
    int32_t miss = 0;
    bool operator==(const TplayJudgement&) const = default;
};

// What one press of a play did: the judgement it gave (idle when it judged nothing) and how far it
// fell from the perfect moment of the marker it judged, in ms (negative early; 0 when it judged nothing).
struct TpressOutcome {
    PanelState judgement = idle;
    double distanceMs = 0.0;
};

// Judges a whole play as the game judges it when every event is handled at the moment it happens:
// rows come on at their approach, a press judges the oldest marker of its panel still live (one the
// next row came on over stays live), and markers left unpressed are missed after the bad window.
// Presses must be in time order. Every marker runs out: the play is taken to last past the chart.
TplayJudgement judgePlay(const TsongParser& chart, const TtimingConstants& timing, int32_t audioOffset,
                         const std::vector<TjudgePress>& presses);
// The same, noting in outcomes (one a press, in the presses' order) what each press did.
TplayJudgement judgePlay(const TsongParser& chart, const TtimingConstants& timing, int32_t audioOffset,
                         const std::vector<TjudgePress>& presses, std::vector<TpressOutcome>& outcomes);
