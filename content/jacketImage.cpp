// Scaling and mipmapping jackets on the CPU, so the GL thread only uploads them.
#include "content/jacketImage.h"

#include <algorithm>
#include <cmath>

namespace {

size_t channelsOf(TpixelLayout layout) {
    return layout == TpixelLayout::rgba ? 4 : 3;
}

bool powerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// One texel of the source, bilinear between the four around (x, y) in source pixel space.
uint8_t sampled(const TpixelBuffer& image, size_t channels, double x, double y, size_t channel) {
    const double fx = std::clamp(x, 0.0, image.width - 1.0);
    const double fy = std::clamp(y, 0.0, image.height - 1.0);
    const uint32_t x0 = static_cast<uint32_t>(fx);
    const uint32_t y0 = static_cast<uint32_t>(fy);
    const uint32_t x1 = std::min(x0 + 1, image.width - 1);
    const uint32_t y1 = std::min(y0 + 1, image.height - 1);
    const auto at = [&](uint32_t px, uint32_t py) {
        return static_cast<double>(image.pixels[(static_cast<size_t>(py) * image.width + px) * channels + channel]);
    };
    const double ax = fx - x0;
    const double ay = fy - y0;
    const double top = at(x0, y0) * (1 - ax) + at(x1, y0) * ax;
    const double bottom = at(x0, y1) * (1 - ax) + at(x1, y1) * ax;
    return static_cast<uint8_t>(std::lround(top * (1 - ay) + bottom * ay));
}

std::vector<uint8_t> scaled(const TpixelBuffer& image, size_t channels, uint32_t side) {
    std::vector<uint8_t> out(static_cast<size_t>(side) * side * channels);
    const double stepX = static_cast<double>(image.width) / side;
    const double stepY = static_cast<double>(image.height) / side;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x)
            for (size_t c = 0; c < channels; ++c)
                out[(static_cast<size_t>(y) * side + x) * channels + c] =
                    sampled(image, channels, (x + 0.5) * stepX - 0.5, (y + 0.5) * stepY - 0.5, c);
    return out;
}

std::vector<uint8_t> halved(const std::vector<uint8_t>& level, size_t channels, uint32_t side) {
    const uint32_t half = side / 2;
    std::vector<uint8_t> out(static_cast<size_t>(half) * half * channels);
    const auto at = [&](uint32_t x, uint32_t y, size_t c) {
        return static_cast<uint32_t>(level[(static_cast<size_t>(y) * side + x) * channels + c]);
    };
    for (uint32_t y = 0; y < half; ++y)
        for (uint32_t x = 0; x < half; ++x)
            for (size_t c = 0; c < channels; ++c) {
                const uint32_t sum = at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) + at(2 * x, 2 * y + 1, c) +
                                     at(2 * x + 1, 2 * y + 1, c);
                out[(static_cast<size_t>(y) * half + x) * channels + c] = static_cast<uint8_t>((sum + 2) / 4);
            }
    return out;
}

}  // namespace

TjacketImage prepareJacket(const TpixelBuffer& image, uint32_t side) {
    TjacketImage jacket;
    jacket.layout = image.layout;
    const size_t channels = channelsOf(image.layout);
    if (!powerOfTwo(side) || image.width == 0 || image.height == 0 ||
        image.pixels.size() < static_cast<size_t>(image.width) * image.height * channels)
        return jacket;
    jacket.side = side;
    jacket.levels.push_back(scaled(image, channels, side));
    for (uint32_t levelSide = side; levelSide > 1; levelSide /= 2)
        jacket.levels.push_back(halved(jacket.levels.back(), channels, levelSide));
    return jacket;
}
