// trellik-stockpack --out DIR: writes the update server's root to DIR/server and the demo
// songs and marker skins to DIR/demo, the same bytes on every run.
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "tools/stockpack/artStyle.h"
#include "tools/stockpack/markerSkins.h"
#include "tools/stockpack/packContents.h"
#include "tools/stockpack/packWriter.h"
#include "tools/stockpack/stockImages.h"

namespace {

void usage() { std::cerr << "usage: trellik-stockpack --out DIR\n"; }

// Removes what an earlier run wrote, so nothing stale survives in the pack.
void clearEarlierPack(const std::filesystem::path& root) {
    for (const char* part : {"server", "demo", "manifest.json"}) std::filesystem::remove_all(root / part);
}

void buildPack(const std::string& root) {
    using namespace stockpack;
    const auto started = std::chrono::steady_clock::now();
    auto report = [&started](const char* step) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::cout << "trellik-stockpack: " << step << " (" << static_cast<int>(seconds * 10) / 10.0 << " s)" << std::endl;
    };
    clearEarlierPack(root);
    TpackWriter pack(root);
    const TartFonts fonts;
    writeStockImages(pack, fonts);
    writeConsoleFont(pack);
    report("images and font");
    writeMarkerSkins(pack, fonts);
    report("marker skins");
    writeStockSounds(pack);
    report("stock sounds");
    const std::vector<TdemoSongInfo> songs = writeDemoSongs(pack, fonts);
    report("demo songs");
    writeServerTexts(pack, songs);
    pack.saveManifest();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "--out") != 0) {
        usage();
        return 2;
    }
    try {
        buildPack(argv[2]);
    } catch (const std::exception& error) {
        std::cerr << "trellik-stockpack: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
