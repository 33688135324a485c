// The song library scan: folder listings, chart summaries from the cache or the files, cache upkeep.
#include "content/songLibrary.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "content/chartSummary.h"
#include "platform/store/pathResolver.h"

namespace fs = std::filesystem;

namespace {

// Chart names end in a difficulty digit and ".txt"; what stands before them is the song name.
constexpr size_t cutCharacters = 5;
const char* const jacketExtensions[] = {".bmp", ".jpg", ".tga"};

// One folder's entries, sorted the way the game lists files.
struct Tlisting {
    bool listed = false;
    std::vector<std::string> files;
    std::vector<std::string> folders;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lowerAsciiCharacter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares the runs of digits starting at left[i] and right[j] as numbers and moves past them;
// -1, 0 or 1. Leading zeros count for nothing ("007" is 7).
int compareNumbers(const std::string& left, size_t& i, const std::string& right, size_t& j) {
    while (i < left.size() && left[i] == '0' && i + 1 < left.size() && isDigit(left[i + 1])) ++i;
    while (j < right.size() && right[j] == '0' && j + 1 < right.size() && isDigit(right[j + 1])) ++j;
    size_t leftEnd = i, rightEnd = j;
    while (leftEnd < left.size() && isDigit(left[leftEnd])) ++leftEnd;
    while (rightEnd < right.size() && isDigit(right[rightEnd])) ++rightEnd;
    int order = 0;
    if (leftEnd - i != rightEnd - j) order = leftEnd - i < rightEnd - j ? -1 : 1;
    else order = left.compare(i, leftEnd - i, right, j, rightEnd - j);
    i = leftEnd;
    j = rightEnd;
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

}  // namespace

bool lessNaturally(const std::string& left, const std::string& right) {
    size_t i = 0, j = 0;
    while (i < left.size() && j < right.size()) {
        if (isDigit(left[i]) && isDigit(right[j])) {
            const int order = compareNumbers(left, i, right, j);
            if (order != 0) return order < 0;
            continue;
        }
        const char a = lowerAsciiCharacter(left[i++]), b = lowerAsciiCharacter(right[j++]);
        if (a != b) return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
    }
    if (left.size() - i != right.size() - j) return left.size() - i < right.size() - j;
    return left < right;
}

namespace {

Tlisting listEntries(const std::string& folder) {
    Tlisting listing;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) return listing;
    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        if (error) return listing;
        const std::string name = entries->path().filename().string();
        // Hidden entries are a tool's or the system's ("._song0.txt", ".git"), never the player's songs.
        if (name.starts_with(".")) continue;
        if (entries->is_directory(error)) listing.folders.push_back(name);
        else listing.files.push_back(name);
    }
    std::sort(listing.files.begin(), listing.files.end(), lessNaturally);
    std::sort(listing.folders.begin(), listing.folders.end(), lessNaturally);
    listing.listed = true;
    return listing;
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool endsWithIgnoringCase(const std::string& name, const char* ending) {
    const size_t length = std::strlen(ending);
    return name.size() >= length && ::strcasecmp(name.c_str() + name.size() - length, ending) == 0;
}

bool isChartFileName(const std::string& name) {
    return endsWithIgnoringCase(name, ".txt");
}

bool isJacketFileName(const std::string& name) {
    for (const char* extension : jacketExtensions)
        if (endsWithIgnoringCase(name, extension)) return true;
    return false;
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The name without its last characters; UTF-8 sequences count as one character each.
std::string withoutLastCharacters(const std::string& name, size_t count) {
    size_t end = name.size();
    for (size_t removed = 0; removed < count && end > 0; ++removed) {
        --end;
        while (end > 0 && isContinuationByte(name[end])) --end;
    }
    return name.substr(0, end);
}

// The difficulty a chart file gives its song, or -1 when its name is not song + digit + ".txt".
int32_t difficultyOf(const std::string& file, const std::string& song) {
    if (file.size() != song.size() + cutCharacters) return -1;
    const char digit = file[song.size()];
    return digit >= '0' && digit < '0' + difficultyCount ? digit - '0' : -1;
}

// The first jacket extension a file of the song has, in any letter case; "" for none.
std::string jacketExtensionOf(const std::string& song, const std::unordered_set<std::string>& lowerNames) {
    for (const char* extension : jacketExtensions)
        if (lowerNames.count(lowerAscii(song + extension))) return extension;
    return "";
}

// A chart file present on disk, to be summarized from the cache or read.
struct TchartFile {
    size_t song = 0;
    int32_t difficulty = 0;
    std::string path;
    // What the file looked like when listed; stamped is false when it could not be looked at.
    bool stamped = false;
    TfileStamp stamp;
};

int64_t nanoseconds(const struct timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

TfileStamp stampOf(const struct stat& status) {
    TfileStamp stamp;
    stamp.size = status.st_size;
    stamp.modified = nanoseconds(status.st_mtim);
    stamp.inode = static_cast<int64_t>(status.st_ino);
    stamp.changed = nanoseconds(status.st_ctim);
    return stamp;
}

// Looked at through the folder's own handle: no walk of the whole path for each of thousands of files.
void stampChart(int folderHandle, const std::string& file, TchartFile& chart) {
    struct stat status {};
    chart.stamped = folderHandle >= 0 && ::fstatat(folderHandle, file.c_str(), &status, 0) == 0;
    chart.stamp = stampOf(status);
}

// An open folder, closed when it goes.
class TfolderHandle {
public:
    explicit TfolderHandle(const std::string& path) : handle(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~TfolderHandle() {
        if (handle >= 0) ::close(handle);
    }
    TfolderHandle(const TfolderHandle&) = delete;
    TfolderHandle& operator=(const TfolderHandle&) = delete;
    int get() const { return handle; }

private:
    int handle;
};

// The songs of one folder in listing order, with their chart files and jackets.
void collectSongs(const std::string& folderPath, const std::string& group, const Tlisting& listing,
                  TlibraryScan& scan, std::vector<TchartFile>& charts) {
    std::unordered_set<std::string> lowerNames;
    for (const std::string& file : listing.files)
        if (isJacketFileName(file)) lowerNames.insert(lowerAscii(file));
    // Names differing only in letter case are one song: the game opens its files in any case.
    std::unordered_map<std::string, size_t> songIndex;
    const TfolderHandle folder(folderPath);
    for (const std::string& file : listing.files) {
        if (!isChartFileName(file)) continue;
        const std::string song = withoutLastCharacters(file, cutCharacters);
        const int32_t difficulty = difficultyOf(file, song);
        if (song.empty() || difficulty < 0) continue;
        auto [found, added] = songIndex.emplace(lowerAscii(song), scan.songs.size());
        if (added && song.find('\\') != std::string::npos) scan.unopenable.push_back(song);
        if (song.find('\\') != std::string::npos) continue;
        if (added) {
            TfoundSong entry;
            entry.group = group;
            entry.name = song;
            entry.jacketExtension = jacketExtensionOf(song, lowerNames);
            scan.songs.push_back(std::move(entry));
        }
        if (scan.songs[found->second].hasChart[difficulty]) continue;
        scan.songs[found->second].hasChart[difficulty] = true;
        TchartFile chart{found->second, difficulty, folderPath + file, false, {}};
        stampChart(folder.get(), file, chart);
        charts.push_back(std::move(chart));
    }
}

// False when the file cannot be looked at.
bool fileStamp(const std::string& path, TfileStamp& stamp) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    stamp = stampOf(status);
    return true;
}

bool readBytes(const std::string& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

// Fills each song's charts: unchanged ones from the cache, the rest read and noted as changed.
class TchartReader {
public:
    // Takes the cached charts found on disk out of cached; what is left there is gone from disk.
    // A file the cache never held is first seen at seenAt; a negative seenAt takes its modification
    // time instead (a first scan knows no better).
    TchartReader(TlibraryScan& scan, TcachedCharts& cached, int64_t seenAt) : scan(scan), cached(cached), seenAt(seenAt) {}

    // Charts of one song sit side by side in charts; a song with any chart not in the cache is read whole.
    void summarize(const std::vector<TchartFile>& charts, const TscanProgress& progress) {
        const std::vector<bool> needsReading = takeFromCache(charts);
        const int32_t total = static_cast<int32_t>(std::count(needsReading.begin(), needsReading.end(), true));
        scan.songsRead = total;
        scan.songsFromCache = static_cast<int32_t>(scan.songs.size()) - total;
        int32_t done = 0;
        for (size_t start = 0; start < charts.size();) {
            size_t end = start;
            while (end < charts.size() && charts[end].song == charts[start].song) ++end;
            if (needsReading[charts[start].song]) {
                for (size_t k = start; k < end; ++k) readChart(charts[k]);
                if (progress) progress(++done, total);
            }
            start = end;
        }
    }

    TcachedCharts changed;

private:
    // Which songs have a chart the cache does not hold as it is on disk.
    std::vector<bool> takeFromCache(const std::vector<TchartFile>& charts) {
        std::vector<bool> needsReading(scan.songs.size(), false);
        for (const TchartFile& chart : charts)
            if (!fromCache(chart)) needsReading[chart.song] = true;
        return needsReading;
    }

    bool fromCache(const TchartFile& chart) {
        auto entry = cached.extract(chart.path);
        if (entry.empty()) return false;
        firstSeen[chart.path] = entry.mapped().firstSeen;
        if (!chart.stamped || !(entry.mapped().stamp == chart.stamp)) return false;
        scan.songs[chart.song].charts[chart.difficulty] = std::move(entry.mapped());
        return true;
    }

    void readChart(const TchartFile& chart) {
        TfileStamp stamp;
        std::string bytes;
        TcachedChart& summary = scan.songs[chart.song].charts[chart.difficulty];
        if (!fileStamp(chart.path, stamp) || !readBytes(chart.path, bytes)) {
            summary = TcachedChart{};
            return;
        }
        if (!parser) parser = std::make_unique<TsongParser>();
        summary = summarizeChart(*parser, bytes);
        summary.stamp = stamp;
        const auto seen = firstSeen.find(chart.path);
        summary.firstSeen = seen != firstSeen.end() ? seen->second : seenAt >= 0 ? seenAt : stamp.modified;
        changed[chart.path] = summary;
    }

    TlibraryScan& scan;
    TcachedCharts& cached;
    const int64_t seenAt;
    // When the cache first saw each chart it held, for those read again.
    std::unordered_map<std::string, int64_t> firstSeen;
    std::unique_ptr<TsongParser> parser;
};

// Cached paths not found on disk; those under a folder that could not be listed are kept.
std::vector<std::string> vanishedPaths(const TcachedCharts& notFound, const std::unordered_set<std::string>& unlisted) {
    std::vector<std::string> vanished;
    for (const auto& [path, chart] : notFound)
        if (!unlisted.count(path.substr(0, path.rfind('/') + 1))) vanished.push_back(path);
    return vanished;
}

bool isSameFolder(const std::string& left, const std::string& right) {
    std::error_code error;
    return fs::equivalent(left, right, error);
}

std::string skippedPackLine(const std::string& group, const std::string& reason) {
    return "Skipped the pack \"" + group + "\": " + reason + ".";
}

// What of a pack is left out, or "": songs sit directly in a pack, one level below the song folder.
std::string packComplaint(const Tlisting& listing, bool gaveSongs) {
    if (!listing.listed) return "it cannot be read";
    if (!listing.folders.empty()) return "the folders in it are not read (songs go directly in a pack)";
    return gaveSongs ? "" : "it holds no chart";
}

int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string absoluteFolder(const std::string& folder) {
    std::error_code error;
    std::string path = fs::absolute(resolvePath(folder.empty() ? "." : folder), error).lexically_normal().string();
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

}  // namespace

TlibraryScan scanSongLibrary(const std::string& folder, const std::string& cachePath, const TscanProgress& progress) {
    TlibraryScan scan;
    const std::string root = absoluteFolder(folder);
    const Tlisting top = listEntries(root);
    std::vector<TchartFile> charts;
    std::unordered_set<std::string> unlisted;
    if (!top.listed) unlisted.insert(root);
    collectSongs(root, "", top, scan, charts);
    for (const std::string& group : top.folders) {
        const std::string groupPath = root + group + "/";
        if (isSameFolder(groupPath, root)) {
            scan.skipped.push_back(skippedPackLine(group, "it is a link back to the song folder"));
            continue;
        }
        const Tlisting listing = listEntries(groupPath);
        if (!listing.listed) unlisted.insert(groupPath);
        if (group.find('\\') != std::string::npos) {
            scan.skipped.push_back(skippedPackLine(group, "a \"\\\" in a folder name cannot be opened"));
            continue;
        }
        const size_t songsBefore = scan.songs.size();
        const size_t unopenableBefore = scan.unopenable.size();
        collectSongs(groupPath, group, listing, scan, charts);
        const std::string reason = packComplaint(listing, scan.songs.size() > songsBefore || scan.unopenable.size() > unopenableBefore);
        if (!reason.empty()) scan.skipped.push_back(skippedPackLine(group, reason));
    }
    // A song's charts side by side: files of two songs can interleave in the listing ("a1", "a10", "a2").
    std::stable_sort(charts.begin(), charts.end(),
                     [](const TchartFile& left, const TchartFile& right) { return left.song < right.song; });
    std::unique_ptr<TsongCacheDatabase> cache;
    TcachedCharts cached;
    if (!cachePath.empty()) {
        cache = std::make_unique<TsongCacheDatabase>(cachePath);
        scan.cacheNotice = cache->notice();
        cached = cache->chartsUnder(root);
    }
    const int64_t seenAt = cached.empty() ? -1 : nowNanoseconds();
    TchartReader reader(scan, cached, seenAt);
    reader.summarize(charts, progress);
    if (cache && top.listed) cache->update(reader.changed, vanishedPaths(cached, unlisted));
    return scan;
}

std::string songCachePathBeside(const std::string& recordsPath) {
    if (recordsPath.empty()) return "";
    const fs::path folder = fs::path(recordsPath).parent_path();
    return (folder / "songs.sqlite3").string();
}
