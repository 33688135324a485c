// The pieces of the pack: three demo songs, two menu loops and the two sound effects.
#pragma once

#include <string>
#include <vector>

#include "tools/stockpack/music.h"

namespace stockpack {

// Demo songs: a relaxed one, a dance one and a fast one.
TcomposedSong composeDrift();
TcomposedSong composeSkyline();
TcomposedSong composeOverdrive();

// Loops that repeat without a seam: the song-select music and the launcher music.
TstereoBus composeMenuLoop();
TstereoBus composeLauncherLoop();

// Short effects: the cue before play starts and the confirmation of the GO button.
TstereoBus composeReadyGo();
TstereoBus composeGoButton();
// Play assists: the tick on every marker's beat and the sound of a press.
TstereoBus composeAssistTick();
TstereoBus composeHitSound();

// Chord symbols, one per bar.
std::vector<Tchord> progression(const std::vector<std::string>& symbols);

// Which section a bar belongs to, by the first bars of the sections (sorted).
int sectionOf(const std::vector<int>& sectionBars, int bar);

}  // namespace stockpack
