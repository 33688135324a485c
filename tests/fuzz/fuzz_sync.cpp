// Fuzzes the beat analysis and the chart maker with the input as mono 16-bit audio: whatever grid
// is found, the charts made from it must be ones the game's parser takes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "content/trellikSongDataLoader.h"
#include "tools/autochart.h"
#include "tools/beatSync.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TsongAudio audio;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto sample = static_cast<int16_t>(data[i] | data[i + 1] << 8);
        audio.mono.push_back(static_cast<float>(sample) / 32768.0f);
        audio.stereo.push_back(sample);
        audio.stereo.push_back(sample);
    }
    const TsongAnalysis analysis = analyseSong(audio.mono);
    previewExcerpt(audio, analysis.grid);
    if (analysis.grid.bpm <= 0) return 0;
    const auto parser = std::make_unique<TsongParser>();
    for (int difficulty = 0; difficulty < difficultyCount; ++difficulty) {
        const std::vector<TautoRow> rows = planAutoChart(analysis, difficulty);
        if (rows.empty()) continue;
        if (!loadChartFromBytes(*parser, autoChartText(analysis.grid, rows)).accepted) std::abort();
    }
    return 0;
}
