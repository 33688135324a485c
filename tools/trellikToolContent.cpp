// trellik-tool skins and songs: the console tables the game prints while it loads marker skins
// and the song catalogue, made without GL; every image is decoded and checked on the way.
#include <iostream>
#include <memory>

#include "content/trellikMarkersLoaderCode.h"
#include "content/trellikSongListLoaderCode.h"
#include "tools/trellikToolCommands.h"

namespace {

const char* const skinsUsage =
    "usage: trellik-tool skins FOLDER\n"
    "Prints the table the game prints while it loads the marker skins of FOLDER. Every frame\n"
    "and preview is decoded; the message the game would show for one it cannot use goes to\n"
    "standard error. Exit status 1 when there was such a message.\n";

const char* const songsUsage =
    "usage: trellik-tool songs FOLDER\n"
    "Prints the table the game prints while it builds the song catalogue from FOLDER. Every\n"
    "jacket is decoded; the message the game would show for one it cannot use goes to\n"
    "standard error. Exit status 1 when there was such a message.\n";

// Steps that print the table on standard output and decode images instead of making textures.
struct TtoolSteps {
    int refusedImages = 0;
    uint32_t decodedImages = 0;

    TloaderSteps steps() {
        TloaderSteps result;
        result.loadImage = [this](const std::string& path, uint32_t& texture) { return decode(path, texture); };
        result.loadImageOrDownload = [](const std::string&, uint32_t&, bool) {};
        result.write = [](const std::string& text) { std::cout << text; };
        result.writeLine = [](const std::string& text) { std::cout << text << "\n"; };
        result.refresh = [] {};
        return result;
    }

    bool decode(const std::string& path, uint32_t& texture) {
        const TimageReader reader = readerForPath(path);
        if (reader == TimageReader::none) return false;
        const TimageFileRead read = readImageFile(reader, path);
        if (!read.decoded) {
            ++refusedImages;
            std::cerr << read.caption << ": " << read.message << "\n";
            return false;
        }
        texture = ++decodedImages;
        return true;
    }
};

std::string asFolder(const std::string& folder) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) return folder;
    return folder + "/";
}

// The one FOLDER argument of a subcommand; returns the complaint, empty when it is there.
std::string folderArgument(const TtoolArguments& arguments, std::string& folder) {
    if (arguments.size() != 1) return arguments.empty() ? "no folder given" : "give exactly one folder";
    folder = asFolder(arguments[0]);
    return "";
}

// Runs a table-printing loader over the one FOLDER argument.
int runTableCommand(const TtoolArguments& arguments, const char* usage,
                    void (*load)(const std::string& folder, const TloaderSteps& steps)) {
    if (asksForHelp(arguments)) return printHelp(usage);
    std::string folder;
    const std::string complaint = folderArgument(arguments, folder);
    if (!complaint.empty()) return usageError(complaint, usage);
    TtoolSteps tool;
    load(folder, tool.steps());
    return tool.refusedImages == 0 ? exitSuccess : exitRefused;
}

void printSkinsTable(const std::string& folder, const TloaderSteps& steps) {
    auto table = std::make_unique<TmarkersControl>();
    loadMarkersWith(*table, folder, steps);
}

void printSongsTable(const std::string& folder, const TloaderSteps& steps) {
    auto catalogue = std::make_unique<TsongsLoadingData>();
    loadSongsWith(*catalogue, folder, steps);
}

}  // namespace

int runSkinsCommand(const TtoolArguments& arguments) {
    return runTableCommand(arguments, skinsUsage, printSkinsTable);
}

int runSongsCommand(const TtoolArguments& arguments) {
    return runTableCommand(arguments, songsUsage, printSongsTable);
}
