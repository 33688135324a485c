// Image files to OpenGL textures: the reader chosen by extension, the player told about
// unreadable files, and the one GL step that turns pixels into a mipmapped texture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "content/imageDecoders.h"
#include "content/jacketImage.h"

enum class TimageReader { none, bmp, jpg, tga };

// The reader for a path by its last four characters without regard to case (".bmp", ".jpg",
// ".tga"); none for anything else, ".jpeg" included.
TimageReader readerForPath(const std::string& path);

// What reading one image file came to, without GL: the pixels, or the message and caption
// the game shows for it.
struct TimageFileRead {
    bool decoded = false;
    TpixelBuffer image;
    std::string message;
    std::string caption;
};

TimageFileRead readBmpFile(const std::string& path);
TimageFileRead readJpgFile(const std::string& path);
TimageFileRead readTgaFile(const std::string& path);
// Reads with the given reader; with none, nothing is decoded and there is no message.
TimageFileRead readImageFile(TimageReader reader, const std::string& path);

// The texture loader. It holds no state; every operation runs on the thread whose GL context is
// current, writes texture only on success and leaves a new texture bound to GL_TEXTURE_2D.
struct TtextureLoader {
    // By extension; an unknown one returns false and says nothing.
    static bool loadTexture(const std::string& path, uint32_t& texture);
    // Fetches a missing file from the update server first; a failed fetch raises its error.
    static void loadTextureOrDownload(const std::string& path, uint32_t& texture, bool announce);
    static bool loadBmpTexture(const std::string& path, uint32_t& texture);
    static bool loadJpgTexture(const std::string& path, uint32_t& texture);
    static bool loadTgaTexture(const std::string& path, uint32_t& texture);
    static uint32_t makeTexture(uint16_t width, uint16_t height, const uint8_t* pixels, TpixelLayout layout);
    // A song's jacket scaled to jacketSide whatever the file's size (a 4096 x 4096 jacket would
    // take 64 MiB as it is), with its mipmap levels; false and the message when it cannot be read.
    static bool loadJacketTexture(const std::string& path, uint32_t& texture);
    // The prepared levels of a jacket as one texture.
    static uint32_t makeJacketTexture(const TjacketImage& image);
    // A new texture bound for filling: linear and mipmapped, clamped at its edges, rows packed.
    static uint32_t newBoundTexture();
};

// How the skin and song loaders load their images and show their progress. The game loads
// textures and writes to the console; the content tool and the tests put in their own.
struct TloaderSteps {
    std::function<bool(const std::string& path, uint32_t& texture)> loadImage;
    std::function<void(const std::string& path, uint32_t& texture, bool announce)> loadImageOrDownload;
    std::function<void(const std::string& text)> write;
    std::function<void(const std::string& text)> writeLine;
    std::function<void()> refresh;
};

// The game's steps: the texture loader, the console, and a console frame drawn over whatever
// refresh draws.
TloaderSteps gameLoaderSteps(const std::function<void()>& refresh);
// The same for songs: their jackets scaled as they load (loadJacketTexture).
TloaderSteps gameSongLoaderSteps(const std::function<void()>& refresh);

// Blanks that pad a console table row; none when count is below 1.
std::string tableBlanks(int count);
// The cells text takes in a console table: one per UTF-8 character, not per byte.
int tableWidth(const std::string& text);
