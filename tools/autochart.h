// Charts made from a song's beat grid and onsets, and the song's preview excerpt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/beatSync.h"

// Play puts a row's perfect moment this long before the row's chart time, so a chart gives each
// row the time of its heard beat plus this lead.
constexpr double chartLeadSeconds = 0.050;
// A panel is never asked for twice within this time.
constexpr double shortestPanelRepeatSeconds = 0.150;
constexpr int difficultyCount = 3;
constexpr double previewSeconds = 15.0;

// One chart row: the half-beat (counted from the first beat) it falls on and the panels it lights
// (row × 4 + column, top left first).
struct TautoRow {
    int halfBeat = 0;
    std::vector<int> panels;
};

// The rows of difficulty 0 (basic), 1 (advanced) or 2 (extreme) for the analysed song.
std::vector<TautoRow> planAutoChart(const TsongAnalysis& analysis, int difficulty);

// The chart text: one line per beat, four lines (a bar) per grid block, tempo and offset up front.
std::string autoChartText(const TbeatGrid& grid, const std::vector<TautoRow>& rows);

int markerCount(const std::vector<TautoRow>& rows);

// Seconds of the loudest stretch of the song (previewSeconds long, starting on a bar), faded in and
// out, as interleaved stereo.
std::vector<int16_t> previewExcerpt(const TsongAudio& audio, const TbeatGrid& grid);
