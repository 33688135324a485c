// Charts the autochart makes of synthesised drum songs like the batch benchmark's, for play tests.
#pragma once

#include <string>
#include <vector>

// One chart text of a drum song and what it is, for messages.
struct TautochartedChart {
    std::string name;
    std::string text;
};

// The three difficulties of a slow and a fast drum song.
std::vector<TautochartedChart> autochartedDrumSongCharts();
