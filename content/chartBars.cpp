// Bar starts of a chart, walked once through its rows whatever its tempos.
#include "content/chartBars.h"

#include <algorithm>

namespace {

constexpr double beatsPerBar = 4.0;
constexpr double defaultBpm = 120.0;

}  // namespace

double chartBarLengthMs(double bpm) {
    return beatsPerBar * 60000.0 / (bpm > 0.0 ? bpm : defaultBpm);
}

std::vector<double> chartBarStartsMs(const TsongParser& chart, int32_t limit) {
    std::vector<double> bars;
    const int32_t rows = std::clamp(chart.entryCount, 0, chartCapacity);
    if (rows == 0 || limit <= 0) return bars;
    const double last = chart.entries[rows - 1].time * 1000.0;
    // The tempo in force is the last row's at or before the bar start (the first row's before
    // any); bar starts only grow, so the row in force only moves on.
    int32_t inForce = 0;
    double bpm = chart.entries[0].bpm;
    for (double at = chart.entries[0].time * 1000.0; at <= last && static_cast<int32_t>(bars.size()) < limit;
         at += chartBarLengthMs(bpm)) {
        while (inForce < rows && chart.entries[inForce].time * 1000.0 <= at) bpm = chart.entries[inForce++].bpm;
        bars.push_back(at);
    }
    return bars;
}
