// Text rendered with FreeType into coverage masks, for labels, digits, logos and the console font.
#pragma once

#include <memory>
#include <string>

#include "tools/stockpack/canvas.h"

namespace stockpack {

// The folder of the DejaVu fonts the art is set in.
std::string dejaVuFolder();

// One font file opened with FreeType.
class TfontFace {
public:
    explicit TfontFace(const std::string& fileName);
    ~TfontFace();
    TfontFace(const TfontFace&) = delete;
    TfontFace& operator=(const TfontFace&) = delete;

    struct Tstate;
    Tstate& state() const { return *data; }

private:
    std::unique_ptr<Tstate> data;
};

// The inked pixels of one line of text; originX/originY is where the pen started on the baseline,
// measured from the mask's top-left corner.
struct TtextRun {
    Tmask ink;
    int originX = 0;
    int originY = 0;
    int advance = 0;
};

// Renders UTF-8 text at a pixel size; tracking adds pixels between letters.
TtextRun renderText(const TfontFace& face, const std::string& text, int pixelSize, int tracking = 0, bool hinted = false);

// Places the ink of the largest size that fits the box (at most maxPixelSize), its ink centred
// on (centreX, centreY), into a mask of the given size.
Tmask fittedText(const TfontFace& face, const std::string& text, int width, int height, float centreX, float centreY,
                 float boxWidth, float boxHeight, int maxPixelSize = 400, int tracking = 0);

// Copies a run's ink into a mask of the given size with the ink's top-left at (left, top).
Tmask placedRun(const TtextRun& run, int width, int height, int left, int top);

}  // namespace stockpack
