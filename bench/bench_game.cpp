// The whole game timed: loading the stock pack with the demo songs and skins, then the demo chart
// with the most markers played in a 600 x 600 window, reached through the title keys and song
// select, every marker pressed at its perfect time.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/playFigures.h"
#include "bench/support/playSession.h"
#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/audioEngine.h"
#include "platform/audioMixer.h"
#include "platform/clockSeam.h"
#include "platform/mainThreadCall.h"
#include "platform/soundEngine.h"

namespace {

namespace fs = std::filesystem;

constexpr uint16_t enterKey = 13;
constexpr int goKeyIndex = 15;
constexpr double keyGapMs = 150.0;
constexpr double timeLimitSeconds = 400.0;
const std::string timeTakenLabel = "Time Taken: ";

// The stock pack the build made beside the benchmark programs.
std::string stockPackFolder() {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return "stockpack";
    return (fs::path(std::string(buffer, static_cast<size_t>(length))).parent_path().parent_path() / "stockpack")
        .string();
}

// A game folder as a player has it after the first run: stock files, demo songs and skins.
bool prepareGameFolder(const std::string& pack, const std::string& folder) {
    std::error_code failed;
    for (const char* stock : {"gfx", "snd"})
        fs::copy(pack + "/server/" + stock, folder + "/" + stock, fs::copy_options::recursive, failed);
    fs::copy_file(pack + "/server/font.fnt", folder + "/font.fnt", failed);
    for (const char* demo : {"sng", "MKR"})
        fs::copy(pack + "/demo/" + demo, folder + "/" + demo, fs::copy_options::recursive, failed);
    return !failed;
}

struct TchosenChart {
    std::string song;
    int difficulty = 0;
    int32_t markers = 0;
};

// The demo chart with the most markers, for the most samples.
std::optional<TchosenChart> busiestChart(const std::string& songFolder) {
    std::optional<TchosenChart> best;
    auto chart = std::make_unique<TsongParser>();
    for (const fs::directory_entry& entry : fs::directory_iterator(songFolder)) {
        const std::string stem = entry.path().stem().string();
        if (entry.path().extension() != ".txt" || stem.empty()) continue;
        const char digit = stem.back();
        if (digit < '0' || digit > '2' || !loadChart(*chart, entry.path().string(), false)) continue;
        if (best && chart->markerCount <= best->markers) continue;
        best = TchosenChart{stem.substr(0, stem.size() - 1), digit - '0', chart->markerCount};
    }
    return best;
}

// Runs a call on the game's main thread between frames and waits for it; false when the loop
// did not take it within the time.
bool onMainThread(const std::function<void()>& call) {
    struct Tcall {
        const std::function<void()>* call;
        std::promise<void> done;
    };
    auto posted = std::make_shared<Tcall>();
    posted->call = &call;
    std::future<void> done = posted->done.get_future();
    auto* context = new std::shared_ptr<Tcall>(posted);
    const bool queued = postMainThreadCall(
        [](void* pointer) {
            std::unique_ptr<std::shared_ptr<Tcall>> held(static_cast<std::shared_ptr<Tcall>*>(pointer));
            (*(*held)->call)();
            (*held)->done.set_value();
        },
        context);
    if (!queued) {
        delete context;
        return false;
    }
    return done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
}

// The seconds "Time Taken" reported in the loading log, once it is there.
std::optional<double> loadingSeconds() {
    std::ifstream file("debug.txt", std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t at = log.find(timeTakenLabel);
    if (at == std::string::npos || log.find(" seconds", at) == std::string::npos) return std::nullopt;
    return std::stod(log.substr(at + timeTakenLabel.size()));
}

void pressAt(TkeyPusher& pusher, double atMs, uint16_t key) {
    pusher.schedule(atMs, key, true);
    pusher.schedule(atMs + keyGapMs / 3, key, false);
}

// Plays the part of the player from another thread while the game runs on the main thread.
class Tplayer {
public:
    Tplayer(TtrellikGL& game, const TchosenChart& chart, TsessionWatch& watch)
        : game(game), chart(chart), watch(watch) {}

    void operator()() {
        if (!waitForLoading() || !enterSongSelect()) {
            watch.pusher.scheduleQuit(systemHighResolutionMs());
            return;
        }
        chooseSongAndDifficulty();
        startTheSong();
        watch.pusher.scheduleQuit(systemHighResolutionMs() + timeLimitSeconds * 1000.0);
    }

    std::optional<double> loadingTime;

private:
    bool waitForLoading() {
        for (int poll = 0; poll < 3000 && !loadingTime; ++poll) {
            loadingTime = loadingSeconds();
            if (!loadingTime) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return loadingTime.has_value();
    }

    // Enter is ignored until the logo shows, so it is pressed until song select has begun.
    bool enterSongSelect() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            bool inSongSelect = false;
            if (!onMainThread([&] { inSongSelect = game.wheelTimer != nullptr; })) return false;
            if (inSongSelect) return true;
            pressAt(watch.pusher, systemHighResolutionMs(), enterKey);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return false;
    }

    uint16_t keyOf(int keyIndex) const { return static_cast<uint16_t>(game.launch.keys[keyIndex]); }

    // The song by its panel, then its jacket again until the difficulty comes round (2 -> 0 -> 1).
    void chooseSongAndDifficulty() {
        int32_t songIndex = 0;
        onMainThread([&] {
            for (int32_t i = 0; i <= getLastIndex(game.songs); ++i)
                if (getSongName(game.songs, i) == chart.song) songIndex = i;
        });
        const int songKey = 4 * (songIndex % 3) + songIndex / 3;
        int presses = (chart.difficulty + 1) % 3 + (songIndex != 0 ? 1 : 0);
        double at = systemHighResolutionMs();
        for (; presses > 0; --presses, at += keyGapMs) pressAt(watch.pusher, at, keyOf(songKey));
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(at - systemHighResolutionMs()) + 300));
    }

    // GO goes to the song select key handler on the main thread, as its key event would, so the
    // watch is in place before the song start scene's first frame.
    void startTheSong() {
        onMainThread([&] {
            programMixer().startBlockLog(400000);
            game.window->onKeyDown(keyOf(goKeyIndex));
            attachSessionWatch(watch);
        });
    }

    TtrellikGL& game;
    const TchosenChart& chart;
    TsessionWatch& watch;
};

}  // namespace

int main() {
    const std::string pack = stockPackFolder();
    if (!fs::is_directory(pack + "/server") || !fs::is_directory(pack + "/demo")) {
        std::fprintf(stderr, "no stock pack in %s\n", pack.c_str());
        return 1;
    }
    TscratchFolder folder;
    if (folder.path.empty() || !prepareGameFolder(pack, folder.path)) {
        std::fprintf(stderr, "cannot prepare a game folder\n");
        return 1;
    }
    const std::optional<TchosenChart> chart = busiestChart(folder.path + "/sng");
    if (!chart) {
        std::fprintf(stderr, "no playable demo chart\n");
        return 1;
    }

    Tsounds sounds;
    Tstream music;
    auto game = std::make_unique<TtrellikGL>();
    game->audio.sounds = &sounds;
    game->audio.music = &music;
    TkeyPusher pusher;
    TplaySessionResult result;
    TsessionWatch watch{*game, pusher, true, result};
    Tplayer player(*game, *chart, watch);
    std::thread playing([&player] { player(); });
    runGame(*game, defaultLaunchParameters("bench_game"));
    playing.join();
    // The timers' workers must stop before the handlers they call lose their state.
    delete game->playTick;
    game->playTick = nullptr;
    delete game->wheelTimer;
    game->wheelTimer = nullptr;

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
    std::printf("figure loading_time value=%.3g unit=s\n", *player.loadingTime);
    std::printf("figure play_fps value=%.1f unit=fps\n", result.musicFrames / (result.musicMs / 1000.0));
    printFigure("game_beat_placement_error", beatPlacementErrors(game->chart, result, line));
    printFigure("game_press_judging_error", pressJudgingErrors(result));
    printFigure("game_activation_tick_lateness", activationTickLateness(result));
    return 0;
}
