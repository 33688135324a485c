// Which MP3s of a folder tree a batch charts, under which group and song name, and which are done.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/id3Tags.h"

// One MP3 to chart as the song name in the group (a sub-folder of the song folder).
struct TbatchSong {
    std::string source;
    std::string group;
    std::string name;
};

// Bytes a song or group name may take: room for the longest file name a song adds ("_prev.mp3").
constexpr size_t longestNameBytes = 120;

// The text as a name the file system and the game's "group\name" keys take: valid UTF-8, no
// control characters, no characters other systems refuse in file names (a "\" would split the
// key), no leading dots (hidden) or trailing dots and spaces, runs of spaces as one, at most
// longestNameBytes. May be empty.
std::string safeName(std::string_view text);

// "Artist - Title", or the title alone; the file name without ".mp3" when the tags have no title.
std::string songNameOf(const TsongTags& tags, const std::string& fileStem);

// One song a batch charted: the source file's identity (its path and a digest of its bytes) and
// the group and name it was charted as. Kept in the song folder's manifest, so that a later run
// knows each file it charted whatever it is named or tagged now.
struct TmanifestEntry {
    std::string digest;
    int64_t size = 0;
    // Modification time in nanoseconds: an unchanged file is not read again for its digest.
    int64_t modified = 0;
    std::string source;
    std::string group;
    std::string name;
};

// The manifest's path in a song folder; a hidden file, which the game does not list.
std::string manifestPath(const std::string& songFolder);
// The entries of the song folder's manifest; none when it is missing. Lines that cannot be read
// are passed over.
std::vector<TmanifestEntry> readManifest(const std::string& songFolder);
// Adds one line to the manifest; false when it cannot be written.
bool appendToManifest(const std::string& songFolder, const TmanifestEntry& entry);
// The entry a source file would have, its digest taken from known when the file's size and
// modification time are those known for its path; an empty digest when the file cannot be read.
TmanifestEntry identityOf(const std::string& source, const std::vector<TmanifestEntry>& known);

// The MP3s under sourceFolder (every depth; hidden folders, the song folder itself and the game's
// stock sounds beside it are left out, and so are songs the game already has: an MP3 with a chart
// of the same name beside it, or its preview) in name order, one group per folder holding some:
// the folder's path below sourceFolder with " - " between its parts, or sourceFolder's own name
// for the songs directly in it. A file the manifest names (by its digest) keeps the group and name
// it was charted as; names that would meet in one group (in any letter case), among themselves or
// with a charted song, get " (2)", " (3)" in listing order.
std::vector<TbatchSong> planBatch(const std::string& sourceFolder, const std::string& songFolder);

// For each song, whether its group folder holds every file of it (in any letter case); the files
// appear only together, so a song with some of them is not charted. Each folder is listed once.
std::vector<bool> chartedSongs(const std::string& songFolder, const std::vector<TbatchSong>& songs);
