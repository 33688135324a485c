// Finding the songs of the song folder and of its sub-folders (one level: a pack or an album),
// with what song select needs of each, read from the song cache where the files are unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/store/songCacheDatabase.h"

// Difficulties per song: the digit 0, 1, 2 after the song name in a chart file's name.
constexpr int32_t difficultyCount = 3;

// One song as the folder shows it.
struct TfoundSong {
    // The sub-folder it lives in; "" for songs directly in the song folder.
    std::string group;
    std::string name;
    bool hasChart[difficultyCount] = {};
    // Summaries of the charts present; a chart that cannot be read is not readable.
    TcachedChart charts[difficultyCount];
    // The extension of its jacket file as the game asks for it (".bmp", ".jpg", ".tga"), or "".
    std::string jacketExtension;
};

// What a scan found and how much it had to read.
struct TlibraryScan {
    std::vector<TfoundSong> songs;
    // Song names holding a "\" (no chart of theirs can be opened), in listing order.
    std::vector<std::string> unopenable;
    // One line for each pack, or part of one, left out and why, for the log.
    std::vector<std::string> skipped;
    // Songs whose charts were all taken from the cache, and songs read anew.
    int32_t songsFromCache = 0;
    int32_t songsRead = 0;
    // What opening the cache said, or "".
    std::string cacheNotice;
};

// Called after each song read anew: how many of those songs are done and how many there are.
using TscanProgress = std::function<void(int32_t done, int32_t total)>;

// Songs directly in folder first, then each sub-folder's songs as a group, both in natural order;
// hidden files and folders, and a sub-folder that is the song folder again, are left out. With a cache path, unchanged charts come from the cache and the cache is
// brought up to date; a folder that cannot be listed keeps its cached charts. Without one every
// chart is read.
TlibraryScan scanSongLibrary(const std::string& folder, const std::string& cachePath, const TscanProgress& progress);

// Names in the order a person counts: case-insensitive, runs of digits by their value ("01-2"
// before "01-10").
bool lessNaturally(const std::string& left, const std::string& right);

// The song cache beside the records file; "" (no cache) when no records are kept.
std::string songCachePathBeside(const std::string& recordsPath);
