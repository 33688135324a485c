// The stock pack tool's own pieces: music notation, text encoding, the TGA layout, the chart
// text and its timing convention read back by the game's parser, and the master stage's ceiling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "buildVersion.h"
#include "content/latestVersionCode.h"
#include "content/trellikSongDataLoader.h"
#include "tools/stockpack/charts.h"
#include "tools/stockpack/imageFiles.h"
#include "tools/stockpack/mixer.h"
#include "tools/stockpack/music.h"
#include "tools/stockpack/packContents.h"
#include "tests/support/testSupport.h"

using namespace stockpack;

TEST(StockpackNotation, NoteNamesChordsAndMelodies) {
    EXPECT_EQ(noteNumber("c4"), 60);
    EXPECT_EQ(noteNumber("a4"), 69);
    EXPECT_EQ(noteNumber("f#3"), 54);
    EXPECT_EQ(noteNumber("bb4"), 70);
    const Tchord chord = parseChord("F#m7");
    EXPECT_EQ(chord.root, 6);
    EXPECT_EQ(chord.intervals, (std::vector<int>{0, 3, 7, 10}));
    for (const int note : voiceChord(parseChord("Gmaj7"), 55)) {
        EXPECT_GE(note, 55);
        EXPECT_LT(note, 67);
    }
    EXPECT_EQ(chordRoot(parseChord("E"), 28), 28);
    EXPECT_THROW(parseChord("Cdim13"), std::runtime_error);
    const std::vector<TmelodyNote> notes = parseMelody("e5:4 r:4 d5:8", 1);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].step, 8);
    EXPECT_EQ(notes[1].length, 8);
    EXPECT_EQ(notes[1].pitch, 74);
    // A melody that does not fill its bars is a writing mistake the tool must not let through.
    EXPECT_THROW(parseMelody("e5:4 d5:8", 1), std::runtime_error);
}

TEST(StockpackText, Utf16HasCrLfAndLatinLetters) {
    const std::vector<uint8_t> bytes = utf16WithCrLf("\xc3\xa9\nA");
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xe9, 0, '\r', 0, '\n', 0, 'A', 0}));
}

TEST(StockpackServer, TheOfferedProgramIsTheOneWhoseDigestTheVersionFileNames) {
    TtemporaryFolder pack;
    writeFile(pack.file("program"), "abc");
    TpackWriter writer(pack.path());
    writeServerProgram(writer, pack.file("program"));
    EXPECT_EQ(readFile(pack.file("server/TrellikGL")), "abc");
    const std::optional<TlatestVersion> latest = readLatestVersion(readFile(pack.file("server/latestVersion.txt")));
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->build, TRELLIK_VERSION_BUILD);
    EXPECT_EQ(latest->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");  // SHA-256 of "abc"
}

TEST(StockpackImageFiles, TgaRunsBottomRowFirstInBgraAndBleedsColourIntoClearTexels) {
    Tcanvas canvas(2, 2);
    canvas.at(0, 0) = {1, 0, 0, 1};  // top left: red
    canvas.at(1, 0) = {0, 0, 0, 0};  // top right: clear
    canvas.at(0, 1) = {0, 0, 1, 1};  // bottom left: blue
    canvas.at(1, 1) = {0, 1, 0, 0.5f};
    const std::vector<uint8_t> bytes = encodeTga(canvas);
    ASSERT_EQ(bytes.size(), 18u + 16u);
    const std::vector<uint8_t> bottomLeft(bytes.begin() + 18, bytes.begin() + 22);
    EXPECT_EQ(bottomLeft, (std::vector<uint8_t>{255, 0, 0, 255}));
    const std::vector<uint8_t> topLeft(bytes.begin() + 26, bytes.begin() + 30);
    EXPECT_EQ(topLeft, (std::vector<uint8_t>{0, 0, 255, 255}));
    // The clear texel keeps alpha 0 but borrows its neighbours' colour instead of black.
    EXPECT_EQ(bytes[33], 0);
    EXPECT_GT(bytes[30] + bytes[31] + bytes[32], 0);
}

TEST(StockpackCharts, TextPutsEachRowFiftyMillisecondsAfterItsBeat) {
    TcomposedSong song;
    song.bpm = 120;
    song.leadIn = 1.0;
    song.bars = 2;
    const std::vector<TchartRow> rows = {{0, {0, 3}}, {2, {5}}, {7, {10}}, {16, {15}}, {28, {12}}};
    const std::string text = chartText(song, rows);
    EXPECT_EQ(text.substr(0, text.find('\n')), "1--1 |(120)[1050]12|");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);
    auto parser = std::make_unique<TsongParser>();
    TchartFindings findings;
    ASSERT_TRUE(loadChartFromBytes(*parser, text, &findings).accepted);
    EXPECT_TRUE(findings.empty());
    ASSERT_EQ(parser->entryCount, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(parser->entries[i].time, audibleTime(song, rows[static_cast<size_t>(i)].step) + perfectLeadSeconds, 1e-9) << i;
        for (const int panel : rows[static_cast<size_t>(i)].panels) EXPECT_EQ(parser->entries[i].panels[panel], 1) << i;
    }
    EXPECT_EQ(parser->markerCount, 6);
}

TEST(StockpackMixer, MasterStaysBelowItsPeakAndKeepsQuietPartsAudible) {
    TstereoBus bus(1000);
    for (size_t i = 0; i < bus.frames(); ++i) {
        bus.left[i] = i % 2 ? 9.0f : -7.0f;
        bus.right[i] = i < 10 ? 0.0f : 0.01f;
    }
    const std::vector<int16_t> samples = master(bus, 0.84f);
    int highest = 0;
    for (const int16_t sample : samples) highest = std::max(highest, std::abs(static_cast<int>(sample)));
    EXPECT_LE(highest, static_cast<int>(0.84f * 32767) + 1);
    EXPECT_GT(samples.back(), 0);
}
