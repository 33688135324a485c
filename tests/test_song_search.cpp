// Finding songs: folding for accent- and case-free matching, chart levels, filters at their edges,
// the sort orders, and jackets scaled with their mipmap levels.
#include <gtest/gtest.h>

#include "content/jacketImage.h"
#include "content/songSearch.h"
#include "platform/store/recordsDatabase.h"

namespace {

TEST(SongSearch, FoldingDropsCaseAndAccentsAndKeepsTheRest) {
    const std::pair<std::string, std::string> cases[] = {
        {"Édith PIAF", "edith piaf"},      {"Ærøskøbing", "aeroskobing"}, {"Straße", "strasse"},
        {"Œuvre Łódź", "oeuvre lodz"},     {"Ÿ ÿ ž ſ", "y y z s"},        {"×÷", "×÷"},
        {"日本 Ω", "日本 Ω"},              {"a\xC3", "a\xC3"},            {"\xE6\x97", "\xE6\x97"},
        {"\x80x", "\x80x"},
    };
    for (const auto& [text, folded] : cases) EXPECT_EQ(foldForSearch(text), folded) << text;
}

// A name written decomposed shows as its precomposed letters; a mark on a letter the table lacks,
// or with nothing before it, is kept.
TEST(SongSearch, DecomposedLatinAccentsAreComposed) {
    const std::pair<std::string, std::string> cases[] = {
        {"Cafe\u0301", "Café"}, {"A\u0300 e\u0308 n\u0303 C\u0327 Z\u030C a\u030A", "À ë ñ Ç Ž å"},
        {"y\u0308", "ÿ"},       {"q\u0301", "q\u0301"}, {"\u0301x", "\u0301x"},
        {"e\u0301\u0301", "é\u0301"}, {"e", "e"}, {"日本", "日本"},
    };
    for (const auto& [text, composed] : cases) EXPECT_EQ(composedLatin(text), composed) << text;
}

// Names written decomposed (a letter, then its accent as a mark of its own) are found by plain
// letters; the marks' range ends where it ends: U+02FF and U+0370 are kept.
TEST(SongSearch, DecomposedAccentsFoldLikePrecomposedOnes) {
    const std::pair<std::string, std::string> cases[] = {
        {"Cafe\u0301", "cafe"}, {"E\u0300\u0327te", "ete"}, {"n\u036F", "n"},
        {"a\u02FF", "a\u02FF"},  {"a\u0370", "a\u0370"},
    };
    for (const auto& [text, folded] : cases) EXPECT_EQ(foldForSearch(text), folded) << text;
}

TEST(SongSearch, LevelsCountMarkersASecond) {
    const auto level = [](int32_t markers, double lengthMs, bool readable = true) {
        TcachedChart chart;
        chart.readable = readable;
        chart.markerCount = markers;
        chart.lengthMs = lengthMs;
        return chartLevel(chart);
    };
    EXPECT_EQ(level(999, 1000000), 1);
    EXPECT_EQ(level(1000, 1000000), 2);
    EXPECT_EQ(level(1001, 1000000), 2);
    EXPECT_EQ(level(8999, 1000000), 9);
    EXPECT_EQ(level(9000, 1000000), 10);
    EXPECT_EQ(level(50000, 1000000), 10);
    EXPECT_EQ(level(10, 0.0), 0);
    EXPECT_EQ(level(10, 1000, false), 0);
}

class SongFinding : public ::testing::Test {
protected:
    // Catalogue order: a loose song, then two groups.
    std::vector<TsongFacts> facts = {fact("", "Zebra", 5, 180.0), fact("Pack A", "Café", 3, 0.0),
                                     fact("Pack B", "apple", 7, 120.0), fact("Pack B", "Cafe", 3, 150.0)};

    static TsongFacts fact(const std::string& group, const std::string& name, int32_t level, double tempo) {
        Tsong song;
        song.group = group;
        song.name = name;
        TsongFacts facts = songFactsOf(song);
        facts.level[0] = level;
        facts.tempo[0] = tempo;
        return facts;
    }
    std::vector<int32_t> find(const TsongFinder& finder) {
        return findSongs(facts, sortedSongs(facts, finder.sort, 0), finder, 0);
    }
};

TEST_F(SongFinding, EveryWordMatchesNameOrGroupWithoutCaseOrAccents) {
    EXPECT_EQ(find({"CAFE"}), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(find({"café b"}), (std::vector<int32_t>{3}));
    EXPECT_EQ(find({"APPLE  pack"}), (std::vector<int32_t>{2}));
    EXPECT_EQ(find({"cafe x"}), (std::vector<int32_t>{}));
    EXPECT_EQ(find({""}), (std::vector<int32_t>{0, 1, 2, 3}));
}

TEST_F(SongFinding, LevelRangeAndClearMarkAtTheirEdges) {
    facts[0].level[0] = 0;  // no readable chart: hidden only by a narrowed range
    const std::tuple<int32_t, int32_t, std::vector<int32_t>> ranges[] = {
        {1, 10, {0, 1, 2, 3}}, {3, 3, {1, 3}}, {4, 10, {2}}, {2, 3, {1, 3}}, {1, 2, {}}, {7, 7, {2}}, {8, 10, {}},
    };
    for (const auto& [lowest, highest, shown] : ranges) {
        TsongFinder finder;
        finder.levelMin = lowest;
        finder.levelMax = highest;
        EXPECT_EQ(find(finder), shown) << lowest << "-" << highest;
    }
    facts[1].clear[0] = static_cast<int32_t>(TclearMark::played);
    facts[2].clear[0] = static_cast<int32_t>(TclearMark::cleared);
    facts[3].clear[0] = static_cast<int32_t>(TclearMark::fullCombo);
    const std::pair<TclearFilter, std::vector<int32_t>> clears[] = {
        {TclearFilter::notCleared, {0, 1}}, {TclearFilter::cleared, {2, 3}}, {TclearFilter::fullCombo, {3}}};
    for (const auto& [filter, shown] : clears) {
        TsongFinder finder;
        finder.clear = filter;
        EXPECT_EQ(find(finder), shown) << clearFilterName(filter);
    }
}

TEST_F(SongFinding, SortOrdersPutMissingValuesLastAndBreakTiesByName) {
    facts[2].bestScore[0] = 900000;
    facts[3].bestScore[0] = 800000;
    facts[0].lastPlayed = 20;
    facts[3].lastPlayed = 10;
    facts[1].added = 3;
    facts[2].added = 2;
    const std::pair<TsongSort, std::vector<int32_t>> orders[] = {
        {TsongSort::group, {0, 1, 2, 3}},          {TsongSort::name, {2, 1, 3, 0}},
        {TsongSort::tempo, {2, 3, 0, 1}},          {TsongSort::level, {1, 3, 0, 2}},
        {TsongSort::bestScore, {2, 3, 1, 0}},      {TsongSort::recentlyPlayed, {0, 3, 2, 1}},
        {TsongSort::recentlyAdded, {1, 2, 3, 0}},
    };
    for (const auto& [sort, order] : orders) EXPECT_EQ(sortedSongs(facts, sort, 0), order) << songSortName(sort);
}

TEST(SongSearch, FinderLineShowsOnlyWhatIsInForce) {
    TsongFinder finder;
    EXPECT_EQ(finderLines(finder, false), std::vector<std::string>{"SORT: GROUP"});
    finder.query = "abc";
    finder.sort = TsongSort::tempo;
    finder.levelMin = 3;
    finder.clear = TclearFilter::cleared;
    EXPECT_EQ(finderLines(finder, true),
              (std::vector<std::string>{"SEARCH: abc_", "SORT: TEMPO  LEVEL 3-10  CLEARED"}));
}

TEST(JacketImage, ScaledToThePowerOfTwoSideWithEveryLevelAveraged) {
    TpixelBuffer image;
    image.width = 3;
    image.height = 1;
    image.layout = TpixelLayout::rgba;
    image.pixels = {0, 0, 0, 255, 90, 90, 90, 255, 180, 180, 180, 255};
    const TjacketImage jacket = prepareJacket(image, 4);
    ASSERT_EQ(jacket.levels.size(), 3u);
    EXPECT_EQ(jacket.levels[0].size(), 4u * 4 * 4);
    EXPECT_EQ(jacket.levels[2].size(), 4u);
    EXPECT_EQ(jacket.levels[0][0], 0);        // the first column is the first pixel
    EXPECT_EQ(jacket.levels[0][3 * 4], 180);  // the last the last
    EXPECT_EQ(jacket.levels[2][0], 90);       // 1 x 1: the mean of all
    EXPECT_EQ(jacket.levels[2][3], 255);
    EXPECT_TRUE(prepareJacket(image, 3).levels.empty());
    image.pixels.pop_back();
    EXPECT_TRUE(prepareJacket(image, 4).levels.empty());
}

}  // namespace
