// The demo marker skins: animation frames for every panel state and a preview per skin.
#pragma once

#include "tools/stockpack/artStyle.h"
#include "tools/stockpack/packWriter.h"

namespace stockpack {

// Frames per state, in the order the game lists the states.
struct TskinState {
    const char* name;
    int frames;
};
extern const TskinState skinStates[7];

// Writes the "Halo" and "Prism" skins under demo/MKR/.
void writeMarkerSkins(TpackWriter& pack, const TartFonts& fonts);

}  // namespace stockpack
