// Anti-aliased shapes: signed distance functions turned into coverage masks.
#pragma once

#include <functional>
#include <vector>

#include "tools/stockpack/canvas.h"

namespace stockpack {

// Distance in pixels to the shape's edge: negative inside, positive outside.
using Tsdf = std::function<float(float x, float y)>;

struct Tpoint {
    float x;
    float y;
};

Tsdf circle(float cx, float cy, float radius);
// A band of the given thickness centred on a circle.
Tsdf ring(float cx, float cy, float radius, float thickness);
Tsdf roundedBox(float cx, float cy, float halfWidth, float halfHeight, float cornerRadius);
// A box outline of the given thickness, centred on the box's edge.
Tsdf roundedFrame(float cx, float cy, float halfWidth, float halfHeight, float cornerRadius, float thickness);
// A stroke from a to b with round ends.
Tsdf segment(Tpoint a, Tpoint b, float thickness);
Tsdf polygon(const std::vector<Tpoint>& corners);
// A band along the polygon's edges (closed outline).
Tsdf polygonOutline(const std::vector<Tpoint>& corners, float thickness);

// Corners of a regular star (inner radius equal to outer gives a regular polygon); the first
// point is at angle `rotation` in radians, measured clockwise from straight up.
std::vector<Tpoint> starCorners(float cx, float cy, float outerRadius, float innerRadius, int points, float rotation);
std::vector<Tpoint> rotatedCorners(const std::vector<Tpoint>& corners, float cx, float cy, float angle);

// Coverage of the shape per pixel, sampled at pixel centres with a one-pixel soft edge.
Tmask shapeMask(int width, int height, const Tsdf& shape);

}  // namespace stockpack
