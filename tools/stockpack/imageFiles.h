// Stock image files: uncompressed 32-bit TGA, baseline JPEG and RGBA PNG, encoded from canvases.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/stockpack/canvas.h"

namespace stockpack {

// Type 2, 32 bits with 8 alpha bits, no identification field, bottom row first.
std::vector<uint8_t> encodeTga(const Tcanvas& canvas);

// The canvas flattened over black, as a JPEG of the given quality (1..100).
std::vector<uint8_t> encodeJpeg(const Tcanvas& canvas, int quality);

// 8-bit RGBA, not interlaced, rows unfiltered (the desktop's icons).
std::vector<uint8_t> encodePng(const Tcanvas& canvas);

uint8_t toByte(float component);

}  // namespace stockpack
