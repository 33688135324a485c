// Fuzzes the beat analysis and the chart maker with audio made from the input: each byte pair is
// a click (the gap before it, its loudness). Whatever grid is found, the charts made from it must
// be ones the game's parser takes.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "content/trellikSongDataLoader.h"
#include "tools/autochart.h"
#include "tools/beatSync.h"

namespace {

constexpr size_t samplesPerGapStep = syncSampleRate / 200;  // 5 ms
constexpr size_t clickSamples = 400;

TsongAudio clickTrack(const uint8_t* data, size_t size) {
    std::vector<std::pair<size_t, float>> clicks;
    size_t at = syncSampleRate / 10;
    for (size_t i = 0; i + 1 < size; i += 2) {
        at += (1 + data[i]) * samplesPerGapStep;
        clicks.push_back({at, static_cast<float>(data[i + 1]) / 255.0f});
    }
    TsongAudio audio;
    audio.mono.assign(at + syncSampleRate, 0.0f);
    uint32_t noise = 1;
    for (const auto& [start, loudness] : clicks) {
        for (size_t k = 0; k < clickSamples; ++k) {
            noise = noise * 1664525u + 1013904223u;
            const float decay = 1.0f - static_cast<float>(k) / clickSamples;
            audio.mono[start + k] += loudness * decay * (static_cast<float>(noise >> 9) / 4194304.0f - 1.0f);
        }
    }
    for (const float sample : audio.mono) {
        const auto value = static_cast<int16_t>(std::max(-1.0f, std::min(1.0f, sample)) * 32767.0f);
        audio.stereo.push_back(value);
        audio.stereo.push_back(value);
    }
    return audio;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const TsongAudio audio = clickTrack(data, size);
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
