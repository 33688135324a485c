// The chart record: up to 10000 timed rows of sixteen panel flags, read from a chart file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int chartCapacity = 10000;
constexpr int noteNameCount = 35;
// Only the first sixteen note names ("1" … "9", "a" … "g") put markers on the grid.
constexpr int gridNoteNameCount = 16;
// The time of a row the timing pass did not write; play never reaches it.
constexpr double spareRowTime = 9999999999.0;
constexpr const char* songDebugFileName = "songDebug.txt";

// One chart row: when it plays, the tempo in force there and its panel flags in key-index order.
struct ChartEntry {
    double time = spareRowTime;
    double bpm = 0.0;
    uint8_t panels[16] = {};

    // Makes the row spare: no time, no flags. The tempo is left as it is.
    void initialise();
    double getTime() const { return time; }
    void setTime(double value) { time = value; }
    double getBpm() const { return bpm; }
    void setBpm(double value) { bpm = value; }
};

using TnotenameArray = std::array<std::string, noteNameCount>;

// The parsed chart. Fixed size: the engine record holds one for the whole game run.
struct TsongParser {
    int32_t entryCount = 0;
    TnotenameArray noteNames;
    double currentTime = 0.0;
    // Survives resetParser: a chart that starts before its first tempo group plays at the
    // tempo the previous chart left.
    double currentBpm = 0.0;
    int32_t markerCount = 0;
    // One row beyond the capacity that no parse ever writes, so that the row after the last
    // written one exists to stop playback even in a full chart.
    ChartEntry entries[chartCapacity + 1];
};

void resetParser(TsongParser& parser);

// A remark about one line of a chart for its author; rejecting ones are why the game refuses it.
struct TchartFinding {
    int32_t line = 0;
    bool rejects = false;
    std::string text;
};

using TchartFindings = std::vector<TchartFinding>;

// What a parse learned beyond the record.
struct TchartOutcome {
    bool fileRead = false;
    bool accepted = false;
    // Rows that received panel flags from the grid; the song debug file lists this many times.
    int32_t groups = 0;
};

// Parses chart text held in memory into the record (reset first). Findings, when asked for,
// describe every fault and oddity; the game asks for none.
TchartOutcome loadChartFromBytes(TsongParser& parser, std::string_view bytes,
                                 TchartFindings* findings = nullptr);

// Reads the chart file (any letter case, "\" or "/") and parses it. With songDebug the song
// debug file is written in the working directory once the file was read, also for a refused chart.
TchartOutcome loadChartFile(TsongParser& parser, const std::string& fileName, bool songDebug,
                            TchartFindings* findings = nullptr);

// True when the file was read and the game may play the chart.
bool loadChart(TsongParser& parser, const std::string& fileName, bool songDebug);

// Writes "songDebug.txt" anew: the file name, the time of each of the first groups rows, the
// closing line; CR LF line ends. False when the file could not be written.
bool writeSongDebugFile(const TsongParser& parser, const std::string& fileName, int32_t groups);

// Reads a number written with "." as the decimal separator: optional sign, digits, fraction and
// exponent, blanks around it allowed. False for anything else, "inf" and "nan" included, and for
// numbers a double cannot hold.
bool parsePlainNumber(std::string_view text, double& value);

// A number with the given decimals, rounded half away from zero, thousands grouped with ","
// when asked ("###,##0.000" for three decimals).
std::string formatFixed(double value, int decimals, bool groupThousands);
