// The font file parser and loader's refusals, glyph lookup and the UTF-16 walk of text.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/window/glFont.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"

namespace {

std::string withInt32At(std::string bytes, size_t offset, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    const char little[4] = {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
                            static_cast<char>((bits >> 16) & 0xFF), static_cast<char>((bits >> 24) & 0xFF)};
    bytes.replace(offset, 4, little, 4);
    return bytes;
}

// The text of the error parseFont raises, or "" when it parses.
std::string refusal(const std::string& bytes) {
    try {
        parseFont(bytes, "test.fnt");
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

}  // namespace

TEST(FontParser, ReadsHeaderGlyphsAndTexelsOfAWrittenFont) {
    const TglFontData data = parseFont(sampleFontFileBytes(), "sample");
    EXPECT_EQ(data.font.texWidth, 8);
    EXPECT_EQ(data.font.texHeight, 8);
    EXPECT_EQ(data.font.firstChar, ' ');
    EXPECT_EQ(data.font.lastChar, '~');
    ASSERT_EQ(data.font.glyphs.size(), 95u);
    EXPECT_FLOAT_EQ(data.font.glyphs[0].dx, 1.0f);
    EXPECT_FLOAT_EQ(data.font.glyphs[94].dy, 1.5f);
    EXPECT_EQ(data.texels.size(), 128u);
    EXPECT_EQ(fontFileBytes(data.font, data.texels), sampleFontFileBytes());
}

TEST(FontParser, RefusesEveryTruncationOfAValidFile) {
    const std::string bytes = fontFileBytesFor('A', 'C');
    for (size_t length = 0; length < bytes.size(); ++length)
        EXPECT_NE(refusal(bytes.substr(0, length)), "") << "length " << length;
    EXPECT_EQ(refusal(bytes), "");
}

TEST(FontParser, RefusesHeadersTheFileCannotHold) {
    const std::string bytes = fontFileBytesFor('A', 'C');
    const std::string moreGlyphs = refusal(withInt32At(bytes, 16, 'Z'));
    EXPECT_NE(moreGlyphs.find("test.fnt"), std::string::npos) << moreGlyphs;
    EXPECT_NE(moreGlyphs.find("26 glyphs"), std::string::npos) << moreGlyphs;
    EXPECT_NE(refusal(withInt32At(bytes, 4, 9)), "");
    EXPECT_NE(refusal(withInt32At(withInt32At(bytes, 4, 0x7FFFFFFF), 8, 0x7FFFFFFF)), "");
    EXPECT_NE(refusal(withInt32At(withInt32At(bytes, 12, -2147483647 - 1), 16, 0x7FFFFFFF)), "");
    EXPECT_NE(refusal(withInt32At(bytes, 4, 0)), "");
    EXPECT_NE(refusal(withInt32At(bytes, 8, -8)), "");
    EXPECT_NE(refusal(withInt32At(bytes, 16, 'A' - 1)).find("comes before"), std::string::npos);
}

TEST(FontParser, IgnoresBytesAfterTheTexels) {
    EXPECT_EQ(refusal(fontFileBytesFor('A', 'C') + "trailing"), "");
}

TEST(FontParser, AcceptsTheSeedCorpus) {
    for (const auto& entry : std::filesystem::directory_iterator(TRELLIK_SOURCE_DIR "/tests/corpus/font"))
        EXPECT_EQ(refusal(readFile(entry.path().string())), "") << entry.path();
}

TEST(FontLoader, MissingOrShortFilesRaiseNamingTheFile) {
    TtemporaryFolder folder;
    TglFont font;
    try {
        loadFont(font, folder.file("none.fnt"), 1);
        FAIL() << "a missing file loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("none.fnt"), std::string::npos) << error.what();
    }
    writeFile(folder.file("short.fnt"), sampleFontFileBytes().substr(0, 100));
    EXPECT_THROW(loadFont(font, folder.file("short.fnt"), 1), std::runtime_error);
    EXPECT_TRUE(font.glyphs.empty());
}

TEST(GlyphLookup, OutOfRangeCharactersFallBackToQuestionMarkOrNothing) {
    const TglFont ascii = parseFont(sampleFontFileBytes(), "sample").font;
    EXPECT_EQ(glyphFor(ascii, u'A'), &ascii.glyphs['A' - ' ']);
    EXPECT_EQ(glyphFor(ascii, u'\u00E9'), &ascii.glyphs['?' - ' ']);
    EXPECT_EQ(glyphFor(ascii, u'\x1F'), &ascii.glyphs['?' - ' ']);
    const TglFont letters = parseFont(fontFileBytesFor('A', 'Z'), "letters").font;
    EXPECT_EQ(glyphFor(letters, u'a'), nullptr);
    EXPECT_EQ(glyphFor(TglFont{}, u'A'), nullptr);
}

TEST(Utf16Walk, DecodesUtf8AndReplacesMalformedBytes) {
    EXPECT_EQ(utf16CodeUnits("Ab"), u"Ab");
    EXPECT_EQ(utf16CodeUnits("\xC3\xA9t\xC3\xA9"), u"\u00E9t\u00E9");
    EXPECT_EQ(utf16CodeUnits("\xE6\x9B\xB2"), u"\u66F2");
    EXPECT_EQ(utf16CodeUnits("\xF0\x9F\x8E\xB5"), std::u16string({0xD83C, 0xDFB5}));
    EXPECT_EQ(utf16CodeUnits("a\xFFz"), u"a\uFFFDz");
    EXPECT_EQ(utf16CodeUnits("\xC0\x80"), u"\uFFFD\uFFFD");
    EXPECT_EQ(utf16CodeUnits("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(utf16CodeUnits("end\xE6\x9B"), u"end\uFFFD\uFFFD");
}
