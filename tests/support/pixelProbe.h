// Reading back what a GL test drew: where a view point lands in the window, and the pixel there.
#pragma once

#include <array>
#include <string>

using Tpixel = std::array<int, 3>;

// The window pixel on which a point of the view (no model transform) lands, in the current
// projection and viewport.
std::array<int, 2> windowPointOfView(double x, double y, double z);
// The back buffer's colour at a window pixel.
Tpixel readPixel(const std::array<int, 2>& point);
Tpixel pixelAtView(double x, double y, double z);
// "(r, g, b)", for failure messages.
std::string pixelText(const Tpixel& pixel);
