// How exactly play places beats and judges presses: a generated song of a minute played through
// the window loop, the play tick and the sound engine on the silent clocked output.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/playSession.h"
#include "engine/trellikGL38Engine.h"
#include "platform/audioEngine.h"
#include "platform/audioMixer.h"
#include "platform/audioOutput.h"
#include "platform/soundEngine.h"

namespace {

constexpr double framesPerMs = 44.1;

// The song's audible position as a straight line over the output's own pace:
// position (frames) = intercept + slope * (time - origin), time in ms.
struct TmusicLine {
    double origin = 0.0;
    double intercept = 0.0;
    double slope = 0.0;
    size_t blocks = 0;

    double positionMsAt(double timeMs) const { return (intercept + slope * (timeMs - origin)) / framesPerMs; }
};

// Fitted to every block that took the song's music before the song ended (after it, the song
// starts again from the beginning as the song select preview).
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

// Blocks of the song, before its last one, that got less music than a whole block: the music
// stalled there, and the straight line no longer tells the audible position exactly.
size_t shortMusicBlocks(const std::vector<TblockRecord>& log, double songEndedAt) {
    std::vector<int64_t> taken;
    for (const TblockRecord& block : log) {
        if (block.timeMs >= songEndedAt) break;
        if (block.streamFramesTaken > 0 || !taken.empty()) taken.push_back(block.streamFramesTaken);
    }
    while (!taken.empty() && taken.back() < outputBlockFrames) taken.pop_back();
    return static_cast<size_t>(std::count_if(taken.begin(), taken.end(),
                                             [](int64_t frames) { return frames < outputBlockFrames; }));
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

// A scratch working folder, removed when the object goes.
class TscratchFolder {
public:
    TscratchFolder() {
        char pattern[] = "/tmp/trellik-bench-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "";
        previous = std::filesystem::current_path();
        if (!path.empty()) std::filesystem::current_path(path);
    }
    ~TscratchFolder() {
        std::filesystem::current_path(previous);
        if (!path.empty()) std::filesystem::remove_all(path);
    }
    std::string path;

private:
    std::filesystem::path previous;
};

}  // namespace

int main() {
    TscratchFolder folder;
    Tsounds sounds;
    Tstream music;
    auto game = std::make_unique<TtrellikGL>();
    const LaunchParameters parameters = defaultLaunchParameters("bench");
    for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    game->audio.sounds = &sounds;
    game->audio.music = &music;

    TgeneratedSong song;
    song.seconds = 64.0;
    song.firstRowSeconds = 2.0;
    song.rowSpacingSeconds = 0.25;
    song.rows = 240;
    game->songs.lastIndex = 0;
    game->songs.songs[0].name = song.name;
    if (folder.path.empty() || !writeSongMusic(song, folder.path)) {
        std::fprintf(stderr, "cannot write the generated song\n");
        return 1;
    }
    fillChart(game->chart, song);

    programMixer().startBlockLog(200000);
    const TplaySessionResult result = playSong(*game, true, song.seconds + 30.0);
    const std::vector<TblockRecord> blockLog = programMixer().takeBlockLog();
    const TmusicLine line = fitMusicLine(blockLog, result.endedAt);
    if (!result.ended || line.blocks < 2) {
        std::fprintf(stderr, "the song did not play to its end\n");
        return 1;
    }

    std::vector<double> beatErrors;
    std::vector<double> tickLateness;
    for (const TactivatedRow& row : result.rows) {
        const double placed = game->chart.entries[row.row].time * 1000.0 - 50.0;
        beatErrors.push_back(std::fabs(line.positionMsAt(row.perfectTime) - placed));
        tickLateness.push_back(row.tickLateness);
    }
    std::vector<double> pressErrors;
    for (const TjudgedPress& press : result.presses) pressErrors.push_back(std::fabs(press.difference));

    std::printf("rows %zu, presses %zu, final score %d, music blocks %zu, short music blocks %zu\n",
                result.rows.size(), result.presses.size(), result.finalScore.displayScore(), line.blocks,
                shortMusicBlocks(blockLog, result.endedAt));
    printFigure("beat_placement_error", beatErrors);
    printFigure("press_judging_error", pressErrors);
    // A row's beat moves by twice the lateness of the tick that activates it (once for the
    // music having moved on, once for the offset that carries it), so this explains the tail.
    printFigure("activation_tick_lateness", tickLateness);
    return 0;
}
