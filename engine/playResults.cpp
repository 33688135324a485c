// The results figures: counts, early and late, mean, median and spread, and the histogram.
#include "engine/playResults.h"

#include <algorithm>
#include <cmath>

#include "engine/trellikGL38Engine.h"

namespace {

// Whole ms a press must be off the beat by to count as early or late.
constexpr double onTheBeatMs = 0.5;

double middleOfSorted(const std::vector<double>& sorted) {
    const size_t half = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2.0;
}

void addMeanAndDeviation(TplayResults& results, const std::vector<double>& offsets) {
    if (offsets.empty()) return;
    double sum = 0.0;
    for (const double offset : offsets) sum += offset;
    results.meanMs = sum / offsets.size();
    double squares = 0.0;
    for (const double offset : offsets) squares += (offset - results.meanMs) * (offset - results.meanMs);
    results.deviationMs = std::sqrt(squares / offsets.size());
}

}  // namespace

TspreadFigures medianAndSpread(std::vector<double> values) {
    TspreadFigures figures;
    if (values.empty()) return figures;
    std::sort(values.begin(), values.end());
    figures.median = middleOfSorted(values);
    for (double& value : values) value = std::fabs(value - figures.median);
    std::sort(values.begin(), values.end());
    figures.medianDeviation = middleOfSorted(values);
    return figures;
}

int32_t histogramBinOf(double offsetMs) {
    if (offsetMs < histogramLowMs || offsetMs > histogramLowMs + histogramBins * histogramBinMs) return -1;
    const auto bin = static_cast<int32_t>(std::floor((offsetMs - histogramLowMs) / histogramBinMs));
    return std::min(bin, histogramBins - 1);
}

TplayResults playResultsOf(const ScoreControl& score, const std::vector<TpressRecord>& presses) {
    TplayResults results;
    results.score = score.displayScore();
    results.maxCombo = score.maxCombo;
    results.perfect = score.counters[perfect];
    results.great = score.counters[great];
    results.good = score.counters[good];
    results.bad = score.counters[bad];
    results.miss = score.counters[missScored];
    std::vector<double> offsets;
    for (const TpressRecord& press : presses) {
        if (press.judgement == missScored) continue;
        offsets.push_back(press.offsetMs);
        if (press.offsetMs <= -onTheBeatMs) results.early += 1;
        if (press.offsetMs >= onTheBeatMs) results.late += 1;
        const int32_t bin = histogramBinOf(press.offsetMs);
        if (bin >= 0) results.histogram[bin] += 1;
    }
    results.pressCount = static_cast<int32_t>(offsets.size());
    addMeanAndDeviation(results, offsets);
    const TspreadFigures spread = medianAndSpread(offsets);
    results.medianMs = spread.median;
    results.medianDeviationMs = spread.medianDeviation;
    return results;
}

int32_t suggestedOffsetChange(const TplayResults& results) {
    if (results.pressCount == 0 || std::fabs(results.medianMs) <= suggestionThresholdMs) return 0;
    return static_cast<int32_t>(std::lround(results.medianMs));
}

std::string suggestionLine(int32_t change, int32_t keyNumber) {
    if (change == 0) return "";
    const std::string size = std::to_string(std::abs(change));
    const char* direction = change > 0 ? " ms late" : " ms early";
    std::string line = "Presses were ";
    line.append(size).append(direction).append(" on average \xE2\x80\x94 press key ");
    line.append(std::to_string(keyNumber)).append(" to add it to the audio offset");
    return line;
}
