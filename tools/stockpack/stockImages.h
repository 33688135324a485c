// The stock images of the update server's "gfx" folder.
#pragma once

#include "tools/stockpack/artStyle.h"
#include "tools/stockpack/packWriter.h"

namespace stockpack {

// Writes every image under server/gfx/.
void writeStockImages(TpackWriter& pack, const TartFonts& fonts);

// Writes the program's desktop icons, the logo's emblem: icons/trellik-SIZE.png for 48, 128
// and 256 pixels, and icons/trellik.svg.
void writeAppIcons(TpackWriter& pack);

// The picture a song without a jacket shows (also the style of the demo jackets' lettering).
Tcanvas drawDefaultCover(const TartFonts& fonts);

}  // namespace stockpack
