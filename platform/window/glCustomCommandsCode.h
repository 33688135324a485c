// The drawing helpers every frame uses: tinted, rotated textured quads, jackets, numbers, the colour cycle.
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

// How drawNumber lines its digits up against x.
enum DigitAlignment : int32_t {
    digitsLeftAligned = 0,   // most significant digit at x
    digitsRightAligned = 1,  // least significant digit at x
    digitsCentred = 2,
};

// One digit of a number and the x of its quad's centre.
struct TdigitPlacement {
    int32_t digit;
    double x;
};

// The digits drawNumber draws, least significant first; an int32 has at most ten.
struct TdigitPlacements {
    int32_t count = 0;
    TdigitPlacement digits[10] = {};
};

void resetColours(TglCustomCommands& commands);
void nextColour(TglCustomCommands& commands);
int32_t colourIndex(const TglCustomCommands& commands);

void clearScreen(const TglCustomCommands& commands);

// A textured quad centred on (x, y, z), turned with the screen by cameraRotation. Colour
// components are passed to GL unscaled, so anything from 1 up (255 included) means full.
void drawTexturedQuad(const TglCustomCommands& commands, uint32_t texture, float x, float y, float z, float width,
                      float height, long double red, long double green, long double blue, long double alpha);

// A song jacket: the image, the frame tinted by the selected colour, and the overlay at overlayAlpha.
void drawFramedQuad(const TglCustomCommands& commands, uint32_t imageTexture, uint32_t frameTexture,
                    uint32_t overlayTexture, uint8_t overlayAlpha, float size, float x, float y, float z);

// Where the digits of value go for an alignment mode; an unknown mode places none. Negative
// values are drawn as 0.
TdigitPlacements placeDigits(int32_t value, int32_t mode, double spacing, double x);

// value drawn with one digit texture per decimal digit.
void drawNumber(const TglCustomCommands& commands, int32_t value, const uint32_t digitTextures[10], int32_t mode,
                uint8_t alpha, double spacing, double width, double height, double x, double y, double z);
