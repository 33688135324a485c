// The calibration's arithmetic: which click a tap belongs to, and what the taps add up to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/playResults.h"

// The metronome: 100 BPM.
constexpr double metronomeBeatMs = 600.0;
// Clicks heard before taps count, then the taps that make one measurement.
constexpr int32_t warmUpBeats = 8;
constexpr int32_t tapsWanted = 32;
// A tap further than this from every click belongs to none.
constexpr double tapReachMs = 300.0;
// Taps spread wider than this (median absolute deviation) are measured again.
constexpr double spreadLimitMs = 20.0;
// How far a visual offset key moves the marker.
constexpr int32_t visualStepMs = 5;

// The signed distance of a tap from the nearest click heard, or nothing beyond reach.
std::optional<double> tapOffset(const std::vector<double>& clickTimes, double tapMs);

// The taps of one measurement: every tap after the warm-up counts toward the 32, the ones near
// a click give offsets.
struct TtapCollection {
    std::vector<double> offsets;
    int32_t taps = 0;

    // Counts a tap at tapMs against the clicks heard so far; false while still in warm-up.
    bool add(const std::vector<double>& clickTimes, double tapMs);
    bool complete() const { return taps >= tapsWanted; }
};

enum class TtapVerdict : uint8_t { noTaps, spreadTooLarge, ready };

struct TtapOutcome {
    TtapVerdict verdict = TtapVerdict::noTaps;
    TspreadFigures figures;
    // The audio offset to save: the median in whole ms, held to -500..500.
    int32_t audioOffset = 0;
};

TtapOutcome outcomeOf(const TtapCollection& taps);
// The line the scene shows for an outcome.
std::string outcomeLine(const TtapOutcome& outcome);
