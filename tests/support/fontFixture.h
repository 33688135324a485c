// Small valid font files for tests that need a console font or feed the font loader.
#pragma once

#include <string>

// A font for the printable ASCII range ' '..'~' over an 8 x 8 all-white, opaque texture:
// every glyph is a solid block 1 unit wide and 1.5 units high.
std::string sampleFontFileBytes();

// A font holding only the characters from firstChar to lastChar, otherwise like the sample.
std::string fontFileBytesFor(int firstChar, int lastChar);
