// Floating-point RGBA pictures and coverage masks that the stock art is painted with.
#pragma once

#include <functional>
#include <vector>

namespace stockpack {

// A colour with straight (not premultiplied) alpha, components 0..1.
struct Tcolour {
    float red = 0;
    float green = 0;
    float blue = 0;
    float alpha = 1;
};

Tcolour rgb(int hex, float alpha = 1.0f);
Tcolour mix(const Tcolour& from, const Tcolour& to, float amount);
Tcolour withAlpha(const Tcolour& colour, float alpha);
Tcolour scaled(const Tcolour& colour, float brightness);

// Where a paint is asked for its colour: pixel centres, y growing downwards.
using Tpaint = std::function<Tcolour(float x, float y)>;

Tpaint solid(const Tcolour& colour);
// Colour runs from `from` at (x0, y0) to `to` at (x1, y1), clamped beyond both ends.
Tpaint linearGradient(float x0, float y0, const Tcolour& from, float x1, float y1, const Tcolour& to);
// Colour runs from `inner` at the centre to `outer` at the radius.
Tpaint radialGradient(float cx, float cy, float radius, const Tcolour& inner, const Tcolour& outer);

// Coverage 0..1 per pixel, rows from the top.
struct Tmask {
    int width = 0;
    int height = 0;
    std::vector<float> coverage;

    Tmask() = default;
    Tmask(int maskWidth, int maskHeight);
    float at(int x, int y) const { return coverage[static_cast<size_t>(y) * width + x]; }
    float& at(int x, int y) { return coverage[static_cast<size_t>(y) * width + x]; }
};

Tmask unite(const Tmask& first, const Tmask& second);
Tmask subtract(const Tmask& from, const Tmask& cut);
Tmask intersect(const Tmask& first, const Tmask& second);
Tmask scaledMask(const Tmask& mask, float factor);
// Box blur repeated three times, close to a Gaussian of the given radius in pixels.
Tmask blurred(const Tmask& mask, int radius);
// Grows the covered area by radius pixels (a round brush), for outlines around text.
Tmask dilated(const Tmask& mask, float radius);
Tmask shifted(const Tmask& mask, int dx, int dy);

// An RGBA picture, rows from the top.
struct Tcanvas {
    int width = 0;
    int height = 0;
    std::vector<Tcolour> pixels;

    Tcanvas() = default;
    Tcanvas(int canvasWidth, int canvasHeight, const Tcolour& background = {0, 0, 0, 0});
    const Tcolour& at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    Tcolour& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Source-over compositing of paint through the mask, with an overall opacity.
void paintMask(Tcanvas& canvas, const Tmask& mask, const Tpaint& paint, float opacity = 1.0f);
void paintMask(Tcanvas& canvas, const Tmask& mask, const Tcolour& colour, float opacity = 1.0f);
// Adds light: colour times coverage is added to the colour and alpha grows with it.
void addGlow(Tcanvas& canvas, const Tmask& mask, const Tcolour& colour, float strength);
// Draws one canvas over another at an offset.
void drawCanvas(Tcanvas& target, const Tcanvas& source, int left, int top, float opacity = 1.0f);
// A bilinear resize (colours weighted by alpha, so edges keep their colour).
Tcanvas resampled(const Tcanvas& canvas, int width, int height);
// The alpha channel as a mask.
Tmask alphaMask(const Tcanvas& canvas);

}  // namespace stockpack
