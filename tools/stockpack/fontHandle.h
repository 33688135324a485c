// The FreeType objects behind a TfontFace, for the code that renders glyphs itself.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include "tools/stockpack/textMasks.h"

namespace stockpack {

struct TfontFace::Tstate {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
};

}  // namespace stockpack
