// Finding a song in a big catalogue: typed text folded for matching, the sort orders and filters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "content/trellikSongListLoaderCode.h"

// By group keeps the catalogue's own order: loose songs first, then each group as listed.
enum class TsongSort : int32_t { group, name, tempo, level, bestScore, recentlyPlayed, recentlyAdded };
constexpr int32_t songSortCount = 7;

// Which songs the clear mark filter lets through by the best clear at the chosen difficulty.
enum class TclearFilter : int32_t { any, notCleared, cleared, fullCombo };
constexpr int32_t clearFilterCount = 4;

// Chart levels run from 1 to 10; 0 stands for no readable chart.
constexpr int32_t lowestLevel = 1;
constexpr int32_t highestLevel = 10;

// What the player asked song select for: the text typed, the order and the filters.
struct TsongFinder {
    std::string query;
    TsongSort sort = TsongSort::group;
    int32_t levelMin = lowestLevel;
    int32_t levelMax = highestLevel;
    TclearFilter clear = TclearFilter::any;
};

// No play on record, in TsongFacts::clear.
constexpr int32_t noClear = -1;

// What finding needs of one song, worked out once when the catalogue or the records change.
struct TsongFacts {
    // "group name", folded; matched against the folded query.
    std::string searchText;
    std::string nameKey;
    std::string groupKey;
    int32_t level[difficultyCount] = {};
    double tempo[difficultyCount] = {};
    int32_t bestScore[difficultyCount] = {-1, -1, -1};
    // A TclearMark value, or noClear.
    int32_t clear[difficultyCount] = {noClear, noClear, noClear};
    // Seconds since 1970 of the newest play, 0 for none; nanoseconds since the library first saw the
    // song's newest chart file.
    int64_t lastPlayed = 0;
    int64_t added = 0;
};

// Lowercase, with the accents of Latin letters dropped ("Édith Piaf" -> "edith piaf"), so that
// typing plain letters finds every spelling. Other characters are kept as they are.
std::string foldForSearch(std::string_view text);

// The text with each plain Latin letter followed by a combining accent written as the one
// precomposed letter (NFC for the accents the Western and Central European alphabets use), so that
// a name written decomposed shows as its letters. Other text is kept as it is.
std::string composedLatin(std::string_view text);

// A chart's level from its density: 1 for under one marker a second, one more for each marker a
// second beyond, at most 10; 0 for a chart that cannot be read or has no length.
int32_t chartLevel(const TcachedChart& chart);

// The facts the catalogue gives (records left empty).
TsongFacts songFactsOf(const Tsong& song);

// Every song in the order asked for at a difficulty (0..2); songs without the value last, ties in
// name order (by group: catalogue order).
std::vector<int32_t> sortedSongs(const std::vector<TsongFacts>& facts, TsongSort sort, int32_t difficulty);

// Whether a song passes the filters and holds every word of the folded query.
bool songPasses(const TsongFacts& song, const std::vector<std::string>& words, const TsongFinder& finder,
                int32_t difficulty);

// The songs of an order that pass the finder, in that order.
std::vector<int32_t> findSongs(const std::vector<TsongFacts>& facts, const std::vector<int32_t>& order,
                               const TsongFinder& finder, int32_t difficulty);

// The finder as shown on screen: "SEARCH: abc_" while the box is open or text is kept, then
// "SORT: TEMPO  LEVEL 3-7  CLEARED" with only the filters in force.
std::vector<std::string> finderLines(const TsongFinder& finder, bool searchOpen);
const char* songSortName(TsongSort sort);
const char* clearFilterName(TclearFilter filter);
