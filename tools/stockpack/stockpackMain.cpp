// trellik-stockpack --out DIR [--program FILE [--program-only]]: writes the update server's root
// to DIR/server, the demo songs and marker skins to DIR/demo and the desktop icons to DIR/icons,
// the same bytes on every run.
// With --program the server also offers FILE, the program of this build, as its "TrellikGL";
// --program-only puts just that into a pack made earlier.
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

void usage() { std::cerr << "usage: trellik-stockpack --out DIR [--program FILE [--program-only]]\n"; }

// What the command line asks for.
struct Trequest {
    std::string root;
    std::string program;
    bool programOnly = false;
};

bool readRequest(int argc, char** argv, Trequest& request) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--out") == 0 && hasValue) {
            request.root = argv[++i];
        } else if (std::strcmp(argv[i], "--program") == 0 && hasValue) {
            request.program = argv[++i];
        } else if (std::strcmp(argv[i], "--program-only") == 0) {
            request.programOnly = true;
        } else {
            return false;
        }
    }
    return !request.root.empty() && (!request.programOnly || !request.program.empty());
}

// Removes what an earlier run wrote, so nothing stale survives in the pack.
void clearEarlierPack(const std::filesystem::path& root) {
    for (const char* part : {"server", "demo", "icons", "manifest.json"}) std::filesystem::remove_all(root / part);
}

void buildPack(const std::string& root, const std::string& program) {
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
    writeAppIcons(pack);
    report("images and font");
    writeMarkerSkins(pack, fonts);
    report("marker skins");
    writeStockSounds(pack);
    report("stock sounds");
    const std::vector<TdemoSongInfo> songs = writeDemoSongs(pack, fonts);
    report("demo songs");
    writeServerTexts(pack, songs);
    if (!program.empty()) writeServerProgram(pack, program);
    pack.saveManifest();
}

}  // namespace

int main(int argc, char** argv) {
    Trequest request;
    if (!readRequest(argc, argv, request)) {
        usage();
        return 2;
    }
    try {
        if (request.programOnly) {
            stockpack::TpackWriter pack(request.root);
            stockpack::writeServerProgram(pack, request.program);
        } else {
            buildPack(request.root, request.program);
        }
    } catch (const std::exception& error) {
        std::cerr << "trellik-stockpack: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
