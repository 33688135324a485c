// Building the song catalogue from the chart files of the song folder, with its console table.
#include "content/trellikSongListLoaderCode.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "content/fileSearchCode.h"
#include "platform/store/pathResolver.h"

const char* const songFolder = "sng\\";
const char* const defaultCoverPath = "gfx\\defaultCover.jpg";

// Texts start as std::string rather than a literal: GCC 12 at -O3 warns falsely about a literal
// added in front of a string.
namespace {

const char* const difficultyLabels[3] = {"BSC", "ADV", "EXT"};

int32_t countNames(const TsearchResults& results) {
    int32_t count = 0;
    while (count < searchResultCapacity && !results.names[count].empty()) ++count;
    return count;
}

bool allThree(const bool flags[3]) {
    return flags[0] && flags[1] && flags[2];
}

void writeHeader(const TloaderSteps& steps) {
    steps.writeLine("Loading songs:");
    steps.writeLine(".--------------------------------------------------------------.");
    steps.writeLine("| Song Name:                                   | Difficulties: |");
    steps.writeLine("|----------------------------------------------|---------------|");
}

void writeSongRow(const TsongDisplayInfo& info, const TloaderSteps& steps) {
    steps.write(std::string("| ") + info.name + tableBlanks(45 - tableWidth(info.name)));
    steps.write("|  ");
    for (int d = 0; d < 3; ++d) steps.write(info.hasChart[d] ? std::string(difficultyLabels[d]) + " " : "    ");
    steps.writeLine(" |");
}

void writeFooter(int32_t songCount, const TloaderSteps& steps) {
    steps.writeLine("|--------------------------------------------------------------|");
    const std::string count = std::to_string(songCount);
    steps.write(std::string("| ") + count + " songs loaded" + tableBlanks(48 - static_cast<int>(count.size())));
    steps.writeLine("|");
    steps.writeLine("'--------------------------------------------------------------'");
}

// Paths are read with "\" as a folder separator, so no chart of a song named with one can be opened.
bool isOpenableSongName(const std::string& name) {
    return name.find('\\') == std::string::npos;
}

void addSong(TsongsLoadingData& catalogue, const std::string& name, const std::string& folder,
             const TloaderSteps& steps) {
    Tsong& song = catalogue.songs[++catalogue.lastIndex];
    song.name = name;
    loadCoverWith(song, folder, steps);
    steps.refresh();
}

void writeSkippedSongs(int32_t beyondCapacity, const std::vector<std::string>& unopenable, const TloaderSteps& steps) {
    if (beyondCapacity > 0) {
        steps.writeLine(std::string("Skipped ") + std::to_string(beyondCapacity) +
                        " more songs: there is room for " + std::to_string(songCapacity) + ".");
    }
    for (const std::string& name : unopenable)
        steps.writeLine(std::string("Skipped the song \"") + name + "\": a \"\\\" in a file name cannot be opened.");
}

}  // namespace

TsongDisplayInfo songDisplayInfo(const std::string& name, const std::string* fileNames, int32_t fileCount) {
    TsongDisplayInfo info;
    info.name = name;
    for (int32_t i = 0; i < fileCount && !allThree(info.hasChart); ++i) {
        const std::string& file = fileNames[i];
        if (file.size() != name.size() + 5 || file.compare(0, name.size(), name) != 0) continue;
        const char digit = file[name.size()];
        if (digit >= '0' && digit <= '2') info.hasChart[digit - '0'] = true;
    }
    return info;
}

void loadSongsWith(TsongsLoadingData& catalogue, const std::string& folder, const TloaderSteps& steps) {
    writeHeader(steps);
    auto names = std::make_unique<TsearchResults>();
    auto files = std::make_unique<TsearchResults>();
    searchFiles(folder, "*.txt", *names, true);
    searchFiles(folder, "*.txt", *files, false);
    const int32_t found = countNames(*names);
    const int32_t fileCount = countNames(*files);
    std::vector<std::string> unopenable;
    int32_t beyondCapacity = 0;
    catalogue.lastIndex = -1;
    for (int32_t k = 0; k < found; ++k) {
        const std::string& name = names->names[k];
        if (!isOpenableSongName(name)) {
            unopenable.push_back(name);
            continue;
        }
        if (catalogue.lastIndex + 1 == songCapacity) {
            ++beyondCapacity;
            continue;
        }
        writeSongRow(songDisplayInfo(name, files->names, fileCount), steps);
        addSong(catalogue, name, folder, steps);
    }
    writeFooter(catalogue.lastIndex + 1, steps);
    writeSkippedSongs(beyondCapacity, unopenable, steps);
}

void loadCoverWith(Tsong& entry, const std::string& folder, const TloaderSteps& steps) {
    for (const char* extension : {".bmp", ".jpg", ".tga"}) {
        const std::string path = folder + entry.name + extension;
        if (pathExists(path)) {
            steps.loadImage(path, entry.cover);
            return;
        }
    }
    steps.loadImageOrDownload(defaultCoverPath, entry.cover, false);
}

void loadSongs(TsongsLoadingData& catalogue, const std::function<void()>& refresh) {
    loadSongsWith(catalogue, songFolder, gameLoaderSteps(refresh));
}

void setSong(Tsong& entry, const std::string& name) {
    entry.name = name;
    loadCover(entry);
}

void loadCover(Tsong& entry) {
    loadCoverWith(entry, songFolder, gameLoaderSteps(nullptr));
}

int32_t getLastIndex(const TsongsLoadingData& catalogue) {
    return catalogue.lastIndex;
}

std::string getSongName(const TsongsLoadingData& catalogue, int32_t index) {
    if (index < 0 || index >= songCapacity) return {};
    return catalogue.songs[index].name;
}

uint32_t getSongCover(const TsongsLoadingData& catalogue, int32_t index) {
    if (index < 0 || index >= songCapacity) return 0;
    return catalogue.songs[index].cover;
}
