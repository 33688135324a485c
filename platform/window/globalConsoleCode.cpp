// The console's lines, its log file and the global operations that reach the current console.
#include "platform/window/globalConsoleCode.h"

#include <GL/gl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/net/downloadFileCode.h"
#include "platform/window/glCustomCommandsCode.h"
#include "platform/window/openGLClass.h"
#include "platform/store/pathResolver.h"

namespace {

TglConsole* activeConsole = nullptr;

// Where console space sits in the view: left edge, top line, depth and scale.
constexpr float consoleLeft = -40.0f;
constexpr float consoleTop = 8.0f;
constexpr float consoleDepth = -100.0f;
constexpr float consoleScale = 1.25f;
constexpr float consoleLineHeight = 1.75f;

}  // namespace

TdebugFile::TdebugFile(const std::string& name) : fileName(name) {
    file = std::fopen(resolvePath(fileName).c_str(), "wb");
    if (!file) fail("create");
}

TdebugFile::~TdebugFile() {
    if (file) std::fclose(file);
}

void TdebugFile::fail(const std::string& action) {
    throw std::runtime_error("Cannot " + action + " the log file " + fileName + ": " + std::strerror(errno) + ".");
}

void TdebugFile::write(const std::string& text) {
    if (!file) throw std::runtime_error("The log file " + fileName + " is already closed.");
    // Flushed at once, so the log tells how far loading got even when the program dies.
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) fail("write");
}

void TdebugFile::writeLine(const std::string& text) {
    write(text + "\r\n");
}

void TdebugFile::close() {
    if (!file) return;
    std::FILE* closing = file;
    file = nullptr;
    if (std::fclose(closing) != 0) fail("close");
}

TglConsole::~TglConsole() {
    if (activeConsole == this) activeConsole = nullptr;
}

void startConsole(TglConsole& console, int32_t maxLines, const std::string& fontFileName) {
    console.debugLog = std::make_unique<TdebugFile>("debug.txt");
    console.maxLines = maxLines;
    console.newLinePending = false;
    console.lines.clear();
    console.fontFileName = fontFileName;
    // Each run has a fresh GL context, so the font gets a name that is valid in it.
    console.fontTexture = 0;
    loadConsoleFont(console);
}

void loadConsoleFont(TglConsole& console) {
    if (!pathExists(console.fontFileName))
        downloadFile(updateServerUrl() + console.fontFileName, console.fontFileName, true);
    // A texture of its own: name 0 is what every unbound draw would show.
    if (console.fontTexture == 0) glGenTextures(1, &console.fontTexture);
    loadFont(console.font, console.fontFileName, console.fontTexture);
}

void write(TglConsole& console, const std::string& text) {
    if (console.debugLog) console.debugLog->write(text);
    if (console.lines.empty() || console.newLinePending) console.lines.push_back(text);
    else console.lines.back() += text;
    if (static_cast<int64_t>(console.lines.size()) > console.maxLines) removeOldestLine(console);
    console.newLinePending = false;
}

void writeLine(TglConsole& console, const std::string& text) {
    write(console, text);
    if (console.debugLog) console.debugLog->writeLine("");
    console.newLinePending = true;
}

void removeOldestLine(TglConsole& console) {
    if (!console.lines.empty()) console.lines.pop_front();
}

void drawLine(const TglConsole& console, const std::string& text, float x, float y) {
    bindFont(console.font);
    glLoadIdentity();
    glRotatef(static_cast<float>(cameraRotation()), 0.0f, 0.0f, 1.0f);
    glTranslatef(consoleLeft, consoleTop, consoleDepth);
    glScalef(consoleScale, consoleScale, 1.0f);
    textOut(text, x, y, 0.0f);
    unbindFont();
}

void drawWhiteLine(const TglConsole& console, const std::string& text, float x, float y) {
    glColor3f(255.0f, 255.0f, 255.0f);
    drawLine(console, text, x, y);
}

void drawLines(const TglConsole& console, float red, float green, float blue) {
    glColor3f(red, green, blue);
    int32_t index = 0;
    for (const std::string& line : console.lines) drawLine(console, line, 0.0f, -consoleLineHeight * index++);
    glColor3f(255.0f, 255.0f, 255.0f);
}

void drawFrame(TglConsole& console, bool noPresent, const std::function<void()>& callback) {
    clearScreen(TglCustomCommands{});
    if (callback) callback();
    drawLines(console, 0.5f, 0.5f, 0.8f);
    if (!noPresent) presentFrame();
}

void closeLog(TglConsole& console) {
    const std::unique_ptr<TdebugFile> log = std::move(console.debugLog);
    if (log) log->close();
}

void setCurrentConsole(TglConsole* console) {
    activeConsole = console;
}

TglConsole* currentConsole() {
    return activeConsole;
}

void consoleWrite(const std::string& text) {
    if (activeConsole) write(*activeConsole, text);
}

void consoleWriteLine(const std::string& text) {
    if (activeConsole) writeLine(*activeConsole, text);
}

void appendToDebugLog(const std::string& line) {
    if (activeConsole && activeConsole->debugLog) {
        // A note that cannot be written is no reason to stop the game.
        try {
            activeConsole->debugLog->writeLine(line);
        } catch (const std::runtime_error&) {
        }
        return;
    }
    std::FILE* file = std::fopen(resolvePath("debug.txt").c_str(), "ab");
    if (!file) return;
    const std::string text = line + "\r\n";
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

void consoleDrawFrame(const std::function<void()>& callback) {
    if (activeConsole) drawFrame(*activeConsole, false, callback);
}
