// The songs the wheel shows: the catalogue searched, filtered and sorted as the player asked, the
// search box's keys, and the finder kept in the settings file between runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "content/songSearch.h"

struct TtrellikGL;

// The key that opens the search box besides a bound one: "/".
constexpr uint16_t slashKey = 191;

struct TsongWheelState {
    TsongFinder finder;
    bool searchOpen = false;
    // A second key that opens the search box (a virtual key), 0 for none.
    uint16_t searchKey = 0;
    // Why GO did not start the selected song; "" once another song is selected.
    std::string notice;
    // Per catalogue song; rebuilt when the catalogue's size changes.
    std::vector<TsongFacts> facts;
    // The catalogue in the finder's order for orderDifficulty; empty until first needed.
    std::vector<int32_t> order;
    int32_t orderDifficulty = -1;
    // Catalogue indices the wheel shows, in wheel order.
    std::vector<int32_t> shown;
    // What was shown before each character typed since the last full search, for Backspace.
    std::vector<std::vector<int32_t>> narrowed;
    // Set when a play was kept: bests, clears and recent plays are read again.
    bool recordsStale = true;
    // The rate (hundredths) the bests and clears were read for; another rate reads them again.
    int32_t recordsRate = 100;
    // The selected song's preview waits while the search box is open.
    bool previewPending = false;
    // The settings file the finder is kept in; "" keeps nothing.
    std::string settingsPath;
    // Set once the window delivered typed text: from then on only text types into the box, so
    // a letter is not taken twice (its key and its text) and input methods (CJK) work.
    bool textInputSeen = false;
    // The text the key just handled makes ("/" for the key that opened the box, a letter it typed),
    // so that the window's text for that same key is not taken again.
    std::string keyTextPending;
};

// Reads the finder kept in the settings file, works out what the wheel shows and selects the
// first song shown.
void prepareSongWheel(TtrellikGL& game);
// Brings the shown songs up to date with the records and the chosen difficulty; once a frame.
void updateSongWheel(TtrellikGL& game);
// Handles a key of song select that belongs to the finder; false leaves it to the panels.
bool songFinderKeys(TtrellikGL& game, uint16_t key);
// Takes text typed while the search box is open (any script, as the window's text input gives it).
void songFinderText(TtrellikGL& game, const std::string& text);
// Draws the finder's lines beside the big jacket and, while the search box is open, its keys.
void drawFinderLines(TtrellikGL& game);

// The texture a song's jacket is drawn with: its own once read, else the default jacket.
uint32_t shownJacket(TtrellikGL& game, int32_t song);
// Once a frame: jackets read since the last frame made into textures, and the columns near the
// ones on screen asked for.
void updateJackets(TtrellikGL& game);

// How many songs the wheel shows, and the catalogue index at a wheel position (-1 outside).
int32_t shownSongCount(const TtrellikGL& game);
int32_t shownSongAt(const TtrellikGL& game, int32_t position);

// The finder as kept in, and read from, the settings file; values out of range read as defaults.
void readKeptFinder(const std::string& settingsPath, TsongFinder& finder, uint16_t& searchKey);
void keepFinder(const std::string& settingsPath, const TsongFinder& finder);
