// The console's lines, its log file and the global operations that reach the current console.
#include "platform/globalConsoleCode.h"

void startConsole(TglConsole& console, int32_t maxLines, const std::string& fontFileName) {
    console.maxLines = maxLines;
    console.fontFileName = fontFileName;
}

void consoleWrite(const std::string&) {}
void consoleWriteLine(const std::string&) {}
void consoleDrawFrame(const std::function<void()>&) {}
