// Font files to glyph tables and a GL texture, and text drawn as glyph quads.
#include "platform/window/glFont.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/store/pathResolver.h"

namespace {

const TglFont* currentFont = nullptr;

uint32_t readUint32(std::string_view bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
    return value;
}

int32_t readInt32(std::string_view bytes, size_t offset) {
    return static_cast<int32_t>(readUint32(bytes, offset));
}

float readFloat(std::string_view bytes, size_t offset) {
    const uint32_t raw = readUint32(bytes, offset);
    float value;
    std::memcpy(&value, &raw, sizeof(value));
    return value;
}

void appendUint32(std::string& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void appendFloat(std::string& bytes, float value) {
    uint32_t raw;
    std::memcpy(&raw, &value, sizeof(raw));
    appendUint32(bytes, raw);
}

[[noreturn]] void refuseFont(const std::string& sourceName, const std::string& reason) {
    throw std::runtime_error("The font file " + sourceName + " cannot be used: " + reason + ".");
}

// Checks the header's announcements against each other and against the bytes really there.
void checkFontHeader(const TglFont& font, size_t byteCount, const std::string& sourceName) {
    if (font.texWidth <= 0 || font.texHeight <= 0)
        refuseFont(sourceName, "its texture size " + std::to_string(font.texWidth) + " x " +
                                   std::to_string(font.texHeight) + " is not positive");
    if (font.lastChar < font.firstChar)
        refuseFont(sourceName, "its last character " + std::to_string(font.lastChar) +
                                   " comes before its first " + std::to_string(font.firstChar));
    const uint64_t glyphCount = static_cast<uint64_t>(int64_t{font.lastChar} - font.firstChar + 1);
    const uint64_t texelBytes = 2 * static_cast<uint64_t>(font.texWidth) * static_cast<uint64_t>(font.texHeight);
    const uint64_t needed = fontHeaderSize + fontGlyphSize * glyphCount + texelBytes;
    if (needed > byteCount)
        refuseFont(sourceName, "it announces " + std::to_string(glyphCount) + " glyphs and " +
                                   std::to_string(font.texWidth) + " x " + std::to_string(font.texHeight) +
                                   " texels (" + std::to_string(needed) + " bytes) but holds only " +
                                   std::to_string(byteCount) + " bytes");
}

TglFontGlyph readGlyph(std::string_view bytes, size_t offset) {
    TglFontGlyph glyph;
    glyph.dx = readFloat(bytes, offset);
    glyph.dy = readFloat(bytes, offset + 4);
    glyph.tx1 = readFloat(bytes, offset + 8);
    glyph.ty1 = readFloat(bytes, offset + 12);
    glyph.tx2 = readFloat(bytes, offset + 16);
    glyph.ty2 = readFloat(bytes, offset + 20);
    return glyph;
}

std::string readWholeFile(const std::string& fileName) {
    std::ifstream file(resolvePath(fileName), std::ios::binary);
    if (!file) throw std::runtime_error("Cannot open the font file " + fileName + ": " + std::strerror(errno) + ".");
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) throw std::runtime_error("Cannot read the font file " + fileName + ".");
    return bytes;
}

void uploadFontTexture(const TglFontData& data) {
    const TglFont& font = data.font;
    glBindTexture(GL_TEXTURE_2D, font.texture);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    // Rows of two-byte texels are only 4-byte aligned for even widths; GL must not assume more.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 2, font.texWidth, font.texHeight, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE,
                      data.texels.data());
    glPopClientAttrib();
}

void emitGlyph(const TglFontGlyph& glyph, float x, float y, float z) {
    glTexCoord2f(glyph.tx1, glyph.ty1);
    glVertex3f(x, y, z);
    glTexCoord2f(glyph.tx1, glyph.ty2);
    glVertex3f(x, y - glyph.dy, z);
    glTexCoord2f(glyph.tx2, glyph.ty2);
    glVertex3f(x + glyph.dx, y - glyph.dy, z);
    glTexCoord2f(glyph.tx2, glyph.ty1);
    glVertex3f(x + glyph.dx, y, z);
}

void appendUtf16(std::u16string& units, uint32_t codePoint) {
    if (codePoint < 0x10000) {
        units += static_cast<char16_t>(codePoint);
        return;
    }
    codePoint -= 0x10000;
    units += static_cast<char16_t>(0xD800 + (codePoint >> 10));
    units += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
}

// The length of the UTF-8 sequence a lead byte starts, 0 when it cannot start one.
size_t sequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Decodes the sequence at text[start]; 0xFFFFFFFF when it is malformed, overlong or a surrogate.
uint32_t decodeSequence(std::string_view text, size_t start, size_t length) {
    constexpr uint32_t invalid = 0xFFFFFFFF;
    if (start + length > text.size()) return invalid;
    const uint8_t leadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t codePoint = static_cast<uint8_t>(text[start]) & leadMask[length];
    for (size_t i = 1; i < length; ++i) {
        const uint8_t next = static_cast<uint8_t>(text[start + i]);
        if ((next & 0xC0) != 0x80) return invalid;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || codePoint > 0x10FFFF) return invalid;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return invalid;
    return codePoint;
}

}  // namespace

TglFontData parseFont(std::string_view bytes, const std::string& sourceName) {
    if (bytes.size() < fontHeaderSize)
        refuseFont(sourceName, "it holds " + std::to_string(bytes.size()) + " bytes, fewer than its " +
                                   std::to_string(fontHeaderSize) + "-byte header");
    TglFontData data;
    TglFont& font = data.font;
    font.texWidth = readInt32(bytes, 4);
    font.texHeight = readInt32(bytes, 8);
    font.firstChar = readInt32(bytes, 12);
    font.lastChar = readInt32(bytes, 16);
    checkFontHeader(font, bytes.size(), sourceName);

    const size_t glyphCount = static_cast<size_t>(int64_t{font.lastChar} - font.firstChar + 1);
    font.glyphs.reserve(glyphCount);
    for (size_t i = 0; i < glyphCount; ++i) font.glyphs.push_back(readGlyph(bytes, fontHeaderSize + fontGlyphSize * i));

    const size_t texelStart = fontHeaderSize + fontGlyphSize * glyphCount;
    const size_t texelBytes = 2 * static_cast<size_t>(font.texWidth) * static_cast<size_t>(font.texHeight);
    const auto* texels = reinterpret_cast<const uint8_t*>(bytes.data() + texelStart);
    data.texels.assign(texels, texels + texelBytes);
    return data;
}

std::string fontFileBytes(const TglFont& font, const std::vector<uint8_t>& texels) {
    std::string bytes;
    appendUint32(bytes, font.texture);
    appendUint32(bytes, static_cast<uint32_t>(font.texWidth));
    appendUint32(bytes, static_cast<uint32_t>(font.texHeight));
    appendUint32(bytes, static_cast<uint32_t>(font.firstChar));
    appendUint32(bytes, static_cast<uint32_t>(font.lastChar));
    appendUint32(bytes, 0);
    for (const TglFontGlyph& glyph : font.glyphs) {
        for (const float value : {glyph.dx, glyph.dy, glyph.tx1, glyph.ty1, glyph.tx2, glyph.ty2})
            appendFloat(bytes, value);
    }
    bytes.append(reinterpret_cast<const char*>(texels.data()), texels.size());
    return bytes;
}

bool loadFont(TglFont& font, const std::string& fileName, uint32_t texture) {
    TglFontData data = parseFont(readWholeFile(fileName), fileName);
    data.font.texture = texture;
    uploadFontTexture(data);
    font = std::move(data.font);
    return true;
}

void bindFont(const TglFont& font) {
    currentFont = font.glyphs.empty() ? nullptr : &font;
    glBindTexture(GL_TEXTURE_2D, font.texture);
}

void unbindFont() {
    currentFont = nullptr;
}

const TglFontGlyph* glyphFor(const TglFont& font, char16_t codeUnit) {
    const auto indexOf = [&font](int64_t character) -> const TglFontGlyph* {
        const int64_t index = character - font.firstChar;
        if (index < 0 || index >= static_cast<int64_t>(font.glyphs.size())) return nullptr;
        return &font.glyphs[static_cast<size_t>(index)];
    };
    if (const TglFontGlyph* glyph = indexOf(codeUnit)) return glyph;
    return indexOf(u'?');
}

void textOut(const std::string& text, float x, float y, float z) {
    if (!currentFont) return;
    glBegin(GL_QUADS);
    for (const char16_t unit : utf16CodeUnits(text)) {
        const TglFontGlyph* glyph = glyphFor(*currentFont, unit);
        if (!glyph) continue;
        emitGlyph(*glyph, x, y, z);
        x += glyph->dx;
    }
    glEnd();
}

std::u16string utf16CodeUnits(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const size_t length = sequenceLength(static_cast<uint8_t>(text[position]));
        const uint32_t codePoint = length ? decodeSequence(text, position, length) : 0xFFFFFFFF;
        if (codePoint == 0xFFFFFFFF) {
            units += u'\uFFFD';
            ++position;
            continue;
        }
        appendUtf16(units, codePoint);
        position += length;
    }
    return units;
}
