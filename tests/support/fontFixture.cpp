// Font files built in memory with the font writer.
#include "tests/support/fontFixture.h"

#include <vector>

#include "platform/window/glFont.h"

std::string fontFileBytesFor(int firstChar, int lastChar) {
    TglFont font;
    font.texWidth = 8;
    font.texHeight = 8;
    font.firstChar = firstChar;
    font.lastChar = lastChar;
    for (int c = firstChar; c <= lastChar; ++c) font.glyphs.push_back({1.0f, 1.5f, 0.0f, 0.0f, 1.0f, 1.0f});
    const std::vector<uint8_t> texels(2 * 8 * 8, 255);
    return fontFileBytes(font, texels);
}

std::string sampleFontFileBytes() {
    return fontFileBytesFor(' ', '~');
}
