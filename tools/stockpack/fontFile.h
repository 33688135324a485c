// The console's bitmap font: DejaVu Sans Mono glyphs in one luminance-alpha texture.
#pragma once

#include <cstdint>
#include <vector>

namespace stockpack {

struct TfontLayout {
    int firstChar = 32;
    int lastChar = 255;
    int cellWidth = 36;   // texels per glyph cell
    int cellHeight = 64;
    int columns = 28;
    int textureWidth = 1024;
    int textureHeight = 512;
    // Model units of every glyph quad: the console's lines are 1.75 apart and drawn at 1.25.
    float glyphWidth = 0.9f;
    float glyphHeight = 1.6f;
};

// The whole font file: 24-byte header, one 24-byte glyph record per character, then the
// texels (luminance, alpha), the first row being texture coordinate t = 0 (the cells' tops).
std::vector<uint8_t> buildFontFile(const TfontLayout& layout);

}  // namespace stockpack
