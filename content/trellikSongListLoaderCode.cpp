// Building the song catalogue from the chart files of the song folder, with its console table.
#include "content/trellikSongListLoaderCode.h"

#include <algorithm>
#include <set>
#include <vector>

#include "content/songSearch.h"
#include "platform/store/pathResolver.h"

const char* const songFolder = "sng\\";
const char* const defaultCoverPath = "gfx\\defaultCover.jpg";

// Texts start as std::string rather than a literal: GCC 12 at -O3 warns falsely about a literal
// added in front of a string.
namespace {

const char* const difficultyLabels[3] = {"BSC", "ADV", "EXT"};
// Progress is shown for a cold start of a big library, every so many songs so that drawing
// the loading screen stays a small part of the scan.
constexpr int32_t progressStep = 100;

bool allThree(const bool flags[3]) {
    return flags[0] && flags[1] && flags[2];
}

void writeHeader(const TloaderSteps& steps) {
    steps.writeLine("Loading songs:");
    steps.writeLine(".--------------------------------------------------------------.");
    steps.writeLine("| Song Name:                                   | Difficulties: |");
    steps.writeLine("|----------------------------------------------|---------------|");
}

// Songs of a group show it in front of their name: "group/name".
// Decomposed accents composed: the console draws each code point in a cell of its own.
std::string tableName(const Tsong& song) {
    return composedLatin(song.group.empty() ? song.name : std::string(song.group) + "/" + song.name);
}

void writeSongRow(const Tsong& song, const TloaderSteps& steps) {
    const std::string name = tableName(song);
    steps.write(std::string("| ") + name + tableBlanks(45 - tableWidth(name)));
    steps.write("|  ");
    for (int d = 0; d < 3; ++d) steps.write(song.hasChart[d] ? std::string(difficultyLabels[d]) + " " : "    ");
    steps.writeLine(" |");
}

void writeFooter(int32_t songCount, const TloaderSteps& steps) {
    steps.writeLine("|--------------------------------------------------------------|");
    const std::string count = std::to_string(songCount);
    steps.write(std::string("| ") + count + " songs loaded" + tableBlanks(48 - static_cast<int>(count.size())));
    steps.writeLine("|");
    steps.writeLine("'--------------------------------------------------------------'");
}

int32_t groupCount(const std::vector<Tsong>& songs) {
    std::set<std::string> groups;
    for (const Tsong& song : songs)
        if (!song.group.empty()) groups.insert(song.group);
    return static_cast<int32_t>(groups.size());
}

// The one line a big library gets instead of the table.
void writeSummary(const std::vector<Tsong>& songs, const TlibraryScan& scan, const TloaderSteps& steps) {
    steps.writeLine(std::string("Loading songs: ") + std::to_string(songs.size()) + " songs loaded; groups: " +
                    std::to_string(groupCount(songs)) + ", read: " + std::to_string(scan.songsRead) +
                    ", from the song cache: " + std::to_string(scan.songsFromCache) + ".");
}

void writeSkippedSongs(const TlibraryScan& scan, const TloaderSteps& steps) {
    for (const std::string& name : scan.unopenable)
        steps.writeLine(std::string("Skipped the song \"") + name + "\": a \"\\\" in a file name cannot be opened.");
    for (const std::string& line : scan.skipped) steps.writeLine(line);
}

Tsong catalogueEntry(TfoundSong& found) {
    Tsong song;
    song.name = std::move(found.name);
    song.group = std::move(found.group);
    for (int32_t d = 0; d < difficultyCount; ++d) {
        song.hasChart[d] = found.hasChart[d];
        song.charts[d] = std::move(found.charts[d]);
    }
    return song;
}

// Jackets by what the listing told: no folder is searched again per song. A big library's songs
// share one default texture; their own jackets are loaded when song select shows them.
class TcoverLoader {
public:
    TcoverLoader(const std::string& folder, const TloaderSteps& steps, bool shareDefault)
        : folder(folder), steps(steps), shareDefault(shareDefault) {}

    void load(Tsong& song, const std::string& jacketExtension) {
        const std::string jacket = jacketExtension.empty() ? "" : folder + songFileStem(song) + jacketExtension;
        if (shareDefault) {
            song.cover = sharedDefault();
            song.jacketPath = jacket;
        } else if (!jacket.empty()) {
            steps.loadImage(jacket, song.cover);
        } else {
            steps.loadImageOrDownload(defaultCoverPath, song.cover, false);
        }
    }

private:
    uint32_t sharedDefault() {
        if (!defaultLoaded) steps.loadImageOrDownload(defaultCoverPath, defaultCover, false);
        defaultLoaded = true;
        return defaultCover;
    }

    const std::string& folder;
    const TloaderSteps& steps;
    const bool shareDefault;
    bool defaultLoaded = false;
    uint32_t defaultCover = 0;
};

TscanProgress progressOf(const TsongListOptions& options) {
    if (!options.showProgress) return nullptr;
    return [&options](int32_t done, int32_t total) {
        const std::string line = songProgressLine(done, total);
        if (!line.empty()) options.showProgress(line);
    };
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

std::string songProgressLine(int32_t done, int32_t total) {
    if (total <= songTableLimit || (done % progressStep != 0 && done != total)) return "";
    return std::string("Songs: ") + std::to_string(done) + " of " + std::to_string(total);
}

void loadSongsWith(TsongsLoadingData& catalogue, const std::string& folder, const TloaderSteps& steps,
                   const TsongListOptions& options) {
    TlibraryScan scan = scanSongLibrary(folder, options.cachePath, progressOf(options));
    if (!scan.cacheNotice.empty()) steps.writeLine(scan.cacheNotice);
    const bool table = static_cast<int32_t>(scan.songs.size()) <= songTableLimit;
    if (table) writeHeader(steps);
    catalogue.songs.clear();
    catalogue.songs.reserve(scan.songs.size());
    TcoverLoader covers(folder, steps, !table);
    for (TfoundSong& found : scan.songs) {
        catalogue.songs.push_back(catalogueEntry(found));
        Tsong& song = catalogue.songs.back();
        if (table) writeSongRow(song, steps);
        covers.load(song, found.jacketExtension);
        if (table) steps.refresh();
    }
    if (table) writeFooter(getLastIndex(catalogue) + 1, steps);
    else writeSummary(catalogue.songs, scan, steps);
    writeSkippedSongs(scan, steps);
    if (!table) steps.refresh();
}

void loadCoverWith(Tsong& entry, const std::string& folder, const TloaderSteps& steps) {
    for (const char* extension : {".bmp", ".jpg", ".tga"}) {
        const std::string path = folder + songFileStem(entry) + extension;
        if (pathExists(path)) {
            steps.loadImage(path, entry.cover);
            return;
        }
    }
    steps.loadImageOrDownload(defaultCoverPath, entry.cover, false);
}

void loadSongs(TsongsLoadingData& catalogue, const std::function<void()>& refresh) {
    loadSongsWith(catalogue, songFolder, gameSongLoaderSteps(refresh));
}

void setSong(Tsong& entry, const std::string& name) {
    entry.name = name;
    loadCover(entry);
}

void loadCover(Tsong& entry) {
    loadCoverWith(entry, songFolder, gameSongLoaderSteps(nullptr));
}

int32_t getLastIndex(const TsongsLoadingData& catalogue) {
    return static_cast<int32_t>(catalogue.songs.size()) - 1;
}

std::string songFileStem(const Tsong& song) {
    return song.group.empty() ? song.name : song.group + "\\" + song.name;
}

const Tsong* songAt(const TsongsLoadingData& catalogue, int32_t index) {
    if (index < 0 || index > getLastIndex(catalogue)) return nullptr;
    return &catalogue.songs[static_cast<size_t>(index)];
}

std::string getSongName(const TsongsLoadingData& catalogue, int32_t index) {
    const Tsong* song = songAt(catalogue, index);
    return song ? songFileStem(*song) : std::string();
}

uint32_t getSongCover(const TsongsLoadingData& catalogue, int32_t index) {
    const Tsong* song = songAt(catalogue, index);
    return song ? song->cover : 0;
}
