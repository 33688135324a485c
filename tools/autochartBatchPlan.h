// Which MP3s of a folder tree a batch charts, under which group and song name, and which are done.
#pragma once

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

// The MP3s under sourceFolder (every depth; hidden folders and the song folder itself are left out)
// in name order, one group per folder holding some: the folder's path below sourceFolder with
// " - " between its parts, or sourceFolder's own name for the songs directly in it. Names that
// would meet in one group (in any letter case) get " (2)", " (3)" in listing order.
std::vector<TbatchSong> planBatch(const std::string& sourceFolder, const std::string& songFolder);

// For each song, whether its group folder holds every file of it (in any letter case); the files
// appear only together, so a song with some of them is not charted. Each folder is listed once.
std::vector<bool> chartedSongs(const std::string& songFolder, const std::vector<TbatchSong>& songs);
