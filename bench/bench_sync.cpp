// Accuracy of the beat analysis over generated drum songs (tempo, first beat, octave) and over songs
// rendered from MIDI with real instruments (the level a person taps, beats on the grid, tempo
// changes), and the time sync and autochart take for a three-minute song.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "tools/autochart.h"
#include "tools/beatSync.h"
#include "tools/mp3Writer.h"
#include "tools/syncCorpus.h"
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

// Seconds on the wall clock and of processor time.
struct TsyncTime {
    double wall = -1;
    double processor = -1;
};

TsongAnalysis analyseMp3(const std::vector<int16_t>& stereo) {
    TsongAudio audio;
    if (!decodeSongAudio(encodeMp3(stereo, syncSampleRate, 2, 192), audio).empty()) return {};
    return analyseSong(audio.mono);
}

// The processor time this process has used: on a machine shared with other work the wall clock
// also counts the time spent waiting for a core.
double processorSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The accuracy figures over the rendered corpus, and the analyses' times.
struct TcorpusFigures {
    int steady = 0, rightLevel = 0, onGrid = 0, changes = 0, changesMapped = 0;
    double tempoError = 0, offsetError = 0;
};

// Every beat of the found grid, over the music, lies within 10 ms of a true beat or half-beat.
bool everyBeatOnGrid(const TcorpusSong& song, const TsongAnalysis& analysis) {
    const double end = analysis.onsets.empty() ? 0 : analysis.onsets.back().time;
    for (double beat = 0; analysis.grid.beatTime(beat) <= end; beat += 1) {
        if (song.distanceToBeat(analysis.grid.beatTime(beat), true) > 0.010) return false;
    }
    return true;
}

// Each true segment has a found one starting within a beat, at its tempo within 0.1 BPM.
bool segmentsMapped(const TcorpusSong& song, const TbeatGrid& grid) {
    if (grid.segments.size() != song.segments.size()) return false;
    for (size_t i = 0; i < song.segments.size(); ++i) {
        const TcorpusSegment& truth = song.segments[i];
        if (std::fabs(grid.segments[i].bpm - truth.bpm) > 0.1) return false;
        if (std::fabs(grid.segments[i].start - truth.startSeconds) > 60.0 / truth.bpm) return false;
    }
    return true;
}

TcorpusFigures measureCorpus(const TsyncCorpus& corpus) {
    TcorpusFigures figures;
    for (const TcorpusSong& song : corpus.songs) {
        TsongAudio audio;
        if (!readSongAudio(song.path, audio).empty()) continue;
        const TsongAnalysis analysis = analyseSong(audio.mono);
        const TbeatGrid& grid = analysis.grid;
        std::fprintf(stderr, "bench_sync: %-16s %7.2f BPM: found %8.3f BPM, first beat %+.1f ms from a beat, %s\n",
                     song.name.c_str(), song.bpm(), grid.bpm, 1000 * song.distanceToBeat(grid.firstBeat),
                     grid.tempoStable ? "stable" : "unstable");
        if (song.kind == "change") {
            ++figures.changes;
            figures.changesMapped += segmentsMapped(song, grid);
        }
        if (!song.steady()) continue;
        ++figures.steady;
        figures.onGrid += everyBeatOnGrid(song, analysis);
        if (std::fabs(grid.bpm / song.bpm() - 1) > 0.01) continue;
        ++figures.rightLevel;
        figures.tempoError = std::max(figures.tempoError, std::fabs(grid.bpm - song.bpm()));
        figures.offsetError = std::max(figures.offsetError, 1000 * song.distanceToBeat(grid.firstBeat));
    }
    return figures;
}

// From the MP3's bytes to the beat grid, as trellik-tool sync does.
TsyncTime syncTime(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    const double processorStart = processorSeconds();
    TsongAudio audio;
    if (!readSongAudio(path, audio).empty()) return {};
    if (analyseSong(audio.mono).grid.bpm <= 0) return {};
    return {secondsSince(start), processorSeconds() - processorStart};
}

TsyncTime autochartTime() {
    TdrumSongRecipe recipe;
    recipe.bpm = 128;
    recipe.bars = 96;  // three minutes at 128
    recipe.pad = true;
    recipe.quietIntroBars = 4;
    const std::vector<uint8_t> mp3 = encodeMp3(makeDrumSong(recipe), syncSampleRate, 2, 192);
    const auto start = std::chrono::steady_clock::now();
    const double processorStart = processorSeconds();
    TsongAudio audio;
    if (!decodeSongAudio(mp3, audio).empty()) return {};
    const TsongAnalysis analysis = analyseSong(audio.mono);
    size_t chartBytes = 0;
    for (int difficulty = 0; difficulty < difficultyCount; ++difficulty)
        chartBytes += autoChartText(analysis.grid, planAutoChart(analysis, difficulty)).size();
    const size_t previewBytes = encodeMp3(previewExcerpt(audio, analysis.grid), syncSampleRate, 2, 192).size();
    const TsyncTime taken{secondsSince(start), processorSeconds() - processorStart};
    if (chartBytes == 0 || previewBytes == 0) return {};
    return taken;
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
    std::printf("figure sync_drum_tempo_error value=%.4f unit=bpm\n", tempoError);
    std::printf("figure sync_drum_offset_error value=%.2f unit=ms\n", offsetError);
    std::printf("figure sync_drum_octave_errors value=%d unit=count\n", octaveErrors);
    const TsyncTime autochart = autochartTime();
    std::printf("figure autochart_time value=%.2f unit=s\n", autochart.wall);
    std::printf("figure autochart_processor_time value=%.2f unit=s\n", autochart.processor);

    const TsyncCorpus corpus = loadSyncCorpus("bench", std::string(TRELLIK_BINARY_DIR) + "/syncCorpus/bench");
    if (!corpus.complaint.empty()) {
        std::fprintf(stderr, "bench_sync: %s\n", corpus.complaint.c_str());
        return 1;
    }
    const TcorpusFigures figures = measureCorpus(corpus);
    std::printf("figure sync_right_level value=%.1f unit=percent\n", 100.0 * figures.rightLevel / std::max(1, figures.steady));
    std::printf("figure sync_on_grid value=%.1f unit=percent\n", 100.0 * figures.onGrid / std::max(1, figures.steady));
    std::printf("figure sync_tempo_error value=%.4f unit=bpm\n", figures.tempoError);
    std::printf("figure sync_offset_error value=%.2f unit=ms\n", figures.offsetError);
    std::printf("figure sync_change_songs_mapped value=%d unit=of_%d\n", figures.changesMapped, figures.changes);
    for (const TcorpusSong& song : corpus.songs) {
        if (!song.name.starts_with("long_")) continue;
        const TsyncTime taken = syncTime(song.path);
        std::printf("figure sync_time value=%.2f unit=s\n", taken.wall);
        std::printf("figure sync_processor_time value=%.2f unit=s\n", taken.processor);
    }
    return 0;
}
