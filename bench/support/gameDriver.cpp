// Game folders from the stock pack and key presses that walk the menus.
#include "bench/support/gameDriver.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <thread>

#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"
#include "platform/window/glCustomCommandsCode.h"
#include "platform/window/mainThreadCall.h"

namespace {

namespace fs = std::filesystem;

constexpr uint16_t enterKey = 13;
constexpr int goKeyIndex = 15;
constexpr double keyHoldMs = 50.0;
// Long enough for the wheel and the preview to follow a press before the next.
constexpr int settleMs = 200;
const std::string timeTakenLabel = "Time Taken: ";

// The seconds "Time Taken" reported in the loading log, once it is there.
std::optional<double> loadingSeconds() {
    std::ifstream file("debug.txt", std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t at = log.find(timeTakenLabel);
    if (at == std::string::npos || log.find(" seconds", at) == std::string::npos) return std::nullopt;
    return std::stod(log.substr(at + timeTakenLabel.size()));
}

// The jacket key of a song while the wheel stands at its start: three rows, column by column.
int jacketKeyOf(int32_t song) {
    return 4 * (song % 3) + song / 3;
}

}  // namespace

std::string stockPackFolder() {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return "stockpack";
    const fs::path program(std::string(buffer, static_cast<size_t>(length)));
    return (program.parent_path().parent_path() / "stockpack").string();
}

bool prepareGameFolder(const std::string& folder) {
    const std::string pack = stockPackFolder();
    if (!fs::is_directory(pack + "/server") || !fs::is_directory(pack + "/demo")) {
        std::fprintf(stderr, "no stock pack in %s\n", pack.c_str());
        return false;
    }
    std::error_code failed;
    for (const char* stock : {"gfx", "snd"})
        fs::copy(pack + "/server/" + stock, folder + "/" + stock, fs::copy_options::recursive, failed);
    fs::copy_file(pack + "/server/font.fnt", folder + "/font.fnt", failed);
    for (const char* demo : {"sng", "MKR"})
        fs::copy(pack + "/demo/" + demo, folder + "/" + demo, fs::copy_options::recursive, failed);
    if (failed) std::fprintf(stderr, "cannot prepare a game folder in %s: %s\n", folder.c_str(), failed.message().c_str());
    return !failed;
}

TautoplayGame::TautoplayGame() : game(std::make_unique<TtrellikGL>()) {
    game->audio.sounds = &sounds;
    game->audio.music = &music;
    game->autoplay = std::make_unique<TkeyPusher>();
}

TautoplayGame::~TautoplayGame() {
    delete game->playTick;
    game->playTick = nullptr;
    delete game->wheelTimer;
    game->wheelTimer = nullptr;
}

std::vector<TdemoChart> demoCharts(const std::string& songFolder) {
    std::vector<TdemoChart> charts;
    auto chart = std::make_unique<TsongParser>();
    std::error_code failed;
    for (const fs::directory_entry& entry : fs::directory_iterator(songFolder, failed)) {
        const std::string stem = entry.path().stem().string();
        if (entry.path().extension() != ".txt" || stem.size() < 2) continue;
        const char digit = stem.back();
        if (digit < '0' || digit > '2' || !loadChart(*chart, entry.path().string(), false)) continue;
        charts.push_back({stem.substr(0, stem.size() - 1), digit - '0', chart->markerCount});
    }
    std::sort(charts.begin(), charts.end(), [](const TdemoChart& a, const TdemoChart& b) {
        return a.song != b.song ? a.song < b.song : a.difficulty < b.difficulty;
    });
    return charts;
}

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

std::optional<double> TmenuDriver::waitForLoading() {
    for (int poll = 0; poll < 3000; ++poll) {
        if (const std::optional<double> seconds = loadingSeconds()) return seconds;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return std::nullopt;
}

// Enter is ignored until the logo shows, so it is pressed until song select has begun.
bool TmenuDriver::enterSongSelect() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        bool inSongSelect = false;
        if (!onMainThread([&] { inSongSelect = game.wheelTimer != nullptr; })) return false;
        if (inSongSelect) return true;
        pusher.schedulePress(systemHighResolutionMs(), enterKey, keyHoldMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
}

void TmenuDriver::pressKey(int keyIndex) {
    pusher.schedulePress(systemHighResolutionMs(), keyOf(keyIndex), keyHoldMs);
}

void TmenuDriver::pressAndSettle(int keyIndex) {
    pressKey(keyIndex);
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
}

bool TmenuDriver::chosen(int32_t song, int difficulty, bool& matches) {
    return onMainThread([&] {
        matches = game.menu.selectedSong == song && colourIndex(game.window->customCommands) == difficulty;
    });
}

// The song by its jacket, then the jacket again until the difficulty comes round (2 -> 0 -> 1).
bool TmenuDriver::chooseChart(const TdemoChart& chart) {
    int32_t song = -1;
    int32_t selected = 0;
    int difficulty = 0;
    const bool read = onMainThread([&] {
        for (int32_t i = 0; i <= getLastIndex(game.songs); ++i)
            if (getSongName(game.songs, i) == chart.song) song = i;
        selected = game.menu.selectedSong;
        difficulty = colourIndex(game.window->customCommands);
    });
    if (!read || song < 0 || song >= 12) return false;
    if (song != selected) pressAndSettle(jacketKeyOf(song));
    for (int cycle = (chart.difficulty - difficulty + 3) % 3; cycle > 0; --cycle) pressAndSettle(jacketKeyOf(song));
    bool matches = false;
    return chosen(song, chart.difficulty, matches) && matches;
}

void TmenuDriver::pressGo() {
    pressKey(goKeyIndex);
}
