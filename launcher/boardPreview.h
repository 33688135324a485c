// The picture of the 4 x 4 board that previews rotation, scale and vertical adjustment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A picture in two colours: ink (the black pen) and background (transparent).
struct TboardPreview {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> ink;  // row by row, 1 where the pen drew

    bool inkAt(int32_t x, int32_t y) const { return ink[static_cast<size_t>(y) * width + x] != 0; }
};

// Where the parts of the preview lie; rectangles exclude their right and bottom coordinates.
struct TpreviewRectangle {
    int32_t left, top, right, bottom;
};

struct TpreviewLayout {
    int32_t centreX, centreY;
    int32_t shiftX, shiftY;
    int32_t cell;
    TpreviewRectangle board;
    TpreviewRectangle topMarker;
};

// The layout for an image of width x height, scale slider position p of maximum, vertical
// adjustment v and rotation in degrees (0, 90, 180 or 270).
TpreviewLayout layoutBoardPreview(int32_t width, int32_t height, int32_t scalePosition, int32_t scaleMaximum,
                                  int32_t yAdjust, int32_t rotation);

// Draws the preview: the board outline, its three inner lines each way and the marker on the
// side that is the top of the rotated screen.
TboardPreview drawBoardPreview(int32_t width, int32_t height, int32_t scalePosition, int32_t scaleMaximum,
                               int32_t yAdjust, int32_t rotation);
