// Score out of 900000, combo and gauge, fed by judgements.
#pragma once

#include <cstdint>

class TopenGLEngine;

// The background colour that shows how full the gauge is.
struct TclearColour {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 0.0;
};

// The colour for a gauge value, or false in the sliver above 1023 and below 1024, where the
// colour of the previous frame stays.
bool gaugeColour(double gauge, TclearColour& colour);

// One song's judgements turned into score, combo and gauge.
struct ScoreControl {
    int32_t noteCount = 1;
    int32_t combo = 0;
    // The longest combo of the song so far.
    int32_t maxCombo = 0;
    // The gauge as drawn, 0..1024: gaugeSteps / noteCount.
    double gauge = 0.0;
    // The gauge counted exactly, in steps of 1 / noteCount, so that whole runs of judgements
    // fill it to exactly 1024 for every marker count.
    int64_t gaugeSteps = 0;
    double score = 0.0;
    // Judgement counts indexed by panel state; only perfect, great, good, bad and missScored count.
    int32_t counters[9] = {};

    // Starts a song of noteCount markers; a chart without markers counts as one.
    void reset(int32_t markers);
    // Scores one panel state change; states that are no judgement change nothing.
    void apply(uint8_t state);
    int32_t displayScore() const;
    int32_t comboCount() const;
    // Sets the window's clear colour from the gauge (no window, no colour) and returns the
    // gauge as 0..100000.
    int32_t gaugeLevel(TopenGLEngine* window) const;
};
