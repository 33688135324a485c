// Compositing, gradients and mask arithmetic for the stock art.
#include "tools/stockpack/canvas.h"

#include <algorithm>
#include <cmath>

namespace stockpack {

namespace {

float clamp01(float value) { return std::clamp(value, 0.0f, 1.0f); }

Tcolour over(const Tcolour& below, const Tcolour& above, float coverage) {
    const float top = clamp01(above.alpha * coverage);
    const float alpha = top + below.alpha * (1 - top);
    if (alpha <= 0) return {0, 0, 0, 0};
    const float belowWeight = below.alpha * (1 - top);
    return {(above.red * top + below.red * belowWeight) / alpha, (above.green * top + below.green * belowWeight) / alpha,
            (above.blue * top + below.blue * belowWeight) / alpha, alpha};
}

Tmask combine(const Tmask& first, const Tmask& second, const std::function<float(float, float)>& rule) {
    Tmask result(first.width, first.height);
    for (size_t i = 0; i < result.coverage.size(); ++i) result.coverage[i] = rule(first.coverage[i], second.coverage[i]);
    return result;
}

// One pass of a running-sum box filter along rows (horizontal) or columns.
Tmask boxPass(const Tmask& mask, int radius, bool horizontal) {
    Tmask result(mask.width, mask.height);
    const int lines = horizontal ? mask.height : mask.width;
    const int length = horizontal ? mask.width : mask.height;
    const float scale = 1.0f / static_cast<float>(2 * radius + 1);
    for (int line = 0; line < lines; ++line) {
        auto sample = [&](int position) {
            if (position < 0 || position >= length) return 0.0f;
            return horizontal ? mask.at(position, line) : mask.at(line, position);
        };
        float sum = 0;
        for (int p = -radius; p <= radius; ++p) sum += sample(p);
        for (int p = 0; p < length; ++p) {
            (horizontal ? result.at(p, line) : result.at(line, p)) = sum * scale;
            sum += sample(p + radius + 1) - sample(p - radius);
        }
    }
    return result;
}

}  // namespace

Tcolour rgb(int hex, float alpha) {
    return {static_cast<float>((hex >> 16) & 0xff) / 255.0f, static_cast<float>((hex >> 8) & 0xff) / 255.0f,
            static_cast<float>(hex & 0xff) / 255.0f, alpha};
}

Tcolour mix(const Tcolour& from, const Tcolour& to, float amount) {
    const float t = clamp01(amount);
    return {from.red + (to.red - from.red) * t, from.green + (to.green - from.green) * t,
            from.blue + (to.blue - from.blue) * t, from.alpha + (to.alpha - from.alpha) * t};
}

Tcolour withAlpha(const Tcolour& colour, float alpha) { return {colour.red, colour.green, colour.blue, alpha}; }

Tcolour scaled(const Tcolour& colour, float brightness) {
    return {clamp01(colour.red * brightness), clamp01(colour.green * brightness), clamp01(colour.blue * brightness),
            colour.alpha};
}

Tpaint solid(const Tcolour& colour) {
    return [colour](float, float) { return colour; };
}

Tpaint linearGradient(float x0, float y0, const Tcolour& from, float x1, float y1, const Tcolour& to) {
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float lengthSquared = std::max(dx * dx + dy * dy, 1e-6f);
    return [=](float x, float y) { return mix(from, to, ((x - x0) * dx + (y - y0) * dy) / lengthSquared); };
}

Tpaint radialGradient(float cx, float cy, float radius, const Tcolour& inner, const Tcolour& outer) {
    return [=](float x, float y) { return mix(inner, outer, std::hypot(x - cx, y - cy) / radius); };
}

Tmask::Tmask(int maskWidth, int maskHeight)
    : width(maskWidth), height(maskHeight), coverage(static_cast<size_t>(maskWidth) * maskHeight, 0.0f) {}

Tmask unite(const Tmask& first, const Tmask& second) {
    return combine(first, second, [](float a, float b) { return a + b - a * b; });
}

Tmask subtract(const Tmask& from, const Tmask& cut) {
    return combine(from, cut, [](float a, float b) { return a * (1 - b); });
}

Tmask intersect(const Tmask& first, const Tmask& second) {
    return combine(first, second, [](float a, float b) { return a * b; });
}

Tmask scaledMask(const Tmask& mask, float factor) {
    Tmask result = mask;
    for (float& value : result.coverage) value = clamp01(value * factor);
    return result;
}

Tmask blurred(const Tmask& mask, int radius) {
    if (radius <= 0) return mask;
    Tmask result = mask;
    const int passRadius = std::max(1, radius / 2);
    for (int pass = 0; pass < 3; ++pass) result = boxPass(boxPass(result, passRadius, true), passRadius, false);
    return result;
}

Tmask dilated(const Tmask& mask, float radius) {
    Tmask result(mask.width, mask.height);
    const int reach = static_cast<int>(std::ceil(radius));
    for (int y = 0; y < mask.height; ++y) {
        for (int x = 0; x < mask.width; ++x) {
            float best = 0;
            for (int dy = -reach; dy <= reach; ++dy) {
                for (int dx = -reach; dx <= reach; ++dx) {
                    const int sx = x + dx;
                    const int sy = y + dy;
                    if (sx < 0 || sy < 0 || sx >= mask.width || sy >= mask.height) continue;
                    // Soft brush edge: weight falls from 1 to 0 over the last pixel of the radius.
                    const float weight = clamp01(radius + 0.5f - std::hypot(static_cast<float>(dx), static_cast<float>(dy)));
                    best = std::max(best, mask.at(sx, sy) * weight);
                }
            }
            result.at(x, y) = best;
        }
    }
    return result;
}

Tmask shifted(const Tmask& mask, int dx, int dy) {
    Tmask result(mask.width, mask.height);
    for (int y = 0; y < mask.height; ++y) {
        for (int x = 0; x < mask.width; ++x) {
            const int sx = x - dx;
            const int sy = y - dy;
            if (sx >= 0 && sy >= 0 && sx < mask.width && sy < mask.height) result.at(x, y) = mask.at(sx, sy);
        }
    }
    return result;
}

Tcanvas::Tcanvas(int canvasWidth, int canvasHeight, const Tcolour& background)
    : width(canvasWidth), height(canvasHeight), pixels(static_cast<size_t>(canvasWidth) * canvasHeight, background) {}

void paintMask(Tcanvas& canvas, const Tmask& mask, const Tpaint& paint, float opacity) {
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const float coverage = mask.at(x, y) * opacity;
            if (coverage <= 0) continue;
            canvas.at(x, y) = over(canvas.at(x, y), paint(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f), coverage);
        }
    }
}

void paintMask(Tcanvas& canvas, const Tmask& mask, const Tcolour& colour, float opacity) {
    paintMask(canvas, mask, solid(colour), opacity);
}

void addGlow(Tcanvas& canvas, const Tmask& mask, const Tcolour& colour, float strength) {
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const float amount = mask.at(x, y) * strength * colour.alpha;
            if (amount <= 0) continue;
            Tcolour& pixel = canvas.at(x, y);
            // Light adds in premultiplied terms, so a glow over nothing takes the glow's colour.
            const float alpha = clamp01(pixel.alpha + amount);
            const float red = pixel.red * pixel.alpha + colour.red * amount;
            const float green = pixel.green * pixel.alpha + colour.green * amount;
            const float blue = pixel.blue * pixel.alpha + colour.blue * amount;
            pixel = {clamp01(red / alpha), clamp01(green / alpha), clamp01(blue / alpha), alpha};
        }
    }
}

void drawCanvas(Tcanvas& target, const Tcanvas& source, int left, int top, float opacity) {
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            const int tx = left + x;
            const int ty = top + y;
            if (tx < 0 || ty < 0 || tx >= target.width || ty >= target.height) continue;
            target.at(tx, ty) = over(target.at(tx, ty), source.at(x, y), opacity);
        }
    }
}

Tcanvas resampled(const Tcanvas& canvas, int width, int height) {
    Tcanvas result(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float sx = std::clamp((static_cast<float>(x) + 0.5f) * canvas.width / width - 0.5f, 0.0f, canvas.width - 1.0f);
            const float sy = std::clamp((static_cast<float>(y) + 0.5f) * canvas.height / height - 0.5f, 0.0f, canvas.height - 1.0f);
            const int x0 = static_cast<int>(sx);
            const int y0 = static_cast<int>(sy);
            const int x1 = std::min(x0 + 1, canvas.width - 1);
            const int y1 = std::min(y0 + 1, canvas.height - 1);
            const float fx = sx - static_cast<float>(x0);
            const float fy = sy - static_cast<float>(y0);
            float red = 0, green = 0, blue = 0, alpha = 0;
            auto take = [&](int px, int py, float weight) {
                const Tcolour& c = canvas.at(px, py);
                red += c.red * c.alpha * weight, green += c.green * c.alpha * weight, blue += c.blue * c.alpha * weight;
                alpha += c.alpha * weight;
            };
            take(x0, y0, (1 - fx) * (1 - fy));
            take(x1, y0, fx * (1 - fy));
            take(x0, y1, (1 - fx) * fy);
            take(x1, y1, fx * fy);
            result.at(x, y) = alpha > 0 ? Tcolour{red / alpha, green / alpha, blue / alpha, alpha} : Tcolour{0, 0, 0, 0};
        }
    }
    return result;
}

Tmask alphaMask(const Tcanvas& canvas) {
    Tmask result(canvas.width, canvas.height);
    for (size_t i = 0; i < canvas.pixels.size(); ++i) result.coverage[i] = canvas.pixels[i].alpha;
    return result;
}

}  // namespace stockpack
