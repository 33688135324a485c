// Test images made by ImageMagick at test time, and ImageMagick's own decoding of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "content/imageDecoders.h"

// A path quoted for the shell (built by appending: GCC 12 at -O3 warns falsely about a literal
// added in front of a string).
inline std::string quoted(const std::string& path) {
    std::string text = "'";
    text += path;
    text += "'";
    return text;
}

// Runs a shell command and returns what it printed; a failing command is a test error.
inline std::string commandOutput(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error(std::string("cannot run ") + command);
    std::string output;
    char chunk[65536];
    size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, count);
    if (::pclose(pipe) != 0) throw std::runtime_error(std::string("failed: ") + command);
    return output;
}

inline void imageMagick(const std::string& arguments) {
    commandOutput(std::string("convert ") + arguments);
}

// ImageMagick's decoding of a file, top row first, as 8-bit "rgb" or "rgba" samples. ImageMagick
// keeps a TGA's rows in file order and notes the origin as the orientation, which -auto-orient
// applies.
inline std::vector<uint8_t> imageMagickPixels(const std::string& path, const std::string& map) {
    const std::string bytes = commandOutput(std::string("convert '") + path + "' -auto-orient -depth 8 " + map + ":-");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// A decoded buffer with its rows turned to top row first, for comparing with ImageMagick.
inline std::vector<uint8_t> topRowFirst(const TpixelBuffer& image) {
    const size_t rowBytes = size_t{image.width} * bytesPerPixel(image.layout);
    std::vector<uint8_t> rows;
    rows.reserve(image.pixels.size());
    for (uint32_t y = image.height; y-- > 0;) {
        const auto row = image.pixels.begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
        rows.insert(rows.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    return rows;
}

// A picture with detail in every pixel, of any size.
inline void makePlasma(const std::string& path, int width, int height, int seed = 7) {
    imageMagick(std::string("-seed ") + std::to_string(seed) + " -size " + std::to_string(width) + "x" +
                std::to_string(height) + " plasma:fractal " + quoted(path));
}

// A JPEG's bytes with its frame header changed to announce other sides; nothing else changes,
// so the file holds far fewer pixels than it announces.
inline std::vector<uint8_t> jpegAnnouncing(std::vector<uint8_t> bytes, uint16_t width, uint16_t height) {
    for (size_t at = 2; at + 9 <= bytes.size() && bytes[at] == 0xFF;) {
        const uint8_t marker = bytes[at + 1];
        if (marker >= 0xC0 && marker <= 0xC2) {
            const uint8_t sides[4] = {static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                                      static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width)};
            std::copy(sides, sides + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at + 5));
            return bytes;
        }
        at += 2 + (size_t{bytes[at + 2]} << 8 | bytes[at + 3]);
    }
    throw std::runtime_error("no JPEG frame header");
}
