// Signed distance functions of the shapes the stock art is built from.
#include "tools/stockpack/shapes.h"

#include <algorithm>
#include <cmath>

namespace stockpack {

namespace {

float distanceToSegment(Tpoint p, Tpoint a, Tpoint b) {
    const float dx = b.x - a.x;
    const float dy = b.y - a.y;
    const float lengthSquared = dx * dx + dy * dy;
    const float t = lengthSquared > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared, 0.0f, 1.0f) : 0.0f;
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

float distanceToOutline(const std::vector<Tpoint>& corners, Tpoint p) {
    float best = 1e30f;
    for (size_t i = 0; i < corners.size(); ++i) {
        best = std::min(best, distanceToSegment(p, corners[i], corners[(i + 1) % corners.size()]));
    }
    return best;
}

// Even-odd crossing test.
bool insidePolygon(const std::vector<Tpoint>& corners, Tpoint p) {
    bool inside = false;
    for (size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
        const Tpoint& a = corners[i];
        const Tpoint& b = corners[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

}  // namespace

Tsdf circle(float cx, float cy, float radius) {
    return [=](float x, float y) { return std::hypot(x - cx, y - cy) - radius; };
}

Tsdf ring(float cx, float cy, float radius, float thickness) {
    return [=](float x, float y) { return std::fabs(std::hypot(x - cx, y - cy) - radius) - thickness / 2; };
}

Tsdf roundedBox(float cx, float cy, float halfWidth, float halfHeight, float cornerRadius) {
    return [=](float x, float y) {
        const float qx = std::fabs(x - cx) - halfWidth + cornerRadius;
        const float qy = std::fabs(y - cy) - halfHeight + cornerRadius;
        const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
        return outside + std::min(std::max(qx, qy), 0.0f) - cornerRadius;
    };
}

Tsdf roundedFrame(float cx, float cy, float halfWidth, float halfHeight, float cornerRadius, float thickness) {
    const Tsdf box = roundedBox(cx, cy, halfWidth, halfHeight, cornerRadius);
    return [=](float x, float y) { return std::fabs(box(x, y)) - thickness / 2; };
}

Tsdf segment(Tpoint a, Tpoint b, float thickness) {
    return [=](float x, float y) { return distanceToSegment({x, y}, a, b) - thickness / 2; };
}

Tsdf polygon(const std::vector<Tpoint>& corners) {
    return [corners](float x, float y) {
        const float distance = distanceToOutline(corners, {x, y});
        return insidePolygon(corners, {x, y}) ? -distance : distance;
    };
}

Tsdf polygonOutline(const std::vector<Tpoint>& corners, float thickness) {
    return [corners, thickness](float x, float y) { return distanceToOutline(corners, {x, y}) - thickness / 2; };
}

std::vector<Tpoint> starCorners(float cx, float cy, float outerRadius, float innerRadius, int points, float rotation) {
    std::vector<Tpoint> corners;
    const float step = static_cast<float>(M_PI) / static_cast<float>(points);
    for (int i = 0; i < points * 2; ++i) {
        const float radius = i % 2 == 0 ? outerRadius : innerRadius;
        const float angle = rotation + step * static_cast<float>(i);
        corners.push_back({cx + radius * std::sin(angle), cy - radius * std::cos(angle)});
    }
    return corners;
}

std::vector<Tpoint> rotatedCorners(const std::vector<Tpoint>& corners, float cx, float cy, float angle) {
    std::vector<Tpoint> result;
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    for (const Tpoint& p : corners) {
        const float dx = p.x - cx;
        const float dy = p.y - cy;
        result.push_back({cx + dx * c - dy * s, cy + dx * s + dy * c});
    }
    return result;
}

Tmask shapeMask(int width, int height, const Tsdf& shape) {
    Tmask mask(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float distance = shape(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f);
            mask.at(x, y) = std::clamp(0.5f - distance, 0.0f, 1.0f);
        }
    }
    return mask;
}

}  // namespace stockpack
