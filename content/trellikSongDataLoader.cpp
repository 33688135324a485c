// Chart parsing: a timing walk over each line's timing part and grid blocks, paired by order.
#include "content/trellikSongDataLoader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "content/chartBars.h"
#include "platform/store/pathResolver.h"

namespace {

// Far beyond any hand-written chart; keeps a stray huge file from exhausting memory.
constexpr size_t chartFileLimit = size_t{256} << 20;
constexpr int32_t gridBlockLength = 16;
constexpr int32_t gridRowLength = 4;
constexpr size_t quotedTextLimit = 40;

// Everything one parse carries from line to line besides the record itself.
struct TchartWalk {
    TchartWalk(TsongParser& chart, TchartFindings* wanted) : parser(chart), findings(wanted) {}

    TsongParser& parser;
    TchartFindings* findings;
    TchartOutcome outcome;
    int32_t line = 0;
    bool tempoSeen = false;
    bool slotFaultReported = false;
    bool noteOverflowReported = false;
    char grid[gridBlockLength] = {};
    int32_t gridLength = 0;
    int32_t blockFirstLine = 0;
    bool gridStopped = false;
    // Only kept when findings are asked for: the line of each written row and of each group.
    std::vector<int32_t> rowLines;
    std::vector<int32_t> groupLines;
};

void remark(TchartWalk& walk, int32_t line, const std::string& text) {
    if (walk.findings) walk.findings->push_back({line, false, text});
}

void fault(TchartWalk& walk, const std::string& text) {
    walk.outcome.accepted = false;
    if (walk.findings) walk.findings->push_back({walk.line, true, text});
}

std::string quoted(std::string_view text) {
    std::string shown = "\"";
    shown += text.substr(0, quotedTextLimit);
    shown += text.size() <= quotedTextLimit ? "\"" : "...\"";
    return shown;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

size_t skipDigits(std::string_view text, size_t position) {
    while (position < text.size() && isDigit(text[position])) ++position;
    return position;
}

// True when text is exactly sign, digits, fraction and exponent in the plain form.
bool isPlainNumberText(std::string_view text) {
    size_t p = 0;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
    const size_t integerEnd = skipDigits(text, p);
    size_t mantissaDigits = integerEnd - p;
    p = integerEnd;
    if (p < text.size() && text[p] == '.') {
        const size_t fractionEnd = skipDigits(text, p + 1);
        mantissaDigits += fractionEnd - p - 1;
        p = fractionEnd;
    }
    if (mantissaDigits == 0) return false;
    if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
        ++p;
        if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
        const size_t exponentEnd = skipDigits(text, p);
        if (exponentEnd == p) return false;
        p = exponentEnd;
    }
    return p == text.size();
}

// The next line of rest: LF ends a line and CR LF is one line end; a last line without LF counts.
bool takeLine(std::string_view& rest, std::string_view& line) {
    if (rest.empty()) return false;
    const size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
        line = rest;
        rest = {};
        return true;
    }
    line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    rest.remove_prefix(end + 1);
    return true;
}

// The text after the first "|" up to the next "|" or the end of the line.
std::string_view timingPartOf(std::string_view line) {
    const size_t open = line.find('|');
    if (open == std::string_view::npos) return {};
    const std::string_view rest = line.substr(open + 1);
    return rest.substr(0, rest.find('|'));
}

// The position of the closing bracket after an opening one, or the end of the text.
size_t closingOrEnd(std::string_view part, size_t open, char closing) {
    const size_t found = part.find(closing, open + 1);
    return found == std::string_view::npos ? part.size() : found;
}

// Rests and notes of one timing part; groups and stray closing brackets are no slots.
int32_t countSlots(std::string_view part) {
    const size_t n = part.size();
    int32_t slots = 0;
    for (size_t p = 0; p <= n; ++p) {
        if (p < n && part[p] == '(') p = closingOrEnd(part, p, ')');
        if (p < n && part[p] == '[') p = closingOrEnd(part, p, ']');
        if (p < n && part[p] != ')' && part[p] != ']') ++slots;
    }
    return slots;
}

void applyTempo(TchartWalk& walk, std::string_view text) {
    double tempo = 0.0;
    if (!parsePlainNumber(text, tempo)) {
        fault(walk, "the tempo group (" + quoted(text) + ") is not a number");
        return;
    }
    walk.parser.currentBpm = tempo;
    walk.tempoSeen = true;
    if (tempo < 0.0) remark(walk, walk.line, "the tempo " + quoted(text) + " is negative: time runs backwards");
}

void applyOffset(TchartWalk& walk, std::string_view text) {
    double milliseconds = 0.0;
    if (!parsePlainNumber(text, milliseconds)) {
        fault(walk, "the offset group [" + quoted(text) + "] is not a number");
        return;
    }
    const double moved = walk.parser.currentTime + milliseconds / 1000.0;
    if (!std::isfinite(moved)) {
        fault(walk, "the offset moves the time beyond any finite number");
        return;
    }
    walk.parser.currentTime = moved;
}

void reportSlotFault(TchartWalk& walk, int32_t slots) {
    if (walk.slotFaultReported) {
        walk.outcome.accepted = false;
        return;
    }
    walk.slotFaultReported = true;
    if (slots == 0) fault(walk, "a group left open at the end of a line without slots makes a note of no length");
    else if (!walk.tempoSeen) fault(walk, "a slot comes before any tempo group, so it has no length");
    else if (walk.parser.currentBpm == 0.0) fault(walk, "a slot comes while the tempo is 0, so it has no length");
    else fault(walk, "the time runs beyond any finite number");
}

void writeRow(TchartWalk& walk) {
    TsongParser& parser = walk.parser;
    if (parser.entryCount == chartCapacity) {
        if (!walk.noteOverflowReported)
            fault(walk, "more than " + std::to_string(chartCapacity) + " notes; the rest are dropped");
        walk.noteOverflowReported = true;
        walk.outcome.accepted = false;
        return;
    }
    ChartEntry& entry = parser.entries[parser.entryCount];
    entry.setTime(parser.currentTime);
    entry.setBpm(parser.currentBpm);
    ++parser.entryCount;
    if (walk.findings) walk.rowLines.push_back(walk.line);
}

// A rest or note lasts 60 / tempo / slots seconds; a length that is no finite number refuses the chart.
void takeSlot(TchartWalk& walk, bool isNote, int32_t slots) {
    TsongParser& parser = walk.parser;
    if (isNote) writeRow(walk);
    const double slotLength = 60.0 / parser.currentBpm / slots;
    const double next = parser.currentTime + slotLength;
    if (!std::isfinite(slotLength) || !std::isfinite(next)) {
        reportSlotFault(walk, slots);
        return;
    }
    parser.currentTime = next;
}

void walkTiming(TchartWalk& walk, std::string_view part) {
    const int32_t slots = countSlots(part);
    const size_t n = part.size();
    for (size_t p = 0; p < n; ++p) {
        if (part[p] == '(') {
            const size_t close = closingOrEnd(part, p, ')');
            applyTempo(walk, part.substr(p + 1, close - p - 1));
            p = close;
        }
        if (p < n && part[p] == '[') {
            const size_t close = closingOrEnd(part, p, ']');
            applyOffset(walk, part.substr(p + 1, close - p - 1));
            p = close;
        }
        if (p == n) remark(walk, walk.line, "a group is not closed; the end of the line counts as a note");
        if (p == n || (part[p] != ')' && part[p] != ']')) takeSlot(walk, p == n || part[p] != '-', slots);
    }
}

// Gives the next row the flags of every position holding the name; false when no row is left.
bool pairName(TchartWalk& walk, char name) {
    TsongParser& parser = walk.parser;
    bool found = false;
    for (int32_t k = 0; k < gridBlockLength; ++k) {
        if (walk.grid[k] != name) continue;
        if (walk.outcome.groups == chartCapacity) {
            fault(walk, "more than " + std::to_string(chartCapacity) + " note name groups; the rest are dropped");
            return false;
        }
        parser.entries[walk.outcome.groups].panels[k] = 1;
        found = true;
    }
    if (found) {
        ++walk.outcome.groups;
        if (walk.findings) walk.groupLines.push_back(walk.line);
    }
    return true;
}

void pairBlock(TchartWalk& walk) {
    for (int32_t name = 0; name < gridNoteNameCount; ++name) {
        if (!pairName(walk, walk.parser.noteNames[name][0])) {
            walk.gridStopped = true;
            return;
        }
    }
}

void addGridRow(TchartWalk& walk, std::string_view line) {
    if (line.empty() || walk.gridStopped) return;
    const std::string_view row = line.substr(0, gridRowLength);
    if (walk.gridLength == 0) walk.blockFirstLine = walk.line;
    if (walk.gridLength + static_cast<int32_t>(row.size()) > gridBlockLength) {
        fault(walk, "the grid text passes 16 characters here: the block begun on line " +
                        std::to_string(walk.blockFirstLine) + " already holds " + std::to_string(walk.gridLength) +
                        " (a grid row shorter than four characters, or a line that is no grid row); no further"
                        " block is read");
        walk.gridStopped = true;
        return;
    }
    std::memcpy(walk.grid + walk.gridLength, row.data(), row.size());
    walk.gridLength += static_cast<int32_t>(row.size());
    if (walk.gridLength == gridBlockLength) {
        pairBlock(walk);
        walk.gridLength = 0;
    }
}

// Markers on rows without a time never play, so they are no part of the count a perfect play scores against.
int32_t timedMarkerCount(const TsongParser& parser) {
    int32_t markers = 0;
    for (int32_t row = 0; row < parser.entryCount; ++row)
        for (const uint8_t flag : parser.entries[row].panels) markers += flag;
    return markers;
}

std::string rowRange(int32_t first, int32_t end) {
    if (end - first == 1) return "row " + std::to_string(first);
    return "rows " + std::to_string(first) + " to " + std::to_string(end - 1);
}

// Oddities the game accepts silently but an author wants to hear about.
void remarkOnPairing(TchartWalk& walk) {
    const int32_t entries = walk.parser.entryCount;
    const int32_t groups = walk.outcome.groups;
    if (walk.gridLength > 0 && !walk.gridStopped)
        remark(walk, walk.blockFirstLine, "the last grid block holds only " + std::to_string(walk.gridLength) +
                                              " of 16 characters and is ignored");
    if (entries > groups)
        remark(walk, walk.rowLines[groups], rowRange(groups, entries) + " got a time but no panel flags: the timing"
                                            " parts hold more notes than the grid has note name groups");
    if (groups > entries)
        remark(walk, walk.groupLines[entries], rowRange(entries, groups) + " got panel flags but no time: the grid"
                                               " has more note name groups than the timing parts have notes; they"
                                               " never play and count as no markers");
    if (entries == 0 && groups == 0) remark(walk, 0, "the chart has no notes");
    std::stable_sort(walk.findings->begin(), walk.findings->end(),
                     [](const TchartFinding& a, const TchartFinding& b) { return a.line < b.line; });
}

// Play and practice list a chart's bars; a chart spanning more than the bound is refused whole,
// said for the chart as a whole (line 0).
void refuseTooManyBars(TchartWalk& walk) {
    const TsongParser& parser = walk.parser;
    if (static_cast<int32_t>(chartBarStartsMs(parser, chartBarLimit + 1).size()) <= chartBarLimit) return;
    walk.line = 0;
    fault(walk, "the notes span more than " + std::to_string(chartBarLimit) + " bars of four beats, from " +
                    formatFixed(parser.entries[0].time, 3, false) + " s to " +
                    formatFixed(parser.entries[parser.entryCount - 1].time, 3, false) +
                    " s at the tempo in force: a tempo or offset this extreme cannot be played");
}

// The whole file, or false when it is missing, not a plain file, unreadable or too big.
bool readChartBytes(const std::string& path, std::string& bytes) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return false;
    struct stat info {};
    bool readable = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
                    static_cast<uint64_t>(info.st_size) <= chartFileLimit;
    if (readable) {
        bytes.resize(static_cast<size_t>(info.st_size));
        size_t filled = 0;
        while (filled < bytes.size()) {
            const ssize_t got = ::read(descriptor, bytes.data() + filled, bytes.size() - filled);
            if (got == 0) break;
            if (got < 0) {
                if (errno == EINTR) continue;
                readable = false;
                break;
            }
            filled += static_cast<size_t>(got);
        }
        bytes.resize(filled);
    }
    ::close(descriptor);
    return readable;
}

// Rounds a digit string (the value times 10^decimals, then more digits) half away from zero.
std::string roundDigits(const std::string& digits, size_t kept) {
    std::string rounded = digits.substr(0, kept);
    if (digits.size() > kept && digits[kept] >= '5') {
        size_t i = rounded.size();
        while (i > 0 && rounded[i - 1] == '9') rounded[--i] = '0';
        if (i == 0) rounded.insert(rounded.begin(), '1');
        else ++rounded[i - 1];
    }
    return rounded;
}

std::string groupedThousands(const std::string& integer) {
    std::string grouped;
    for (size_t i = 0; i < integer.size(); ++i) {
        if (i > 0 && (integer.size() - i) % 3 == 0) grouped += ',';
        grouped += integer[i];
    }
    return grouped;
}

}  // namespace

void ChartEntry::initialise() {
    time = spareRowTime;
    std::memset(panels, 0, sizeof panels);
}

void resetParser(TsongParser& parser) {
    parser.markerCount = 0;
    parser.currentTime = 0.0;
    parser.entryCount = 0;
    for (ChartEntry& entry : parser.entries) entry.initialise();
    for (int32_t i = 0; i < 9; ++i) parser.noteNames[i] = std::to_string(i + 1);
    for (int32_t i = 9; i < noteNameCount; ++i) parser.noteNames[i] = std::string(1, static_cast<char>('a' + i - 9));
}

bool parsePlainNumber(std::string_view text, double& value) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    if (!isPlainNumberText(text)) return false;
    if (text.front() == '+') text.remove_prefix(1);
    double read = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), read);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(read)) return false;
    value = read;
    return true;
}

TchartOutcome loadChartFromBytes(TsongParser& parser, std::string_view bytes, TchartFindings* findings) {
    resetParser(parser);
    TchartWalk walk(parser, findings);
    walk.outcome.fileRead = true;
    walk.outcome.accepted = true;
    std::string_view rest = bytes;
    std::string_view line;
    while (takeLine(rest, line)) {
        ++walk.line;
        walkTiming(walk, timingPartOf(line));
        addGridRow(walk, line);
    }
    parser.markerCount = timedMarkerCount(parser);
    refuseTooManyBars(walk);
    if (findings) remarkOnPairing(walk);
    return walk.outcome;
}

TchartOutcome loadChartFile(TsongParser& parser, const std::string& fileName, bool songDebug,
                            TchartFindings* findings) {
    std::string bytes;
    if (!readChartBytes(resolvePath(fileName), bytes)) {
        resetParser(parser);
        if (findings) findings->push_back({0, true, "the chart file is missing or cannot be read"});
        return {};
    }
    const TchartOutcome outcome = loadChartFromBytes(parser, bytes, findings);
    // A debug file that cannot be written costs the player nothing; the chart still plays.
    if (songDebug) writeSongDebugFile(parser, fileName, outcome.groups);
    return outcome;
}

bool loadChart(TsongParser& parser, const std::string& fileName, bool songDebug) {
    const TchartOutcome outcome = loadChartFile(parser, fileName, songDebug);
    return outcome.fileRead && outcome.accepted;
}

bool writeSongDebugFile(const TsongParser& parser, const std::string& fileName, int32_t groups) {
    std::string text = "Begin parse of " + fileName + "\r\n";
    for (int32_t row = 0; row < groups; ++row) text += formatFixed(parser.entries[row].time, 3, true) + "\r\n";
    text += "Readin finished; continuing with play...\r\n";
    std::FILE* file = std::fopen(resolvePath(songDebugFileName).c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

std::string formatFixed(double value, int decimals, bool groupThousands) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    // Thirty digits more than kept show the exact binary value far enough to round it by hand.
    char exact[512];
    std::snprintf(exact, sizeof exact, "%.*f", decimals + 30, std::fabs(value));
    std::string digits = exact;
    const size_t point = digits.find('.');
    digits.erase(point, 1);
    const std::string rounded = roundDigits(digits, digits.size() - 30);
    const size_t integerLength = rounded.size() - static_cast<size_t>(decimals);
    const std::string integer = rounded.substr(0, integerLength);
    std::string text = groupThousands ? groupedThousands(integer) : integer;
    if (decimals > 0) text.append(".").append(rounded, integerLength);
    const bool zero = rounded.find_first_not_of('0') == std::string::npos;
    if (value < 0 && !zero) text.insert(text.begin(), '-');
    return text;
}
