// Jackets of the demo songs.
#pragma once

#include <string>

#include "tools/stockpack/artStyle.h"

namespace stockpack {

// The jacket of a demo song by its name ("drift", "skyline" or "overdrive").
Tcanvas drawJacket(const std::string& songName, double bpm, const TartFonts& fonts);

}  // namespace stockpack
