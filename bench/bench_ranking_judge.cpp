// How long judging one 1000-press play after the fact takes: the work the ranking server does per play.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "bench/support/playFigures.h"
#include "engine/playJudge.h"

namespace {

constexpr int pressCount = 1000;
constexpr int warmUps = 200;
constexpr int samples = 3000;

// A chart of 1000 single markers 180 ms apart walking over the grid, as a dense song has.
std::unique_ptr<TsongParser> denseChart() {
    auto chart = std::make_unique<TsongParser>();
    for (int row = 0; row < pressCount; ++row) {
        ChartEntry& entry = chart->entries[row];
        entry.time = 3.0 + row * 0.18;
        entry.bpm = 166.0;
        entry.panels[(row * 7) % 16] = 1;
    }
    chart->entryCount = pressCount;
    chart->markerCount = pressCount;
    return chart;
}

// A player's presses: one per marker, up to 120 ms off, a few not at all and a few extra.
std::vector<TjudgePress> playerPresses(const TsongParser& chart) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> off(-120, 120), chance(0, 99);
    std::vector<TjudgePress> presses;
    const TtimingConstants timing;
    for (int row = 0; row < chart.entryCount && static_cast<int>(presses.size()) < pressCount; ++row) {
        const int panel = transposeIndex((row * 7) % 16);
        const double perfectAt = perfectMusicMs(timing, chart.entries[row], 0);
        presses.push_back({chance(random) < 3 ? (panel + 5) % 16 : panel, perfectAt + off(random)});
    }
    std::stable_sort(presses.begin(), presses.end(),
                     [](const TjudgePress& a, const TjudgePress& b) { return a.musicMs < b.musicMs; });
    return presses;
}

}  // namespace

int main() {
    const auto chart = denseChart();
    const std::vector<TjudgePress> presses = playerPresses(*chart);
    const TtimingConstants timing;
    int64_t checksum = 0;
    for (int round = 0; round < warmUps; ++round) checksum += judgePlay(*chart, timing, 0, presses).score;
    std::vector<double> micros;
    for (int round = 0; round < samples; ++round) {
        const auto start = std::chrono::steady_clock::now();
        checksum += judgePlay(*chart, timing, 0, presses).score;
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    const TplayJudgement judged = judgePlay(*chart, timing, 0, presses);
    std::printf("ranking_judge: %zu presses, %d markers, score %d (checksum %lld)\n", presses.size(),
                chart->markerCount, judged.score, static_cast<long long>(checksum));
    std::printf("figure ranking_judge_time p50=%.1f p99=%.1f max=%.1f unit=us\n", percentile(micros, 0.5),
                percentile(micros, 0.99), *std::max_element(micros.begin(), micros.end()));
    return 0;
}
