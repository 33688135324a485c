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

// A click is handed to the output this long before it is heard, and its heard time kept from
// then on: further ahead than a tap may come early, so an early tap finds its click.
constexpr double clickLeadMs = tapReachMs + 100.0;

// The index of the click nearest the tap (the earlier of two as near), or -1 without clicks.
int32_t nearestClick(const std::vector<double>& clickTimes, double tapMs);
// The signed distance of a tap from the nearest click, or nothing beyond reach.
std::optional<double> tapOffset(const std::vector<double>& clickTimes, double tapMs);
// How many of the clicks are heard by atMs.
int32_t clicksHeardBy(const std::vector<double>& clickTimes, double atMs);

// The taps of one measurement: every tap nearest a click after the warm-up counts toward the
// 32, the ones within reach of it give offsets.
struct TtapCollection {
    std::vector<double> offsets;
    int32_t taps = 0;

    // Counts a tap at tapMs against the clicks scheduled so far (heard or still to come); false
    // for a tap nearest a warm-up click.
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
