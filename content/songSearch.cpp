// Search folding, sort orders and filters of song select, without any drawing.
#include "content/songSearch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "platform/store/recordsDatabase.h"

namespace {

// The plain letter of each character from U+00C0 to U+00FF; '.' keeps the character.
constexpr char latin1Letters[] = "aaaaaaeceeeeiiiidnooooo.ouuuuyts"
                                 "aaaaaaeceeeeiiiidnooooo.ouuuuyty";
// The plain letter of each character from U+0100 to U+017F.
constexpr char latinExtendedLetters[] = "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiiiiijjkkk"
                                        "llllllllllnnnnnnnnnoooooooorrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";
static_assert(sizeof(latin1Letters) == 65 && sizeof(latinExtendedLetters) == 129);

// Letters written as two in plain text.
const char* twoLetterFold(uint32_t codePoint) {
    switch (codePoint) {
        case 0xC6: case 0xE6: return "ae";
        case 0xDF: return "ss";
        case 0x152: case 0x153: return "oe";
        default: return nullptr;
    }
}

// Length of the UTF-8 sequence starting with lead, and the code point; 0 for an invalid one.
size_t decodeUtf8(std::string_view text, size_t at, uint32_t& codePoint) {
    const auto byte = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    codePoint = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (byte(at + i) & 0x3F);
    }
    return length;
}

char plainLetter(uint32_t codePoint) {
    if (codePoint >= 0xC0 && codePoint <= 0xFF) return latin1Letters[codePoint - 0xC0];
    if (codePoint >= 0x100 && codePoint <= 0x17F) return latinExtendedLetters[codePoint - 0x100];
    return '.';
}

// Accents written as a letter followed by a combining mark (decomposed, as some systems name
// files) fold away like the accents of precomposed letters.
bool isCombiningMark(uint32_t codePoint) {
    return codePoint >= 0x0300 && codePoint <= 0x036F;
}

void appendFolded(std::string& out, std::string_view text, size_t at, size_t length, uint32_t codePoint) {
    if (isCombiningMark(codePoint)) return;
    if (const char* two = twoLetterFold(codePoint)) {
        out += two;
        return;
    }
    const char letter = plainLetter(codePoint);
    if (letter != '.') out += letter;
    else out.append(text.substr(at, length));
}

std::vector<std::string> queryWords(const std::string& query) {
    std::vector<std::string> words;
    const std::string folded = foldForSearch(query);
    size_t start = 0;
    while (start < folded.size()) {
        const size_t end = std::min(folded.find(' ', start), folded.size());
        if (end > start) words.push_back(folded.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// Ascending, with songs that have no value (0) after those that have one.
template <typename Value>
bool presentAndLower(Value left, Value right) {
    if ((left > 0) != (right > 0)) return left > 0;
    return left < right;
}

bool fullLevelRange(const TsongFinder& finder) {
    return finder.levelMin <= lowestLevel && finder.levelMax >= highestLevel;
}

bool clearPasses(int32_t clear, TclearFilter filter) {
    const int32_t cleared = static_cast<int32_t>(TclearMark::cleared);
    switch (filter) {
        case TclearFilter::notCleared: return clear < cleared;
        case TclearFilter::cleared: return clear >= cleared;
        case TclearFilter::fullCombo: return clear >= static_cast<int32_t>(TclearMark::fullCombo);
        default: return true;
    }
}

// A plain Latin letter and a combining accent, and the precomposed letter they make.
struct Tcomposition {
    char base;
    uint32_t mark;
    uint32_t composed;
};

// Grave, acute, circumflex, tilde, diaeresis, ring, caron and cedilla on the letters that take
// them in the Western and Central European alphabets: the names such systems write decomposed.
constexpr Tcomposition compositions[] = {
    {'A', 0x0300, 0x00C0}, {'E', 0x0300, 0x00C8}, {'I', 0x0300, 0x00CC}, {'O', 0x0300, 0x00D2},
    {'U', 0x0300, 0x00D9}, {'a', 0x0300, 0x00E0}, {'e', 0x0300, 0x00E8}, {'i', 0x0300, 0x00EC},
    {'o', 0x0300, 0x00F2}, {'u', 0x0300, 0x00F9}, {'A', 0x0301, 0x00C1}, {'E', 0x0301, 0x00C9},
    {'I', 0x0301, 0x00CD}, {'O', 0x0301, 0x00D3}, {'U', 0x0301, 0x00DA}, {'Y', 0x0301, 0x00DD},
    {'a', 0x0301, 0x00E1}, {'e', 0x0301, 0x00E9}, {'i', 0x0301, 0x00ED}, {'o', 0x0301, 0x00F3},
    {'u', 0x0301, 0x00FA}, {'y', 0x0301, 0x00FD}, {'C', 0x0301, 0x0106}, {'c', 0x0301, 0x0107},
    {'N', 0x0301, 0x0143}, {'n', 0x0301, 0x0144}, {'S', 0x0301, 0x015A}, {'s', 0x0301, 0x015B},
    {'Z', 0x0301, 0x0179}, {'z', 0x0301, 0x017A}, {'A', 0x0302, 0x00C2}, {'E', 0x0302, 0x00CA},
    {'I', 0x0302, 0x00CE}, {'O', 0x0302, 0x00D4}, {'U', 0x0302, 0x00DB}, {'a', 0x0302, 0x00E2},
    {'e', 0x0302, 0x00EA}, {'i', 0x0302, 0x00EE}, {'o', 0x0302, 0x00F4}, {'u', 0x0302, 0x00FB},
    {'A', 0x0303, 0x00C3}, {'N', 0x0303, 0x00D1}, {'O', 0x0303, 0x00D5}, {'a', 0x0303, 0x00E3},
    {'n', 0x0303, 0x00F1}, {'o', 0x0303, 0x00F5}, {'A', 0x0308, 0x00C4}, {'E', 0x0308, 0x00CB},
    {'I', 0x0308, 0x00CF}, {'O', 0x0308, 0x00D6}, {'U', 0x0308, 0x00DC}, {'a', 0x0308, 0x00E4},
    {'e', 0x0308, 0x00EB}, {'i', 0x0308, 0x00EF}, {'o', 0x0308, 0x00F6}, {'u', 0x0308, 0x00FC},
    {'y', 0x0308, 0x00FF}, {'Y', 0x0308, 0x0178}, {'A', 0x030A, 0x00C5}, {'a', 0x030A, 0x00E5},
    {'U', 0x030A, 0x016E}, {'u', 0x030A, 0x016F}, {'C', 0x030C, 0x010C}, {'c', 0x030C, 0x010D},
    {'E', 0x030C, 0x011A}, {'e', 0x030C, 0x011B}, {'N', 0x030C, 0x0147}, {'n', 0x030C, 0x0148},
    {'R', 0x030C, 0x0158}, {'r', 0x030C, 0x0159}, {'S', 0x030C, 0x0160}, {'s', 0x030C, 0x0161},
    {'Z', 0x030C, 0x017D}, {'z', 0x030C, 0x017E}, {'C', 0x0327, 0x00C7}, {'c', 0x0327, 0x00E7},
    {'S', 0x0327, 0x015E}, {'s', 0x0327, 0x015F},
};

uint32_t composedLetter(char base, uint32_t mark) {
    for (const Tcomposition& entry : compositions)
        if (entry.base == base && entry.mark == mark) return entry.composed;
    return 0;
}

// Two bytes: every composed letter of the table lies below U+0800.
void appendTwoByteUtf8(std::string& out, uint32_t codePoint) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
}

}  // namespace

std::string composedLatin(std::string_view text) {
    std::string composed;
    composed.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t mark = 0;
        const char base = text[at];
        const size_t markLength = at + 1 < text.size() ? decodeUtf8(text, at + 1, mark) : 0;
        const uint32_t letter = markLength > 0 ? composedLetter(base, mark) : 0;
        if (letter != 0) {
            appendTwoByteUtf8(composed, letter);
            at += 1 + markLength;
        } else {
            composed += base;
            ++at;
        }
    }
    return composed;
}

std::string foldForSearch(std::string_view text) {
    std::string folded;
    folded.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = decodeUtf8(text, at, codePoint);
        if (length == 0) {
            folded += text[at++];
            continue;
        }
        if (codePoint < 0x80) folded += static_cast<char>(std::tolower(static_cast<int>(codePoint)));
        else appendFolded(folded, text, at, length, codePoint);
        at += length;
    }
    return folded;
}

int32_t chartLevel(const TcachedChart& chart) {
    if (!chart.readable || chart.lengthMs <= 0.0) return 0;
    const double perSecond = chart.markerCount / (chart.lengthMs / 1000.0);
    return static_cast<int32_t>(std::min<double>(highestLevel, lowestLevel + std::floor(perSecond)));
}

TsongFacts songFactsOf(const Tsong& song) {
    TsongFacts facts;
    facts.nameKey = foldForSearch(song.name);
    facts.groupKey = foldForSearch(song.group);
    facts.searchText = facts.groupKey + " " + facts.nameKey;
    for (int32_t d = 0; d < difficultyCount; ++d) {
        if (!song.hasChart[d]) continue;
        const TcachedChart& chart = song.charts[d];
        facts.level[d] = chartLevel(chart);
        facts.tempo[d] = chart.readable ? chart.tempoMax : 0.0;
        facts.added = std::max(facts.added, chart.firstSeen);
    }
    return facts;
}

std::vector<int32_t> sortedSongs(const std::vector<TsongFacts>& facts, TsongSort sort, int32_t difficulty) {
    std::vector<int32_t> order(facts.size());
    std::iota(order.begin(), order.end(), 0);
    if (sort == TsongSort::group) return order;
    const auto byName = [&facts](int32_t a, int32_t b) {
        const TsongFacts& left = facts[static_cast<size_t>(a)];
        const TsongFacts& right = facts[static_cast<size_t>(b)];
        if (left.nameKey != right.nameKey) return left.nameKey < right.nameKey;
        return left.groupKey < right.groupKey;
    };
    std::stable_sort(order.begin(), order.end(), byName);
    if (sort == TsongSort::name) return order;
    const size_t d = static_cast<size_t>(std::clamp(difficulty, 0, difficultyCount - 1));
    // Ranks in name order break every tie of the other orders.
    const auto compare = [&facts, sort, d](int32_t a, int32_t b) {
        const TsongFacts& left = facts[static_cast<size_t>(a)];
        const TsongFacts& right = facts[static_cast<size_t>(b)];
        switch (sort) {
            case TsongSort::tempo: return presentAndLower(left.tempo[d], right.tempo[d]);
            case TsongSort::level: return presentAndLower(left.level[d], right.level[d]);
            case TsongSort::bestScore: return left.bestScore[d] > right.bestScore[d];
            case TsongSort::recentlyPlayed: return left.lastPlayed > right.lastPlayed;
            case TsongSort::recentlyAdded: return left.added > right.added;
            default: return false;
        }
    };
    std::stable_sort(order.begin(), order.end(), compare);
    return order;
}

bool songPasses(const TsongFacts& song, const std::vector<std::string>& words, const TsongFinder& finder,
                int32_t difficulty) {
    const size_t d = static_cast<size_t>(std::clamp(difficulty, 0, difficultyCount - 1));
    if (!fullLevelRange(finder) && (song.level[d] < finder.levelMin || song.level[d] > finder.levelMax)) return false;
    if (!clearPasses(song.clear[d], finder.clear)) return false;
    for (const std::string& word : words)
        if (song.searchText.find(word) == std::string::npos) return false;
    return true;
}

std::vector<int32_t> findSongs(const std::vector<TsongFacts>& facts, const std::vector<int32_t>& order,
                               const TsongFinder& finder, int32_t difficulty) {
    const std::vector<std::string> words = queryWords(finder.query);
    std::vector<int32_t> found;
    found.reserve(order.size());
    for (const int32_t song : order)
        if (songPasses(facts[static_cast<size_t>(song)], words, finder, difficulty)) found.push_back(song);
    return found;
}

const char* songSortName(TsongSort sort) {
    static const char* const names[songSortCount] = {"GROUP", "NAME",         "TEMPO",         "LEVEL",
                                                     "SCORE", "RECENTLY PLAYED", "RECENTLY ADDED"};
    const int32_t index = static_cast<int32_t>(sort);
    return index >= 0 && index < songSortCount ? names[index] : names[0];
}

const char* clearFilterName(TclearFilter filter) {
    static const char* const names[clearFilterCount] = {"", "NOT CLEARED", "CLEARED", "FULL COMBO"};
    const int32_t index = static_cast<int32_t>(filter);
    return index >= 0 && index < clearFilterCount ? names[index] : names[0];
}

std::vector<std::string> finderLines(const TsongFinder& finder, bool searchOpen) {
    std::vector<std::string> lines;
    if (searchOpen || !finder.query.empty())
        lines.push_back(std::string("SEARCH: ") + finder.query + (searchOpen ? "_" : ""));
    std::string line = std::string("SORT: ") + songSortName(finder.sort);
    if (!fullLevelRange(finder))
        line += "  LEVEL " + std::to_string(finder.levelMin) + "-" + std::to_string(finder.levelMax);
    if (finder.clear != TclearFilter::any) line += std::string("  ") + clearFilterName(finder.clear);
    lines.push_back(line);
    return lines;
}
