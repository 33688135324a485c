// Image decoders: the bytes of a BMP, TGA or JPEG file in, a pixel buffer or a refusal out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Widths and heights outside 1 .. this are refused by every decoder.
constexpr uint32_t maxImageSide = 16384;
// The most memory the game spends on one picture once it is a texture. A few bytes of header
// can announce any size, so a picture that would need more is refused before anything is
// allocated for it.
constexpr uint64_t maxImageMemory = uint64_t{256} << 20;

enum class TpixelLayout { rgb, rgba };

// Decoded pixels: rows from the bottom of the picture to the top, packed without padding,
// 3 bytes R, G, B or 4 bytes R, G, B, A per pixel.
struct TpixelBuffer {
    uint32_t width = 0;
    uint32_t height = 0;
    TpixelLayout layout = TpixelLayout::rgb;
    std::vector<uint8_t> pixels;
};

// Why a decoder refused its bytes; the texture loader turns each into the reader's message.
enum class TimageFault {
    none,
    bmpPaletteShort,
    bmpDataShort,
    bmpVariant,
    tgaType,
    tgaColourMap,
    tgaDepth,
    tgaDataShort,
    jpegError,
    badSize,
};

struct TdecodedImage {
    TimageFault fault = TimageFault::none;
    TpixelBuffer image;

    bool ok() const { return fault == TimageFault::none; }
};

size_t bytesPerPixel(TpixelLayout layout);

// Whether the decoders accept a picture of these sides: each from 1 to maxImageSide, and its
// texture within maxImageMemory. Sides that fail give TimageFault::badSize.
bool imageSizeAccepted(uint64_t width, uint64_t height);

// Uncompressed 24-bit BMP with a 40, 108 or 124 byte info header, bottom-up or top-down.
TdecodedImage decodeBmp(const uint8_t* bytes, size_t size);
// True-colour TGA, type 2 (raw) or 10 (run-length), 24 or 32 bits, bottom or top origin.
TdecodedImage decodeTga(const uint8_t* bytes, size_t size);
// Whatever libjpeg decodes to RGB; always opaque RGBA.
TdecodedImage decodeJpeg(const uint8_t* bytes, size_t size);
