// Quads, framed jackets and numbers in the fixed perspective view.
#include "platform/window/glCustomCommandsCode.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "platform/window/openGLClass.h"

namespace {

// The decimal digits of a non-negative value, least significant first. The split runs in
// extended floating point the way the score display always has; it is exact for every int32.
TdigitPlacements splitDigits(int32_t value) {
    TdigitPlacements split;
    long double v = std::max(value, 0);
    do {
        const long double digit = std::floor(v - std::floor(v * 0.1L) * 10);
        split.digits[split.count++].digit = std::clamp(static_cast<int32_t>(digit), 0, 9);
        v *= 0.1L;
    } while (v >= 1 && split.count < 10);
    return split;
}

double digitX(int32_t mode, int32_t k, int32_t n, double spacing, double x) {
    switch (mode) {
        case digitsLeftAligned: return x + (n - 1 - k) * spacing;
        case digitsRightAligned: return x - k * spacing;
        default: return x + (n - 1 - k) * spacing - (n - 1) * spacing * 0.5;
    }
}

}  // namespace

void resetColours(TglCustomCommands& commands) {
    commands = TglCustomCommands{};
}

void nextColour(TglCustomCommands& commands) {
    commands.colourIndex = (commands.colourIndex + 1) % 3;
}

int32_t colourIndex(const TglCustomCommands& commands) {
    return commands.colourIndex;
}

void clearScreen(const TglCustomCommands&) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void drawTexturedQuad(const TglCustomCommands&, uint32_t texture, float x, float y, float z, float width, float height,
                      long double red, long double green, long double blue, long double alpha) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glLoadIdentity();
    // Rotating first turns the positions about the screen centre along with the quads.
    glRotatef(static_cast<float>(cameraRotation()), 0.0f, 0.0f, 1.0f);
    glTranslatef(x, y, z);
    glColor4d(static_cast<double>(red), static_cast<double>(green), static_cast<double>(blue),
              static_cast<double>(alpha));
    const float halfWidth = width / 2;
    const float halfHeight = height / 2;
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-halfWidth, -halfHeight, 0);
    glTexCoord2f(1, 0);
    glVertex3f(halfWidth, -halfHeight, 0);
    glTexCoord2f(1, 1);
    glVertex3f(halfWidth, halfHeight, 0);
    glTexCoord2f(0, 1);
    glVertex3f(-halfWidth, halfHeight, 0);
    glEnd();
}

void drawFramedQuad(const TglCustomCommands& commands, uint32_t imageTexture, uint32_t frameTexture,
                    uint32_t overlayTexture, uint8_t overlayAlpha, float size, float x, float y, float z) {
    const TglColour& frame = commands.colourTable[std::clamp(commands.colourIndex, 0, 2)];
    drawTexturedQuad(commands, imageTexture, x - 0.01f, y - 0.03f, z, 0.8f * size, 0.8f * size, 255, 255, 255,
                     255);
    drawTexturedQuad(commands, frameTexture, x, y, z, size, size, frame.red, frame.green, frame.blue, 255);
    drawTexturedQuad(commands, overlayTexture, x, y, z, size, size, 255, 255, 255, overlayAlpha);
}

TdigitPlacements placeDigits(int32_t value, int32_t mode, double spacing, double x) {
    if (mode != digitsLeftAligned && mode != digitsRightAligned && mode != digitsCentred) return {};
    TdigitPlacements placements = splitDigits(value);
    for (int32_t k = 0; k < placements.count; ++k)
        placements.digits[k].x = digitX(mode, k, placements.count, spacing, x);
    return placements;
}

void drawNumber(const TglCustomCommands& commands, int32_t value, const uint32_t digitTextures[10], int32_t mode,
                uint8_t alpha, double spacing, double width, double height, double x, double y, double z) {
    const TdigitPlacements placements = placeDigits(value, mode, spacing, x);
    for (int32_t k = 0; k < placements.count; ++k) {
        const TdigitPlacement& placement = placements.digits[k];
        drawTexturedQuad(commands, digitTextures[placement.digit], static_cast<float>(placement.x),
                         static_cast<float>(y), static_cast<float>(z), static_cast<float>(width),
                         static_cast<float>(height), 255, 255, 255, alpha);
    }
}
