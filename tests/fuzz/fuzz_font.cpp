// Fuzzes the font file parser: any bytes are refused with an error or parsed into a font that
// writes back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "platform/window/glFont.h"

namespace {

bool sameGlyphs(const TglFont& left, const TglFont& right) {
    return left.glyphs.size() == right.glyphs.size() &&
           (left.glyphs.empty() ||
            std::memcmp(left.glyphs.data(), right.glyphs.data(), left.glyphs.size() * sizeof(TglFontGlyph)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TglFontData parsed;
    try {
        parsed = parseFont(bytes, "fuzz input");
    } catch (const std::runtime_error&) {
        return 0;
    }
    const std::string written = fontFileBytes(parsed.font, parsed.texels);
    const TglFontData again = parseFont(written, "written font");
    if (again.texels != parsed.texels || !sameGlyphs(again.font, parsed.font) ||
        std::memcmp(written.data() + 4, data + 4, 16) != 0)
        std::abort();
    for (const char16_t unit : utf16CodeUnits(bytes.substr(0, 64))) glyphFor(parsed.font, unit);
    return 0;
}
