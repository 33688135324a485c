// Songs per minute trellik-tool autochart charts from a folder of three-minute songs, with one job
// a core, as a player charting a library would run it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>

#include "tools/beatSync.h"
#include "tools/mp3Writer.h"
#include "tools/syncTestSongs.h"

namespace fs = std::filesystem;

namespace {

constexpr int songCount = 8;
constexpr double songSeconds = 180;

// Drum songs at several tempos, half in each of two album folders.
void writeSongs(const fs::path& folder) {
    for (int i = 0; i < songCount; ++i) {
        TdrumSongRecipe recipe;
        recipe.bpm = 96 + 9 * i;
        recipe.bars = static_cast<int>(songSeconds * recipe.bpm / 240);
        recipe.pad = i % 2 == 0;
        recipe.seed = static_cast<uint32_t>(i + 1);
        const fs::path album = folder / (i % 2 ? "Album B" : "Album A");
        fs::create_directories(album);
        writeMp3File((album / ("song" + std::to_string(i) + ".mp3")).string(), makeDrumSong(recipe), syncSampleRate, 2, 192);
    }
}

}  // namespace

int main() {
    char pattern[] = "/tmp/bench_autochart_batch-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path folder = pattern;
    writeSongs(folder / "music");
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::string command = std::string(TRELLIK_BINARY_DIR) + "/tools/trellik-tool autochart '" + (folder / "music").string() +
                                "' --out '" + (folder / "sng").string() + "' >'" + (folder / "log").string() + "' 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double minutes = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 60;
    const bool allCharted = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                            fs::exists(folder / "sng" / "Album B" / ("song" + std::to_string(songCount - 1) + "2.txt"));
    if (!allCharted) std::fprintf(stderr, "bench_autochart_batch: the batch did not chart every song (status %d)\n", status);
    else std::printf("figure autochart_batch value=%.1f unit=songs_per_min\n", songCount / minutes);
    std::fprintf(stderr, "bench_autochart_batch: %d songs of %.0f s in %.2f min with %u jobs\n", songCount, songSeconds, minutes, cores);
    fs::remove_all(folder);
    return allCharted ? 0 : 1;
}
