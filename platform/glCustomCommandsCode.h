// The drawing helpers every frame uses: tinted, rotated textured quads and the colour cycle.
#pragma once

#include <cstdint>

struct TglColour {
    int32_t red;
    int32_t green;
    int32_t blue;
};

// The colour cycle; the engine uses colourIndex as the selected difficulty.
struct TglCustomCommands {
    int32_t colourIndex = 2;
    TglColour colourTable[3] = {{0, 255, 0}, {255, 255, 0}, {255, 0, 0}};
};

void resetColours(TglCustomCommands& commands);
void clearScreen(const TglCustomCommands& commands);
