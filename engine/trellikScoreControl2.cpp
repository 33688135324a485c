// Scoring rules: what each judgement does to score, gauge and combo, and the gauge colours.
#include "engine/trellikScoreControl2.h"

#include <algorithm>
#include <cmath>

#include "platform/window/openGLClass.h"

namespace {

constexpr int32_t perfectState = 3;
constexpr int32_t greatState = 4;
constexpr int32_t goodState = 5;
constexpr int32_t badState = 6;
constexpr int32_t missScoredState = 8;
constexpr double fullGauge = 1024.0;

// The gauge change of a judgement in units of 1 / noteCount; 0 for states that are no judgement.
int64_t gaugeUnits(uint8_t state) {
    switch (state) {
        case perfectState:
        case greatState: return 2048;
        case goodState: return 1024;
        case badState:
        case missScoredState: return -8192;
        default: return 0;
    }
}

}  // namespace

bool gaugeColour(double gauge, TclearColour& colour) {
    if (gauge < 255.0) colour = {0.0, 0.0, 0.15, 0.0};
    else if (gauge <= 511.0) colour = {0.0, 0.0, 0.2, 0.0};
    else if (gauge <= 767.0) colour = {0.1, 0.0, 0.25, 0.0};
    else if (gauge <= 1023.0) colour = {0.2, 0.0, 0.35, 0.0};
    else if (gauge == fullGauge) colour = {0.73, 0.57, 0.08, 0.0};
    else return false;
    return true;
}

void ScoreControl::reset(int32_t markers) {
    noteCount = markers == 0 ? 1 : markers;
    for (int32_t& counter : counters) counter = 0;
    combo = 0;
    maxCombo = 0;
    gauge = 0.0;
    gaugeSteps = 0;
    score = 0.0;
}

void ScoreControl::apply(uint8_t state) {
    const int64_t units = gaugeUnits(state);
    if (units == 0) return;
    counters[state] += 1;
    const int64_t fullSteps = static_cast<int64_t>(fullGauge) * noteCount;
    gaugeSteps = std::clamp<int64_t>(gaugeSteps + units, 0, fullSteps);
    gauge = static_cast<double>(gaugeSteps) / noteCount;
    combo = units > 0 ? combo + 1 : 0;
    maxCombo = std::max(maxCombo, combo);
    // Weighted in tenths, so the sum is exact and a whole result (all perfect: 900000) stays whole.
    const double tenths = 10.0 * counters[perfectState] + 7.0 * counters[greatState] + 4.0 * counters[goodState] +
                          1.0 * counters[badState];
    score = tenths * 90000.0 / noteCount;
}

int32_t ScoreControl::displayScore() const {
    return static_cast<int32_t>(std::floor(score));
}

int32_t ScoreControl::comboCount() const {
    return combo;
}

int32_t ScoreControl::gaugeLevel(TopenGLEngine* window) const {
    TclearColour colour;
    if (window && gaugeColour(gauge, colour)) window->setClearColor(colour.red, colour.green, colour.blue, colour.alpha);
    // nearbyint rounds ties to even in the default rounding mode.
    return static_cast<int32_t>(std::nearbyint(gauge / fullGauge * 100000.0));
}
