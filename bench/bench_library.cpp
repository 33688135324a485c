// The song library: a generated 10 000-song library scanned by the game's own catalogue code with
// no song cache (cold), with one and nothing changed (warm), one chart edited; then song select on
// it in a real window, scrolled fast while searching (CPU per frame, key to filtered wheel), and
// the memory the game takes above the game with the three demo songs; then the memory of twelve
// 4096 x 4096 jackets, and what 2000 quick steps through 3000 songs add. "--jackets-only" runs the
// last two alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "bench/support/gameDriver.h"
#include "content/trellikSongListLoaderCode.h"
#include "platform/window/openGLClass.h"

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

// Song select driven through its handlers between frames, as the window's loop would.
class TsongSelectRun {
public:
    explicit TsongSelectRun(TtrellikGL& game) : game(game) {}

    // Loading, then Enter until song select shows; false when it never did.
    bool reachSongSelect() {
        game.window->onDraw();
        for (int frame = 0; frame < 2000 && game.wheel.facts.empty(); ++frame) {
            game.window->onKeyDown(keyEnter, 0.0);
            drawFrame();
        }
        return !game.wheel.facts.empty();
    }

    // Rounds of eight frames scrolling one column each, then a search typed a key a frame,
    // erased and closed: every frame handles one key and draws.
    void scrollAndSearch(int rounds) {
        const std::string search = "/song 12\b\b\b\b\b\b\b\r";
        for (int round = 0; round < rounds; ++round) {
            for (int frame = 0; frame < 8; ++frame) timedFrame(static_cast<uint16_t>(game.launch.keys[13]), false);
            for (const char c : search) timedFrame(keyOf(c), c != '/' && c != '\r');
        }
    }

    // Quick steps through the wheel: one column a frame, as a held key scrolls.
    void scroll(int steps) {
        for (int step = 0; step < steps; ++step) timedFrame(static_cast<uint16_t>(game.launch.keys[13]), false);
    }

    // Frames with no key, as song select stands still.
    void idle(int frames) {
        for (int frame = 0; frame < frames; ++frame) drawFrame();
    }

    std::vector<double> frameMs;
    std::vector<double> searchMs;
    // The same on this thread's CPU clock: on a busy machine the wall clock also counts waiting.
    std::vector<double> searchCpuMs;

private:
    void timedFrame(uint16_t key, bool searching) {
        const double start = threadCpuMs();
        const double wallStart = wallMs();
        press(key);
        game.window->onDraw();
        frameMs.push_back(threadCpuMs() - start);
        if (searching) searchMs.push_back(wallMs() - wallStart);
        if (searching) searchCpuMs.push_back(frameMs.back());
        presentFrame();
    }
    // "/" opens the search box, '\b' is Backspace, '\r' Enter; letters and digits are their keys.
    static uint16_t keyOf(char c) {
        if (c == '/') return slashKey;
        if (c == '\b') return 8;
        if (c == '\r') return keyEnter;
        return static_cast<uint16_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    void press(uint16_t key) { game.window->onKeyDown(key, 0.0); }
    void drawFrame() {
        game.window->onDraw();
        presentFrame();
    }
    static double threadCpuMs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    }
    static double wallMs() {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    TtrellikGL& game;
};

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return -1.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()))];
}

// The game in a window from gameFolder, on its loading scene; null when the folder cannot be entered.
std::unique_ptr<TtrellikGL> gameIn(const std::string& gameFolder) {
    if (::chdir(gameFolder.c_str()) != 0) return nullptr;
    auto game = std::make_unique<TtrellikGL>();
    const LaunchParameters parameters = defaultLaunchParameters("");
    for (int i = 0; i < 16; ++i) game->launch.keys[i] = parameters.keys[i];
    game->scale = parameters.scale;
    game->yOffset = yOffsetFor(parameters.scale, parameters.yAdjust);
    game->launch.recordsPath = gameFolder + "/records.sqlite3";
    game->window = std::make_unique<TopenGLEngine>();
    game->window->setup(600, 600, false, "song select", "font.fnt");
    installKeyDownHandler(*game, escapeEndsRun);
    installDrawHandler(*game, loadingScene.draw);
    return game;
}

// The child's part: the game to song select, which waits a few seconds' frames for its jackets,
// then a scroll through every song; prints the peak memory in kB.
int printJacketMemory(const std::string& gameFolder) {
    const std::unique_ptr<TtrellikGL> game = gameIn(gameFolder);
    if (!game) return 1;
    TsongSelectRun run(*game);
    int status = 1;
    game->window->onInitialise = [&] {
        if (run.reachSongSelect()) {
            run.idle(120);
            run.scroll(24);
            run.idle(120);
            status = 0;
        }
        requestQuit();
    };
    game->window->run();
    std::printf("%ld\n", statusKb("VmHWM:"));
    releaseRunHandlers(*game);
    return status;
}

// The child's part: the game to song select, then quick steps through the wheel; prints what the
// memory grew by in kB from song select to the last step.
int printScrollGrowth(const std::string& gameFolder, int steps) {
    const std::unique_ptr<TtrellikGL> game = gameIn(gameFolder);
    if (!game) return 1;
    TsongSelectRun run(*game);
    int status = 1;
    long before = 0, after = 0;
    game->window->onInitialise = [&] {
        if (run.reachSongSelect()) {
            run.idle(60);
            before = statusKb("VmRSS:");
            run.scroll(steps);
            after = statusKb("VmRSS:");
            status = 0;
        }
        requestQuit();
    };
    game->window->run();
    std::printf("%ld\n", after - before);
    releaseRunHandlers(*game);
    return status;
}

// The child's part: the game in a window from gameFolder to song select, scrolled while searching;
// prints the p50 and p99 of the frame's CPU and of the search keys, and the peak memory in kB.
int printSongSelect(const std::string& gameFolder) {
    const std::unique_ptr<TtrellikGL> game = gameIn(gameFolder);
    if (!game) return 1;
    TsongSelectRun run(*game);
    int status = 1;
    double startSeconds = -1.0;
    game->window->onInitialise = [&] {
        const auto start = std::chrono::steady_clock::now();
        const bool reached = run.reachSongSelect();
        startSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (reached) {
            run.scrollAndSearch(40);
            status = 0;
        }
        requestQuit();
    };
    game->window->run();
    std::printf("%.3f %.3f %.3f %.3f %ld %.3f %.3f\n", percentile(run.frameMs, 0.5), percentile(run.frameMs, 0.99),
                percentile(run.searchMs, 0.5), percentile(run.searchMs, 0.99), statusKb("VmHWM:"), startSeconds,
                percentile(run.searchCpuMs, 0.99));
    releaseRunHandlers(*game);
    return status;
}

struct TsongSelectFigures {
    double frameP50 = -1, frameP99 = -1, searchP50 = -1, searchP99 = -1;
    long peakKb = 0;
    // From the loading screen's first frame to song select.
    double startSeconds = -1;
    double searchCpuP99 = -1;
};

TsongSelectFigures songSelectFigures(const std::string& gameFolder) {
    std::error_code error;
    const std::string program = fs::read_symlink("/proc/self/exe", error).string();
    const std::string command = "'" + program + "' --song-select '" + gameFolder + "'";
    TsongSelectFigures figures;
    FILE* child = ::popen(command.c_str(), "r");
    if (!child) return figures;
    if (std::fscanf(child, "%lf %lf %lf %lf %ld %lf %lf", &figures.frameP50, &figures.frameP99, &figures.searchP50,
                    &figures.searchP99, &figures.peakKb, &figures.startSeconds, &figures.searchCpuP99) != 7)
        figures = {};
    ::pclose(child);
    return figures;
}

// A game folder with the demo songs and, when given, every group of the generated library.
bool makeGameFolder(const std::string& folder, const std::string& librarySongs) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!prepareGameFolder(folder)) return false;
    if (librarySongs.empty()) return true;
    for (int group = 0; group < groupCount; ++group) {
        const std::string pack = "/Pack " + std::to_string(group);
        fs::create_directory_symlink(librarySongs + pack, folder + "/sng" + pack, error);
    }
    return !error;
}

// One number a child mode of this program prints; fallback when it printed none.
long childFigure(const std::string& arguments, long fallback) {
    std::error_code error;
    const std::string program = fs::read_symlink("/proc/self/exe", error).string();
    FILE* child = ::popen(("'" + program + "' " + arguments).c_str(), "r");
    if (!child) return fallback;
    long value = fallback;
    if (std::fscanf(child, "%ld", &value) != 1) value = fallback;
    ::pclose(child);
    return value;
}

// A side x side uncompressed 24-bit TGA of a gradient.
void writeBigJacket(const std::string& path, int side) {
    std::string bytes(18, '\0');
    bytes[2] = 2;
    bytes[12] = static_cast<char>(side & 0xFF);
    bytes[13] = static_cast<char>(side >> 8);
    bytes[14] = static_cast<char>(side & 0xFF);
    bytes[15] = static_cast<char>(side >> 8);
    bytes[16] = 24;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    std::string row(static_cast<size_t>(side) * 3, '\0');
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            row[static_cast<size_t>(x) * 3] = static_cast<char>(x);
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<char>(y);
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<char>(x ^ y);
        }
        file << row;
    }
}

// Songs of their own in the game folder's pack: three charts, the demo music, and a jacket linked
// to jacket ("" for the demo's own).
bool addSongs(const std::string& gameFolder, const std::string& pack, int count, const std::string& jacket) {
    const std::string demo = stockPackFolder() + "/demo/sng/";
    const std::string folder = gameFolder + "/sng/" + pack + "/";
    std::error_code error;
    fs::create_directories(folder, error);
    for (int song = 0; song < count && !error; ++song) {
        const std::string name = "Song " + std::to_string(song);
        for (int difficulty = 0; difficulty < 3; ++difficulty)
            writeText(folder + name + std::to_string(difficulty) + ".txt", smallChart(song, difficulty));
        fs::create_symlink(demo + demoSongs[song % 3] + ".mp3", folder + name + ".mp3", error);
        const std::string linked = jacket.empty() ? demo + demoSongs[song % 3] + ".tga" : jacket;
        if (!error) fs::create_symlink(linked, folder + name + fs::path(linked).extension().string(), error);
    }
    return !error;
}

constexpr int bigJacketSongs = 12;
constexpr int bigJacketSide = 4096;
constexpr int scrollSongs = 3000;
constexpr int scrollSteps = 2000;

// The same picture as a JPEG, as most jackets come; "" when ImageMagick cannot make it.
std::string bigJpegJacket(const std::string& tga) {
    const std::string jpeg = tga.substr(0, tga.size() - 4) + ".jpg";
    const std::string command = "convert '" + tga + "' -quality 90 '" + jpeg + "' 2>/dev/null";
    return std::system(command.c_str()) == 0 ? jpeg : "";
}

// The peak memory of the game with twelve big jackets of one file type, whole and above the game
// with the three demo songs.
void printBigJacketFigure(const std::string& root, const std::string& jacket, long smallPeakKb) {
    if (jacket.empty()) return;
    const std::string extension = fs::path(jacket).extension().string().substr(1);
    const std::string game = root + "/jackets-" + extension;
    if (!makeGameFolder(game, "") || !addSongs(game, "Big", bigJacketSongs, jacket)) return;
    const long peakKb = childFigure("--jacket-memory '" + game + "'", -1024);
    std::printf("figure jacket_rss_big_images%s value=%.1f above_3_songs=%.1f unit=MiB songs=%d side=%d\n",
                extension == "jpg" ? "" : "_tga", peakKb / 1024.0, (peakKb - smallPeakKb) / 1024.0, bigJacketSongs,
                bigJacketSide);
}

void printJacketFigures(const std::string& root, long smallPeakKb) {
    writeBigJacket(root + "/big.tga", bigJacketSide);
    printBigJacketFigure(root, bigJpegJacket(root + "/big.tga"), smallPeakKb);
    printBigJacketFigure(root, root + "/big.tga", smallPeakKb);
    const std::string many = root + "/scroll";
    bool made = makeGameFolder(many, "");
    for (int pack = 0; made && pack < scrollSongs / 100; ++pack) made = addSongs(many, "Pack " + std::to_string(pack), 100, "");
    if (made) {
        const long grownKb = childFigure("--scroll-growth '" + many + "' " + std::to_string(scrollSteps), -1024);
        std::printf("figure scroll_rss_growth value=%.1f unit=MiB songs=%d steps=%d\n", grownKb / 1024.0, scrollSongs,
                    scrollSteps);
    }
}

void appendRow(const std::string& path) {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    file << "1--- |(120)1|\n----\n----\n----\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--catalogue-memory") return printCatalogueMemory(argv[2], argv[3]);
    if (argc == 3 && std::string(argv[1]) == "--song-select") return printSongSelect(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--jacket-memory") return printJacketMemory(argv[2]);
    if (argc == 4 && std::string(argv[1]) == "--scroll-growth") return printScrollGrowth(argv[2], std::atoi(argv[3]));
    if (argc == 2 && std::string(argv[1]) == "--jackets-only") {
        char jacketPattern[] = "/tmp/bench_library.XXXXXX";
        if (!::mkdtemp(jacketPattern)) return 1;
        const std::string jacketRoot = jacketPattern;
        if (!makeGameFolder(jacketRoot + "/small", "")) return 1;
        printJacketFigures(jacketRoot, songSelectFigures(jacketRoot + "/small").peakKb);
        std::error_code error;
        fs::remove_all(jacketRoot, error);
        return 0;
    }
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
    std::printf("figure library_catalogue_rss value=%.1f unit=MiB\n", catalogueMiB(songFolder, cachePath));

    if (!makeGameFolder(root + "/small", "") || !makeGameFolder(root + "/big", songFolder)) return 1;
    const TsongSelectFigures small = songSelectFigures(root + "/small");
    // The first start builds the big library's song cache; the second is the one measured.
    const TsongSelectFigures first = songSelectFigures(root + "/big");
    const TsongSelectFigures big = songSelectFigures(root + "/big");
    std::printf("figure library_start_first value=%.3f unit=s\n", first.startSeconds);
    std::printf("figure library_start_second value=%.3f unit=s\n", big.startSeconds);
    std::printf("figure library_start_3_songs value=%.3f unit=s\n", small.startSeconds);
    std::printf("figure song_select_frame p50=%.3f p99=%.3f unit=ms\n", big.frameP50, big.frameP99);
    std::printf("figure song_select_frame_3_songs p50=%.3f p99=%.3f unit=ms\n", small.frameP50, small.frameP99);
    std::printf("figure search_latency p50=%.3f p99=%.3f unit=ms\n", big.searchP50, big.searchP99);
    std::printf("figure search_latency_cpu p99=%.3f unit=ms\n", big.searchCpuP99);
    std::printf("figure library_rss value=%.1f unit=MiB\n", (big.peakKb - small.peakKb) / 1024.0);
    printJacketFigures(root, small.peakKb);
    std::error_code error;
    fs::remove_all(root, error);
    return 0;
}
