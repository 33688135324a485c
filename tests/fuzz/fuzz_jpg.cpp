// Fuzz target: any bytes through the JPEG decoder give pixels of the announced size or a refusal.
#include <cstdlib>

#include "content/imageDecoders.h"

// Small inputs may announce pictures of any size; a bound keeps each run fast.
constexpr uint64_t maxFuzzPixels = 1u << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TdecodedImage decoded = decodeJpeg(data, size, maxFuzzPixels);
    if (!decoded.ok()) {
        if (!decoded.image.pixels.empty()) std::abort();  // a refusal carries no pixels
        return 0;
    }
    const TpixelBuffer& image = decoded.image;
    const size_t expected = size_t{image.width} * image.height * bytesPerPixel(image.layout);
    if (image.width == 0 || image.height == 0 || image.pixels.size() != expected) std::abort();
    return 0;
}
