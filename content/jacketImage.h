// A jacket made ready for the GPU away from the frame: scaled to a square power-of-two side and
// every mipmap level worked out, so that making its texture only copies bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "content/imageDecoders.h"

// The side of a jacket texture: enough for the big jacket of song select.
constexpr uint32_t jacketSide = 256;

struct TjacketImage {
    TpixelLayout layout = TpixelLayout::rgb;
    // Level 0 is side x side, each next one half as wide down to 1 x 1.
    std::vector<std::vector<uint8_t>> levels;
    uint32_t side = 0;
};

// The image scaled (bilinear) to side x side with its mipmap levels (each the mean of 2 x 2
// texels of the one before); empty levels for an image without pixels or a side that is not a
// power of two.
TjacketImage prepareJacket(const TpixelBuffer& image, uint32_t side = jacketSide);
