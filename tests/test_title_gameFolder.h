// Game folders for the loading, title and menu tests: stock images of known colours, sounds,
// a console font, songs and marker skins, written the way the update server or a player has them.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "content/trellikMarkersLoaderCode.h"
#include "platform/window/glFont.h"
#include "platform/store/pathResolver.h"
#include "tests/support/testSupport.h"

using Tcolour = std::array<int, 3>;

// Every stock image the loading sequence loads, with the colour the tests give it.
struct TstockImageFile {
    const char* path;
    Tcolour colour;
};

inline const std::vector<TstockImageFile>& stockImageFiles() {
    static const std::vector<TstockImageFile> files = {
        {"gfx/bigLogo.tga", {255, 0, 128}},      {"gfx/blank.tga", {255, 255, 255}},
        {"gfx/leftArrow.tga", {255, 0, 0}},      {"gfx/rightArrow.tga", {0, 255, 0}},
        {"gfx/markerButton.tga", {0, 0, 255}},   {"gfx/goButton.tga", {255, 255, 0}},
        {"gfx/backButton.tga", {0, 255, 255}},   {"gfx/startHere.tga", {200, 200, 255}},
        {"gfx/comboText.tga", {255, 128, 0}},    {"gfx/topShutter.tga", {128, 0, 0}},
        {"gfx/btmShutter.tga", {0, 128, 0}},     {"gfx/panelHighlight.tga", {128, 128, 255}},
    };
    return files;
}

inline Tcolour stockColour(const std::string& path) {
    for (const TstockImageFile& file : stockImageFiles())
        if (path == file.path) return file.colour;
    return {0, 0, 0};
}

// An uncompressed 32-bit TGA, bottom row first; inside(x, y) says which pixels are opaque.
template <typename Inside>
std::string tgaBytes(int size, const Tcolour& colour, Inside inside) {
    std::string bytes(18, '\0');
    bytes[2] = 2;
    bytes[12] = static_cast<char>(size);
    bytes[14] = static_cast<char>(size);
    bytes[16] = 32;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            bytes += static_cast<char>(colour[2]);
            bytes += static_cast<char>(colour[1]);
            bytes += static_cast<char>(colour[0]);
            bytes += static_cast<char>(inside(x, y) ? 255 : 0);
        }
    return bytes;
}

inline std::string solidTga(const Tcolour& colour) {
    return tgaBytes(8, colour, [](int, int) { return true; });
}

// A white ring two texels wide round a clear middle, like a jacket border.
inline std::string ringTga() {
    return tgaBytes(16, {255, 255, 255}, [](int x, int y) { return x < 2 || y < 2 || x > 13 || y > 13; });
}

inline void writeInFolder(const std::string& folder, const std::string& relativePath, const std::string& bytes) {
    const std::string path = joinPath(folder, relativePath);
    createParentFolders(path);
    writeFile(resolvePath(path), bytes);
}

// A console font whose printable characters are blocks a little narrower than their advance and
// whose blank is empty, so that text reads as rows of blocks.
inline std::string blockFontBytes() {
    TglFont font;
    font.texWidth = 16;
    font.texHeight = 8;
    font.firstChar = ' ';
    font.lastChar = '~';
    for (int c = ' '; c <= '~'; ++c) {
        const float left = c == ' ' ? 0.5f : 0.0f;
        font.glyphs.push_back({1.0f, 1.5f, left, 0.0f, left + 0.5f, 1.0f});
    }
    std::vector<uint8_t> texels(2 * 16 * 8, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 6; ++x) {
            texels[2 * (y * 16 + x)] = 255;
            texels[2 * (y * 16 + x) + 1] = 255;
        }
    return fontFileBytes(font, texels);
}

const Tcolour defaultCoverColour = {0, 128, 255};

// What the update server holds: every stock image, the default jacket, the sounds and the font.
// Every sound the game opens from its folder's snd/, as the update server holds them.
inline std::vector<const char*> stockSoundFiles() {
    return {"snd/mainmenu.mp3", "snd/readyGo.mp3", "snd/goButton.mp3", "snd/assistTick.mp3", "snd/hitSound.mp3"};
}

inline void writeStockFiles(const std::string& folder) {
    for (const TstockImageFile& file : stockImageFiles()) writeInFolder(folder, file.path, solidTga(file.colour));
    writeInFolder(folder, "gfx/coverBorder.tga", ringTga());
    writeInFolder(folder, "gfx/coverGlow.tga", ringTga());
    for (int digit = 0; digit <= 9; ++digit)
        writeInFolder(folder, "gfx/" + std::to_string(digit) + ".tga", solidTga({40 + 20 * digit, 255, 0}));
    createFolders(joinPath(folder, "gfx"));
    const std::string cover = joinPath(folder, "gfx/defaultCover.jpg");
    const std::string command = "convert -size 8x8 xc:'rgb(0,128,255)' '" + cover + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    const std::string click = readFile(std::string(TRELLIK_SOURCE_DIR) + "/tests/corpus/mp3/click.mp3");
    for (const char* sound : stockSoundFiles()) writeInFolder(folder, sound, click);
    writeInFolder(folder, "font.fnt", blockFontBytes());
}

// A chart the game plays: two rows of one marker each.
inline std::string playableChart() {
    return "1--- |(120)[500]1-2-|\r\n--2- |3---|\r\n---- |----|\r\n3--3 |----|\r\n";
}

// A song with charts at the given difficulty digits and, when a colour is given, a jacket.
inline void writeSong(const std::string& gameFolder, const std::string& name, const std::string& digits,
                      const Tcolour* jacket = nullptr) {
    for (char digit : digits) writeInFolder(gameFolder, "sng/" + name + digit + ".txt", playableChart());
    if (jacket) writeInFolder(gameFolder, "sng/" + name + ".tga", solidTga(*jacket));
}

// A marker skin with one frame per state and a preview of the given colour.
inline void writeSkin(const std::string& gameFolder, const std::string& name, const Tcolour& colour) {
    for (const char* state : markerStateNames)
        writeInFolder(gameFolder, "MKR/" + name + "_" + state + "_0.tga", solidTga(colour));
    writeInFolder(gameFolder, "MKR/" + name + "_prev.tga", solidTga(colour));
}
