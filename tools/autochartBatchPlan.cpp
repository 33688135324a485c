// Finding a batch's songs: walking the folder tree, naming songs and groups, spotting done songs.
#include "tools/autochartBatchPlan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <map>
#include <set>

#include "platform/store/sha256.h"

namespace fs = std::filesystem;

namespace {

const std::string_view refusedCharacters = "/\\:*?\"<>|";

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The length of the valid UTF-8 sequence at the start of text (no overlong forms, surrogates or
// code points past U+10FFFF), or 0.
size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                                       : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0 || length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;
    if (lead == 0xED && byte(1) >= 0xA0) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;
    return length;
}

// Each character as it may stand in a name: "_" for refused characters and broken UTF-8, " " for
// control characters.
std::string withSafeCharacters(std::string_view text) {
    std::string safe;
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8SequenceLength(text.substr(at));
        const char c = text[at];
        if (length == 0) safe += '_';
        else if (length == 1 && (static_cast<uint8_t>(c) < 0x20 || c == 0x7F)) safe += ' ';
        else if (length == 1 && refusedCharacters.find(c) != std::string_view::npos) safe += '_';
        else safe.append(text.substr(at, length));
        at += length == 0 ? 1 : length;
    }
    return safe;
}

std::string withSingleSpaces(const std::string& text) {
    std::string single;
    for (const char c : text)
        if (c != ' ' || (!single.empty() && single.back() != ' ')) single += c;
    return single;
}

std::string trimmed(std::string text) {
    const size_t start = text.find_first_not_of(". ");
    text.erase(0, start == std::string::npos ? text.size() : start);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
    return text;
}

// At most longestNameBytes, cut before a whole character.
std::string shortened(std::string text) {
    if (text.size() <= longestNameBytes) return text;
    size_t end = longestNameBytes;
    while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

bool isMp3File(const fs::directory_entry& entry) {
    std::error_code error;
    return entry.is_regular_file(error) && lowerAscii(entry.path().extension().string()) == ".mp3";
}

bool hasChartBeside(const std::string& lowerStem, const std::set<std::string>& lowerNames) {
    for (const char* digit : {"0", "1", "2"})
        if (lowerNames.count(lowerStem + digit + ".txt")) return true;
    return false;
}

// A song the game already has (its music beside its charts) or the preview of one.
bool isGameSongFile(const fs::path& file, const std::set<std::string>& lowerNames) {
    std::string stem = lowerAscii(file.stem().string());
    if (hasChartBeside(stem, lowerNames)) return true;
    const std::string preview = "_prev";
    if (!stem.ends_with(preview)) return false;
    stem.resize(stem.size() - preview.size());
    return lowerNames.count(stem + ".mp3") > 0 || hasChartBeside(stem, lowerNames);
}

bool isHidden(const fs::path& path) { return path.filename().string().starts_with("."); }

bool isSameFolder(const fs::path& folder, const std::string& other) {
    std::error_code error;
    return fs::equivalent(folder, other, error);
}

std::set<std::string> lowerFileNames(const fs::path& folder);

// Folders a batch never charts from: hidden ones, the song folder and the game's stock sounds beside it.
bool isLeftOut(const fs::path& folder, const std::string& songFolder) {
    const std::string stockSounds = (fs::path(songFolder).parent_path() / "snd").string();
    return isHidden(folder) || isSameFolder(folder, songFolder) || isSameFolder(folder, stockSounds);
}

// MP3 files by the folder holding them, each folder's files in name order.
std::map<fs::path, std::vector<fs::path>> mp3sByFolder(const std::string& sourceFolder, const std::string& songFolder) {
    std::map<fs::path, std::vector<fs::path>> folders;
    std::error_code error;
    fs::recursive_directory_iterator entry(sourceFolder, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        if (entry->is_directory(error) && isLeftOut(entry->path(), songFolder)) entry.disable_recursion_pending();
        else if (isMp3File(*entry)) folders[entry->path().parent_path()].push_back(entry->path());
    }
    for (auto& [folder, files] : folders) {
        const std::set<std::string> names = lowerFileNames(folder);
        std::erase_if(files, [&names](const fs::path& file) { return isGameSongFile(file, names); });
        std::sort(files.begin(), files.end());
    }
    std::erase_if(folders, [](const auto& folder) { return folder.second.empty(); });
    return folders;
}

std::string groupNameOf(const fs::path& folder, const fs::path& sourceFolder) {
    const fs::path relative = folder.lexically_relative(sourceFolder);
    std::string name;
    for (const fs::path& part : relative) {
        if (part == ".") continue;
        name += (name.empty() ? "" : " - ") + part.string();
    }
    if (name.empty()) name = fs::weakly_canonical(sourceFolder).filename().string();
    name = safeName(name);
    return name.empty() ? "Songs" : name;
}

std::set<std::string> lowerFileNames(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        names.insert(lowerAscii(entry.path().filename().string()));
    return names;
}

// The files a song is made of in its folder.
std::vector<std::string> songFileNames(const std::string& name) {
    return {name + ".mp3", name + "_prev.mp3", name + "0.txt", name + "1.txt", name + "2.txt"};
}

// The name, or the name with " (2)", " (3)"... when an earlier one took it (in any letter case).
std::string unusedName(const std::string& name, std::set<std::string>& taken) {
    std::string candidate = name;
    for (int n = 2; !taken.insert(lowerAscii(candidate)).second; ++n) candidate = name + " (" + std::to_string(n) + ")";
    return candidate;
}

}  // namespace

std::string safeName(std::string_view text) {
    return trimmed(shortened(trimmed(withSingleSpaces(withSafeCharacters(text)))));
}

std::string songNameOf(const TsongTags& tags, const std::string& fileStem) {
    const std::string title = safeName(tags.title);
    const std::string artist = safeName(tags.artist);
    if (title.empty()) {
        const std::string name = safeName(fileStem);
        return name.empty() ? "Song" : name;
    }
    return artist.empty() ? title : safeName(artist + " - " + title);
}

std::vector<TbatchSong> planBatch(const std::string& sourceFolder, const std::string& songFolder) {
    const std::vector<TmanifestEntry> manifest = readManifest(songFolder);
    std::map<std::string, const TmanifestEntry*> charted;
    // Names charted songs hold, by group (in any letter case): a new song never takes one.
    std::map<std::string, std::set<std::string>> namesTaken;
    for (const TmanifestEntry& entry : manifest) {
        charted.emplace(entry.digest, &entry);
        namesTaken[lowerAscii(entry.group)].insert(lowerAscii(entry.name));
    }
    std::vector<TbatchSong> songs;
    std::vector<size_t> newSongs;
    std::set<std::string> groupsTaken;
    for (const auto& [folder, files] : mp3sByFolder(sourceFolder, songFolder)) {
        const std::string group = unusedName(groupNameOf(folder, sourceFolder), groupsTaken);
        for (const fs::path& file : files) {
            const TmanifestEntry identity = identityOf(file.string(), manifest);
            const auto known = identity.digest.empty() ? charted.end() : charted.find(identity.digest);
            if (known != charted.end()) {
                songs.push_back({file.string(), known->second->group, known->second->name});
                continue;
            }
            newSongs.push_back(songs.size());
            songs.push_back({file.string(), group, songNameOf(readSongTags(file.string()), file.stem().string())});
        }
    }
    for (const size_t index : newSongs) {
        TbatchSong& song = songs[index];
        song.name = unusedName(song.name, namesTaken[lowerAscii(song.group)]);
    }
    return songs;
}

std::string manifestPath(const std::string& songFolder) {
    return (fs::path(songFolder) / ".autochart-manifest.tsv").string();
}

std::vector<TmanifestEntry> readManifest(const std::string& songFolder) {
    std::vector<TmanifestEntry> entries;
    std::ifstream file(manifestPath(songFolder));
    for (std::string line; std::getline(file, line);) {
        std::vector<std::string> fields;
        for (size_t start = 0;;) {
            const size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        if (fields.size() != 6 || fields[0].size() != 64) continue;
        TmanifestEntry entry;
        entry.digest = fields[0];
        entry.size = std::strtoll(fields[1].c_str(), nullptr, 10);
        entry.modified = std::strtoll(fields[2].c_str(), nullptr, 10);
        entry.source = fields[3];
        entry.group = fields[4];
        entry.name = fields[5];
        if (!entry.group.empty() && !entry.name.empty()) entries.push_back(std::move(entry));
    }
    return entries;
}

bool appendToManifest(const std::string& songFolder, const TmanifestEntry& entry) {
    // A tab or line break in a path would split the line; such a source is known by its digest alone.
    std::string source = entry.source;
    std::replace_if(source.begin(), source.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    std::ofstream file(manifestPath(songFolder), std::ios::app);
    file << entry.digest << '\t' << entry.size << '\t' << entry.modified << '\t' << source << '\t' << entry.group
         << '\t' << entry.name << '\n';
    file.flush();
    return static_cast<bool>(file);
}

TmanifestEntry identityOf(const std::string& source, const std::vector<TmanifestEntry>& known) {
    TmanifestEntry identity;
    identity.source = source;
    struct stat status {};
    if (::stat(source.c_str(), &status) != 0) return identity;
    identity.size = status.st_size;
    identity.modified = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    for (const TmanifestEntry& entry : known)
        if (entry.source == source && entry.size == identity.size && entry.modified == identity.modified) {
            identity.digest = entry.digest;
            return identity;
        }
    std::ifstream file(source, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad() || !file.is_open()) return identity;
    identity.digest = sha256Hex(bytes);
    return identity;
}

std::vector<bool> chartedSongs(const std::string& songFolder, const std::vector<TbatchSong>& songs) {
    std::map<std::string, std::set<std::string>> filesByGroup;
    std::vector<bool> charted;
    for (const TbatchSong& song : songs) {
        const auto [group, added] = filesByGroup.try_emplace(song.group);
        if (added) group->second = lowerFileNames(fs::path(songFolder) / song.group);
        const std::set<std::string>& present = group->second;
        const std::vector<std::string> needed = songFileNames(song.name);
        charted.push_back(std::all_of(needed.begin(), needed.end(),
                                      [&](const std::string& file) { return present.count(lowerAscii(file)) > 0; }));
    }
    return charted;
}
