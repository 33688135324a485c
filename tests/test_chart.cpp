// The chart parser: timing walk, grid pairing, the song debug file and refused input.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>

#include "content/chartBars.h"
#include "content/trellikSongDataLoader.h"
#include "tests/support/testSupport.h"

namespace {

const std::string workedExample =
    "1--- |(120)[500]1-2-|\r\n"
    "--2- |3---|\r\n"
    "---- |----|\r\n"
    "3--3 |----|\r\n";

struct Tparsed {
    std::unique_ptr<TsongParser> parser = std::make_unique<TsongParser>();
    TchartOutcome outcome;
    TchartFindings findings;
};

Tparsed parse(const std::string& text) {
    Tparsed parsed;
    parsed.outcome = loadChartFromBytes(*parsed.parser, text, &parsed.findings);
    return parsed;
}

std::string flagsOf(const ChartEntry& entry) {
    std::string flags;
    for (const uint8_t flag : entry.panels) flags += flag ? '1' : '0';
    return flags;
}

// A block naming all sixteen panels in order and four lines of four notes: sixteen rows.
std::string fullBlocks(int blocks) {
    std::string text;
    const char* const rows[] = {"1234", "5678", "9abc", "defg"};
    for (int block = 0; block < blocks; ++block) {
        for (const char* row : rows)
            text += std::string(row) + (block == 0 && row == rows[0] ? " |(240)" : " |") + "xxxx|\n";
    }
    return text;
}

}  // namespace

TEST(ChartWorkedExample, GivesTheRowsFlagsCountsAndDebugLines) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    std::filesystem::create_directory("sng");
    writeFile("sng/demo0.txt", workedExample);
    auto parser = std::make_unique<TsongParser>();
    ASSERT_TRUE(loadChart(*parser, "sng\\demo0.txt", true));
    EXPECT_EQ(parser->entryCount, 3);
    EXPECT_EQ(parser->markerCount, 4);
    EXPECT_DOUBLE_EQ(parser->currentTime, 2.5);
    const double times[] = {0.5, 0.75, 1.0};
    const char* const flags[] = {"1000000000000000", "0000001000000000", "0000000000001001"};
    for (int row = 0; row < 3; ++row) {
        EXPECT_DOUBLE_EQ(parser->entries[row].time, times[row]);
        EXPECT_DOUBLE_EQ(parser->entries[row].bpm, 120.0);
        EXPECT_EQ(flagsOf(parser->entries[row]), flags[row]);
    }
    EXPECT_EQ(parser->entries[3].time, spareRowTime);
    EXPECT_EQ(readFile("songDebug.txt"), "Begin parse of sng\\demo0.txt\r\n0.500\r\n0.750\r\n1.000\r\n"
                                         "Readin finished; continuing with play...\r\n");
}

TEST(ChartLines, EmptyBlankAndBarlessLinesAndLineEnds) {
    // The empty line adds nothing, the blank line a grid row of blanks, the barless line a grid row and no time.
    const Tparsed parsed = parse("1--- |(60)1|\n\n     |-|\n----\n--2- |2|\n");
    EXPECT_TRUE(parsed.outcome.accepted);
    EXPECT_EQ(parsed.parser->entryCount, 2);
    EXPECT_EQ(parsed.outcome.groups, 2);
    EXPECT_DOUBLE_EQ(parsed.parser->entries[1].time, 2.0);
    EXPECT_EQ(flagsOf(parsed.parser->entries[1]), "0000000000000010");

    // A CR that does not end a line is a character of the grid row; CR LF and LF read alike.
    const Tparsed withCr = parse("1--\r|(60)1|\n----\n----\n---1");
    EXPECT_TRUE(withCr.outcome.accepted);
    EXPECT_EQ(flagsOf(withCr.parser->entries[0]), "1000000000000001");
    std::string lfOnly = workedExample;
    std::erase(lfOnly, '\r');
    EXPECT_EQ(parse(lfOnly).parser->markerCount, 4);
    EXPECT_DOUBLE_EQ(parse(lfOnly).parser->entries[2].time, 1.0);
}

TEST(ChartTiming, RestsTempoChangesOffsetsBlanksAndStrayBrackets) {
    const Tparsed rests = parse("|(120)----|\n|1|\n");
    EXPECT_EQ(rests.parser->entryCount, 1);
    EXPECT_DOUBLE_EQ(rests.parser->entries[0].time, 0.5);

    // The slot count covers the whole part; the new tempo shortens only the slots after it.
    const Tparsed tempo = parse("|(60)1(120)2-|\n|3|\n");
    EXPECT_DOUBLE_EQ(tempo.parser->entries[1].time, 1.0 / 3);
    EXPECT_DOUBLE_EQ(tempo.parser->entries[1].bpm, 120.0);
    EXPECT_DOUBLE_EQ(tempo.parser->entries[2].time, 2.0 / 3);

    const Tparsed offsets = parse("|(60)[1000]1[-250]2|\n|[-250]3|\n");
    EXPECT_DOUBLE_EQ(offsets.parser->entries[0].time, 1.0);
    EXPECT_DOUBLE_EQ(offsets.parser->entries[1].time, 1.25);
    EXPECT_DOUBLE_EQ(offsets.parser->entries[2].time, 1.5);

    const Tparsed blanks = parse("|(60)1 2|\n");
    EXPECT_EQ(blanks.parser->entryCount, 3);
    EXPECT_DOUBLE_EQ(blanks.parser->entries[2].time, 2.0 / 3);

    const Tparsed stray = parse("|(60)1)]-2|\n");
    EXPECT_EQ(stray.parser->entryCount, 2);
    EXPECT_DOUBLE_EQ(stray.parser->entries[1].time, 2.0 / 3);
}

TEST(ChartTiming, AGroupLeftOpenEndsInANote) {
    const Tparsed open = parse("|(60)1-(120|\n");
    EXPECT_TRUE(open.outcome.accepted);
    ASSERT_EQ(open.parser->entryCount, 2);
    EXPECT_DOUBLE_EQ(open.parser->entries[1].time, 1.0);
    EXPECT_DOUBLE_EQ(open.parser->entries[1].bpm, 120.0);
    // With no slot to share the beat the note would have no length.
    EXPECT_FALSE(parse("|(60|\n").outcome.accepted);
}

TEST(ChartPairing, NameOrderMissingNamesAndCaseOfNames) {
    const Tparsed parsed = parse("2-3- |(60)xxx|\nAah-\n----\n----\n");
    EXPECT_TRUE(parsed.outcome.accepted);
    EXPECT_EQ(parsed.outcome.groups, 3);
    EXPECT_EQ(parsed.parser->markerCount, 3);
    EXPECT_EQ(flagsOf(parsed.parser->entries[0]), "1000000000000000");  // "2" before "3", "1" absent
    EXPECT_EQ(flagsOf(parsed.parser->entries[1]), "0010000000000000");
    EXPECT_EQ(flagsOf(parsed.parser->entries[2]), "0000010000000000");  // only "a"; "A" and "h" are empty
}

TEST(ChartPairing, MoreGroupsThanNotesAndTheReverse) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile("groups.txt", "12-- |(60)x|\n----\n----\n----\n");
    auto parser = std::make_unique<TsongParser>();
    const TchartOutcome outcome = loadChartFile(*parser, "groups.txt", true);
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.groups, 2);
    EXPECT_EQ(parser->markerCount, 1);  // the marker of the untimed row never plays
    EXPECT_EQ(parser->entries[1].time, spareRowTime);
    EXPECT_EQ(flagsOf(parser->entries[1]), "0100000000000000");
    EXPECT_EQ(readFile("songDebug.txt"), "Begin parse of groups.txt\r\n0.000\r\n9,999,999,999.000\r\n"
                                         "Readin finished; continuing with play...\r\n");

    const Tparsed late = parse("1--- |(60)x|\n----\n----\n----\n--12\n----\n----\n3---\n");
    EXPECT_EQ(late.parser->markerCount, 1);
    ASSERT_EQ(late.findings.size(), 1u);
    EXPECT_EQ(late.findings[0].line, 8);
    EXPECT_NE(late.findings[0].text.find("rows 1 to 3 got panel flags but no time"), std::string::npos);

    const Tparsed notes = parse("1--- |(60)xxx|\n----\n----\n----\n");
    EXPECT_EQ(notes.parser->entryCount, 3);
    EXPECT_EQ(notes.outcome.groups, 1);
    EXPECT_EQ(flagsOf(notes.parser->entries[2]), "0000000000000000");
}

TEST(ChartPairing, GridPastSixteenRefusesButKeepsWhatWasPaired) {
    const Tparsed parsed = parse("1--- |(60)x|\n----\n----\n----\n--\n1--- |x|\n----\n----\n----\n|x|\n");
    EXPECT_FALSE(parsed.outcome.accepted);
    EXPECT_EQ(parsed.outcome.groups, 1);
    EXPECT_EQ(parsed.parser->entryCount, 3);  // the timing pass still reads every line
    EXPECT_EQ(flagsOf(parsed.parser->entries[0]), "1000000000000000");
    const auto refusal = std::find_if(parsed.findings.begin(), parsed.findings.end(),
                                      [](const TchartFinding& finding) { return finding.rejects; });
    ASSERT_NE(refusal, parsed.findings.end());
    EXPECT_EQ(refusal->line, 9);
}

TEST(ChartTempo, SurvivesTheResetAndIsNeededBeforeTheFirstSlot) {
    auto parser = std::make_unique<TsongParser>();
    EXPECT_FALSE(loadChartFromBytes(*parser, "1--- |x-|\n----\n----\n----\n").accepted);
    ASSERT_TRUE(loadChartFromBytes(*parser, "|(150)-|\n").accepted);
    EXPECT_TRUE(loadChartFromBytes(*parser, "1--- |x-|\n----\n----\n----\n").accepted);
    EXPECT_DOUBLE_EQ(parser->entries[0].bpm, 150.0);
    EXPECT_DOUBLE_EQ(parser->currentTime, 0.4);
    EXPECT_FALSE(loadChartFromBytes(*parser, "|(0)-|\n").accepted);
}

TEST(ChartNumbers, PlainFormsOnly) {
    double value = 0.0;
    for (const char* good : {"120", " +1.5e2 ", ".5", "1.", "-250", "\t7\t", "1E3"}) {
        EXPECT_TRUE(parsePlainNumber(good, value)) << good;
    }
    EXPECT_TRUE(parsePlainNumber(" -2.5e-1 ", value));
    EXPECT_DOUBLE_EQ(value, -0.25);
    for (const char* bad : {"", " ", "abc", "inf", "nan", "1,5", "0x10", "1e", "+-1", "1 2", "1e999", ".", "١٢"}) {
        EXPECT_FALSE(parsePlainNumber(bad, value)) << bad;
    }
    EXPECT_FALSE(parse("|(1 20)x|\n").outcome.accepted);
    EXPECT_FALSE(parse("|(120)[ten]x|\n").outcome.accepted);
    std::string farOffsets = "|(120)";
    for (int i = 0; i < 2000; ++i) farOffsets += "[1.7e308]";
    EXPECT_FALSE(parse(farOffsets + "x|\n").outcome.accepted);
}

TEST(ChartCapacity, TenThousandRowsFitAndOneMoreIsRefused) {
    const Tparsed full = parse(fullBlocks(625));
    EXPECT_TRUE(full.outcome.accepted);
    EXPECT_EQ(full.parser->entryCount, chartCapacity);
    EXPECT_EQ(full.outcome.groups, chartCapacity);
    EXPECT_EQ(full.parser->entries[chartCapacity].time, spareRowTime);

    const Tparsed notes = parse(fullBlocks(625) + "|x|\n");
    EXPECT_FALSE(notes.outcome.accepted);
    EXPECT_EQ(notes.parser->entryCount, chartCapacity);
    EXPECT_EQ(notes.parser->entries[chartCapacity].time, spareRowTime);

    const Tparsed groups = parse(fullBlocks(625) + "1---\n----\n----\n----\n");
    EXPECT_FALSE(groups.outcome.accepted);
    EXPECT_EQ(groups.parser->markerCount, chartCapacity);
    EXPECT_EQ(flagsOf(groups.parser->entries[chartCapacity]), "0000000000000000");
}

TEST(ChartBadInput, GarbageAndHugeLinesStayWithinTheRecord) {
    std::mt19937 random(7);
    std::string garbage(1 << 16, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    const Tparsed parsed = parse(garbage);
    EXPECT_LE(parsed.parser->entryCount, chartCapacity);
    EXPECT_EQ(parsed.parser->entries[chartCapacity].time, spareRowTime);

    const std::string longNotes = "1--- |(120)" + std::string(20 << 20, 'x') + "|\n";
    const Tparsed notes = parse(longNotes);
    EXPECT_FALSE(notes.outcome.accepted);
    EXPECT_EQ(notes.parser->entryCount, chartCapacity);

    const Tparsed rests = parse("1--- |(120)" + std::string(20 << 20, '-') + "|\n|x|\n");
    EXPECT_TRUE(rests.outcome.accepted);
    EXPECT_NEAR(rests.parser->entries[0].time, 0.5, 1e-6);
}

TEST(ChartFiles, MissingUnreadableAndAnyLetterCase) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    auto parser = std::make_unique<TsongParser>();
    writeFile("songDebug.txt", "old");
    EXPECT_FALSE(loadChart(*parser, "sng\\none0.txt", true));
    EXPECT_EQ(readFile("songDebug.txt"), "old");
    std::filesystem::create_directories("sng/folder0.txt");
    EXPECT_FALSE(loadChart(*parser, "sng\\folder0.txt", false));
    writeFile("sng/Song1.TXT", workedExample);
    EXPECT_TRUE(loadChart(*parser, "SNG\\song1.txt", false));
    EXPECT_EQ(parser->markerCount, 4);
}

TEST(ChartTimeFormat, GroupsThousandsAndRoundsHalfAway) {
    EXPECT_EQ(formatFixed(0.0625, 3, true), "0.063");
    EXPECT_EQ(formatFixed(1234.5, 3, true), "1,234.500");
    EXPECT_EQ(formatFixed(999.9996, 3, true), "1,000.000");
    EXPECT_EQ(formatFixed(-1234567.25, 3, true), "-1,234,567.250");
    EXPECT_EQ(formatFixed(-0.0001, 3, true), "0.000");
    EXPECT_EQ(formatFixed(1234.5, 3, false), "1234.500");
    EXPECT_EQ(formatFixed(2.5, 0, false), "3");
}

TEST(ChartFindings, NameTheLineOfEachFault) {
    const Tparsed parsed = parse("1--- |x(abc)|\n----\n----\n----\n---- |(60(|\n");
    ASSERT_GE(parsed.findings.size(), 3u);
    EXPECT_EQ(parsed.findings[0].line, 1);
    EXPECT_NE(parsed.findings[0].text.find("before any tempo"), std::string::npos);
    EXPECT_EQ(parsed.findings[1].line, 1);
    EXPECT_NE(parsed.findings[1].text.find("not a number"), std::string::npos);
    const TchartFinding& last = parsed.findings.back();
    EXPECT_EQ(last.line, 5);
    EXPECT_FALSE(last.rejects);
}

// A bar is 1000 ms at 240 bpm; the second note lies 250 ms plus the offset after the first, so
// bars counts the bars from the first note to the last.
std::string chartOfBars(int64_t bars) {
    const int64_t offsetMs = (bars - 1) * 1000 - 250;
    return "1--- |(240)1|\n2--- |[" + std::to_string(offsetMs) + "]2|\n----\n----\n";
}

TEST(ChartBars, AChartSpanningMoreBarsThanTheBoundIsRefusedWithItsReason) {
    for (const int64_t bars : {int64_t{chartBarLimit} - 1, int64_t{chartBarLimit}, int64_t{chartBarLimit} + 1}) {
        const Tparsed parsed = parse(chartOfBars(bars));
        EXPECT_EQ(parsed.outcome.accepted, bars <= chartBarLimit) << bars << " bars";
        EXPECT_EQ(chartBarStartsMs(*parsed.parser, chartBarLimit + 1).size(),
                  static_cast<size_t>(std::min<int64_t>(bars, chartBarLimit + 1)));
        const bool said = std::any_of(parsed.findings.begin(), parsed.findings.end(), [](const TchartFinding& f) {
            return f.rejects && f.text.find("more than 100000 bars") != std::string::npos;
        });
        EXPECT_EQ(said, bars > chartBarLimit) << bars << " bars";
    }
    // A tempo near 10^8 bpm with a far offset: billions of bars, refused without listing them.
    const Tparsed extreme = parse("1--- |(99999999)[1000]1|\n2--- |[1000000]2|\n----\n----\n");
    EXPECT_FALSE(extreme.outcome.accepted);
    EXPECT_EQ(chartBarStartsMs(*extreme.parser, chartBarLimit).size(), static_cast<size_t>(chartBarLimit));
    // Bars follow the tempo of the row in force where each starts.
    const Tparsed changing = parse("1--- |(240)1-(120)2|\n---- |[3000]3|\n----\n---2\n");
    EXPECT_TRUE(changing.outcome.accepted);
    EXPECT_EQ(chartBarStartsMs(*changing.parser, chartBarLimit), (std::vector<double>{0.0, 1000.0, 3000.0}));
}
