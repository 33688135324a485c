// TGA, JPEG and PNG encoders for the stock images.
#include "tools/stockpack/imageFiles.h"

#include <cstdio>  // before jpeglib.h, which uses FILE

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace stockpack {

uint8_t toByte(float component) {
    return static_cast<uint8_t>(std::lround(std::clamp(component, 0.0f, 1.0f) * 255.0f));
}

namespace {

// Texels that are fully transparent take the colour of their visible neighbours, so linear
// filtering and mipmaps never blend a dark fringe into the edges of a shape.
std::vector<Tcolour> bledColours(const Tcanvas& canvas) {
    std::vector<Tcolour> colours = canvas.pixels;
    std::vector<bool> known(colours.size());
    for (size_t i = 0; i < colours.size(); ++i) known[i] = toByte(colours[i].alpha) > 0;
    for (int pass = 0; pass < 16; ++pass) {
        std::vector<bool> next = known;
        bool changed = false;
        for (int y = 0; y < canvas.height; ++y) {
            for (int x = 0; x < canvas.width; ++x) {
                const size_t index = static_cast<size_t>(y) * canvas.width + x;
                if (known[index]) continue;
                float red = 0, green = 0, blue = 0;
                int count = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = x + dx;
                        const int ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= canvas.width || ny >= canvas.height) continue;
                        const size_t neighbour = static_cast<size_t>(ny) * canvas.width + nx;
                        if (!known[neighbour]) continue;
                        red += colours[neighbour].red, green += colours[neighbour].green, blue += colours[neighbour].blue;
                        ++count;
                    }
                }
                if (count == 0) continue;
                colours[index] = {red / count, green / count, blue / count, colours[index].alpha};
                next[index] = true;
                changed = true;
            }
        }
        known = next;
        if (!changed) break;
    }
    return colours;
}

}  // namespace

std::vector<uint8_t> encodeTga(const Tcanvas& canvas) {
    std::vector<uint8_t> bytes(18, 0);
    bytes[2] = 2;
    bytes[12] = static_cast<uint8_t>(canvas.width & 0xff);
    bytes[13] = static_cast<uint8_t>(canvas.width >> 8);
    bytes[14] = static_cast<uint8_t>(canvas.height & 0xff);
    bytes[15] = static_cast<uint8_t>(canvas.height >> 8);
    bytes[16] = 32;
    bytes[17] = 8;  // eight alpha bits, origin at the bottom left
    bytes.reserve(18 + static_cast<size_t>(canvas.width) * canvas.height * 4);
    const std::vector<Tcolour> colours = bledColours(canvas);
    for (int y = canvas.height - 1; y >= 0; --y) {
        for (int x = 0; x < canvas.width; ++x) {
            const Tcolour& pixel = colours[static_cast<size_t>(y) * canvas.width + x];
            bytes.push_back(toByte(pixel.blue));
            bytes.push_back(toByte(pixel.green));
            bytes.push_back(toByte(pixel.red));
            bytes.push_back(toByte(pixel.alpha));
        }
    }
    return bytes;
}

namespace {

void appendBigEndian(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

void appendPngChunk(std::vector<uint8_t>& bytes, const char* type, const std::vector<uint8_t>& data) {
    appendBigEndian(bytes, static_cast<uint32_t>(data.size()));
    const size_t typeAt = bytes.size();
    bytes.insert(bytes.end(), type, type + 4);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const uLong crc = crc32(0, bytes.data() + typeAt, static_cast<uInt>(bytes.size() - typeAt));
    appendBigEndian(bytes, static_cast<uint32_t>(crc));
}

}  // namespace

std::vector<uint8_t> encodePng(const Tcanvas& canvas) {
    std::vector<uint8_t> rows;
    rows.reserve(static_cast<size_t>(canvas.width * 4 + 1) * canvas.height);
    for (int y = 0; y < canvas.height; ++y) {
        rows.push_back(0);  // no filter
        for (int x = 0; x < canvas.width; ++x) {
            const Tcolour& pixel = canvas.at(x, y);
            for (const float component : {pixel.red, pixel.green, pixel.blue, pixel.alpha}) rows.push_back(toByte(component));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()), 9) != Z_OK)
        throw std::runtime_error("cannot compress a PNG image");
    packed.resize(packedSize);

    std::vector<uint8_t> header;
    appendBigEndian(header, static_cast<uint32_t>(canvas.width));
    appendBigEndian(header, static_cast<uint32_t>(canvas.height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter set, not interlaced
    std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    appendPngChunk(bytes, "IHDR", header);
    appendPngChunk(bytes, "IDAT", packed);
    appendPngChunk(bytes, "IEND", {});
    return bytes;
}

namespace {

[[noreturn]] void throwJpegError(j_common_ptr info) {
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    throw std::runtime_error(std::string("JPEG encoding failed: ") + message);
}

}  // namespace

std::vector<uint8_t> encodeJpeg(const Tcanvas& canvas, int quality) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.error_exit = throwJpegError;
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(canvas.width);
    info.image_height = static_cast<JDIMENSION>(canvas.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(canvas.width) * 3);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < canvas.width; ++x) {
            const Tcolour& pixel = canvas.at(x, y);
            row[static_cast<size_t>(x) * 3] = toByte(pixel.red * pixel.alpha);
            row[static_cast<size_t>(x) * 3 + 1] = toByte(pixel.green * pixel.alpha);
            row[static_cast<size_t>(x) * 3 + 2] = toByte(pixel.blue * pixel.alpha);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

}  // namespace stockpack
