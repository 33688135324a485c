// Lays out and rasterises the board preview with GDI's rules: rectangles and lines leave out
// their right, bottom and end pixels.
#include "launcher/boardPreview.h"

#include <cmath>

namespace {

// Nearest integer, ties to the even one (the default rounding mode).
int32_t roundEven(long double value) {
    return static_cast<int32_t>(std::nearbyint(value));
}

int32_t floorOf(long double value) {
    return static_cast<int32_t>(std::floor(value));
}

class Tcanvas {
public:
    Tcanvas(int32_t width, int32_t height) {
        picture.width = width;
        picture.height = height;
        picture.ink.assign(static_cast<size_t>(width) * height, 0);
    }

    void plot(int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return;
        picture.ink[static_cast<size_t>(y) * picture.width + x] = 1;
    }

    void erase(int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return;
        picture.ink[static_cast<size_t>(y) * picture.width + x] = 0;
    }

    // A pen outline filled with the background colour.
    void rectangle(const TpreviewRectangle& r) {
        if (r.right <= r.left || r.bottom <= r.top) return;
        for (int32_t y = r.top + 1; y < r.bottom - 1; ++y)
            for (int32_t x = r.left + 1; x < r.right - 1; ++x) erase(x, y);
        for (int32_t x = r.left; x < r.right; ++x) {
            plot(x, r.top);
            plot(x, r.bottom - 1);
        }
        for (int32_t y = r.top; y < r.bottom; ++y) {
            plot(r.left, y);
            plot(r.right - 1, y);
        }
    }

    // A line that goes straight up from its start, its end left out.
    void lineUp(int32_t x, int32_t fromY, int32_t toY) {
        for (int32_t y = fromY; y > toY; --y) plot(x, y);
    }

    // A line that goes straight left from its start, its end left out.
    void lineLeft(int32_t y, int32_t fromX, int32_t toX) {
        for (int32_t x = fromX; x > toX; --x) plot(x, y);
    }

    TboardPreview picture;
};

}  // namespace

TpreviewLayout layoutBoardPreview(int32_t width, int32_t height, int32_t scalePosition, int32_t scaleMaximum,
                                  int32_t yAdjust, int32_t rotation) {
    TpreviewLayout layout{};
    layout.centreX = roundEven(width / 2.0L);
    layout.centreY = roundEven(height / 2.0L);

    const int32_t offset = floorOf(yAdjust * (height / 30.0L));
    switch (rotation) {
        case 90: layout.shiftX = offset; break;
        case 180: layout.shiftY = -offset; break;
        case 270: layout.shiftX = -offset; break;
        default: layout.shiftY = offset; break;
    }

    const long double d = static_cast<long double>(scaleMaximum - scalePosition) / scaleMaximum;
    const int32_t size = floorOf((0.9L * d + 0.1L) * height) - 1;
    const int32_t half = roundEven(size / 2.0L);
    layout.cell = roundEven(size / 4.0L);

    const int32_t x = layout.centreX + layout.shiftX;
    const int32_t y = layout.centreY + layout.shiftY;
    const TpreviewRectangle board{x - half, y - half, x + half, y + half};
    layout.board = board;

    const int32_t gap = roundEven(10 * d);
    const int32_t thickness = roundEven(52 * d);
    switch (rotation) {
        case 180: layout.topMarker = {board.left, board.bottom + gap, board.right, board.bottom + gap + thickness}; break;
        case 90: layout.topMarker = {board.left - gap - thickness, board.top, board.left - gap, board.bottom}; break;
        case 270: layout.topMarker = {board.right + gap, board.top, board.right + gap + thickness, board.bottom}; break;
        default: layout.topMarker = {board.left, board.top - gap - thickness, board.right, board.top - gap}; break;
    }
    return layout;
}

TboardPreview drawBoardPreview(int32_t width, int32_t height, int32_t scalePosition, int32_t scaleMaximum,
                               int32_t yAdjust, int32_t rotation) {
    const TpreviewLayout layout = layoutBoardPreview(width, height, scalePosition, scaleMaximum, yAdjust, rotation);
    Tcanvas canvas(width, height);
    canvas.rectangle(layout.board);
    const int32_t x = layout.centreX + layout.shiftX;
    const int32_t y = layout.centreY + layout.shiftY;
    for (int32_t k = -1; k <= 1; ++k) {
        canvas.lineUp(x + layout.cell * k, layout.board.bottom - 1, layout.board.top);
        canvas.lineLeft(y + layout.cell * k, layout.board.right - 1, layout.board.left);
    }
    canvas.rectangle(layout.topMarker);
    return canvas.picture;
}
