// The look shared by every stock image: palette, fonts, lettering and the button body.
#pragma once

#include <string>

#include "tools/stockpack/canvas.h"
#include "tools/stockpack/textMasks.h"

namespace stockpack {

// The faces the art is lettered in.
struct TartFonts {
    TfontFace bold{dejaVuFolder() + "DejaVuSans-Bold.ttf"};
    TfontFace regular{dejaVuFolder() + "DejaVuSans.ttf"};
};

namespace palette {
const Tcolour ink = rgb(0x141832);
const Tcolour deep = rgb(0x1f2552);
const Tcolour indigo = rgb(0x2e3a8c);
const Tcolour cyan = rgb(0x35d4ff);
const Tcolour magenta = rgb(0xff4fa8);
const Tcolour gold = rgb(0xffcc3d);
const Tcolour orange = rgb(0xff8a3d);
const Tcolour green = rgb(0x4dffa6);
const Tcolour blue = rgb(0x4d8dff);
const Tcolour violet = rgb(0xb45cff);
const Tcolour white = rgb(0xffffff);
const Tcolour mist = rgb(0xdfe6ff);
}  // namespace palette

// How a piece of lettering is painted.
struct Tlettering {
    Tpaint fill;
    Tcolour outline = palette::ink;
    float outlineWidth = 0;
    float shadowOpacity = 0;
    int shadowOffset = 0;
    int tracking = 0;
};

// Fits the text into the box centred at (cx, cy) and paints it with outline and shadow.
void letter(Tcanvas& canvas, const TfontFace& face, const std::string& text, float cx, float cy, float boxWidth,
            float boxHeight, const Tlettering& style);

// A rounded square button body filling most of a square canvas: soft shadow, gradient body,
// coloured rim and a gloss over its upper half. Returns the body's mask for later clipping.
Tmask buttonBody(Tcanvas& canvas, const Tcolour& top, const Tcolour& bottom, const Tcolour& rim);

// A soft light around the mask's shape.
void glowAround(Tcanvas& canvas, const Tmask& shape, const Tcolour& colour, int radius, float strength);

}  // namespace stockpack
