// Tap offsets, the median and spread of a measurement, and what the scene says about it.
#include "engine/calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/store/settingsStore.h"

std::optional<double> tapOffset(const std::vector<double>& clickTimes, double tapMs) {
    std::optional<double> nearest;
    for (const double click : clickTimes) {
        const double offset = tapMs - click;
        if (!nearest || std::fabs(offset) < std::fabs(*nearest)) nearest = offset;
    }
    if (!nearest || std::fabs(*nearest) > tapReachMs) return std::nullopt;
    return nearest;
}

bool TtapCollection::add(const std::vector<double>& clickTimes, double tapMs) {
    // The warm-up clicks only set the player's pace; taps count from the click after them.
    if (static_cast<int32_t>(clickTimes.size()) <= warmUpBeats || complete()) return false;
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
