// The bars of a chart, four beats each, and the bound that keeps their list small at any tempo.
#pragma once

#include <cstdint>
#include <vector>

#include "content/trellikSongDataLoader.h"

// More bars than any song has (an hour at 999 bpm is 15 000); a chart spanning more, from an
// extreme tempo or a far offset, is refused, since its bar list would outgrow memory.
constexpr int32_t chartBarLimit = 100000;

// A bar's length in ms: four beats at the tempo, a tempo of 0 or below counting as 120.
double chartBarLengthMs(double bpm);

// Where each bar starts on the music's clock (ms), bar 1 at the first row and the last at or before
// the last row; each bar is four beats at the tempo of the row in force where it starts. At most
// limit bars are listed.
std::vector<double> chartBarStartsMs(const TsongParser& chart, int32_t limit);
