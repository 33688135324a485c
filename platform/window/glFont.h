// The bitmap font: one luminance-alpha texture plus a glyph table, read from a binary font file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One glyph: its advance (also the quad width), its height, and its corners in the texture.
struct TglFontGlyph {
    float dx = 0;
    float dy = 0;
    float tx1 = 0;
    float ty1 = 0;
    float tx2 = 0;
    float ty2 = 0;
};

// A font ready to draw; its first five fields are also the font file's header.
struct TglFont {
    uint32_t texture = 0;
    int32_t texWidth = 0;
    int32_t texHeight = 0;
    int32_t firstChar = 0;
    int32_t lastChar = 0;
    // lastChar - firstChar + 1 glyphs in character order; empty when nothing was loaded.
    std::vector<TglFontGlyph> glyphs;
};

// A parsed font file: the font record and its texels (luminance then alpha, first row t = 0).
struct TglFontData {
    TglFont font;
    std::vector<uint8_t> texels;
};

constexpr size_t fontHeaderSize = 24;
constexpr size_t fontGlyphSize = 24;

// Reads a font file's bytes. Raises std::runtime_error naming sourceName when the bytes are
// shorter than the header announces or the header announces an impossible glyph range or size.
TglFontData parseFont(std::string_view bytes, const std::string& sourceName);

// The bytes of a font file holding font's metrics and the texels (the inverse of parseFont).
std::string fontFileBytes(const TglFont& font, const std::vector<uint8_t>& texels);

// Reads fileName and uploads its image, mipmapped, into the GL texture name texture. Returns
// true; a missing, short or malformed file raises std::runtime_error with a clear text.
bool loadFont(TglFont& font, const std::string& fileName, uint32_t texture);

// Makes font the one textOut draws with (when it has glyphs) and binds its texture.
void bindFont(const TglFont& font);
void unbindFont();

// Draws text in the current font as one quad batch, y being the line's top edge. Characters
// the font has no glyph for are drawn as "?" when it has one, else skipped.
void textOut(const std::string& text, float x, float y, float z);

// The UTF-16 code units of UTF-8 text; bytes that are not valid UTF-8 become U+FFFD.
std::u16string utf16CodeUnits(std::string_view text);

// The glyph textOut draws for one code unit, or nullptr when it draws nothing.
const TglFontGlyph* glyphFor(const TglFont& font, char16_t codeUnit);
