// The timing figures of play: the music's audible line from the mixer's block log, percentiles,
// the figure lines, and a scratch working folder for the benchmarks that play songs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/playSession.h"
#include "platform/audioMixer.h"

// The music's audible position as a straight line over the output's own pace:
// position (frames) = intercept + slope * time (ms), fitted to every block that took music.
struct TmusicLine {
    double intercept = 0.0;
    double slope = 0.0;
    size_t blocks = 0;

    double positionMsAt(double timeMs) const;
};

TmusicLine fitMusicLine(const std::vector<TblockRecord>& log);

double percentile(std::vector<double> values, double share);

// Prints "figure NAME p50=.. p99=.. max=.. unit=ms" for the absolute errors.
void printFigure(const char* name, const std::vector<double>& absoluteErrors);

// How far from its beat each activated row was placed: the music's audible position at the row's
// perfect time against the row's time less the 50 ms by which an on-time activation leads it.
std::vector<double> beatPlacementErrors(const TsongParser& chart, const TplaySessionResult& result,
                                        const TmusicLine& line);
// How late each press was judged after the moment it was sent (at its marker's perfect time).
std::vector<double> pressJudgingErrors(const TplaySessionResult& result);

// A scratch working folder, removed when the object goes.
class TscratchFolder {
public:
    TscratchFolder();
    ~TscratchFolder();
    TscratchFolder(const TscratchFolder&) = delete;
    TscratchFolder& operator=(const TscratchFolder&) = delete;

    std::string path;

private:
    std::filesystem::path previous;
};
