// Song select's finder: what the wheel shows of the catalogue, the search box and its keys, and
// the finder kept between runs.
#include "engine/songWheel.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "engine/trellikGL38Engine.h"
#include "platform/store/settingsStore.h"

namespace {

constexpr uint16_t backspaceKey = 8;
constexpr uint16_t tabKey = 9;
constexpr uint16_t spaceKey = 32;
constexpr uint16_t keypadZero = 96;
constexpr uint16_t minusKey = 189;
constexpr uint16_t periodKey = 190;
constexpr uint16_t clearFilterKey = 113;    // F2
constexpr uint16_t lowestLevelDown = 116;   // F5
constexpr uint16_t lowestLevelUp = 117;     // F6
constexpr uint16_t highestLevelDown = 118;  // F7
constexpr uint16_t highestLevelUp = 119;    // F8
constexpr size_t longestQuery = 40;
// Wheel columns on screen, and columns either side whose jackets are read ahead.
constexpr int32_t visibleColumns = 5;
constexpr int32_t prefetchColumns = 3;

// Above the selected song's lines, right of the big jacket, in console space; the keys of the open
// search box go between the big jacket and the grid.
constexpr float finderLinesX = 33.0f;
constexpr float finderLinesY = 26.0f;
constexpr float searchKeysX = 1.0f;
constexpr float searchKeysY = 9.5f;

const char* const searchSetting = "songSearch";
const char* const sortSetting = "songSort";
const char* const levelMinSetting = "songLevelMin";
const char* const levelMaxSetting = "songLevelMax";
const char* const clearSetting = "songClearFilter";
const char* const searchKeySetting = "songSearchKey";

int32_t chosenDifficulty(const TtrellikGL& game) {
    return game.window ? colourIndex(game.window->customCommands) : 0;
}

bool sortUsesDifficulty(TsongSort sort) {
    return sort == TsongSort::tempo || sort == TsongSort::level || sort == TsongSort::bestScore;
}

bool filterUsesDifficulty(const TsongFinder& finder) {
    return finder.levelMin > lowestLevel || finder.levelMax < highestLevel || finder.clear != TclearFilter::any;
}

std::string chartKey(const std::string& sha256, int32_t difficulty) {
    return sha256 + static_cast<char>('0' + difficulty);
}

// Bests and clears by chart at the chosen rate (a slow play's clear is no clear at full speed),
// and the newest play of each song, from the records.
void applyRecords(TtrellikGL& game) {
    game.wheel.recordsRate = game.practice.choice.rateHundredths;
    std::vector<TsongFacts>& facts = game.wheel.facts;
    for (TsongFacts& song : facts) {
        std::fill(std::begin(song.bestScore), std::end(song.bestScore), -1);
        std::fill(std::begin(song.clear), std::end(song.clear), noClear);
        song.lastPlayed = 0;
    }
    if (!game.records || !game.records->isOpen()) return;
    std::unordered_map<std::string, const TchartBest*> bests;
    const std::vector<TchartBest> allBests = game.records->bests("");
    for (const TchartBest& best : allBests)
        if (best.play.rateHundredths == game.wheel.recordsRate)
            bests[chartKey(best.play.chartSha256, best.play.difficulty)] = &best;
    std::unordered_map<std::string, int64_t> lastPlayed;
    for (const TkeptPlay& play : game.records->plays(""))
        lastPlayed[play.song] = std::max(lastPlayed[play.song], play.playedAt);
    for (size_t i = 0; i < facts.size(); ++i) {
        const Tsong& song = game.songs.songs[i];
        for (int32_t d = 0; d < difficultyCount; ++d) {
            const auto best = bests.find(chartKey(song.charts[d].sha256, d));
            if (!song.hasChart[d] || best == bests.end()) continue;
            facts[i].bestScore[d] = best->second->play.score;
            facts[i].clear[d] = static_cast<int32_t>(best->second->clear);
        }
        const auto played = lastPlayed.find(songFileStem(song));
        if (played != lastPlayed.end()) facts[i].lastPlayed = played->second;
    }
}

void rebuildFacts(TtrellikGL& game) {
    std::vector<TsongFacts>& facts = game.wheel.facts;
    facts.clear();
    facts.reserve(game.songs.songs.size());
    for (const Tsong& song : game.songs.songs) facts.push_back(songFactsOf(song));
}

// Puts the column of a wheel position under the first key column at once.
void showPosition(TtrellikGL& game, int32_t position) {
    TmenuState& menu = game.menu;
    menu.wheelScroll = -(position / game.layout.wheelRows);
    menu.wheelPosition = menu.wheelTarget = menu.wheelScroll * game.layout.pitch;
}

void chooseSong(TtrellikGL& game, int32_t song) {
    if (game.wheel.searchOpen) {
        game.menu.selectedSong = song;
        game.wheel.previewPending = true;
    } else {
        selectSong(game, song);
    }
}

// The shown songs worked out again; the selection stays when it is still shown, else the first
// song shown is selected. Nothing shown keeps the selection as it was, and the same songs in the
// same order leave the wheel where it is.
void show(TtrellikGL& game, std::vector<int32_t> found) {
    TsongWheelState& wheel = game.wheel;
    if (found == wheel.shown) return;
    wheel.shown = std::move(found);
    if (wheel.shown.empty()) return;
    const auto selected = std::find(wheel.shown.begin(), wheel.shown.end(), game.menu.selectedSong);
    if (selected == wheel.shown.end()) {
        chooseSong(game, wheel.shown.front());
        showPosition(game, 0);
    } else {
        showPosition(game, static_cast<int32_t>(selected - wheel.shown.begin()));
    }
}

void findAgain(TtrellikGL& game) {
    TsongWheelState& wheel = game.wheel;
    wheel.narrowed.clear();
    show(game, findSongs(wheel.facts, wheel.order, wheel.finder, chosenDifficulty(game)));
}

// A character typed only narrows what is shown (every word found before is still in the query),
// so only the songs shown are searched; Backspace goes back to what was shown before it.
void narrowSearch(TtrellikGL& game) {
    TsongWheelState& wheel = game.wheel;
    wheel.narrowed.push_back(wheel.shown);
    show(game, findSongs(wheel.facts, wheel.shown, wheel.finder, chosenDifficulty(game)));
}

void widenSearch(TtrellikGL& game) {
    TsongWheelState& wheel = game.wheel;
    if (wheel.narrowed.empty()) return findAgain(game);
    std::vector<int32_t> before = std::move(wheel.narrowed.back());
    wheel.narrowed.pop_back();
    show(game, std::move(before));
}

void sortAgain(TtrellikGL& game) {
    TsongWheelState& wheel = game.wheel;
    wheel.orderDifficulty = chosenDifficulty(game);
    wheel.order = sortedSongs(wheel.facts, wheel.finder.sort, wheel.orderDifficulty);
    findAgain(game);
}

void closeSearch(TtrellikGL& game) {
    TsongWheelState& wheel = game.wheel;
    wheel.searchOpen = false;
    keepFinder(wheel.settingsPath, wheel.finder);
    if (wheel.previewPending) selectSong(game, game.menu.selectedSong);
    wheel.previewPending = false;
}

void dropLastCharacter(std::string& text) {
    while (!text.empty()) {
        const bool continuation = (static_cast<uint8_t>(text.back()) & 0xC0) == 0x80;
        text.pop_back();
        if (!continuation) return;
    }
}

// The character a key types into the search box, or 0.
char typedCharacter(uint16_t key) {
    if (key >= 'A' && key <= 'Z') return static_cast<char>(key - 'A' + 'a');
    if (key >= '0' && key <= '9') return static_cast<char>(key);
    if (key >= keypadZero && key <= keypadZero + 9) return static_cast<char>('0' + key - keypadZero);
    if (key == spaceKey) return ' ';
    if (key == minusKey) return '-';
    if (key == periodKey) return '.';
    return 0;
}

// Tab, F2 and F5..F8: the sort order, the clear mark and the level range.
bool finderControlKey(TtrellikGL& game, uint16_t key) {
    TsongFinder& finder = game.wheel.finder;
    switch (key) {
        case tabKey:
            finder.sort = static_cast<TsongSort>((static_cast<int32_t>(finder.sort) + 1) % songSortCount);
            break;
        case clearFilterKey:
            finder.clear = static_cast<TclearFilter>((static_cast<int32_t>(finder.clear) + 1) % clearFilterCount);
            break;
        case lowestLevelDown: finder.levelMin = std::max(lowestLevel, finder.levelMin - 1); break;
        case lowestLevelUp: finder.levelMin = std::min(finder.levelMax, finder.levelMin + 1); break;
        case highestLevelDown: finder.levelMax = std::max(finder.levelMin, finder.levelMax - 1); break;
        case highestLevelUp: finder.levelMax = std::min(highestLevel, finder.levelMax + 1); break;
        default: return false;
    }
    sortAgain(game);
    if (!game.wheel.searchOpen) keepFinder(game.wheel.settingsPath, finder);
    return true;
}

void searchBoxKey(TtrellikGL& game, uint16_t key) {
    std::string& query = game.wheel.finder.query;
    game.wheel.keyTextPending.clear();
    if (finderControlKey(game, key)) return;
    if (key == keyEnter) return closeSearch(game);
    if (key == keyEscape) {
        query.clear();
        findAgain(game);
        return closeSearch(game);
    }
    const char typed = game.wheel.textInputSeen ? 0 : typedCharacter(key);
    if (key == backspaceKey && !query.empty()) {
        dropLastCharacter(query);
        widenSearch(game);
    } else if (typed != 0 && query.size() < longestQuery) {
        query += typed;
        game.wheel.keyTextPending = std::string(1, typed);
        narrowSearch(game);
    }
}

// The UTF-8 characters of text that fit in room bytes; control characters and broken sequences left out.
std::string typedText(const std::string& text, size_t room) {
    std::string kept;
    for (size_t at = 0; at < text.size();) {
        const uint8_t lead = static_cast<uint8_t>(text[at]);
        size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || at + length > text.size()) return kept;
        for (size_t i = 1; i < length; ++i)
            if ((static_cast<uint8_t>(text[at + i]) & 0xC0) != 0x80) return kept;
        if (kept.size() + length > room) return kept;
        if (lead >= 0x20 && lead != 0x7F) kept.append(text, at, length);
        at += length;
    }
    return kept;
}

// Asks for the jackets of a wheel column, counted round the ring.
void prefetchColumn(TtrellikGL& game, int32_t column) {
    const int32_t rows = game.layout.wheelRows;
    const int32_t count = shownSongCount(game);
    for (int32_t row = 0; row < rows && count > 0; ++row) {
        const int32_t song = shownSongAt(game, ((column * rows + row) % count + count) % count);
        const Tsong* entry = songAt(game.songs, song);
        if (entry && !entry->jacketPath.empty()) game.jackets->prefetch(song, entry->jacketPath);
    }
}

// Whether any song's jacket waits to be read when shown.
bool jacketsDeferred(const TtrellikGL& game) {
    return std::any_of(game.songs.songs.begin(), game.songs.songs.end(),
                       [](const Tsong& song) { return !song.jacketPath.empty(); });
}

int32_t settingOr(const TsettingsStore& store, const char* name, int32_t lowest, int32_t highest, int32_t fallback) {
    const int32_t value = store.readInteger(name).value_or(fallback);
    return value < lowest || value > highest ? fallback : value;
}

}  // namespace

void prepareSongWheel(TtrellikGL& game) {
    TsongWheelState& wheel = game.wheel;
    wheel.settingsPath = game.launch.settingsFile;
    readKeptFinder(wheel.settingsPath, wheel.finder, wheel.searchKey);
    wheel.searchOpen = false;
    wheel.previewPending = false;
    rebuildFacts(game);
    applyRecords(game);
    wheel.recordsStale = false;
    game.jackets.reset();
    if (jacketsDeferred(game)) game.jackets = std::make_unique<TjacketCache>(glJacketTextures(), jacketCacheCapacity, true);
    wheel.order = sortedSongs(wheel.facts, wheel.finder.sort, chosenDifficulty(game));
    wheel.orderDifficulty = chosenDifficulty(game);
    wheel.shown = findSongs(wheel.facts, wheel.order, wheel.finder, wheel.orderDifficulty);
    wheel.narrowed.clear();
    game.menu.selectedSong = wheel.shown.empty() ? 0 : wheel.shown.front();
    showPosition(game, 0);
    if (game.window) game.window->onTextInput = [&game](const std::string& text) { songFinderText(game, text); };
}

void updateSongWheel(TtrellikGL& game) {
    TsongWheelState& wheel = game.wheel;
    if (wheel.facts.size() != game.songs.songs.size()) {
        rebuildFacts(game);
        wheel.recordsStale = true;
    }
    const int32_t difficulty = chosenDifficulty(game);
    if (wheel.recordsRate != game.practice.choice.rateHundredths) wheel.recordsStale = true;
    if (wheel.recordsStale) {
        applyRecords(game);
        wheel.recordsStale = false;
        sortAgain(game);
    } else if (difficulty != wheel.orderDifficulty) {
        if (sortUsesDifficulty(wheel.finder.sort)) sortAgain(game);
        else if (filterUsesDifficulty(wheel.finder)) findAgain(game);
        wheel.orderDifficulty = difficulty;
    }
}

bool songFinderKeys(TtrellikGL& game, uint16_t key) {
    TsongWheelState& wheel = game.wheel;
    if (wheel.searchOpen) {
        searchBoxKey(game, key);
        return true;
    }
    if (keyIndexOf(game, key) >= 0) return false;
    if (key == slashKey || (wheel.searchKey != 0 && key == wheel.searchKey)) {
        wheel.searchOpen = true;
        const char typed = typedCharacter(key);
        wheel.keyTextPending = key == slashKey ? "/" : typed != 0 ? std::string(1, typed) : "";
        return true;
    }
    return finderControlKey(game, key);
}

void songFinderText(TtrellikGL& game, const std::string& text) {
    TsongWheelState& wheel = game.wheel;
    if (!wheel.searchOpen) return;
    // The key of this very text already did its work: it opened the box or typed the letter.
    const bool keysOwnText = !wheel.keyTextPending.empty() && foldForSearch(text) == wheel.keyTextPending;
    wheel.keyTextPending.clear();
    wheel.textInputSeen = true;
    if (keysOwnText) return;
    const std::string kept = typedText(text, longestQuery - std::min(longestQuery, wheel.finder.query.size()));
    if (kept.empty()) return;
    wheel.finder.query += kept;
    narrowSearch(game);
}

void drawFinderLines(TtrellikGL& game) {
    if (!drawingWindow(game)) return;
    const TsongWheelState& wheel = game.wheel;
    std::vector<std::string> lines = finderLines(wheel.finder, wheel.searchOpen);
    // A line always stands where the search text goes, so the others never move as it opens.
    if (lines.size() == 1) lines.insert(lines.begin(), "");
    lines.push_back(std::to_string(shownSongCount(game)) + " OF " + std::to_string(game.songs.songs.size()) + " SONGS");
    if (!wheel.notice.empty()) lines.push_back(wheel.notice);
    drawTextColumn(game, lines, finderLinesX, finderLinesY);
    if (wheel.searchOpen) drawTextColumn(game, {"TAB SORT  F2 CLEAR  F5-F8 LEVELS"}, searchKeysX, searchKeysY);
}

// Before song select worked out what it shows (or after the catalogue changed under it) the
// wheel shows the catalogue as it is.
bool wheelPrepared(const TtrellikGL& game) {
    return game.wheel.facts.size() == game.songs.songs.size();
}

uint32_t shownJacket(TtrellikGL& game, int32_t song) {
    const Tsong* entry = songAt(game.songs, song);
    if (!entry) return 0;
    if (entry->jacketPath.empty() || !game.jackets) return entry->cover;
    const uint32_t texture = game.jackets->textureFor(song, entry->jacketPath);
    return texture != 0 ? texture : entry->cover;
}

void updateJackets(TtrellikGL& game) {
    if (!game.jackets || !drawingWindow(game)) return;
    game.jackets->uploadReady(jacketUploadsPerFrame);
    // The farthest columns first: the newest request is read first, so those on screen come first.
    const int32_t firstColumn = -game.menu.wheelScroll;
    for (int32_t away = prefetchColumns; away >= 1; --away) {
        prefetchColumn(game, firstColumn - away);
        prefetchColumn(game, firstColumn + visibleColumns - 1 + away);
    }
    for (int32_t column = visibleColumns - 1; column >= 0; --column) prefetchColumn(game, firstColumn + column);
}

int32_t shownSongCount(const TtrellikGL& game) {
    return static_cast<int32_t>(wheelPrepared(game) ? game.wheel.shown.size() : game.songs.songs.size());
}

int32_t shownSongAt(const TtrellikGL& game, int32_t position) {
    if (position < 0 || position >= shownSongCount(game)) return -1;
    return wheelPrepared(game) ? game.wheel.shown[static_cast<size_t>(position)] : position;
}

void readKeptFinder(const std::string& settingsPath, TsongFinder& finder, uint16_t& searchKey) {
    finder = {};
    searchKey = 0;
    if (settingsPath.empty()) return;
    TsettingsStore store(settingsPath);
    if (!store.open()) return;
    const std::string query = store.readString(searchSetting).value_or("");
    finder.query = query.size() <= longestQuery ? query : "";
    finder.sort = static_cast<TsongSort>(settingOr(store, sortSetting, 0, songSortCount - 1, 0));
    finder.levelMin = settingOr(store, levelMinSetting, lowestLevel, highestLevel, lowestLevel);
    finder.levelMax = settingOr(store, levelMaxSetting, finder.levelMin, highestLevel, highestLevel);
    finder.clear = static_cast<TclearFilter>(settingOr(store, clearSetting, 0, clearFilterCount - 1, 0));
    searchKey = static_cast<uint16_t>(settingOr(store, searchKeySetting, 1, 255, 0));
}

void keepFinder(const std::string& settingsPath, const TsongFinder& finder) {
    if (settingsPath.empty()) return;
    // Read afresh: the launcher may have saved since; whatever goes wrong leaves song select as it is.
    try {
        TsettingsStore store(settingsPath);
        store.open();
        store.writeString(searchSetting, finder.query);
        store.writeInteger(sortSetting, static_cast<int32_t>(finder.sort));
        store.writeInteger(levelMinSetting, finder.levelMin);
        store.writeInteger(levelMaxSetting, finder.levelMax);
        store.writeInteger(clearSetting, static_cast<int32_t>(finder.clear));
        store.save();
    } catch (const std::exception& error) {
        appendToDebugLog(std::string("The song finder could not be kept: ") + error.what());
    }
}
