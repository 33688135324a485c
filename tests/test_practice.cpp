// Practice: the kept rate and its edges, bars and loops, play on song time, passes, the records.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/store/recordsDatabase.h"
#include "platform/store/settingsStore.h"
#include "tests/support/testSupport.h"
#include "tests/test_playback_fixture.h"

namespace {

constexpr int keyIndex = 0;
const int panel = transposeIndex(keyIndex);
constexpr uint16_t loopStartKey = 188;
constexpr uint16_t loopEndKey = 190;

TpracticeChoice choiceFrom(const std::string& json) {
    TsettingsStore store("unused");
    store.openFromBytes(json);
    TpracticeChoice choice;
    readStoredPractice(store, choice);
    return choice;
}

TkeptPlay playAt(int32_t rateHundredths, int32_t score, bool practice = false) {
    TkeptPlay play;
    play.chartSha256 = std::string(64, 'a');
    play.song = "Loop";
    play.markerCount = 100;
    play.score = score;
    play.rateHundredths = rateHundredths;
    play.practice = practice;
    return play;
}

}  // namespace

TEST(PracticeChoice, OnlyRatesInRangeAndOnAStepAreTakenFromSettingsAndTheCommandLine) {
    struct Tcase {
        int32_t stored;
        int32_t read;
    };
    for (const Tcase item : {Tcase{45, 100}, Tcase{49, 100}, Tcase{50, 50}, Tcase{51, 100}, Tcase{150, 150},
                             Tcase{199, 100}, Tcase{200, 200}, Tcase{201, 100}, Tcase{205, 100}})
        EXPECT_EQ(choiceFrom("{\"rate\": " + std::to_string(item.stored) + "}").rateHundredths, item.read) << item.stored;
    EXPECT_EQ(choiceFrom("{\"rate\": \"fast\", \"practicebar\": 0}").rateHundredths, 100);
    EXPECT_EQ(choiceFrom("{\"practicebar\": 0}").startBar, 1);

    EXPECT_EQ(rateFromText("0.5"), 50);
    EXPECT_EQ(rateFromText("0.45"), std::nullopt);
    EXPECT_EQ(rateFromText("2"), 200);
    EXPECT_EQ(rateFromText("2.05"), std::nullopt);
    EXPECT_EQ(rateFromText("1.37"), std::nullopt);
    for (const char* bad : {"", "1.", ".5", "1.500", "-1", "1,5", "10"}) EXPECT_EQ(rateFromText(bad), std::nullopt) << bad;
    EXPECT_EQ(steppedRate(200, 1), 200);
    EXPECT_EQ(steppedRate(55, -1), 50);
    EXPECT_EQ(steppedRate(50, -1), 50);
    EXPECT_EQ(rateText(75), "0.75x");
}

TEST(PracticeChoice, ABadRateSaysWhy) {
    EXPECT_EQ(rateRefusal("1.35"), "");
    EXPECT_EQ(rateRefusal("0.5"), "");
    EXPECT_EQ(rateRefusal("1.37"), "The rate \"1.37\" is not on a step of 0.05 (as 1.35 or 1.4).");
    EXPECT_EQ(rateRefusal("0.45"), "The rate \"0.45\" is outside 0.5 to 2: the music is only stretched that far.");
    EXPECT_EQ(rateRefusal("2.05"), "The rate \"2.05\" is outside 0.5 to 2: the music is only stretched that far.");
    EXPECT_EQ(rateRefusal("fast"), "The rate \"fast\" is not written as 0.75 or 1.5: one digit, then at most two after the point.");
}

// --rate plays one run at its rate: what song select keeps is the rate chosen before, until the
// player steps the rate themselves.
TEST(PracticeChoice, ARateForThisRunIsNeverKept) {
    auto game = std::make_unique<TtrellikGL>();
    std::vector<int32_t> keptRates;
    game->launch.savePractice = [&](const TpracticeChoice& choice) {
        TsettingsStore store("unused");
        store.openFromBytes("{}");
        writeStoredPractice(store, choice);
        TpracticeChoice read;
        readStoredPractice(store, read);
        keptRates.push_back(read.rateHundredths);
    };
    game->practice.choice.rateHundredths = 75;
    setRateForThisRun(game->practice.choice, 150);
    EXPECT_EQ(game->practice.choice.rateHundredths, 150);
    EXPECT_TRUE(practiceSelectKey(*game, 80));
    EXPECT_TRUE(practiceSelectKey(*game, 221));
    EXPECT_EQ(game->practice.choice.rateHundredths, 155);
    EXPECT_EQ(keptRates, (std::vector<int32_t>{75, 155}));
}

// Without the stretcher every play runs at 1.00x, and song select says so.
TEST(PracticeChoice, WithoutTheStretcherSongSelectSaysTheMusicPlaysAtItsOwnSpeed) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    auto game = std::make_unique<TtrellikGL>();
    setenv("TRELLIK_RUBBERBAND", "/nonexistent/librubberband.so.2", 1);
    noteWhetherTheStretcherStarts(game->practice);
    EXPECT_FALSE(game->practice.stretcherTried) << "nothing to try at 1.00x";
    game->practice.choice.rateHundredths = 150;
    noteWhetherTheStretcherStarts(game->practice);
    unsetenv("TRELLIK_RUBBERBAND");
    EXPECT_EQ(practiceChoiceLines(*game), (std::vector<std::string>{"RATE 1.00x ONLY"}));
    EXPECT_NE(readFile(folder.file("debug.txt")).find("every play runs at 1.00x"), std::string::npos);
}

TEST(PracticeLoop, BarsFollowTheTempoAndALoopIsWholeBarsInEitherOrder) {
    const std::vector<double> bars = {1000.0, 3000.0, 5000.0};
    EXPECT_EQ(barAt(bars, 999.0), 0);
    EXPECT_EQ(barAt(bars, 1000.0), 1);
    EXPECT_EQ(barAt(bars, 2999.0), 1);
    EXPECT_EQ(barAt(bars, 3000.0), 2);

    auto chart = std::make_unique<TsongParser>();
    chart->entryCount = 3;
    chart->entries[0] = ChartEntry{1.0, 120.0, {}};
    chart->entries[1] = ChartEntry{5.0, 240.0, {}};
    chart->entries[2] = ChartEntry{7.0, 240.0, {}};
    EXPECT_EQ(barStartsMs(*chart), (std::vector<double>{1000.0, 3000.0, 5000.0, 6000.0, 7000.0}));

    EXPECT_EQ(loopBetween(9, 13).section.firstBar, 9);
    EXPECT_EQ(loopBetween(13, 9).section.endBar, 13) << "an end before the start swaps them";
    EXPECT_EQ(loopBetween(9, 10).section.endBar, 10);
    const TloopOutcome tooShort = loopBetween(9, 9);
    EXPECT_FALSE(tooShort.section.set());
    EXPECT_FALSE(tooShort.refusal.empty());
}

// At 1.5x the music runs 1.5 song ms a real ms. A row's perfect moment stays 50 song ms before its
// chart time, where charts put its beat at any rate (9950), and the row comes on 500 real ms (750
// song ms) ahead of it; a press is judged in real ms and kept on song time.
TEST_F(TplaybackTest, AtAnotherRateMarkersComeAndAreJudgedOnSongTimeInRealMs) {
    game->practice.choice.rateHundredths = 150;
    addRow(10.0, {keyIndex});
    addRow(20.0, {keyIndex + 1});
    startPlaying();
    tickAt(9199);
    EXPECT_EQ(stateOf(panel), idle);
    tickAt(9200);
    EXPECT_EQ(stateOf(panel), approach);
    EXPECT_DOUBLE_EQ(game->play.perfectTime[panel], clock.highResolution + 500.0);
    tickAt(19203);
    EXPECT_DOUBLE_EQ(game->play.perfectTime[transposeIndex(keyIndex + 1)], clock.highResolution + 498.0)
        << "3 song ms late is 2 real ms late";
    clock.highResolution += 520.0;
    clock.musicPosition += 780;
    pressKeyAt(static_cast<uint16_t>(game->launch.keys[keyIndex + 1]), clock.highResolution - 4.0);
    ASSERT_FALSE(game->play.presses.empty());
    EXPECT_DOUBLE_EQ(game->play.keyDowns.back().musicMs, 19977.0) << "18 real ms after 19950";
    EXPECT_DOUBLE_EQ(game->play.presses.back().offsetMs, 18.0) << "judged in real ms";
}

// Practice from bar 2, a loop of bar 2 set with the keys, two passes, then Escape: the results.
TEST_F(TplaybackTest, APracticeLoopRestartsAtItsFirstBarAndEachPassHasResults) {
    game->practice.choice.practice = true;
    game->practice.choice.startBar = 2;
    for (int beat = 0; beat < 12; ++beat) addRow(1.0 + beat * 0.5, {beat % 4});
    startPlaying(6500);
    EXPECT_EQ(game->play.nextEntry, 4u) << "bar 2 starts at the fifth row";
    tickAt(3000);
    pressKey(loopStartKey);
    tickAt(5000);
    pressKey(loopEndKey);
    EXPECT_EQ(game->practice.loop.firstBar, 2);
    EXPECT_EQ(game->practice.loop.endBar, 3);
    const double passEnd = 5000.0 + missAfterMs(game->timing);
    for (int tick = 0; tick < 6; ++tick) tickAt(static_cast<int32_t>(passEnd) - 1);
    EXPECT_TRUE(game->practice.passes.empty());
    EXPECT_EQ(game->play.nextEntry, 8u) << "no row from the loop's end on comes";
    tickAt(static_cast<int32_t>(passEnd));
    ASSERT_EQ(game->practice.passes.size(), 1u);
    EXPECT_EQ(game->practice.passes[0].markers, 4) << "the first pass runs from the start bar to the loop's end";
    EXPECT_EQ(game->play.nextEntry, 4u);
    EXPECT_EQ(game->score.noteCount, 4);
    EXPECT_EQ(game->practice.pendingTicks, (std::vector<double>{950.0, 1450.0, 1950.0, 2450.0}))
        << "a count-in tick on each heard beat of the bar before the section";
    tickAt(6500);
    EXPECT_EQ(game->practice.passes.size(), 2u) << "the song ending inside the loop loops";
    game->play.presses.push_back({panel, 4, perfect, 0.0});
    pressKey(keyEscape);
    EXPECT_TRUE(game->results.shown);
    EXPECT_EQ(game->practice.passes.size(), 3u) << "the pass in progress counts from its first judgement";
    EXPECT_EQ(keptPlayOf(*game).practice, true);
}

TEST_F(TplaybackTest, ALoopEndInTheBarOfItsStartIsRefusedWithALine) {
    game->practice.choice.practice = true;
    for (int beat = 0; beat < 12; ++beat) addRow(1.0 + beat * 0.5, {beat % 4});
    startPlaying();
    tickAt(3100);
    pressKey(loopStartKey);
    tickAt(4900);
    pressKey(loopEndKey);
    EXPECT_FALSE(game->practice.loop.set());
    EXPECT_NE(game->practice.line.find("SHORTER THAN A BAR"), std::string::npos);
}

TEST(PracticeRecords, APlayIsABestOnlyAtItsRateAndAPracticePlayNever) {
    TtemporaryFolder folder;
    const std::string path = folder.file("records.sqlite3");
    {
        TrecordsDatabase records(path);
        records.addPlay(playAt(100, 700000));
        records.addPlay(playAt(150, 800000));
        records.addPlay(playAt(150, 900000, true));
        records.addPlay(playAt(75, 850000, true));
        EXPECT_EQ(records.bestOf(std::string(64, 'a'), 0, 100).score, 700000);
        EXPECT_EQ(records.bestOf(std::string(64, 'a'), 0, 150).score, 800000);
        EXPECT_FALSE(records.bestOf(std::string(64, 'a'), 0, 75).exists);
        EXPECT_EQ(records.bests("").size(), 2u);
        const std::vector<TkeptPlay> plays = records.plays("");
        ASSERT_EQ(plays.size(), 4u);
        EXPECT_EQ(plays[0].rateHundredths, 75);
        EXPECT_TRUE(plays[0].practice);
    }
    // A file of the first schema gets the columns; its plays were full plays at 1.00x.
    sqlite3* connection = nullptr;
    sqlite3_open(path.c_str(), &connection);
    sqlite3_exec(connection,
                 "DROP TABLE ranking_submissions; ALTER TABLE plays DROP COLUMN rate; "
                 "ALTER TABLE plays DROP COLUMN practice; PRAGMA user_version = 1;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(connection);
    TrecordsDatabase reopened(path);
    const std::vector<TkeptPlay> plays = reopened.plays("");
    ASSERT_EQ(plays.size(), 4u);
    EXPECT_EQ(plays[0].rateHundredths, 100);
    EXPECT_FALSE(plays[0].practice);
}

// A press handled after a frame retired its marker in the second pass of a loop turns that miss into
// its judgement and scores the pass alone: against the section's markers, not the chart's, and
// without the first pass's judgements.
TEST_F(TplaybackTest, APressHandledLateInALoopPassRescoresThatPassOnly) {
    game->practice.choice.practice = true;
    game->practice.choice.startBar = 2;
    for (int beat = 0; beat < 12; ++beat) addRow(1.0 + beat * 0.5, {beat % 4});
    startPlaying(20000);
    tickAt(3000);
    pressKey(loopStartKey);
    tickAt(5000);
    pressKey(loopEndKey);
    tickAt(static_cast<int32_t>(5000.0 + missAfterMs(game->timing)));
    ASSERT_EQ(game->practice.passes.size(), 1u);
    ASSERT_EQ(game->play.nextEntry, 4u);
    // The pass's first row comes on, runs out on a frame, and a press made before its miss moment
    // is handled after that frame.
    for (int32_t music = 2000; game->play.nextEntry == 4u && music < 3000; ++music) tickAt(music);
    ASSERT_EQ(game->play.nextEntry, 5u);
    const int32_t panel = transposeIndex(0);
    const double missMoment = game->play.perfectTime[panel] + missAfterMs(game->timing);
    frameAt(missMoment + 2.0);
    EXPECT_EQ(game->score.counters[missScored], 1);
    pressKeyAt(static_cast<uint16_t>(game->launch.keys[0]), missMoment - 1.0);
    EXPECT_EQ(game->score.counters[bad], 1);
    EXPECT_EQ(game->score.counters[missScored], 0);
    EXPECT_EQ(game->score.noteCount, 4) << "the pass's markers";
}
