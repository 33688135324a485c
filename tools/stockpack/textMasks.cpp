// FreeType glyph rendering into masks.
#include "tools/stockpack/textMasks.h"

#include "tools/stockpack/fontHandle.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace stockpack {

namespace {

std::vector<uint32_t> decodeUtf8(const std::string& text) {
    std::vector<uint32_t> codes;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : 0;
        uint32_t code = extra == 0 ? lead : lead & (0x3f >> extra);
        for (int k = 1; k <= extra && i + static_cast<size_t>(k) < text.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(text[i + static_cast<size_t>(k)]) & 0x3f);
        }
        codes.push_back(code);
        i += static_cast<size_t>(extra) + 1;
    }
    return codes;
}

struct TplacedGlyph {
    std::vector<unsigned char> pixels;
    int width;
    int rows;
    int left;  // from the pen origin
    int top;   // above the baseline
    int pen;
};

std::vector<TplacedGlyph> layoutGlyphs(const TfontFace& face, const std::string& text, int pixelSize, int tracking,
                                       bool hinted, int& advance) {
    FT_Face handle = face.state().face;
    FT_Set_Pixel_Sizes(handle, 0, static_cast<FT_UInt>(pixelSize));
    std::vector<TplacedGlyph> glyphs;
    int pen = 0;
    for (const uint32_t code : decodeUtf8(text)) {
        const FT_Int32 flags = FT_LOAD_RENDER | (hinted ? FT_LOAD_TARGET_NORMAL : FT_LOAD_NO_HINTING);
        if (FT_Load_Char(handle, code, flags) != 0) continue;
        const FT_GlyphSlot slot = handle->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        TplacedGlyph glyph{{}, static_cast<int>(bitmap.width), static_cast<int>(bitmap.rows), slot->bitmap_left,
                           slot->bitmap_top, pen};
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const unsigned char* line = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
            glyph.pixels.insert(glyph.pixels.end(), line, line + bitmap.width);
        }
        glyphs.push_back(std::move(glyph));
        pen += static_cast<int>((slot->advance.x + 32) >> 6) + tracking;
    }
    advance = pen - (glyphs.empty() ? 0 : tracking);
    return glyphs;
}

}  // namespace

std::string dejaVuFolder() { return "/usr/share/fonts/truetype/dejavu/"; }

TfontFace::TfontFace(const std::string& fileName) : data(std::make_unique<Tstate>()) {
    if (FT_Init_FreeType(&data->library) != 0) throw std::runtime_error("FreeType could not start");
    if (FT_New_Face(data->library, fileName.c_str(), 0, &data->face) != 0) {
        FT_Done_FreeType(data->library);
        throw std::runtime_error(std::string("cannot open the font ").append(fileName));
    }
}

TfontFace::~TfontFace() {
    FT_Done_Face(data->face);
    FT_Done_FreeType(data->library);
}

TtextRun renderText(const TfontFace& face, const std::string& text, int pixelSize, int tracking, bool hinted) {
    int advance = 0;
    const std::vector<TplacedGlyph> glyphs = layoutGlyphs(face, text, pixelSize, tracking, hinted, advance);
    int minX = 0, maxX = 1, minY = 0, maxY = 1;  // ink box relative to origin, y down
    bool first = true;
    for (const TplacedGlyph& glyph : glyphs) {
        if (glyph.width == 0 || glyph.rows == 0) continue;
        const int left = glyph.pen + glyph.left;
        const int top = -glyph.top;
        if (first) {
            minX = left, maxX = left + glyph.width, minY = top, maxY = top + glyph.rows;
            first = false;
        }
        minX = std::min(minX, left), maxX = std::max(maxX, left + glyph.width);
        minY = std::min(minY, top), maxY = std::max(maxY, top + glyph.rows);
    }
    TtextRun run{Tmask(maxX - minX, maxY - minY), -minX, -minY, advance};
    for (const TplacedGlyph& glyph : glyphs) {
        for (int row = 0; row < glyph.rows; ++row) {
            for (int column = 0; column < glyph.width; ++column) {
                const int x = glyph.pen + glyph.left + column - minX;
                const int y = -glyph.top + row - minY;
                float& cell = run.ink.at(x, y);
                const float value = glyph.pixels[static_cast<size_t>(row) * glyph.width + column] / 255.0f;
                cell = cell + value - cell * value;
            }
        }
    }
    return run;
}

Tmask placedRun(const TtextRun& run, int width, int height, int left, int top) {
    Tmask mask(width, height);
    for (int y = 0; y < run.ink.height; ++y) {
        for (int x = 0; x < run.ink.width; ++x) {
            const int tx = left + x;
            const int ty = top + y;
            if (tx >= 0 && ty >= 0 && tx < width && ty < height) mask.at(tx, ty) = run.ink.at(x, y);
        }
    }
    return mask;
}

Tmask fittedText(const TfontFace& face, const std::string& text, int width, int height, float centreX, float centreY,
                 float boxWidth, float boxHeight, int maxPixelSize, int tracking) {
    TtextRun run = renderText(face, text, 100, tracking);
    const float scale = std::min(boxWidth / static_cast<float>(run.ink.width), boxHeight / static_cast<float>(run.ink.height));
    int size = std::min(maxPixelSize, static_cast<int>(100 * scale));
    run = renderText(face, text, size, tracking);
    while (size > 4 && (static_cast<float>(run.ink.width) > boxWidth || static_cast<float>(run.ink.height) > boxHeight)) {
        run = renderText(face, text, --size, tracking);
    }
    const int left = static_cast<int>(std::lround(centreX - static_cast<float>(run.ink.width) / 2));
    const int top = static_cast<int>(std::lround(centreY - static_cast<float>(run.ink.height) / 2));
    return placedRun(run, width, height, left, top);
}

}  // namespace stockpack
