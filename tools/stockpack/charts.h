// Charts for the demo songs: which sixteenths get markers on which panels, and the chart text.
#pragma once

#include <string>
#include <vector>

#include "tools/stockpack/music.h"

namespace stockpack {

// One chart row: a step of the song and the panels (key-index order, row × 4 + column) it lights.
struct TchartRow {
    int step;
    std::vector<int> panels;
};

// Play puts a row's perfect moment this long before the time the chart gives it; the charts
// therefore give every row the time of its audible beat plus this lead.
constexpr double perfectLeadSeconds = 0.050;

// Difficulty 0 (basic), 1 (advanced) or 2 (extreme); density rises with the difficulty.
std::vector<TchartRow> planChart(const TcomposedSong& song, int difficulty);

// The chart in the hand-written format: one line per beat, a grid row of four panels, then
// the beat's timing part between bars; a tempo and an offset group open the first line.
std::string chartText(const TcomposedSong& song, const std::vector<TchartRow>& rows);

// Seconds from the start of the music at which a step is heard.
double audibleTime(const TcomposedSong& song, int step);

}  // namespace stockpack
