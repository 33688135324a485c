// Fitting the song's line, percentiles and the figure lines of the play benchmarks.
#include "bench/support/playFigures.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sound/audioOutput.h"

namespace {

constexpr double framesPerMs = 44.1;

}  // namespace

double TmusicLine::positionMsAt(double timeMs) const {
    return (intercept + slope * (timeMs - origin)) / framesPerMs;
}

TmusicLine fitMusicLine(const std::vector<TblockRecord>& log, double songEndedAt) {
    std::vector<const TblockRecord*> used;
    for (const TblockRecord& block : log)
        if (block.streamFrame >= 0 && block.streamFramesTaken > 0 && block.timeMs < songEndedAt) used.push_back(&block);
    TmusicLine line;
    line.blocks = used.size();
    if (used.size() < 2) return line;
    double sumT = 0, sumF = 0;
    for (const TblockRecord* block : used) {
        sumT += block->timeMs;
        sumF += static_cast<double>(block->streamFrame);
    }
    const double n = static_cast<double>(used.size());
    line.origin = sumT / n;
    const double meanF = sumF / n;
    double sumTT = 0, sumTF = 0;
    for (const TblockRecord* block : used) {
        const double t = block->timeMs - line.origin;
        sumTT += t * t;
        sumTF += t * (static_cast<double>(block->streamFrame) - meanF);
    }
    line.slope = sumTF / sumTT;
    line.intercept = meanF;
    return line;
}

size_t shortMusicBlocks(const std::vector<TblockRecord>& log, double songEndedAt) {
    std::vector<int64_t> taken;
    for (const TblockRecord& block : log) {
        if (block.timeMs >= songEndedAt) break;
        if (block.streamFramesTaken > 0 || !taken.empty()) taken.push_back(block.streamFramesTaken);
    }
    while (!taken.empty() && taken.back() < outputBlockFrames) taken.pop_back();
    return static_cast<size_t>(
        std::count_if(taken.begin(), taken.end(), [](int64_t frames) { return frames < outputBlockFrames; }));
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
    return beatPlacementErrors(chart, result, [&line](double timeMs) { return line.positionMsAt(timeMs); });
}

std::vector<double> beatPlacementErrors(const TsongParser& chart, const TplaySessionResult& result,
                                        const std::function<double(double)>& audibleMsAt) {
    std::vector<double> errors;
    for (const TactivatedRow& row : result.rows) {
        const double placed = chart.entries[row.row].time * 1000.0 - 50.0;
        errors.push_back(std::fabs(audibleMsAt(row.perfectTime) - placed));
    }
    return errors;
}

std::vector<double> pressJudgingErrors(const TplaySessionResult& result) {
    std::vector<double> errors;
    for (const TjudgedPress& press : result.presses)
        errors.push_back(press.sentMs ? std::fabs(press.judgedAtMs - *press.sentMs) : std::fabs(press.difference));
    return errors;
}

bool pressesTimedAtDispatch() {
    const char* setting = std::getenv("TRELLIK_PRESS_TIME");
    return setting && std::strcmp(setting, "dispatch") == 0;
}

std::string pressFigureName(const std::string& name) {
    return pressesTimedAtDispatch() ? name + "_dispatch" : name;
}

std::vector<double> activationTickLateness(const TplaySessionResult& result) {
    std::vector<double> lateness;
    for (const TactivatedRow& row : result.rows) lateness.push_back(row.tickLateness);
    return lateness;
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
