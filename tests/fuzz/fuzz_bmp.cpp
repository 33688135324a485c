// Fuzz target: any bytes through the BMP decoder give pixels of the announced size or a refusal.
#include <cstdlib>

#include "content/imageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TdecodedImage decoded = decodeBmp(data, size);
    if (!decoded.ok()) {
        if (!decoded.image.pixels.empty()) std::abort();  // a refusal carries no pixels
        return 0;
    }
    const TpixelBuffer& image = decoded.image;
    const size_t expected = size_t{image.width} * image.height * bytesPerPixel(image.layout);
    if (image.width == 0 || image.height == 0 || image.pixels.size() != expected) std::abort();
    return 0;
}
