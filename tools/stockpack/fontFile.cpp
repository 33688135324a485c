// Renders the console font with FreeType and lays it out in the font file's binary form.
#include "tools/stockpack/fontFile.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "tools/stockpack/fontHandle.h"

namespace stockpack {

namespace {

void appendInt(std::vector<uint8_t>& bytes, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(bits >> shift));
}

void appendFloat(std::vector<uint8_t>& bytes, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    appendInt(bytes, static_cast<int32_t>(bits));
}

// The largest pixel size whose ascender-to-descender height fits the cell with a texel to spare.
int pixelSizeForCell(FT_Face face, const TfontLayout& layout) {
    int size = layout.cellHeight;
    while (size > 4) {
        FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size));
        const long lineHeight = (face->size->metrics.ascender - face->size->metrics.descender + 63) >> 6;
        const long advance = (face->size->metrics.max_advance + 63) >> 6;
        if (lineHeight <= layout.cellHeight - 2 && advance <= layout.cellWidth - 2) return size;
        --size;
    }
    return size;
}

// Codes 127 to 159 are control characters; they keep an empty cell.
bool hasVisibleGlyph(int code) { return code < 127 || code > 159; }

void drawGlyph(FT_Face face, int code, const TfontLayout& layout, int cellLeft, int cellTop, std::vector<uint8_t>& alpha) {
    if (!hasVisibleGlyph(code) || FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_RENDER) != 0) return;
    const FT_GlyphSlot slot = face->glyph;
    const int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    const int ascender = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
    const int lineHeight = static_cast<int>((face->size->metrics.ascender - face->size->metrics.descender + 63) >> 6);
    const int penX = cellLeft + (layout.cellWidth - advance) / 2;
    const int baseline = cellTop + (layout.cellHeight - lineHeight) / 2 + ascender;
    for (unsigned row = 0; row < slot->bitmap.rows; ++row) {
        for (unsigned column = 0; column < slot->bitmap.width; ++column) {
            const int x = penX + slot->bitmap_left + static_cast<int>(column);
            const int y = baseline - slot->bitmap_top + static_cast<int>(row);
            if (x < cellLeft || y < cellTop || x >= cellLeft + layout.cellWidth || y >= cellTop + layout.cellHeight) continue;
            alpha[static_cast<size_t>(y) * layout.textureWidth + x] =
                slot->bitmap.buffer[static_cast<ptrdiff_t>(row) * slot->bitmap.pitch + column];
        }
    }
}

}  // namespace

std::vector<uint8_t> buildFontFile(const TfontLayout& layout) {
    const TfontFace mono(dejaVuFolder() + "DejaVuSansMono.ttf");
    FT_Face face = mono.state().face;
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSizeForCell(face, layout)));

    const int count = layout.lastChar - layout.firstChar + 1;
    if ((count + layout.columns - 1) / layout.columns * layout.cellHeight > layout.textureHeight ||
        layout.columns * layout.cellWidth > layout.textureWidth) {
        throw std::runtime_error("the font's glyphs do not fit its texture");
    }
    std::vector<uint8_t> alpha(static_cast<size_t>(layout.textureWidth) * layout.textureHeight, 0);
    std::vector<uint8_t> bytes;
    appendInt(bytes, 0);
    appendInt(bytes, layout.textureWidth);
    appendInt(bytes, layout.textureHeight);
    appendInt(bytes, layout.firstChar);
    appendInt(bytes, layout.lastChar);
    appendInt(bytes, 0);
    for (int index = 0; index < count; ++index) {
        const int cellLeft = index % layout.columns * layout.cellWidth;
        const int cellTop = index / layout.columns * layout.cellHeight;
        drawGlyph(face, layout.firstChar + index, layout, cellLeft, cellTop, alpha);
        appendFloat(bytes, layout.glyphWidth);
        appendFloat(bytes, layout.glyphHeight);
        appendFloat(bytes, static_cast<float>(cellLeft) / static_cast<float>(layout.textureWidth));
        appendFloat(bytes, static_cast<float>(cellTop) / static_cast<float>(layout.textureHeight));
        appendFloat(bytes, static_cast<float>(cellLeft + layout.cellWidth) / static_cast<float>(layout.textureWidth));
        appendFloat(bytes, static_cast<float>(cellTop + layout.cellHeight) / static_cast<float>(layout.textureHeight));
    }
    // White luminance everywhere: the console's colour tints the glyphs through their alpha.
    for (const uint8_t value : alpha) {
        bytes.push_back(255);
        bytes.push_back(value);
    }
    return bytes;
}

}  // namespace stockpack
