// The whole game played by mouse: the stock pack loaded, the demo chart with the most markers
// chosen, and every marker clicked through the X server (XTest) at its perfect time on its panel.
// Prints the final score and how far each click was judged from the moment it left. With
// TRELLIK_BENCH_CALM=1 Mesa's renderer is held to one thread and the game runs below the X
// server's priority (as bench_game's calm pass), and the figures end in _calm: on a loaded machine
// the X server stamps a click only when it gets a core, and that delay is no part of the game's.
#include <SDL.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "bench/support/gameDriver.h"
#include "bench/support/playFigures.h"
#include "bench/support/playSession.h"
#include "bench/support/xTestPresser.h"
#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"
#include "platform/input/pointerPresses.h"

namespace {

constexpr int goKeyIndex = 15;
constexpr double timeLimitSeconds = 400.0;

std::optional<TdemoChart> busiestChart(const std::string& songFolder) {
    std::optional<TdemoChart> best;
    for (const TdemoChart& chart : demoCharts(songFolder))
        if (!best || chart.markers > best->markers) best = chart;
    return best;
}

// Where on the screen each panel key's panel shows now; runs on the main thread.
std::map<uint16_t, std::pair<int, int>> panelSpots(const TtrellikGL& game) {
    int32_t width = 0, height = 0;
    windowClientSize(width, height);
    int left = 0, top = 0;
    SDL_GetWindowPosition(game.window->getWindowHandle(), &left, &top);
    const TpanelGrid grid = panelGridOf(game, width, height);
    std::map<uint16_t, std::pair<int, int>> spots;
    for (int keyIndex = 0; keyIndex < 16; ++keyIndex) {
        const int32_t panel = transposeIndex(keyIndex);
        double x = 0.0, y = 0.0;
        windowPointOf(grid, grid.centreX[panel], grid.centreY[panel], x, y);
        const auto key = static_cast<uint16_t>(game.launch.keys[keyIndex] & 0xFFFF);
        spots[key] = {left + static_cast<int>(x), top + static_cast<int>(y)};
    }
    return spots;
}

// The player: the menus by keys from another thread, then the song by clicks.
void play(TtrellikGL& game, const TdemoChart& chart, TsessionWatch& watch, bool& loaded) {
    TmenuDriver menus(game, watch.pusher);
    loaded = menus.waitForLoading().has_value();
    if (!loaded || !menus.enterSongSelect() || !menus.chooseChart(chart)) {
        watch.pusher.scheduleQuit(systemHighResolutionMs());
        return;
    }
    onMainThread([&] {
        watch.presser->clickInstead(panelSpots(game));
        game.window->onKeyDown(static_cast<uint16_t>(game.launch.keys[goKeyIndex]), systemHighResolutionMs());
        attachSessionWatch(watch);
    });
    watch.pusher.scheduleQuit(systemHighResolutionMs() + timeLimitSeconds * 1000.0);
}

bool calmRun() {
    const char* setting = std::getenv("TRELLIK_BENCH_CALM");
    return setting && std::string(setting) == "1";
}

// Must run before any thread starts: new threads inherit the niceness.
bool calmTheGame() {
    constexpr int calmGameNiceness = 10;
    setenv("LP_NUM_THREADS", "1", 1);
    return setpriority(PRIO_PROCESS, 0, calmGameNiceness) == 0;
}

std::string figureName(const char* name) {
    const std::string figure = pressFigureName(name);
    return calmRun() ? figure + "_calm" : figure;
}

}  // namespace

int main() {
    if (calmRun() && !calmTheGame()) {
        std::fprintf(stderr, "cannot lower the game's priority below the X server's\n");
        return 1;
    }
    TscratchFolder folder;
    if (folder.path.empty() || !prepareGameFolder(folder.path)) return 1;
    const std::optional<TdemoChart> chart = busiestChart(folder.path + "/sng");
    if (!chart) {
        std::fprintf(stderr, "no playable demo chart\n");
        return 1;
    }
    TxTestPresser presser;
    if (!presser.ready()) {
        std::fprintf(stderr, "cannot click through the X server\n");
        return 1;
    }
    TautoplayGame played;
    TtrellikGL& game = *played.game;
    game.autoplay.reset();
    TkeyPusher pusher;
    TplaySessionResult result;
    TsessionWatch watch{game, pusher, result};
    watch.presser = &presser;
    bool loaded = false;
    std::thread playing([&] { play(game, *chart, watch, loaded); });
    runGame(game, defaultLaunchParameters("bench_pointer"));
    playing.join();
    finishSessionWatch(watch);
    if (!loaded || !result.ended) {
        std::fprintf(stderr, "the game did not load and play the song to its end\n");
        return 1;
    }
    std::printf("%s difficulty %d by mouse clicks: %d markers, rows %zu, presses %zu, final score %d\n",
                chart->song.c_str(), chart->difficulty, chart->markers, result.rows.size(), result.presses.size(),
                result.finalScore.displayScore());
    int32_t judged[missScored + 1] = {};
    for (const TpressRecord& record : game.play.presses) judged[std::min<int>(record.judgement, missScored)] += 1;
    std::printf("judgements: %d perfect, %d great, %d good, %d bad, %d missed\n", judged[perfect], judged[great],
                judged[good], judged[bad], judged[miss] + judged[missScored]);
    std::printf("figure %s value=%d unit=points\n", figureName("click_play_score").c_str(),
                result.finalScore.displayScore());
    printFigure(figureName("click_press_judging_error").c_str(), pressJudgingErrors(result));
    return 0;
}
