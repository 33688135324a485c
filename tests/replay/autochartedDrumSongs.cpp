// Drum songs analysed and charted as trellik-tool autochart does, kept apart from the engine's
// headers (both name a difficulty count).
#include "tests/replay/autochartedDrumSongs.h"

#include "tools/autochart.h"
#include "tools/syncTestSongs.h"

std::vector<TautochartedChart> autochartedDrumSongCharts() {
    std::vector<TautochartedChart> charts;
    for (const double bpm : {96.0, 159.0}) {
        TdrumSongRecipe recipe;
        recipe.bpm = bpm;
        recipe.bars = 24;
        recipe.pad = bpm < 100.0;
        const std::vector<int16_t> stereo = makeDrumSong(recipe);
        std::vector<float> mono(stereo.size() / 2);
        for (size_t frame = 0; frame < mono.size(); ++frame)
            mono[frame] = static_cast<float>(stereo[2 * frame] + stereo[2 * frame + 1]) / 65536.0f;
        const TsongAnalysis analysis = analyseSong(mono);
        for (int difficulty = 0; difficulty < difficultyCount; ++difficulty)
            charts.push_back({std::to_string(static_cast<int>(bpm)) + " BPM, difficulty " + std::to_string(difficulty),
                              autoChartText(analysis.grid, planAutoChart(analysis, difficulty))});
    }
    return charts;
}
