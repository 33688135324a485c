// A whole play judged after the fact comes to the figures the game gave the same presses.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/playJudge.h"
#include "tests/test_playback_fixture.h"

namespace {

// A row at 10 s on key index 1, which lies on panel 4; its perfect moment is 9950 ms.
constexpr int keyIndex = 1;
constexpr int panel = 4;
constexpr double perfectMs = 9950.0;

TplayJudgement figuresOf(const ScoreControl& score) {
    return {score.displayScore(), score.maxCombo,          score.counters[perfect], score.counters[great],
            score.counters[good], score.counters[bad], score.counters[missScored]};
}

std::vector<TjudgePress> judgePressesOf(const std::vector<TkeptPress>& keyDowns) {
    std::vector<TjudgePress> presses;
    for (const TkeptPress& down : keyDowns) presses.push_back({down.panel, down.musicMs});
    return presses;
}

class TplayJudgeTest : public TplaybackTest {
protected:
    double base = 0.0;

    // Plays the presses through the engine: a tick every ms of music, frames every quarter ms, each
    // press handled at the first tick at or after it, and on until every marker has run out.
    void playThroughEngine(std::vector<TjudgePress> presses, int32_t audioOffset = 0) {
        std::stable_sort(presses.begin(), presses.end(),
                         [](const TjudgePress& a, const TjudgePress& b) { return a.musicMs < b.musicMs; });
        game->launch.audioOffset = audioOffset;
        base = clock.highResolution;
        startPlaying(10000000);
        const double lastRow = game->chart.entries[game->chart.entryCount - 1].time * 1000.0;
        const int32_t end = static_cast<int32_t>(lastRow) + audioOffset + 1000;
        size_t next = 0;
        for (int32_t music = 1; music <= end; ++music) {
            for (const double quarter : {0.25, 0.5, 0.75}) frameAt(base + music - 1 + quarter);
            clock.musicPosition = music;
            clock.highResolution = base + music;
            playTickHandler(*game);
            for (; next < presses.size() && presses[next].musicMs <= music; ++next) pressPanelAt(presses[next]);
            frameAt(base + music);
        }
    }

    // As above, but the loop stalls (no tick, no frame) from stallFrom up to stallTo, and from
    // driftFrom on the music's clock reads drift ms ahead of the frame clock.
    void playWithStallAndDrift(const TjudgePress& press, int32_t stallFrom, int32_t stallTo, int32_t driftFrom,
                               double drift) {
        base = clock.highResolution;
        startPlaying(10000000);
        bool pressed = false;
        for (int32_t music = 1; music <= 11500; ++music) {
            clock.musicPosition = music + (music >= driftFrom ? drift : 0.0);
            clock.highResolution = base + music;
            if (music >= stallFrom && music < stallTo) continue;
            // The key's event is handled before the tick that was due with it.
            if (!pressed && music > press.musicMs) pressPanelAt(press);
            pressed = pressed || music > press.musicMs;
            playTickHandler(*game);
            frameAt(base + music);
        }
    }

    void pressPanelAt(const TjudgePress& press) {
        pressKeyAt(static_cast<uint16_t>(game->launch.keys[transposeIndex(press.panel)]), base + press.musicMs);
    }

    // The game's figures, and the judge's from the key-downs the game kept, which must agree.
    TplayJudgement expectJudgeAgrees() {
        const TplayJudgement played = figuresOf(game->score);
        const TplayJudgement judged = judgePlay(game->chart, game->timing, game->launch.audioOffset,
                                                judgePressesOf(game->play.keyDowns));
        EXPECT_EQ(judged, played) << "judged score " << judged.score << " combo " << judged.maxCombo << " miss "
                                  << judged.miss << "; played score " << played.score << " combo "
                                  << played.maxCombo << " miss " << played.miss;
        return judged;
    }
};

// Each window's edge belongs to the better judgement; one ms further is the next one, past the
// bad window nothing, and the marker is missed.
TEST_F(TplayJudgeTest, WindowEdgesAndOneMsEitherSideJudgeAsInTheGame) {
    const std::vector<std::pair<double, PanelState>> cases = {
        {-301, missScored}, {-300, bad}, {-299, bad},   {-201, bad},       {-200, good},    {-199, good},
        {-101, good},       {-100, great}, {-99, great}, {-51, great},     {-50, perfect},  {-49, perfect},
        {0, perfect},       {49, perfect}, {50, perfect}, {51, great},     {99, great},     {100, great},
        {101, good},        {199, good},  {200, good},   {201, bad},       {299, bad},      {300, bad},
        {301, missScored}};
    for (const auto& [relative, expected] : cases) {
        game = std::make_unique<TtrellikGL>();
        SetUp();
        addRow(10.0, {keyIndex});
        playThroughEngine({{panel, perfectMs + relative}});
        const TplayJudgement judged = expectJudgeAgrees();
        const int32_t counts[] = {judged.perfect, judged.great, judged.good, judged.bad, judged.miss};
        const PanelState states[] = {perfect, great, good, bad, missScored};
        for (size_t index = 0; index < 5; ++index)
            EXPECT_EQ(counts[index], states[index] == expected ? 1 : 0) << "press at " << relative;
    }
}

TEST_F(TplayJudgeTest, TheAudioOffsetMovesTheBeatForTheJudgeAsForTheGame) {
    for (const int32_t audioOffset : {-500, -1, 0, 1, 137, 500}) {
        game = std::make_unique<TtrellikGL>();
        SetUp();
        addRow(10.0, {keyIndex});
        addRow(11.0, {keyIndex, 6});
        playThroughEngine({{panel, perfectMs + audioOffset + 50}, {panel, perfectMs + audioOffset + 1051}},
                          audioOffset);
        const TplayJudgement judged = expectJudgeAgrees();
        EXPECT_EQ(judged.perfect, 1) << "offset " << audioOffset;
        EXPECT_EQ(judged.great, 1) << "offset " << audioOffset;
        EXPECT_EQ(judged.miss, 1) << "offset " << audioOffset;
    }
}

// Presses between markers judge nothing; a marker the next row came on over stays live until its miss
// moment and is missed then; a press judges the oldest live marker of its panel.
TEST_F(TplayJudgeTest, PressesBetweenMarkersAndMarkersReplacedOnTheirPanel) {
    addRow(10.0, {keyIndex});
    addRow(10.25, {keyIndex});
    addRow(11.0, {keyIndex, 0});
    addRow(11.85, {keyIndex});
    addRow(12.7, {keyIndex});
    addRow(14.0, {keyIndex});
    playThroughEngine({{panel, 9000},
                       {panel, 9699.5},
                       {0, 10500},
                       {panel, 10950},
                       {panel, 10960},
                       {panel, 13000},
                       {panel, 13620},
                       {panel, 13950.5}});
    const TplayJudgement judged = expectJudgeAgrees();
    EXPECT_EQ(judged.perfect, 2);
    EXPECT_EQ(judged.bad, 1);
    EXPECT_EQ(judged.miss, 4);
}

// Random charts and presses, many on one panel close together and near the windows' edges.
TEST_F(TplayJudgeTest, RandomPlaysComeToTheGamesFigures) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        game = std::make_unique<TtrellikGL>();
        SetUp();
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> gap(1, 700), keyOf(0, 15), extra(0, 2), jitter(-330, 330);
        double seconds = 3.0;
        std::vector<TjudgePress> presses;
        for (int row = 0; row < 40; ++row) {
            seconds += gap(random) / 1000.0;
            const int first = keyOf(random);
            const int second = (first + 1 + extra(random)) % 16;
            addRow(std::round(seconds * 1000.0) / 1000.0, {first, second});
            const double perfectAt = std::round(seconds * 1000.0) - 50.0;
            if (keyOf(random) < 12) presses.push_back({transposeIndex(first), perfectAt + jitter(random)});
            if (keyOf(random) < 6) presses.push_back({keyOf(random), perfectAt + jitter(random)});
        }
        playThroughEngine(presses, seed % 3 == 0 ? 25 : 0);
        expectJudgeAgrees();
    }
}

// Combo runs in the order things happened: a miss breaks it only for judgements after it.
TEST(PlayJudge, AMissAtTheSameMomentAsAPressComesAfterIt) {
    auto chart = std::make_unique<TsongParser>();
    chart->entryCount = 3;
    chart->markerCount = 3;
    chart->entries[0] = {9.0, 120.0, {0, 0, 1}};
    chart->entries[1] = {10.0, 120.0, {1}};
    chart->entries[2] = {10.3, 120.0, {0, 1}};
    const TtimingConstants timing;
    // Panel 8's marker is pressed, panel 0's is missed at 9950 + 300, and panel 4's is pressed around then.
    for (const auto& [pressedAt, maxCombo] : {std::pair{10249.0, 2}, {10250.0, 2}, {10251.0, 1}}) {
        const TplayJudgement judged = judgePlay(*chart, timing, 0, {{8, 8950.5}, {4, pressedAt}});
        EXPECT_EQ(judged.maxCombo, maxCombo) << "pressed at " << pressedAt;
        EXPECT_EQ(judged.miss, 1);
        EXPECT_EQ(judged.perfect, 2);
    }
}

// The next row on a panel comes on 500 ms before its beat, over the marker before it, which stays
// live: a press judges that older marker up to its miss moment, and the newer one after it.
TEST_F(TplayJudgeTest, APressJudgesTheOldestLiveMarkerOfItsPanel) {
    struct {
        double pressedAt;
        int32_t bad, great, miss;
    } const cases[] = {
        {9699.0, 1, 0, 1}, {9700.0, 1, 0, 1}, {9701.0, 1, 0, 1},
        {10249.0, 1, 0, 1}, {10250.0, 1, 0, 1}, {10251.0, 0, 1, 1},
    };
    for (const auto& c : cases) {
        game = std::make_unique<TtrellikGL>();
        SetUp();
        addRow(10.0, {keyIndex});
        addRow(10.25, {keyIndex});
        playThroughEngine({{panel, c.pressedAt}});
        const TplayJudgement judged = expectJudgeAgrees();
        EXPECT_EQ(judged.bad, c.bad) << "pressed at " << c.pressedAt;
        EXPECT_EQ(judged.great, c.great) << "pressed at " << c.pressedAt;
        EXPECT_EQ(judged.miss, c.miss) << "pressed at " << c.pressedAt;
    }
}

// A stall that holds back the tick bringing a row on, or a music clock that runs apart from the
// frame clock, leaves the game's judgement where the kept presses put it.
TEST_F(TplayJudgeTest, StallsAndClockDriftJudgeAsTheKeptPressesDo) {
    struct {
        int32_t stallFrom, stallTo, driftFrom;
        double drift, pressedAt;
        PanelState expected;
    } const cases[] = {
        // The row comes on at 9450; the press at its perfect moment is handled when the stall ends.
        {9400, 9952, 20000, 0.0, 9950.0, perfect},
        {9400, 10252, 20000, 0.0, 10250.0, bad},
        // The music's clock jumps 20 ms ahead after the row came on: the press is judged as the
        // player made it on the frame clock, and kept where that judgement puts it.
        {0, 0, 9700, 20.0, 9999.0, perfect},
        {0, 0, 9700, 20.0, 10000.0, perfect},
        {0, 0, 9700, 20.0, 10001.0, great},
        // A press the game left unjudged stays unjudged however far the music's clock wandered:
        // just past the bad window while the music lags, just before it while the music runs
        // ahead, and after the marker ran out on a music clock still inside its life.
        {0, 0, 9700, -150.0, 10250.0, bad},
        {0, 0, 9700, -150.0, 10251.0, missScored},
        {0, 0, 9500, 150.0, 9650.0, bad},
        {0, 0, 9500, 150.0, 9649.0, missScored},
        {0, 0, 9700, -150.0, 10360.0, missScored},
    };
    for (const auto& c : cases) {
        game = std::make_unique<TtrellikGL>();
        SetUp();
        addRow(10.0, {keyIndex});
        playWithStallAndDrift({panel, c.pressedAt}, c.stallFrom, c.stallTo, c.driftFrom, c.drift);
        const TplayJudgement judged = expectJudgeAgrees();
        const int32_t counts[] = {judged.perfect, judged.great, judged.good, judged.bad, judged.miss};
        const PanelState states[] = {perfect, great, good, bad, missScored};
        for (size_t index = 0; index < 5; ++index)
            EXPECT_EQ(counts[index], states[index] == c.expected ? 1 : 0) << "press at " << c.pressedAt;
    }
}

TEST(PlayJudge, PressesOffTheGridAreLeftOut) {
    auto chart = std::make_unique<TsongParser>();
    chart->entryCount = 1;
    chart->markerCount = 1;
    chart->entries[0] = {10.0, 120.0, {1}};
    const TplayJudgement judged = judgePlay(*chart, TtimingConstants{}, 0, {{-1, 9950}, {16, 9950}});
    EXPECT_EQ(judged.miss, 1);
    EXPECT_EQ(judged.score, 0);
}

}  // namespace
