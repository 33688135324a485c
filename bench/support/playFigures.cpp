// Fitting the music line, percentiles and figure lines of the play benchmarks.
#include "bench/support/playFigures.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double framesPerMs = 44.1;

}  // namespace

double TmusicLine::positionMsAt(double timeMs) const {
    return (intercept + slope * timeMs) / framesPerMs;
}

TmusicLine fitMusicLine(const std::vector<TblockRecord>& log) {
    double sumT = 0, sumF = 0, sumTT = 0, sumTF = 0;
    TmusicLine line;
    for (const TblockRecord& block : log) {
        if (block.streamFrame < 0 || block.streamFramesTaken == 0) continue;
        const double t = block.timeMs;
        const double f = static_cast<double>(block.streamFrame);
        sumT += t;
        sumF += f;
        sumTT += t * t;
        sumTF += t * f;
        ++line.blocks;
    }
    const double n = static_cast<double>(line.blocks);
    if (line.blocks < 2) return line;
    const double meanT = sumT / n;
    line.slope = (sumTF - n * meanT * (sumF / n)) / (sumTT - n * meanT * meanT);
    line.intercept = sumF / n - line.slope * meanT;
    return line;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size() - 1)));
    return values[index];
}

void printFigure(const char* name, const std::vector<double>& absoluteErrors) {
    std::printf("figure %s p50=%.3f p99=%.3f max=%.3f unit=ms\n", name, percentile(absoluteErrors, 0.5),
                percentile(absoluteErrors, 0.99), percentile(absoluteErrors, 1.0));
}

std::vector<double> beatPlacementErrors(const TsongParser& chart, const TplaySessionResult& result,
                                        const TmusicLine& line) {
    std::vector<double> errors;
    for (const TactivatedRow& row : result.rows) {
        const double placed = chart.entries[row.row].time * 1000.0 - 50.0;
        errors.push_back(std::fabs(line.positionMsAt(row.perfectTime) - placed));
    }
    return errors;
}

std::vector<double> pressJudgingErrors(const TplaySessionResult& result) {
    std::vector<double> errors;
    for (const TjudgedPress& press : result.presses) errors.push_back(std::fabs(press.difference));
    return errors;
}

TscratchFolder::TscratchFolder() {
    char pattern[] = "/tmp/trellik-bench-XXXXXX";
    path = mkdtemp(pattern) ? pattern : "";
    previous = std::filesystem::current_path();
    if (!path.empty()) std::filesystem::current_path(path);
}

TscratchFolder::~TscratchFolder() {
    std::filesystem::current_path(previous);
    if (!path.empty()) std::filesystem::remove_all(path);
}
