// The song library: a generated 10 000-song library scanned by the game's own catalogue code with
// no song cache (cold), with one and nothing changed (warm), one chart edited, and the memory the
// catalogue takes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/gameDriver.h"
#include "content/trellikSongListLoaderCode.h"

namespace fs = std::filesystem;

namespace {

constexpr int groupCount = 100;
constexpr int songsPerGroup = 100;
constexpr int warmSamples = 7;
constexpr int changedSamples = 7;
// Every fifth song has a jacket of its own.
constexpr int jacketEvery = 5;

const char* const demoSongs[] = {"drift", "overdrive", "skyline"};

// A short chart of its own for every song: four blocks at a tempo of its own.
std::string smallChart(int song, int difficulty) {
    std::string chart;
    const int tempo = 90 + song % 90 + difficulty * 10;
    for (int block = 0; block < 4; ++block) {
        chart += "1--- |(" + std::to_string(tempo) + ")1234|\n";
        chart += "-2-- |5678|\n--3- |9abc|\n---4 |defg|\n";
    }
    return chart;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// 100 groups of 100 songs: three charts each, music linked to a demo song's, some jackets.
bool makeLibrary(const std::string& songFolder) {
    const std::string demo = stockPackFolder() + "/demo/sng/";
    if (!fs::exists(demo + "drift.mp3")) {
        std::fprintf(stderr, "no demo songs in %s\n", demo.c_str());
        return false;
    }
    std::error_code error;
    for (int group = 0; group < groupCount; ++group) {
        const std::string folder = songFolder + "/Pack " + std::to_string(group) + "/";
        fs::create_directories(folder, error);
        for (int index = 0; index < songsPerGroup; ++index) {
            const int song = group * songsPerGroup + index;
            const std::string name = "Song " + std::to_string(song);
            const std::string source = demo + demoSongs[song % 3];
            for (int difficulty = 0; difficulty < 3; ++difficulty)
                writeText(folder + name + std::to_string(difficulty) + ".txt", smallChart(song, difficulty));
            fs::create_symlink(source + ".mp3", folder + name + ".mp3", error);
            if (song % jacketEvery == 0) fs::create_symlink(source + ".tga", folder + name + ".tga", error);
        }
    }
    return !error;
}

TloaderSteps quietSteps() {
    TloaderSteps steps;
    steps.loadImage = [](const std::string&, uint32_t& texture) {
        texture = 1;
        return true;
    };
    steps.loadImageOrDownload = [](const std::string&, uint32_t& texture, bool) { texture = 1; };
    steps.write = [](const std::string&) {};
    steps.writeLine = [](const std::string&) {};
    steps.refresh = [] {};
    return steps;
}

// Seconds one catalogue load takes; the catalogue is checked to hold every song.
double loadSeconds(const std::string& songFolder, const std::string& cachePath) {
    auto catalogue = std::make_unique<TsongsLoadingData>();
    const auto start = std::chrono::steady_clock::now();
    loadSongsWith(*catalogue, songFolder + "/", quietSteps(), {cachePath, nullptr});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (getLastIndex(*catalogue) + 1 != groupCount * songsPerGroup) {
        std::fprintf(stderr, "the catalogue holds %d songs\n", getLastIndex(*catalogue) + 1);
        std::exit(1);
    }
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A line of /proc/self/status in kB.
long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    return 0;
}

// The peak memory a warm load adds to a fresh process (this program run again), so that no
// earlier scan's heap is counted or reused.
double catalogueMiB(const std::string& songFolder, const std::string& cachePath) {
    std::error_code error;
    const std::string program = fs::read_symlink("/proc/self/exe", error).string();
    const std::string command = "'" + program + "' --catalogue-memory '" + songFolder + "' '" + cachePath + "'";
    FILE* child = ::popen(command.c_str(), "r");
    if (!child) return -1.0;
    long grownKb = -1024;
    if (std::fscanf(child, "%ld", &grownKb) != 1) grownKb = -1024;
    ::pclose(child);
    return grownKb / 1024.0;
}

// The child's part: loads the catalogue once and prints the kB the peak grew by.
int printCatalogueMemory(const std::string& songFolder, const std::string& cachePath) {
    const long before = statusKb("VmRSS:");
    auto catalogue = std::make_unique<TsongsLoadingData>();
    loadSongsWith(*catalogue, songFolder + "/", quietSteps(), {cachePath, nullptr});
    std::printf("%ld\n", statusKb("VmHWM:") - before);
    return getLastIndex(*catalogue) + 1 == groupCount * songsPerGroup ? 0 : 1;
}

void appendRow(const std::string& path) {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    file << "1--- |(120)1|\n----\n----\n----\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--catalogue-memory") return printCatalogueMemory(argv[2], argv[3]);
    char pattern[] = "/tmp/bench_library.XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const std::string root = pattern;
    const std::string songFolder = root + "/sng";
    const std::string cachePath = root + "/data/songs.sqlite3";
    if (!makeLibrary(songFolder)) return 1;

    std::printf("figure library_scan_cold value=%.3f unit=s\n", loadSeconds(songFolder, cachePath));
    std::vector<double> warm;
    for (int sample = 0; sample < warmSamples; ++sample) warm.push_back(loadSeconds(songFolder, cachePath));
    std::printf("figure library_scan_warm value=%.3f unit=s\n", median(warm));
    std::vector<double> changed;
    for (int sample = 0; sample < changedSamples; ++sample) {
        appendRow(songFolder + "/Pack " + std::to_string(sample) + "/Song " + std::to_string(sample * songsPerGroup) +
                  "2.txt");
        changed.push_back(loadSeconds(songFolder, cachePath));
    }
    std::printf("figure library_scan_one_changed value=%.3f unit=s\n", median(changed));
    std::printf("figure library_rss value=%.1f unit=MiB\n", catalogueMiB(songFolder, cachePath));
    std::error_code error;
    fs::remove_all(root, error);
    return 0;
}
