// Parse time of a chart with 10000 notes, read from a file as the game reads it at GO.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "content/trellikSongDataLoader.h"

namespace {

constexpr int runs = 51;

// 625 blocks of sixteen names over four lines of four notes and four rests: 10000 notes.
std::string chartOfTenThousandNotes() {
    const char* const gridRows[] = {"1234", "5678", "9abc", "defg"};
    std::string text;
    for (int block = 0; block < 625; ++block) {
        for (const char* row : gridRows) {
            text += row;
            text += block == 0 && row == gridRows[0] ? " |(150)[250]1-2-3-4-|\r\n" : " |5-6-7-8-|\r\n";
        }
    }
    return text;
}

double parseMilliseconds(TsongParser& parser, const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    if (!loadChart(parser, path, false)) std::fprintf(stderr, "bench_chart: the chart was refused\n");
    const std::chrono::duration<double, std::milli> taken = std::chrono::steady_clock::now() - start;
    return taken.count();
}

}  // namespace

int main() {
    char folder[] = "/tmp/bench_chart.XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    const std::string path = std::string(folder) + "/chart0.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 1;
    const std::string text = chartOfTenThousandNotes();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);

    const auto parser = std::make_unique<TsongParser>();
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) times.push_back(parseMilliseconds(*parser, path));
    std::filesystem::remove_all(folder);
    if (parser->entryCount != chartCapacity || parser->markerCount != chartCapacity) {
        std::fprintf(stderr, "bench_chart: expected %d rows, got %d\n", chartCapacity, parser->entryCount);
        return 1;
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    std::printf("figure chart_parse_10000 value=%.3f unit=ms\n", times[runs / 2]);
    return 0;
}
