// The results after a song: figures from the press log, the suggested offset and the way back.
#include <utility>
#include <vector>

#include "engine/playResults.h"
#include "platform/input/pointerPresses.h"
#include "tests/test_playback_fixture.h"

namespace {

TpressRecord pressAt(double offsetMs, uint8_t judgement = perfect) {
    return {0, 0, judgement, offsetMs};
}

}  // namespace

TEST(PlayResults, CountsEarlyAndLateMeanMedianAndSpreadFromThePressLog) {
    ScoreControl score;
    score.reset(6);
    for (const uint8_t judgement : {perfect, perfect, great, good, bad, missScored}) score.apply(judgement);
    const std::vector<TpressRecord> presses = {pressAt(-20.0), pressAt(0.2),           pressAt(30.0, great),
                                               pressAt(8.0),   pressAt(250.0, bad),     pressAt(0.0, missScored)};
    const TplayResults results = playResultsOf(score, presses);
    EXPECT_EQ(results.perfect, 2);
    EXPECT_EQ(results.great, 1);
    EXPECT_EQ(results.good, 1);
    EXPECT_EQ(results.bad, 1);
    EXPECT_EQ(results.miss, 1);
    EXPECT_EQ(results.maxCombo, 4);
    EXPECT_EQ(results.pressCount, 5) << "a miss is no press";
    EXPECT_EQ(results.early, 1);
    EXPECT_EQ(results.late, 3) << "0.2 ms rounds to the beat: neither early nor late";
    EXPECT_DOUBLE_EQ(results.meanMs, (-20.0 + 0.2 + 30.0 + 8.0 + 250.0) / 5);
    EXPECT_DOUBLE_EQ(results.medianMs, 8.0);
    EXPECT_DOUBLE_EQ(results.medianDeviationMs, 22.0);
}

TEST(PlayResults, EarlyAndLateBeginExactlyHalfAMsOffTheBeat) {
    ScoreControl score;
    const TplayResults edges = playResultsOf(score, {pressAt(-0.5), pressAt(0.5)});
    EXPECT_EQ(edges.early, 1);
    EXPECT_EQ(edges.late, 1);
    const TplayResults inside = playResultsOf(score, {pressAt(-0.49), pressAt(0.49)});
    EXPECT_EQ(inside.early, 0);
    EXPECT_EQ(inside.late, 0);
    const TplayResults outside = playResultsOf(score, {pressAt(-0.51), pressAt(0.51)});
    EXPECT_EQ(outside.early, 1);
    EXPECT_EQ(outside.late, 1);
}

TEST(PlayResults, MedianAndSpreadOfAnEvenCountAreTheMeanOfTheTwoMiddleValues) {
    const TspreadFigures figures = medianAndSpread({10.0, 1.0, 4.0, 2.0});
    EXPECT_DOUBLE_EQ(figures.median, 3.0);
    EXPECT_DOUBLE_EQ(figures.medianDeviation, 1.5) << "deviations 7, 1, 1, 2";
}

TEST(PlayResults, HistogramBinsAreTenMsFromMinus300ToPlus300) {
    const std::vector<std::pair<double, int32_t>> cases = {
        {-300.0, 0}, {-290.1, 0}, {-0.1, 29}, {0.0, 30}, {9.99, 30}, {299.9, 59}, {300.0, 59}, {300.1, -1}, {-300.1, -1}};
    for (const auto& [offset, bin] : cases) EXPECT_EQ(histogramBinOf(offset), bin) << offset;
    ScoreControl score;
    const TplayResults results = playResultsOf(score, {pressAt(-0.1), pressAt(0.0), pressAt(5.0)});
    EXPECT_EQ(results.histogram[29], 1);
    EXPECT_EQ(results.histogram[30], 2);
}

TEST(PlayResults, SuggestsTheMedianOnlyWhenItIsMoreThanTenMsOff) {
    ScoreControl score;
    TplayResults results = playResultsOf(score, {pressAt(14.2), pressAt(13.0), pressAt(15.0)});
    EXPECT_EQ(suggestedOffsetChange(results), 14);
    EXPECT_EQ(suggestionLine(14, 12), "Presses were 14 ms late on average \xE2\x80\x94 press key 12 to add it to the audio offset");
    EXPECT_EQ(suggestionLine(-40, 12), "Presses were 40 ms early on average \xE2\x80\x94 press key 12 to add it to the audio offset");
    results = playResultsOf(score, {pressAt(-10.0), pressAt(-9.0)});
    EXPECT_EQ(suggestedOffsetChange(results), 0);
    EXPECT_EQ(suggestionLine(0, 12), "");
    EXPECT_EQ(suggestedOffsetChange(playResultsOf(score, {})), 0);
}

class TresultsScene : public TplaybackTest {
protected:
    std::vector<std::pair<int32_t, int32_t>> saved;

    // A song of two markers on key index 1, each pressed 70 ms before its beat as heard with an
    // audio offset of 100 (30 ms after the beat without it), that plays to its end.
    void playToTheEnd() {
        game->launch.saveOffsets = [this](int32_t audio, int32_t visual) { saved.emplace_back(audio, visual); };
        addRow(10.0, {1});
        addRow(11.0, {1});
        startPlaying(20000);
        for (const int32_t position : {9550, 10550}) {
            tickAt(position);
            const double perfectTime = game->play.perfectTime[transposeIndex(1)];
            frameAt(perfectTime - 70);
            pressKey('5');
        }
        tickAt(20000);
    }
};

TEST_F(TresultsScene, TheSuggestionKeyAddsTheMedianToTheAudioOffsetAndKeepsItAtOnce) {
    game->launch.audioOffset = 100;
    game->launch.visualOffset = -7;
    playToTheEnd();
    ASSERT_TRUE(game->results.shown);
    EXPECT_EQ(game->results.figures.early, 2);
    EXPECT_EQ(game->results.figures.great, 2);
    EXPECT_EQ(game->results.suggestion, -70) << "the presses were 70 ms early of the shifted beat";
    clock.highResolution += 1000.0;
    pressKey(game->launch.keys[suggestionKeyNumber - 1]);
    EXPECT_EQ(game->launch.audioOffset, 30);
    EXPECT_EQ(saved, (std::vector<std::pair<int32_t, int32_t>>{{30, -7}}));
    pressKey(game->launch.keys[suggestionKeyNumber - 1]);
    EXPECT_EQ(saved.size(), 1u) << "a suggestion is taken once";
    EXPECT_TRUE(game->results.shown);
    pressKey(game->launch.keys[15]);
    EXPECT_FALSE(game->results.shown);
    EXPECT_TRUE(backInSongSelect());
}

TEST_F(TresultsScene, EscapeDuringTheSongSkipsTheResults) {
    addRow(10.0, {1});
    startPlaying(20000);
    pressKey(keyEscape);
    EXPECT_FALSE(game->results.shown);
    EXPECT_TRUE(backInSongSelect());
}

// The last presses of a song reach the results: panel keys wait a second after the scene came, and
// a key pressed before it came (its event handled only now) belongs to the play.
TEST_F(TresultsScene, PanelKeysWaitASecondAndThePlaysOwnPressesNeverCount) {
    game->launch.audioOffset = 100;
    playToTheEnd();
    ASSERT_TRUE(game->results.shown);
    const double shownAt = clock.highResolution;
    const auto suggestionKey = static_cast<uint16_t>(game->launch.keys[suggestionKeyNumber - 1]);
    const auto continueKey = static_cast<uint16_t>(game->launch.keys[15]);
    clock.highResolution = shownAt + 999.0;
    pressKey(suggestionKey);
    pressKey(continueKey);
    EXPECT_TRUE(saved.empty());
    EXPECT_TRUE(game->results.shown);
    clock.highResolution = shownAt + 2000.0;
    pressKeyAt(keyEnter, shownAt - 1.0);
    EXPECT_TRUE(game->results.shown) << "Enter pressed during the song";
    pressKeyAt(suggestionKey, shownAt + 1000.0);
    EXPECT_EQ(saved.size(), 1u);
    pressKeyAt(keyEnter, shownAt);
    EXPECT_FALSE(game->results.shown);
}

// A click on the results (the histogram lies where the grid is in play) presses no panel's key.
TEST_F(TresultsScene, AClickOnTheResultsHitsNoPanel) {
    game->depth = -7.0;
    for (int32_t panel = 0; panel < 16; ++panel) {
        game->panels[panel].x = (panel / 4) * 1.4 - 2.1;
        game->panels[panel].y = 2.1 - (panel % 4) * 1.4;
    }
    const TpanelGrid grid = panelGridOf(*game, 800, 600);
    const int32_t suggestionPanel = transposeIndex(suggestionKeyNumber - 1);
    double x = 0.0;
    double y = 0.0;
    windowPointOf(grid, game->panels[suggestionPanel].x, game->panels[suggestionPanel].y, x, y);
    ASSERT_EQ(panelKeyOnGrid(*game, grid, x, y), game->launch.keys[suggestionKeyNumber - 1] & 0xFFFF) << "in play";
    game->launch.audioOffset = 100;
    playToTheEnd();
    ASSERT_TRUE(game->results.shown);
    EXPECT_EQ(panelKeyOnGrid(*game, grid, x, y), -1);
}
