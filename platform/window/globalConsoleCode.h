// The on-screen loading console, mirrored into "debug.txt".
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/window/glFont.h"

// The loading log: one text file with CR LF line ends, created empty. Every failing file
// operation raises std::runtime_error naming the file.
class TdebugFile {
public:
    explicit TdebugFile(const std::string& fileName = "debug.txt");
    ~TdebugFile();
    TdebugFile(const TdebugFile&) = delete;
    TdebugFile& operator=(const TdebugFile&) = delete;

    void write(const std::string& text);
    void writeLine(const std::string& text);
    // Closes the file, raising when the last bytes cannot be written.
    void close();

private:
    void fail(const std::string& action);

    std::string fileName;
    std::FILE* file = nullptr;
};

// The console record held by the GL window object: its lines, its font and its log.
struct TglConsole {
    std::unique_ptr<TdebugFile> debugLog;
    std::string fontFileName;
    TglFont font;
    uint32_t fontTexture = 0;
    int32_t maxLines = 0;
    std::deque<std::string> lines;
    bool newLinePending = false;

    TglConsole() = default;
    // A console that goes away stops being the current one.
    ~TglConsole();
    TglConsole(const TglConsole&) = delete;
    TglConsole& operator=(const TglConsole&) = delete;
};

// Creates "debug.txt" afresh, keeps room for maxLines lines and loads the console font,
// fetching it from the update server first when it is missing. Needs a current GL context.
void startConsole(TglConsole& console, int32_t maxLines, const std::string& fontFileName);
void loadConsoleFont(TglConsole& console);

// Appends text to the current line (or starts one), on screen and in the log.
void write(TglConsole& console, const std::string& text);
// Appends text and ends the line; an empty text after a finished line gives an empty line.
void writeLine(TglConsole& console, const std::string& text);
void removeOldestLine(TglConsole& console);

// Draws one line of text in console space, whose line i has its top edge at y = -1.75 * i.
void drawLine(const TglConsole& console, const std::string& text, float x, float y);
// drawLine in white, whatever colour the last quad left.
void drawWhiteLine(const TglConsole& console, const std::string& text, float x, float y);
// Draws every line in the colour given, then leaves the current colour white.
void drawLines(const TglConsole& console, float red, float green, float blue);
// Clears, calls the callback (if any; it draws what belongs under the lines), draws the lines
// and, unless noPresent, presents the frame.
void drawFrame(TglConsole& console, bool noPresent, const std::function<void()>& callback);
// Closes "debug.txt"; later writes still reach the screen, and nothing else.
void closeLog(TglConsole& console);

// The console the global operations reach (set up by the GL window); nullptr for none.
void setCurrentConsole(TglConsole* console);
TglConsole* currentConsole();

// The operations on the current console; without one they do nothing.
void consoleWrite(const std::string& text);
void consoleWriteLine(const std::string& text);
// A line for "debug.txt" only, also after loading closed it (then it is appended); never shown.
void appendToDebugLog(const std::string& line);
// drawFrame on the current console, presenting the frame.
void consoleDrawFrame(const std::function<void()>& callback);
