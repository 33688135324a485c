// The song catalogue: up to 101 songs found by their chart files in the song folder, each with
// its jacket texture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "content/textureControlCode.h"

constexpr int32_t songCapacity = 101;

// The folder the game's songs live in, and the jacket used for songs without one.
extern const char* const songFolder;
extern const char* const defaultCoverPath;

struct Tsong {
    std::string name;
    uint32_t cover = 0;
};

struct TsongsLoadingData {
    // Number of songs - 1; -1 when there are none.
    int32_t lastIndex = -1;
    Tsong songs[songCapacity];
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
void loadSongsWith(TsongsLoadingData& catalogue, const std::string& folder, const TloaderSteps& steps);
void loadCoverWith(Tsong& entry, const std::string& folder, const TloaderSteps& steps);

// The difficulties the chart files give a song: files named name + digit + ".txt".
TsongDisplayInfo songDisplayInfo(const std::string& name, const std::string* fileNames, int32_t fileCount);

int32_t getLastIndex(const TsongsLoadingData& catalogue);
// Name and jacket of song i (from 0); empty and 0 outside the catalogue.
std::string getSongName(const TsongsLoadingData& catalogue, int32_t index);
uint32_t getSongCover(const TsongsLoadingData& catalogue, int32_t index);
