// A long evening in one run: the game on the stock pack with the demo content plays every demo
// chart twice in a row through song select, by autoplay, and reports how its memory grew.
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/gameDriver.h"
#include "bench/support/playFigures.h"
#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"

namespace {

constexpr int playsPerChart = 2;
constexpr int songTimeLimitSeconds = 400;
constexpr int pollMs = 250;
// Lets song select's preview and textures settle before memory is read.
constexpr int settleMs = 1000;

// Memory of this process in MiB: resident pages, and what the C heap has handed out and not
// taken back. The second tells a leak from pages the allocator merely keeps for later.
struct TmemoryUse {
    double residentMiB = 0.0;
    double heapInUseMiB = 0.0;
};

TmemoryUse memoryUse() {
    TmemoryUse use;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) use.residentMiB = std::stod(line.substr(6)) / 1024.0;
    const struct mallinfo2 heap = mallinfo2();
    use.heapInUseMiB = static_cast<double>(heap.uordblks + heap.hblkhd) / (1024.0 * 1024.0);
    return use;
}

// What the play tick saw of each song's end: the score as it stood just before the end reset it.
struct TsongEnds {
    std::atomic<int> completed{0};
    std::atomic<int> perfectScores{0};
};

// Counts each song that the play tick ends; runs on the main thread, once song select is there.
void watchSongEnds(TtrellikGL& game, TsongEnds& ends) {
    game.playTick->OnTimer = [&game, &ends](TSVATimer& timer) {
        const int32_t scoreBefore = game.score.displayScore();
        playTickHandler(game);
        if (timer.Enabled()) return;
        ends.completed += 1;
        if (scoreBefore == 900000) ends.perfectScores += 1;
    };
}

// Plays the charts from another thread while the game runs on the main thread.
class TsoakPlayer {
public:
    TsoakPlayer(TtrellikGL& game, TkeyPusher& pusher, std::vector<TdemoChart> charts)
        : game(game), pusher(pusher), menus(game, pusher), charts(std::move(charts)) {}

    void operator()() {
        if (menus.waitForLoading() && menus.enterSongSelect() && onMainThread([&] { watchSongEnds(game, ends); }))
            playEveryChart();
        pusher.scheduleQuit(systemHighResolutionMs());
    }

    TsongEnds ends;
    std::optional<TmemoryUse> afterFirstSong;
    TmemoryUse afterLastSong;
    int attempted = 0;

private:
    void playEveryChart() {
        for (const TdemoChart& chart : charts) {
            for (int play = 0; play < playsPerChart; ++play) {
                attempted += 1;
                if (!playOnce(chart)) {
                    std::fprintf(stderr, "%s difficulty %d did not play to its end\n", chart.song.c_str(),
                                 chart.difficulty);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
                afterLastSong = memoryUse();
                if (!afterFirstSong) afterFirstSong = afterLastSong;
                std::printf("%s difficulty %d: done, %.1f MiB resident, %.1f MiB of heap in use\n", chart.song.c_str(),
                            chart.difficulty, afterLastSong.residentMiB, afterLastSong.heapInUseMiB);
                std::fflush(stdout);
            }
        }
    }

    bool playOnce(const TdemoChart& chart) {
        if (!menus.chooseChart(chart)) return false;
        const int before = ends.completed;
        menus.pressGo();
        for (int waited = 0; waited < songTimeLimitSeconds * 1000; waited += pollMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
            if (ends.completed > before) return true;
        }
        return false;
    }

    TtrellikGL& game;
    TkeyPusher& pusher;
    TmenuDriver menus;
    const std::vector<TdemoChart> charts;
};

}  // namespace

int main() {
    TscratchFolder folder;
    if (folder.path.empty() || !prepareGameFolder(folder.path)) return 1;
    const std::vector<TdemoChart> charts = demoCharts(folder.path + "/sng");
    if (charts.empty()) {
        std::fprintf(stderr, "no playable demo chart\n");
        return 1;
    }

    TautoplayGame soak;
    TkeyPusher pusher;
    TsoakPlayer player(*soak.game, pusher, charts);
    std::thread playing([&player] { player(); });
    runGame(*soak.game, defaultLaunchParameters("bench_soak"));
    playing.join();

    const int songs = player.ends.completed;
    std::printf("%d of %d songs played, %d of them with the full score\n", songs, player.attempted,
                player.ends.perfectScores.load());
    std::printf("figure soak_songs value=%d unit=songs\n", songs);
    if (player.afterFirstSong) {
        const TmemoryUse& first = *player.afterFirstSong;
        const TmemoryUse& last = player.afterLastSong;
        std::printf("figure soak_rss_growth value=%.2f unit=MiB\n", last.residentMiB - first.residentMiB);
        std::printf("figure soak_heap_growth value=%.2f unit=MiB\n", last.heapInUseMiB - first.heapInUseMiB);
    }
    const bool allPlayed = songs == static_cast<int>(charts.size()) * playsPerChart;
    return allPlayed ? 0 : 1;
}
