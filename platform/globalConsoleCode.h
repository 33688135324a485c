// The on-screen loading console, mirrored into "debug.txt".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The console record held by the GL window object.
struct TglConsole {
    std::string fontFileName;
    int32_t maxLines = 0;
};

// Opens "debug.txt", keeps room for maxLines lines and loads the console font.
void startConsole(TglConsole& console, int32_t maxLines, const std::string& fontFileName);

// The operations on the current console (the one of the window that last ran setup).
void consoleWrite(const std::string& text);
void consoleWriteLine(const std::string& text);
// Clears, calls the callback (if any; it draws what belongs under the lines), draws the lines
// and presents the frame.
void consoleDrawFrame(const std::function<void()>& callback);
