// Times the loading of one marker skin (7 states x 16 frames of 256 x 256 TGA): decoding,
// mipmaps and upload, and the share of decoding in it. Needs a GL window (Xvfb in bench.sh).
#include <GL/gl.h>
#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "content/trellikMarkersLoaderCode.h"

namespace {

using TbenchClock = std::chrono::steady_clock;

constexpr int frameSide = 256;
constexpr int framesPerState = 16;
constexpr int repetitions = 7;

double millisecondsSince(TbenchClock::time_point start) {
    return std::chrono::duration<double, std::milli>(TbenchClock::now() - start).count();
}

// An uncompressed 32-bit TGA with a pattern that differs per frame.
void writeFrame(const std::string& path, int seed) {
    std::vector<uint8_t> bytes(18, 0);
    bytes[2] = 2;
    bytes[12] = bytes[14] = frameSide & 0xFF;
    bytes[13] = bytes[15] = frameSide >> 8;
    bytes[16] = 32;
    bytes[17] = 8;
    for (int y = 0; y < frameSide; ++y) {
        for (int x = 0; x < frameSide; ++x) {
            bytes.insert(bytes.end(), {static_cast<uint8_t>(x + seed), static_cast<uint8_t>(y * 3),
                                       static_cast<uint8_t>(x ^ y), static_cast<uint8_t>((x + y) / 2)});
        }
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string makeSkin(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    for (int state = 0; state < markerStateCount; ++state) {
        for (int frame = 0; frame < framesPerState; ++frame) {
            const std::string name =
                std::string("bench_") + markerStateNames[state] + "_" + std::to_string(frame) + ".tga";
            writeFrame((folder / name).string(), state * framesPerState + frame);
        }
    }
    return folder.string() + "/";
}

struct TloadTimes {
    double total = 0;
    double decoding = 0;
    double mipmapping = 0;
    std::vector<GLuint> textures;
};

// The game's loading steps without the console, with decoding and texture making timed apart.
TloaderSteps timedSteps(TloadTimes& times) {
    TloaderSteps steps;
    steps.loadImage = [&times](const std::string& path, uint32_t& texture) {
        const auto start = TbenchClock::now();
        const TimageFileRead read = readImageFile(readerForPath(path), path);
        times.decoding += millisecondsSince(start);
        if (!read.decoded) return false;
        const auto made = TbenchClock::now();
        texture = TtextureLoader::makeTexture(static_cast<uint16_t>(read.image.width),
                                              static_cast<uint16_t>(read.image.height), read.image.pixels.data(),
                                              read.image.layout);
        glFinish();
        times.mipmapping += millisecondsSince(made);
        times.textures.push_back(texture);
        return true;
    };
    steps.loadImageOrDownload = [](const std::string&, uint32_t&, bool) {};
    steps.write = [](const std::string&) {};
    steps.writeLine = [](const std::string&) {};
    steps.refresh = [] {};
    return steps;
}

TloadTimes loadSkinOnce(const std::string& folder) {
    TloadTimes times;
    auto table = std::make_unique<TmarkersControl>();
    const auto start = TbenchClock::now();
    loadMarkersWith(*table, folder, timedSteps(times));
    glFinish();
    times.total = millisecondsSince(start);
    glDeleteTextures(static_cast<GLsizei>(times.textures.size()), times.textures.data());
    return times;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "bench_skin_load: no video: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Window* window = SDL_CreateWindow("skin load", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context) {
        std::fprintf(stderr, "bench_skin_load: no GL context: %s\n", SDL_GetError());
        return 1;
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("bench_skin_" + std::to_string(::getpid()));
    const std::string skin = makeSkin(folder);

    loadSkinOnce(skin);  // warms the file cache and the driver
    std::vector<double> totals, shares;
    for (int i = 0; i < repetitions; ++i) {
        const TloadTimes times = loadSkinOnce(skin);
        totals.push_back(times.total);
        shares.push_back(100.0 * times.decoding / (times.decoding + times.mipmapping));
    }
    std::printf("figure skin_load value=%.1f unit=ms\n", median(totals));
    std::printf("figure skin_load_decode_share value=%.1f unit=percent\n", median(shares));

    std::filesystem::remove_all(folder);
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
