// Drum songs with a known tempo and first beat, synthesised for checking the beat analysis.
#pragma once

#include <cstdint>
#include <vector>

struct TdrumSongRecipe {
    double bpm = 120;
    double firstBeat = 0.5;       // seconds of silence before the first beat
    int bars = 8;
    double swing = 0;             // how late the off-beat eighths come, as a share of a beat
    int quietIntroBars = 0;       // bars of soft hats (and the pad) before the drums come in
    bool pad = false;             // a held chord under everything
    double laterBpm = 0;          // when not 0, the tempo from bar changeBar on
    int changeBar = 0;
    double driftToBpm = 0;        // when not 0, the tempo glides from bpm to this over the song
    uint32_t seed = 1;            // varies the hits and where an extra kick falls
};

// Interleaved stereo at 44.1 kHz: kick on beats 1 and 3, snare on 2 and 4, hats on the eighths,
// and a tail of two seconds after the last bar.
std::vector<int16_t> makeDrumSong(const TdrumSongRecipe& recipe);

// The time of a beat of the song, in seconds.
double drumSongBeatTime(const TdrumSongRecipe& recipe, double beat);
