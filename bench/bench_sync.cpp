// Accuracy of the beat analysis over generated drum songs (tempo, first beat, octave) and the time
// autochart takes for a three-minute song, from MP3 bytes to the charts and the encoded preview.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "tools/autochart.h"
#include "tools/beatSync.h"
#include "tools/mp3Writer.h"
#include "tools/syncTestSongs.h"

namespace {

// Tempos and textures the tests do not use; about thirty seconds each. Swing only below 150 BPM,
// where songs swing their eighths.
std::vector<TdrumSongRecipe> benchSongs() {
    const double tempos[] = {72, 79.5, 88, 97, 104, 113.3, 126, 137, 149, 158, 171.2, 186, 197, 208};
    std::vector<TdrumSongRecipe> songs;
    uint32_t seed = 11;
    for (const double bpm : tempos) {
        TdrumSongRecipe recipe;
        recipe.bpm = bpm;
        recipe.firstBeat = 0.2 + 0.137 * (seed % 7);
        recipe.bars = static_cast<int>(30 * bpm / 240);
        recipe.swing = seed % 3 == 0 && bpm < 150 ? 0.12 : 0.0;
        recipe.quietIntroBars = seed % 4 == 1 ? 2 : 0;
        recipe.pad = seed % 2 == 0;
        recipe.seed = seed++;
        songs.push_back(recipe);
    }
    return songs;
}

TsongAnalysis analyseMp3(const std::vector<int16_t>& stereo) {
    TsongAudio audio;
    if (!decodeSongAudio(encodeMp3(stereo, syncSampleRate, 2, 192), audio).empty()) return {};
    return analyseSong(audio.mono);
}

double autochartSeconds() {
    TdrumSongRecipe recipe;
    recipe.bpm = 128;
    recipe.bars = 96;  // three minutes at 128
    recipe.pad = true;
    recipe.quietIntroBars = 4;
    const std::vector<uint8_t> mp3 = encodeMp3(makeDrumSong(recipe), syncSampleRate, 2, 192);
    const auto start = std::chrono::steady_clock::now();
    TsongAudio audio;
    if (!decodeSongAudio(mp3, audio).empty()) return -1;
    const TsongAnalysis analysis = analyseSong(audio.mono);
    size_t chartBytes = 0;
    for (int difficulty = 0; difficulty < difficultyCount; ++difficulty)
        chartBytes += autoChartText(analysis.grid, planAutoChart(analysis, difficulty)).size();
    const size_t previewBytes = encodeMp3(previewExcerpt(audio, analysis.grid), syncSampleRate, 2, 192).size();
    const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;
    if (chartBytes == 0 || previewBytes == 0) return -1;
    return taken.count();
}

}  // namespace

int main() {
    double tempoError = 0, offsetError = 0;
    int octaveErrors = 0;
    for (const TdrumSongRecipe& recipe : benchSongs()) {
        const TbeatGrid grid = analyseMp3(makeDrumSong(recipe)).grid;
        const double ratio = grid.bpm / recipe.bpm;
        std::fprintf(stderr, "bench_sync: %.2f BPM first beat %.1f ms: found %.3f BPM, %.1f ms\n", recipe.bpm,
                     recipe.firstBeat * 1000, grid.bpm, grid.firstBeat * 1000);
        if (std::fabs(ratio - 1) > 0.03) {
            ++octaveErrors;
            continue;
        }
        tempoError = std::max(tempoError, std::fabs(grid.bpm - recipe.bpm));
        offsetError = std::max(offsetError, 1000 * std::fabs(grid.firstBeat - recipe.firstBeat));
    }
    std::printf("figure sync_tempo_error value=%.4f unit=bpm\n", tempoError);
    std::printf("figure sync_offset_error value=%.2f unit=ms\n", offsetError);
    std::printf("figure sync_octave_errors value=%d unit=count\n", octaveErrors);
    std::printf("figure autochart_time value=%.2f unit=s\n", autochartSeconds());
    return 0;
}
