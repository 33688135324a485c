// The whole game timed: loading the stock pack with the demo songs and skins, then the demo chart
// with the most markers played in a 600 x 600 window, reached through the title keys and song
// select, every marker's key pressed through the X server at its perfect time. With
// TRELLIK_BENCH_SERVER=1 the game plays on the sound server instead of the silent output, and its
// beats are measured against what the server's monitor recorded. Under TRELLIK_PRESS_TIME=dispatch
// only the press figure is printed, named with "_dispatch". With TRELLIK_BENCH_CALM=1 Mesa's
// software renderer is held to one thread and the game runs below the X server's priority, so the
// press figure shows what is left of the press delay once the X server is not starved of a core.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/gameDriver.h"
#include "bench/support/playFigures.h"
#include "bench/support/playSession.h"
#include "bench/support/soundCapture.h"
#include "bench/support/xTestPresser.h"
#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/sound/audioDecoder.h"
#include "platform/sound/audioEngine.h"
#include "platform/sound/audioMixer.h"
#include "platform/clockSeam.h"
#include "platform/sound/soundEngine.h"

namespace {

constexpr int goKeyIndex = 15;
constexpr double timeLimitSeconds = 400.0;
// Fewer stretches of the recording matching the song than this means it did not record the song.
constexpr size_t minimumMatches = 20;

// The demo chart with the most markers, for the most samples.
std::optional<TdemoChart> busiestChart(const std::string& songFolder) {
    std::optional<TdemoChart> best;
    for (const TdemoChart& chart : demoCharts(songFolder))
        if (!best || chart.markers > best->markers) best = chart;
    return best;
}

// Plays the part of the player from another thread while the game runs on the main thread.
class Tplayer {
public:
    Tplayer(TtrellikGL& game, const TdemoChart& chart, TsessionWatch& watch)
        : game(game), chart(chart), watch(watch), menus(game, watch.pusher) {}

    void operator()() {
        loadingTime = menus.waitForLoading();
        if (!loadingTime || !menus.enterSongSelect() || !menus.chooseChart(chart)) {
            watch.pusher.scheduleQuit(systemHighResolutionMs());
            return;
        }
        startTheSong();
        watch.pusher.scheduleQuit(systemHighResolutionMs() + timeLimitSeconds * 1000.0);
    }

    std::optional<double> loadingTime;

private:
    // GO goes to the song select key handler on the main thread, as its key event would, so the
    // watch is in place before the song start scene's first frame.
    void startTheSong() {
        onMainThread([&] {
            programMixer().startBlockLog(400000);
            game.window->onKeyDown(static_cast<uint16_t>(game.launch.keys[goKeyIndex]), systemHighResolutionMs());
            attachSessionWatch(watch);
        });
    }

    TtrellikGL& game;
    const TdemoChart& chart;
    TsessionWatch& watch;
    TmenuDriver menus;
};

bool environmentFlag(const char* name) {
    const char* setting = std::getenv(name);
    return setting && std::strcmp(setting, "1") == 0;
}

bool onSoundServer() { return environmentFlag("TRELLIK_BENCH_SERVER"); }

bool calmRun() { return environmentFlag("TRELLIK_BENCH_CALM"); }

// A niceness the X server (at 0) outranks clearly, yet the game still gets its frames.
constexpr int calmGameNiceness = 10;

// Must run before any thread starts: Linux keeps a niceness per thread and new threads inherit it.
bool calmTheGame() {
    setenv("LP_NUM_THREADS", "1", 1);
    if (setpriority(PRIO_PROCESS, 0, calmGameNiceness) != 0) return false;
    std::printf("calm pass: Mesa's renderer held to one thread (LP_NUM_THREADS=1), the game at niceness %d "
                "below the X server\n", calmGameNiceness);
    return true;
}

std::string pressFigure(const char* name) {
    std::string figure = pressFigureName(name);
    return calmRun() ? figure + "_calm" : figure;
}

// The song's music as the engine decodes it, left channel.
std::vector<int16_t> songMusic(const std::string& song) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile("sng/" + song + ".mp3", bytes)) return {};
    return leftChannel(decodeWholeMp3(std::move(bytes), size_t{3600} * audioRate));
}

// The music handed to the output by a moment (ms of the high-resolution clock), from the blocks.
double handedOverMsAt(const std::vector<TblockRecord>& blockLog, double timeMs) {
    const auto after = std::upper_bound(blockLog.begin(), blockLog.end(), timeMs,
                                        [](double ms, const TblockRecord& block) { return ms < block.timeMs; });
    for (auto block = after; block != blockLog.begin();) {
        --block;
        if (block->streamFrame >= 0) return static_cast<double>(block->streamFrame + block->streamFramesTaken) * 1000.0 / audioRate;
    }
    return 0.0;
}

// The song as the server played it: the recording matched against the song's music where it can
// be, behind what had been handed over by at most the output's latency and a stall.
std::vector<TheardPoint> heardSong(const TsoundCapture& capture, const std::string& song, const TplaySessionResult& result,
                                   const std::vector<TblockRecord>& blockLog, double latencyMs) {
    TmusicSearch search;
    search.fromMs = result.endedAt - result.musicMs;
    search.toMs = result.endedAt;
    search.backMs += std::max(0.0, latencyMs);
    search.guessMusicMs = [&blockLog](double heardMs) { return handedOverMsAt(blockLog, heardMs); };
    const std::vector<TheardPoint> points =
        alignWithMusic(capture.samples(), capture.frameTimes(), songMusic(song), search);
    std::printf("server: %zu stretches of the recording matched the song\n", points.size());
    return points;
}

// The server pass's figures, under names of their own; 1 when the run was not on the server or
// its recording does not match the song.
int reportOnServer(TsoundCapture& capture, const std::string& song, const TsongParser& chart,
                   const TplaySessionResult& result, const std::vector<TblockRecord>& blockLog) {
    capture.stop();
    const ToutputReport report = programOutputReport();
    std::printf("%s\n", report.line.c_str());
    if (report.silent || report.estimated) {
        std::fprintf(stderr, "the output is not the sound server's\n");
        return 1;
    }
    const std::vector<TheardPoint> points = heardSong(capture, song, result, blockLog, report.latencyMs);
    if (points.size() < minimumMatches) {
        std::fprintf(stderr, "the recording does not match the song\n");
        return 1;
    }
    const TheardMusic heard(points);
    TplaySessionResult steadyRows = result;
    std::erase_if(steadyRows.rows, [&heard](const TactivatedRow& row) { return !heard.steadyAt(row.perfectTime); });
    std::printf("server: %zu of %zu rows placed where the output ran steadily\n", steadyRows.rows.size(),
                result.rows.size());
    printFigure("game_beat_placement_error_server",
                beatPlacementErrors(chart, steadyRows, [&heard](double timeMs) { return heard.musicMsAt(timeMs); }));
    printFigure(pressFigureName("game_press_judging_error_server").c_str(), pressJudgingErrors(result));
    std::printf("figure game_output_underruns_server value=%lld unit=count\n", static_cast<long long>(report.underruns));
    return 0;
}

}  // namespace

int main() {
    if (calmRun() && !calmTheGame()) {
        std::fprintf(stderr, "cannot lower the game's priority below the X server's\n");
        return 1;
    }
    const bool server = onSoundServer();
    if (server) setenv("TRELLIK_AUDIO", "pulse", 1);
    TscratchFolder folder;
    if (folder.path.empty() || !prepareGameFolder(folder.path)) return 1;
    const std::optional<TdemoChart> chart = busiestChart(folder.path + "/sng");
    if (!chart) {
        std::fprintf(stderr, "no playable demo chart\n");
        return 1;
    }

    TsoundCapture capture;
    std::string error;
    if (server && !capture.start(error)) {
        std::fprintf(stderr, "cannot record the sound server: %s\n", error.c_str());
        return 1;
    }
    TxTestPresser presser;
    if (!presser.ready()) {
        std::fprintf(stderr, "cannot press keys through the X server\n");
        return 1;
    }
    TautoplayGame played;
    TtrellikGL& game = *played.game;
    // The X server's presses play the song instead.
    game.autoplay.reset();
    TkeyPusher pusher;
    TplaySessionResult result;
    TsessionWatch watch{game, pusher, result};
    watch.presser = &presser;
    Tplayer player(game, *chart, watch);
    std::thread playing([&player] { player(); });
    runGame(game, defaultLaunchParameters("bench_game"));
    playing.join();
    finishSessionWatch(watch);

    const std::vector<TblockRecord> blockLog = programMixer().takeBlockLog();
    const TmusicLine line = fitMusicLine(blockLog, result.endedAt);
    if (!player.loadingTime || !result.ended || line.blocks < 2 || result.musicMs <= 0.0) {
        std::fprintf(stderr, "the game did not load and play the song to its end\n");
        return 1;
    }
    std::printf("%s difficulty %d: %d markers, rows %zu, presses %zu, final score %d, %llu frames, "
                "short music blocks %zu\n",
                chart->song.c_str(), chart->difficulty, chart->markers, result.rows.size(), result.presses.size(),
                result.finalScore.displayScore(), static_cast<unsigned long long>(result.musicFrames),
                shortMusicBlocks(blockLog, result.endedAt));
    if (server) return reportOnServer(capture, chart->song, game.chart, result, blockLog);
    printFigure(pressFigure("game_press_judging_error").c_str(), pressJudgingErrors(result));
    if (pressesTimedAtDispatch() || calmRun()) return 0;
    std::printf("figure loading_time value=%.3g unit=s\n", *player.loadingTime);
    std::printf("figure play_fps value=%.1f unit=fps\n", result.musicFrames / (result.musicMs / 1000.0));
    printFigure("game_beat_placement_error", beatPlacementErrors(game.chart, result, line));
    printFigure("game_activation_tick_lateness", activationTickLateness(result));
    return 0;
}
