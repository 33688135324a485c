// The song catalogue: every song found by its chart files in the song folder and its sub-folders,
// each with its group, its charts' summaries and its jacket texture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "content/songLibrary.h"
#include "content/textureControlCode.h"

// Up to this many songs the loading console lists every song in a table; beyond, one summary line.
constexpr int32_t songTableLimit = 200;

// The folder the game's songs live in, and the jacket used for songs without one.
extern const char* const songFolder;
extern const char* const defaultCoverPath;

struct Tsong {
    std::string name;
    // The sub-folder of the song folder the song lives in; "" for the song folder itself.
    std::string group;
    uint32_t cover = 0;
    // A big library's jacket file, read when the wheel first shows it (cover is the default jacket
    // until then); "" when the jacket was loaded with the catalogue or the song has none.
    std::string jacketPath;
    bool hasChart[difficultyCount] = {};
    TcachedChart charts[difficultyCount];
};

struct TsongsLoadingData {
    std::vector<Tsong> songs;
};

// What the catalogue is loaded with beyond the folder and the loader steps.
struct TsongListOptions {
    // The song cache file; "" reads every chart.
    std::string cachePath;
    // Shows one line on the loading screen while many songs are read ("Songs: 1234 of 10000").
    std::function<void(const std::string& line)> showProgress;
};

// One row of the console table: which of the difficulty digits 0, 1, 2 have a chart file.
struct TsongDisplayInfo {
    std::string name;
    bool hasChart[3] = {};
};

// Fills the catalogue from "sng\" and prints the console table; refresh redraws the loading
// screen under the console after each song.
void loadSongs(TsongsLoadingData& catalogue, const std::function<void()>& refresh);
// Sets the name, then loads the jacket from "sng\".
void setSong(Tsong& entry, const std::string& name);
// The first of name + ".bmp", ".jpg", ".tga" in "sng\"; else the stock default jacket, fetched
// from the update server when missing (a failed fetch raises its error).
void loadCover(Tsong& entry);

// The same with the folder, the image loading and the table output given by the caller.
void loadSongsWith(TsongsLoadingData& catalogue, const std::string& folder, const TloaderSteps& steps,
                   const TsongListOptions& options = {});
void loadCoverWith(Tsong& entry, const std::string& folder, const TloaderSteps& steps);

// The difficulties the chart files give a song: files named name + digit + ".txt".
TsongDisplayInfo songDisplayInfo(const std::string& name, const std::string* fileNames, int32_t fileCount);

// The progress line for done of total songs read, or "" when so few are read that none is shown.
std::string songProgressLine(int32_t done, int32_t total);

int32_t getLastIndex(const TsongsLoadingData& catalogue);
// The song's files within the song folder: "group\name", or the name alone for a song directly
// in the folder; chart, music and preview file names are built from it.
std::string songFileStem(const Tsong& song);
// File stem and jacket of song i (from 0); empty and 0 outside the catalogue.
std::string getSongName(const TsongsLoadingData& catalogue, int32_t index);
uint32_t getSongCover(const TsongsLoadingData& catalogue, int32_t index);
// The song's entry, or null outside the catalogue.
const Tsong* songAt(const TsongsLoadingData& catalogue, int32_t index);
