// Tap offsets, the median and spread of a measurement, and what the scene says about it.
#include "engine/calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/store/settingsStore.h"

int32_t nearestClick(const std::vector<double>& clickTimes, double tapMs) {
    int32_t nearest = -1;
    for (size_t i = 0; i < clickTimes.size(); ++i)
        if (nearest < 0 || std::fabs(tapMs - clickTimes[i]) < std::fabs(tapMs - clickTimes[nearest]))
            nearest = static_cast<int32_t>(i);
    return nearest;
}

std::optional<double> tapOffset(const std::vector<double>& clickTimes, double tapMs) {
    const int32_t nearest = nearestClick(clickTimes, tapMs);
    if (nearest < 0) return std::nullopt;
    const double offset = tapMs - clickTimes[nearest];
    if (std::fabs(offset) > tapReachMs) return std::nullopt;
    return offset;
}

int32_t clicksHeardBy(const std::vector<double>& clickTimes, double atMs) {
    return static_cast<int32_t>(
        std::count_if(clickTimes.begin(), clickTimes.end(), [atMs](double click) { return click <= atMs; }));
}

bool TtapCollection::add(const std::vector<double>& clickTimes, double tapMs) {
    // The warm-up clicks only set the player's pace; taps count from the click after them.
    if (nearestClick(clickTimes, tapMs) < warmUpBeats || complete()) return false;
    taps += 1;
    if (const std::optional<double> offset = tapOffset(clickTimes, tapMs)) offsets.push_back(*offset);
    return true;
}

TtapOutcome outcomeOf(const TtapCollection& taps) {
    TtapOutcome outcome;
    if (taps.offsets.empty()) return outcome;
    outcome.figures = medianAndSpread(taps.offsets);
    outcome.audioOffset =
        std::clamp(static_cast<int32_t>(std::lround(outcome.figures.median)), -largestOffset, largestOffset);
    outcome.verdict = outcome.figures.medianDeviation > spreadLimitMs ? TtapVerdict::spreadTooLarge : TtapVerdict::ready;
    return outcome;
}

std::string outcomeLine(const TtapOutcome& outcome) {
    char text[160];
    switch (outcome.verdict) {
        case TtapVerdict::noTaps: return "No tap was within 300 ms of a click: nothing is saved. Tap again";
        case TtapVerdict::spreadTooLarge:
            std::snprintf(text, sizeof text, "The taps were spread %.0f ms wide (more than 20): tap again",
                          outcome.figures.medianDeviation);
            return text;
        case TtapVerdict::ready:
            std::snprintf(text, sizeof text, "Audio offset %+d ms (median %+.1f, spread %.1f ms): Enter saves",
                          outcome.audioOffset, outcome.figures.median, outcome.figures.medianDeviation);
            return text;
    }
    return "";
}
