// Decoding of BMP, TGA and JPEG bytes into bottom-up RGB or RGBA pixel buffers.
#include "content/imageDecoders.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace {

uint16_t readU16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t readU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) | (static_cast<uint32_t>(at[2]) << 16) |
           (static_cast<uint32_t>(at[3]) << 24);
}

int32_t readI32(const uint8_t* at) {
    return static_cast<int32_t>(readU32(at));
}

bool sideFits(uint64_t side) {
    return side >= 1 && side <= maxImageSide;
}

// The side the mipmap builder scales a texture side to: the power of two below it, or the one
// above once the side reaches one and a half times the one below.
uint64_t powerOfTwoSide(uint64_t side) {
    uint64_t below = 1;
    while (below * 2 <= side) below *= 2;
    return 2 * side >= 3 * below ? 2 * below : below;
}

// What a texture of these sides costs with every level of its mipmap chain, at 4 bytes a pixel
// whatever the layout (a driver may keep RGB as RGBA). On each side the larger of the decoded and the
// scaled size counts, so the bound holds for the decoded buffer as well.
uint64_t textureMemory(uint64_t width, uint64_t height) {
    uint64_t levelWidth = std::max(width, powerOfTwoSide(width));
    uint64_t levelHeight = std::max(height, powerOfTwoSide(height));
    uint64_t pixels = levelWidth * levelHeight;
    while (levelWidth > 1 || levelHeight > 1) {
        levelWidth = std::max<uint64_t>(levelWidth / 2, 1);
        levelHeight = std::max<uint64_t>(levelHeight / 2, 1);
        pixels += levelWidth * levelHeight;
    }
    return pixels * 4;
}

TdecodedImage refusal(TimageFault fault) {
    TdecodedImage result;
    result.fault = fault;
    return result;
}

void startBuffer(TpixelBuffer& image, uint32_t width, uint32_t height, TpixelLayout layout) {
    image.width = width;
    image.height = height;
    image.layout = layout;
    image.pixels.assign(size_t{width} * height * bytesPerPixel(layout), 0);
}

// Copies count pixels stored B, G, R (, A) into R, G, B (, A).
void copySwappingRedAndBlue(const uint8_t* from, uint8_t* to, size_t count, size_t pixelSize) {
    for (size_t i = 0; i < count; ++i, from += pixelSize, to += pixelSize) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
        if (pixelSize == 4) to[3] = from[3];
    }
}

// ---- BMP ----

constexpr size_t bmpFileHeaderSize = 14;
constexpr size_t bmpInfoFieldsSize = 40;

struct TbmpHeader {
    uint32_t pixelOffset;
    uint32_t infoSize;
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t coloursUsed;
};

TbmpHeader readBmpHeader(const uint8_t* bytes) {
    TbmpHeader header{};
    header.pixelOffset = readU32(bytes + 10);
    header.infoSize = readU32(bytes + 14);
    header.width = readI32(bytes + 18);
    header.height = readI32(bytes + 22);
    header.bitCount = readU16(bytes + 28);
    header.compression = readU32(bytes + 30);
    header.coloursUsed = readU32(bytes + 46);
    return header;
}

bool isKnownBmpInfoSize(uint32_t infoSize) {
    return infoSize == 40 || infoSize == 108 || infoSize == 124;
}

// Where the pixel rows start: the offset the file header gives, unless it points into the
// headers themselves, in which case right after the colour table.
uint64_t bmpPixelStart(const TbmpHeader& header, uint64_t colourTableEnd) {
    if (header.pixelOffset < bmpFileHeaderSize + header.infoSize) return colourTableEnd;
    return header.pixelOffset;
}

TdecodedImage decodeBmpRows(const uint8_t* rows, uint32_t width, uint32_t height, size_t stride, bool topDown) {
    TdecodedImage result;
    startBuffer(result.image, width, height, TpixelLayout::rgb);
    const size_t rowBytes = size_t{width} * 3;
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t sourceRow = topDown ? height - 1 - y : y;
        copySwappingRedAndBlue(rows + sourceRow * stride, result.image.pixels.data() + y * rowBytes, width, 3);
    }
    return result;
}

// ---- TGA ----

constexpr size_t tgaHeaderSize = 18;
constexpr uint8_t tgaTopOrigin = 0x20;

struct TtgaHeader {
    uint8_t idLength;
    uint8_t colourMapType;
    uint8_t imageType;
    uint16_t width;
    uint16_t height;
    uint8_t bitsPerPixel;
    uint8_t descriptor;
};

TtgaHeader readTgaHeader(const uint8_t* bytes) {
    return TtgaHeader{bytes[0], bytes[1], bytes[2], readU16(bytes + 12), readU16(bytes + 14), bytes[16], bytes[17]};
}

TimageFault checkTgaHeader(const TtgaHeader& header) {
    if (header.imageType != 2 && header.imageType != 10) return TimageFault::tgaType;
    if (header.colourMapType != 0) return TimageFault::tgaColourMap;
    if (header.bitsPerPixel != 24 && header.bitsPerPixel != 32) return TimageFault::tgaDepth;
    if (!imageSizeAccepted(header.width, header.height)) return TimageFault::badSize;
    return TimageFault::none;
}

// Run-length packets into pixels in file order. A packet that reaches past the image's end is
// cut at the end; data that ends before the image is full is short data.
bool decodeTgaPackets(const uint8_t* data, size_t size, uint8_t* out, size_t pixelCount, size_t pixelSize) {
    size_t at = 0;
    size_t done = 0;
    while (done < pixelCount) {
        if (at >= size) return false;
        const uint8_t packet = data[at++];
        const bool isRun = packet >= 128;
        const size_t count = std::min<size_t>(isRun ? packet - 127u : packet + 1u, pixelCount - done);
        const size_t needed = isRun ? pixelSize : count * pixelSize;
        if (size - at < needed) return false;
        if (isRun) {
            for (size_t i = 0; i < count; ++i)
                copySwappingRedAndBlue(data + at, out + (done + i) * pixelSize, 1, pixelSize);
        } else {
            copySwappingRedAndBlue(data + at, out + done * pixelSize, count, pixelSize);
        }
        at += needed;
        done += count;
    }
    return true;
}

// Whether run-length data of this many bytes can hold pixelCount pixels at all: every packet
// carries at least one pixel value and yields at most 128 pixels.
bool tgaPacketsCanHold(size_t available, size_t pixelCount, size_t pixelSize) {
    const uint64_t packets = available / (1 + pixelSize);
    return packets * 128 >= pixelCount;
}

void mirrorRows(TpixelBuffer& image) {
    const size_t rowBytes = size_t{image.width} * bytesPerPixel(image.layout);
    uint8_t* pixels = image.pixels.data();
    for (uint32_t top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(pixels + top * rowBytes, pixels + (top + 1) * rowBytes, pixels + bottom * rowBytes);
}

// ---- JPEG ----

// libjpeg reports errors by calling error_exit, which must not return; this one jumps back
// into the decoder so that a broken file becomes a refusal instead of ending the process.
struct TjpegErrorManager {
    jpeg_error_mgr library;
    std::jmp_buf escape;
};

[[noreturn]] void leaveDecoder(j_common_ptr info) {
    std::longjmp(reinterpret_cast<TjpegErrorManager*>(info->err)->escape, 1);
}

void keepQuiet(j_common_ptr) {}

// A progressive file can hold thousands of tiny scans, each re-walking the whole image;
// real pictures have a handful.
constexpr int maxJpegScans = 500;

void limitScans(j_common_ptr info) {
    if (!info->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > maxJpegScans) info->err->error_exit(info);
}

// Decodes into result, which lives outside this frame so that nothing here needs to survive
// the jump back from the error manager.
bool decodeJpegInto(const uint8_t* bytes, size_t size, TdecodedImage& result) {
    jpeg_decompress_struct info;
    TjpegErrorManager errors;
    jpeg_progress_mgr progress;
    info.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = leaveDecoder;
    errors.library.output_message = keepQuiet;
    if (setjmp(errors.escape)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    progress.progress_monitor = limitScans;
    info.progress = &progress;
    jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (!imageSizeAccepted(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        result.fault = TimageFault::badSize;
        return true;
    }
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    startBuffer(result.image, info.output_width, info.output_height, TpixelLayout::rgba);
    const size_t rowBytes = size_t{info.output_width} * 4;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.image.pixels.data() + (info.output_height - 1 - info.output_scanline) * rowBytes;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

size_t bytesPerPixel(TpixelLayout layout) {
    return layout == TpixelLayout::rgba ? 4 : 3;
}

bool imageSizeAccepted(uint64_t width, uint64_t height) {
    return sideFits(width) && sideFits(height) && textureMemory(width, height) <= maxImageMemory;
}

TdecodedImage decodeBmp(const uint8_t* bytes, size_t size) {
    if (size < 2) return refusal(TimageFault::bmpDataShort);
    if (bytes[0] != 'B' || bytes[1] != 'M') return refusal(TimageFault::bmpVariant);
    if (size < bmpFileHeaderSize + bmpInfoFieldsSize) return refusal(TimageFault::bmpDataShort);
    const TbmpHeader header = readBmpHeader(bytes);
    if (!isKnownBmpInfoSize(header.infoSize) || header.bitCount != 24 || header.compression != 0)
        return refusal(TimageFault::bmpVariant);
    const int64_t signedHeight = header.height;
    const uint64_t height = signedHeight < 0 ? -signedHeight : signedHeight;
    if (header.width < 0 || !imageSizeAccepted(static_cast<uint64_t>(header.width), height))
        return refusal(TimageFault::badSize);
    const uint64_t colourTableEnd = bmpFileHeaderSize + header.infoSize + uint64_t{header.coloursUsed} * 4;
    if (colourTableEnd > size) return refusal(TimageFault::bmpPaletteShort);

    const uint32_t width = static_cast<uint32_t>(header.width);
    const uint64_t rowBytes = uint64_t{width} * 3;
    const uint64_t stride = (rowBytes + 3) / 4 * 4;
    const uint64_t start = bmpPixelStart(header, colourTableEnd);
    // The last row's padding may be missing without losing a pixel.
    const uint64_t needed = stride * (height - 1) + rowBytes;
    if (start > size || size - start < needed) return refusal(TimageFault::bmpDataShort);
    return decodeBmpRows(bytes + start, width, static_cast<uint32_t>(height), stride, signedHeight < 0);
}

TdecodedImage decodeTga(const uint8_t* bytes, size_t size) {
    if (size < tgaHeaderSize) return refusal(TimageFault::tgaDataShort);
    const TtgaHeader header = readTgaHeader(bytes);
    const TimageFault headerFault = checkTgaHeader(header);
    if (headerFault != TimageFault::none) return refusal(headerFault);

    const size_t pixelSize = header.bitsPerPixel / 8;
    const size_t pixelCount = size_t{header.width} * header.height;
    const size_t start = tgaHeaderSize + header.idLength;
    if (start > size) return refusal(TimageFault::tgaDataShort);
    const uint8_t* data = bytes + start;
    const size_t available = size - start;
    const bool compressed = header.imageType == 10;
    if (compressed ? !tgaPacketsCanHold(available, pixelCount, pixelSize) : available < pixelCount * pixelSize)
        return refusal(TimageFault::tgaDataShort);

    TdecodedImage result;
    startBuffer(result.image, header.width, header.height, pixelSize == 4 ? TpixelLayout::rgba : TpixelLayout::rgb);
    uint8_t* out = result.image.pixels.data();
    if (!compressed)
        copySwappingRedAndBlue(data, out, pixelCount, pixelSize);
    else if (!decodeTgaPackets(data, available, out, pixelCount, pixelSize))
        return refusal(TimageFault::tgaDataShort);
    if (header.descriptor & tgaTopOrigin) mirrorRows(result.image);
    return result;
}

TdecodedImage decodeJpeg(const uint8_t* bytes, size_t size) {
    TdecodedImage result;
    if (!decodeJpegInto(bytes, size, result)) return refusal(TimageFault::jpegError);
    if (!result.ok()) result.image = TpixelBuffer{};
    return result;
}
