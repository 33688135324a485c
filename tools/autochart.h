// Charts made from a song's beat grid and onsets, and the song's preview excerpt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/beatSync.h"

// Play puts a row's perfect moment this long before the row's chart time, so a chart gives each
// row the time of its heard beat plus this lead.
constexpr double chartLeadSeconds = 0.050;
// A marker shows on its panel half a second before its beat, and a new marker on the same panel
// replaces one not yet pressed; so a panel rests that long plus the late end of the judgement
// windows (300 ms) before it is asked for again, or a press a little late would lose a marker.
constexpr double markerApproachSeconds = 0.500;
constexpr double shortestPanelRepeatSeconds = markerApproachSeconds + 0.300;
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

// A chart sparser than this follows too little of the music to be worth playing.
constexpr double longestSecondsPerMarker = 3.0;

// Seconds of the song that have a beat: from the first beat to the end, less the stretches without one.
double secondsWithBeat(const TsongAnalysis& analysis);
// Why a chart of so many markers is too sparse for the song ("" when it is not): fewer than one
// marker per longestSecondsPerMarker of music with a beat.
std::string sparseChartComplaint(const TsongAnalysis& analysis, int markers);

// Seconds of the loudest stretch of the song (previewSeconds long, starting on a bar), faded in and
// out, as interleaved stereo.
std::vector<int16_t> previewExcerpt(const TsongAudio& audio, const TbeatGrid& grid);
