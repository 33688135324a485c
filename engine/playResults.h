// What a song's presses add up to: the press log of play and the figures the results scene shows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/trellikScoreControl2.h"

// One judged press or one miss, as play logs it.
struct TpressRecord {
    int32_t panel = 0;
    // The chart row whose marker the panel showed.
    int32_t row = 0;
    // The panel state the press gave (perfect .. bad), or missScored for a marker never pressed.
    uint8_t judgement = 0;
    // How far the press was from the perfect time plus the audio offset, in ms: negative is
    // early. Zero for a miss.
    double offsetMs = 0.0;
    // When it happened on the high-resolution clock: the press, or the marker's miss moment. The log
    // is kept in this order, so the combo runs as the play went, whatever order it was handled in.
    double at = 0.0;
};

// The press offsets of the results histogram: -300 to +300 ms in 10 ms bins.
constexpr int32_t histogramLowMs = -300;
constexpr int32_t histogramBinMs = 10;
constexpr int32_t histogramBins = 60;

// A median offset further off than this makes the results suggest a new audio offset.
constexpr double suggestionThresholdMs = 10.0;

// The median of the values, and their median absolute deviation from it (0 and 0 for none).
struct TspreadFigures {
    double median = 0.0;
    double medianDeviation = 0.0;
};
TspreadFigures medianAndSpread(std::vector<double> values);

// A song's figures; the judgement counts come from the score control, the rest from the log.
struct TplayResults {
    int32_t score = 0;
    int32_t maxCombo = 0;
    int32_t perfect = 0;
    int32_t great = 0;
    int32_t good = 0;
    int32_t bad = 0;
    int32_t miss = 0;
    // Presses off the beat by half a ms or more, either way: a press on the beat is neither.
    int32_t early = 0;
    int32_t late = 0;
    int32_t pressCount = 0;
    double meanMs = 0.0;
    // The standard deviation about the mean.
    double deviationMs = 0.0;
    double medianMs = 0.0;
    double medianDeviationMs = 0.0;
    std::array<int32_t, histogramBins> histogram = {};
};

TplayResults playResultsOf(const ScoreControl& score, const std::vector<TpressRecord>& presses);

// The histogram bin of an offset, or -1 outside -300..+300 ms (+300 itself is in the last bin).
int32_t histogramBinOf(double offsetMs);

// The change to the audio offset the results suggest (the median, whole ms), or 0 for none.
int32_t suggestedOffsetChange(const TplayResults& results);
// "Presses were 14 ms late on average — press key 12 to add it to the audio offset", or "".
std::string suggestionLine(int32_t change, int32_t keyNumber);
