// The on-screen loading console, mirrored into "debug.txt".
#pragma once

#include <cstdint>
#include <string>

// The console record held by the GL window object.
struct TglConsole {
    std::string fontFileName;
    int32_t maxLines = 0;
};

// Opens "debug.txt", keeps room for maxLines lines and loads the console font.
void startConsole(TglConsole& console, int32_t maxLines, const std::string& fontFileName);
