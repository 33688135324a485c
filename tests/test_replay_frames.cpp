// A play and its replay come to the same figures whatever frames ran between the ticks, at 1.00x
// and at other rates: misses and replaced markers are decided by the markers' own moments; and
// autoplay scores every marker of the demo charts and of autocharted drum songs perfectly at half,
// full and double speed.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "content/trellikSongDataLoader.h"
#include "engine/playJudge.h"
#include "tests/test_playback_fixture.h"
#include "tests/replay/autochartedDrumSongs.h"

namespace {

// A key-down of a scripted play, in real ms from the start of the music, and its key index.
struct TrealPress {
    double realMs;
    int32_t keyIndex;
};

// Frame times, in real ms from the start of the music: each gap is one of the given ones in turn.
struct TframeSchedule {
    std::vector<int32_t> gapsMs;
};

const TframeSchedule steadyFrames{{16}};
const TframeSchedule busyFrames{{2, 40, 6, 2, 24, 8, 60, 4}};
const TframeSchedule quickFrames{{4}};

TplayJudgement figuresOf(const TplayResults& figures) {
    return {figures.score, figures.maxCombo, figures.perfect, figures.great,
            figures.good,  figures.bad,      figures.miss};
}

// Plays on a clock far ahead of the system's, so pushed keys stay in the pusher where the test reads
// them. Ticks come every 2 real ms, where the music's clock stands on a whole song ms at 0.5x, 1x,
// 1.5x and 2x, and frames in between at their own schedule, each with the music's clock in step.
class TreplayFramesTest : public TplaybackTest {
protected:
    static constexpr double base = 1e12;
    static constexpr int32_t stepMs = 2;
    int32_t rateHundredths = 100;

    void moveTo(int32_t realMs) {
        clock.highResolution = base + realMs;
        clock.musicPosition = realMs * rateHundredths / 100;
    }

    void startFromTheTop(int32_t musicLength) {
        moveTo(0);
        game->practice.choice.rateHundredths = rateHundredths;
        startPlaying(musicLength);
    }

    // Runs the song to its results; each 2 ms the frames due, then the tick, then the key-downs due.
    template <typename DeliverKeys>
    void run(const TframeSchedule& frames, int32_t musicLength, DeliverKeys deliverKeys) {
        startFromTheTop(musicLength);
        int32_t nextFrame = 0;
        size_t gap = 0;
        for (int32_t realMs = stepMs; !game->results.shown && realMs < 10000000; realMs += stepMs) {
            for (; nextFrame <= realMs; nextFrame += frames.gapsMs[gap++ % frames.gapsMs.size()]) {
                moveTo(nextFrame);
                advancePanels(*game, clock.highResolution);
            }
            moveTo(realMs);
            playTickHandler(*game);
            deliverKeys(realMs);
        }
    }

    void play(const std::vector<TrealPress>& script, const TframeSchedule& frames, int32_t musicLength) {
        size_t next = 0;
        run(frames, musicLength, [&](int32_t realMs) {
            for (; next < script.size() && script[next].realMs <= realMs; ++next)
                pressKeyAt(static_cast<uint16_t>(game->launch.keys[script[next].keyIndex]), base + script[next].realMs);
        });
    }

    // Hands over each key-down the pusher holds once its time has come, stamped with that time as
    // the event queue would.
    void deliverPushedKeys(TkeyPusher* keys, std::set<std::pair<double, uint16_t>>& delivered) {
        if (!keys) return;
        for (const TkeyPusher::Tpending& action : keys->pending()) {
            if (action.atMs > clock.highResolution) break;
            if (action.down && delivered.insert({action.atMs, action.virtualKey}).second)
                pressKeyAt(action.virtualKey, action.atMs);
        }
    }

    void replay(const TkeptPlay& kept, const TframeSchedule& frames, int32_t musicLength) {
        game->replay.play = std::make_shared<TkeptPlay>(kept);
        game->replay.keys = std::make_unique<TkeyPusher>();
        std::set<std::pair<double, uint16_t>> delivered;
        run(frames, musicLength, [&](int32_t) { deliverPushedKeys(game->replay.keys.get(), delivered); });
    }

    void autoplay(const TframeSchedule& frames, int32_t musicLength) {
        game->autoplay = std::make_unique<TkeyPusher>();
        std::set<std::pair<double, uint16_t>> delivered;
        run(frames, musicLength, [&](int32_t) { deliverPushedKeys(game->autoplay.get(), delivered); });
    }

    // A chart of rows close together, many on one panel, and presses scattered around its markers
    // (some far from any), in real ms at the rate of the play.
    std::vector<TrealPress> scatteredPlay(uint32_t seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> gap(60, 700), keyOf(0, 15), chance(0, 15), jitter(-340, 340);
        double seconds = 3.0;
        std::vector<TrealPress> presses;
        for (int row = 0; row < 60; ++row) {
            seconds += gap(random) / 1000.0;
            // Half the rows on key 5, so markers often replace each other on its panel.
            const int first = chance(random) < 8 ? 5 : keyOf(random);
            addRow(seconds, {first});
            const double perfectRealMs = (seconds * 1000.0 - 50.0) * 100.0 / rateHundredths;
            if (chance(random) < 12) presses.push_back({perfectRealMs + jitter(random), first});
            if (chance(random) < 5) presses.push_back({perfectRealMs + jitter(random) * 2.0, keyOf(random)});
        }
        std::stable_sort(presses.begin(), presses.end(),
                         [](const TrealPress& a, const TrealPress& b) { return a.realMs < b.realMs; });
        return presses;
    }

    // Plays the chart text by autoplay to music that ends just after its last row, at each rate.
    void expectAutoplayScoresFully(const std::string& chartText, const std::string& name) {
        for (const int32_t rate : {50, 100, 200}) {
            game = std::make_unique<TtrellikGL>();
            SetUp();
            rateHundredths = rate;
            ASSERT_TRUE(loadChartFromBytes(game->chart, chartText).accepted) << name;
            ASSERT_GT(game->chart.entryCount, 0) << name;
            const ChartEntry& last = game->chart.entries[game->chart.entryCount - 1];
            autoplay(busyFrames, static_cast<int32_t>(last.time * 1000.0) + 1);
            ASSERT_TRUE(game->results.shown) << name;
            const TplayResults& figures = game->results.figures;
            EXPECT_EQ(figures.perfect, game->chart.markerCount) << name << " at " << rate;
            EXPECT_EQ(figures.score, 900000) << name << " at " << rate;
            EXPECT_EQ(figures.maxCombo, game->chart.markerCount) << name << " at " << rate;
        }
    }
};

TEST_F(TreplayFramesTest, TenScatteredPlaysReplayToTheSameFiguresAtEveryRateAndOffset) {
    const int32_t offsets[] = {-500, -300, 0, 300, 500};
    for (const int32_t rate : {50, 100, 150, 200}) {
        for (uint32_t seed = 1; seed <= 10; ++seed) {
            game = std::make_unique<TtrellikGL>();
            SetUp();
            rateHundredths = rate;
            const int32_t offset = offsets[seed % std::size(offsets)];
            game->launch.audioOffset = offset;
            std::vector<TrealPress> script = scatteredPlay(seed);
            for (TrealPress& press : script) press.realMs += offset;
            const int32_t musicLength = static_cast<int32_t>(game->chart.entries[game->chart.entryCount - 1].time * 1000) + 2000;
            play(script, seed % 2 ? steadyFrames : busyFrames, musicLength);
            ASSERT_TRUE(game->results.shown);
            const TplayJudgement played = figuresOf(game->results.figures);
            EXPECT_EQ(played.perfect + played.great + played.good + played.bad + played.miss, game->chart.markerCount);
            const TkeptPlay kept = keptPlayOf(*game);
            EXPECT_EQ(kept.rateHundredths, rate);
            if (rate == 100) {
                std::vector<TjudgePress> presses;
                for (const TkeptPress& down : kept.presses) presses.push_back({down.panel, down.musicMs});
                EXPECT_EQ(judgePlay(game->chart, game->timing, offset, presses), played) << "seed " << seed;
            }
            pressKey(keyEnter);
            game->launch.audioOffset = 0;
            game->practice.choice.rateHundredths = 100;
            replay(kept, seed % 2 ? busyFrames : quickFrames, musicLength);
            ASSERT_TRUE(game->results.shown);
            const TplayJudgement replayed = figuresOf(game->results.figures);
            EXPECT_EQ(replayed, played) << "rate " << rate << " offset " << offset << " seed " << seed << ": played "
                                        << played.score << " miss " << played.miss << " combo " << played.maxCombo
                                        << ", replayed " << replayed.score << " miss " << replayed.miss << " combo "
                                        << replayed.maxCombo;
            EXPECT_GT(played.miss, 0) << "the play should leave markers to run out";
        }
    }
}

// A press made just before, at or just after the miss moment of a marker the next row came on over,
// but handled only after a frame went past that moment: it judges the marker that was live when it
// was made, as the judge of kept plays does, however late the frame let it through.
TEST_F(TreplayFramesTest, APressHandledAfterAFrameMissedTheMarkerItWasMadeForStillJudgesIt) {
    for (const int32_t rate : {100, 200}) {
        for (const int32_t fromMissMs : {-1, 0, 1}) {
            game = std::make_unique<TtrellikGL>();
            SetUp();
            rateHundredths = rate;
            // The second row comes on 100 real ms before the first one's perfect moment, so the first
            // waits unseen; its perfect moment is 400 real ms after the first one's.
            const int32_t firstPerfectReal = 995000 / rate;
            const int32_t missMoment = firstPerfectReal + 300;
            addRow(10.0, {5});
            addRow(((firstPerfectReal + 400) * rate / 100.0 + 50.0) / 1000.0, {5});
            startFromTheTop(14000);
            for (int32_t realMs = 1; realMs <= missMoment + 2; ++realMs) {
                moveTo(realMs);
                advancePanels(*game, clock.highResolution);
                playTickHandler(*game);
            }
            pressKeyAt(static_cast<uint16_t>(game->launch.keys[5]), base + missMoment + fromMissMs);
            for (int32_t realMs = missMoment + 3; !game->results.shown && realMs < 20000; ++realMs) {
                moveTo(realMs);
                advancePanels(*game, clock.highResolution);
                playTickHandler(*game);
            }
            ASSERT_TRUE(game->results.shown);
            const TplayResults& figures = game->results.figures;
            const bool madeForTheFirst = fromMissMs <= 0;
            EXPECT_EQ(figures.bad, madeForTheFirst ? 1 : 0) << "rate " << rate << ", " << fromMissMs << " ms";
            EXPECT_EQ(figures.great, madeForTheFirst ? 0 : 1) << "rate " << rate << ", " << fromMissMs << " ms";
            EXPECT_EQ(figures.miss, 1) << "rate " << rate << ", " << fromMissMs << " ms";
            if (rate != 100) continue;
            std::vector<TjudgePress> presses;
            for (const TkeptPress& down : keptPlayOf(*game).presses) presses.push_back({down.panel, down.musicMs});
            EXPECT_EQ(judgePlay(game->chart, game->timing, 0, presses), figuresOf(figures)) << fromMissMs << " ms";
        }
    }
}

// A press made between two other panels' miss moments but handled after a frame past both: the
// combo runs as the moments came (miss, press, miss), not as they were handled, so the play's longest
// combo is the judge's and its replay's, whatever frames ran.
TEST_F(TreplayFramesTest, APressHandledLateCountsInTheComboWhereItWasMade) {
    for (const int32_t secondMissAfterPressMs : {-1, 1}) {
        game = std::make_unique<TtrellikGL>();
        SetUp();
        rateHundredths = 100;
        // Misses at 10250 and at the press's moment plus or minus 1 ms; the press is perfect at 10252.
        addRow(10.0, {3});
        addRow(10.002 + secondMissAfterPressMs / 1000.0, {0});
        addRow(10.302, {5});
        for (const double seconds : {11.0, 11.5, 12.0}) addRow(seconds, {6});
        startFromTheTop(14000);
        const auto runTo = [&](int32_t untilMs, int32_t fromMs) {
            for (int32_t realMs = fromMs; realMs <= untilMs && !game->results.shown; ++realMs) {
                moveTo(realMs);
                advancePanels(*game, clock.highResolution);
                playTickHandler(*game);
            }
        };
        runTo(10256, 1);
        pressKeyAt(static_cast<uint16_t>(game->launch.keys[5]), base + 10252);
        int32_t at = 10257;
        for (const double perfectReal : {10950.0, 11450.0, 11950.0}) {
            runTo(static_cast<int32_t>(perfectReal), at);
            pressKeyAt(static_cast<uint16_t>(game->launch.keys[6]), base + perfectReal);
            at = static_cast<int32_t>(perfectReal) + 1;
        }
        runTo(20000, at);
        ASSERT_TRUE(game->results.shown);
        const TplayResults& figures = game->results.figures;
        EXPECT_EQ(figures.perfect, 4) << secondMissAfterPressMs;
        EXPECT_EQ(figures.miss, 2) << secondMissAfterPressMs;
        EXPECT_EQ(figures.maxCombo, secondMissAfterPressMs > 0 ? 3 : 4) << secondMissAfterPressMs << " ms";
        std::vector<TjudgePress> presses;
        for (const TkeptPress& down : keptPlayOf(*game).presses) presses.push_back({down.panel, down.musicMs});
        EXPECT_EQ(judgePlay(game->chart, game->timing, 0, presses), figuresOf(figures)) << secondMissAfterPressMs;
    }
}

// A marker whose miss moment falls just before, at or just after the moment the next row on its
// panel comes on: missed all the same, whether frames ran often, seldom or never.
TEST_F(TreplayFramesTest, AMarkerTheNextRowComesOverIsMissedWhateverFramesRan) {
    const TframeSchedule schedules[] = {{{2}}, {{16}}, {{50}}, {{10000000}}};
    for (const int32_t rate : {100, 150}) {
        for (const int32_t apartMs : {-2, 0, 2}) {
            for (const TframeSchedule& frames : schedules) {
                game = std::make_unique<TtrellikGL>();
                SetUp();
                rateHundredths = rate;
                // The first row's marker runs out 300 real ms after its perfect moment; the second row
                // on the same panel comes on 500 real ms before its own.
                const double firstPerfectReal = (10000.0 - 50.0) * 100.0 / rate;
                const double secondPerfectReal = firstPerfectReal + 300.0 + 500.0 + apartMs;
                const double secondTime = (secondPerfectReal * rate / 100.0 + 50.0) / 1000.0;
                addRow(10.0, {5});
                addRow(secondTime, {5});
                play({}, frames, 14000);
                ASSERT_TRUE(game->results.shown);
                EXPECT_EQ(game->results.figures.miss, 2)
                    << "rate " << rate << ", miss moment " << apartMs << " ms before the next row, frames every "
                    << frames.gapsMs[0] << " ms";
            }
        }
    }
}

// Every demo chart, autoplayed to the end of music that stops just after its last row: every marker
// is judged perfect at 0.5x, 1x and 2x, also where markers on one panel come closer together than
// the approach and where the music ends.
TEST_F(TreplayFramesTest, AutoplayScoresEveryDemoChartFullyAtHalfFullAndDoubleSpeed) {
    const std::string demoSongs = std::string(TRELLIK_BINARY_DIR) + "/stockpack/demo/sng";
    if (!std::filesystem::is_directory(demoSongs)) GTEST_SKIP() << "the build made no stock pack";
    int32_t charts = 0;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(demoSongs)) {
        if (entry.path().extension() != ".txt") continue;
        ++charts;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        expectAutoplayScoresFully(text, entry.path().filename().string());
    }
    EXPECT_GT(charts, 0);
}

// Autochart's three charts of drum songs like the batch benchmark's, at a slow and a fast tempo.
TEST_F(TreplayFramesTest, AutoplayScoresAutochartsOfDrumSongsFullyAtHalfFullAndDoubleSpeed) {
    for (const TautochartedChart& chart : autochartedDrumSongCharts()) expectAutoplayScoresFully(chart.text, chart.name);
}

// Jacks as an autochart writes them on a busy song: runs of one panel closer together than the
// approach (down to 30 song ms), chords across them, and the last row at the end of the music.
TEST_F(TreplayFramesTest, AutoplayScoresDenseJacksFullyAtHalfFullAndDoubleSpeed) {
    for (const int32_t rate : {50, 100, 200}) {
        game = std::make_unique<TtrellikGL>();
        SetUp();
        rateHundredths = rate;
        double seconds = 3.0;
        for (int run = 0; run < 12; ++run) {
            const double gapSeconds = 0.03 + 0.02 * run;
            for (int step = 0; step < 8; ++step) {
                seconds += gapSeconds;
                if (step % 3 == 0) addRow(seconds, {run % 16, (run + 5) % 16});
                else addRow(seconds, {run % 16});
            }
        }
        autoplay(busyFrames, static_cast<int32_t>(seconds * 1000.0) + 1);
        ASSERT_TRUE(game->results.shown);
        const TplayResults& figures = game->results.figures;
        EXPECT_EQ(figures.perfect, game->chart.markerCount) << "rate " << rate;
        EXPECT_EQ(figures.score, 900000) << "rate " << rate;
        EXPECT_EQ(figures.maxCombo, game->chart.markerCount) << "rate " << rate;
    }
}

// With a positive audio offset the player hears a marker on the song's last beat after the music's
// clock has stopped: the play goes on until it is judged or missed, so autoplay scores it perfect at
// any offset and rate, and a press at its miss moment still judges it where one after does not.
TEST_F(TreplayFramesTest, MarkersHeardAfterTheMusicsClockStoppedCanStillBePressed) {
    for (const int32_t rate : {50, 100, 200}) {
        for (const int32_t offset : {-500, -300, 0, 1, 300, 500}) {
            game = std::make_unique<TtrellikGL>();
            SetUp();
            rateHundredths = rate;
            game->launch.audioOffset = offset;
            addRow(9.0, {0});
            addRow(9.6, {5});
            addRow(10.0, {5, 6});
            autoplay(busyFrames, 10001);
            ASSERT_TRUE(game->results.shown);
            EXPECT_EQ(game->results.figures.perfect, 4) << "rate " << rate << ", offset " << offset;
            EXPECT_EQ(game->results.figures.score, 900000) << "rate " << rate << ", offset " << offset;
        }
    }
    for (const int32_t fromMissMs : {-1, 0, 1}) {
        game = std::make_unique<TtrellikGL>();
        SetUp();
        rateHundredths = 100;
        game->launch.audioOffset = 300;
        addRow(10.0, {5});
        // Its perfect moment is 9950 real ms plus the offset; it runs out 300 ms later.
        play({{9950.0 + 300.0 + 300.0 + fromMissMs, 5}}, steadyFrames, 10000);
        ASSERT_TRUE(game->results.shown);
        EXPECT_EQ(game->results.figures.bad, fromMissMs <= 0 ? 1 : 0) << fromMissMs << " ms";
        EXPECT_EQ(game->results.figures.miss, fromMissMs <= 0 ? 0 : 1) << fromMissMs << " ms";
    }
}

// Markers at the very end of the song, and one whose row the music never reaches, are missed at its
// end whatever the rate: every marker is judged or missed.
TEST_F(TreplayFramesTest, MarkersTheMusicEndsOnAreMissedNotLost) {
    for (const int32_t rate : {50, 100, 200}) {
        for (const int32_t musicLength : {9999, 10000, 10001, 12000}) {
            game = std::make_unique<TtrellikGL>();
            SetUp();
            rateHundredths = rate;
            addRow(9.0, {0});
            addRow(10.0, {1, 2});
            addRow(12.5, {3});
            play({}, steadyFrames, musicLength);
            ASSERT_TRUE(game->results.shown);
            EXPECT_EQ(game->results.figures.miss, 4) << "rate " << rate << ", music of " << musicLength << " ms";
        }
    }
}

}  // namespace
