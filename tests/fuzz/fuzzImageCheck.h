// What every image decoder promises, checked on each fuzz input: pixels of the announced size
// within the game's memory bound, or a refusal that carries none.
#pragma once

#include <cstdlib>

#include "content/imageDecoders.h"

inline void checkDecoded(const TdecodedImage& decoded) {
    const TpixelBuffer& image = decoded.image;
    if (!decoded.ok()) {
        if (!image.pixels.empty()) std::abort();
        return;
    }
    const size_t expected = size_t{image.width} * image.height * bytesPerPixel(image.layout);
    if (!imageSizeAccepted(image.width, image.height) || image.pixels.size() != expected) std::abort();
}
