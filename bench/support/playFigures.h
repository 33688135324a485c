// The timing figures of play: the song's audible line from the mixer's block log, percentiles,
// the figure lines, and a scratch working folder for the benchmarks that play songs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/playSession.h"
#include "platform/sound/audioMixer.h"

// The song's audible position as a straight line over the output's own pace:
// position (frames) = intercept + slope * (time - origin), time in ms.
struct TmusicLine {
    double origin = 0.0;
    double intercept = 0.0;
    double slope = 0.0;
    size_t blocks = 0;

    double positionMsAt(double timeMs) const;
};

// Fitted to every block that took the song's music before the song ended (after it, the song
// starts again from the beginning as the song select preview).
TmusicLine fitMusicLine(const std::vector<TblockRecord>& log, double songEndedAt);

// Blocks of the song, before its last one, that got less music than a whole block: the music
// stalled there, and the straight line no longer tells the audible position exactly.
size_t shortMusicBlocks(const std::vector<TblockRecord>& log, double songEndedAt);

double percentile(std::vector<double> values, double share);

// Prints "figure NAME p50=.. p99=.. max=.. unit=ms" for the absolute errors.
void printFigure(const char* name, const std::vector<double>& absoluteErrors);

// How far from its beat each activated row was placed: the song's audible position at the row's
// perfect time against the row's time less the 50 ms by which an on-time activation leads it.
std::vector<double> beatPlacementErrors(const TsongParser& chart, const TplaySessionResult& result,
                                        const TmusicLine& line);
// The same against any audible position (ms) at a moment of the high-resolution clock.
std::vector<double> beatPlacementErrors(const TsongParser& chart, const TplaySessionResult& result,
                                        const std::function<double(double)>& audibleMsAt);
// How far each press was judged from when it was really pressed: for a press sent through the
// X server, the judgement's press time against the moment it left; for autoplay's, which go at
// their marker's perfect time, the clock after judging against that time.
std::vector<double> pressJudgingErrors(const TplaySessionResult& result);
// Whether TRELLIK_PRESS_TIME=dispatch has the game time presses as it handles them.
bool pressesTimedAtDispatch();
// A press figure's name, with "_dispatch" added when presses are timed at dispatch, so the
// figures of both runs stand side by side.
std::string pressFigureName(const std::string& name);
// How late the play tick that activated each row ran.
std::vector<double> activationTickLateness(const TplaySessionResult& result);

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
