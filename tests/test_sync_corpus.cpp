// The beat analysis on songs rendered from MIDI with real instruments: the tempo a person taps, beats
// on the beat, and what it reports about the fit.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>

#include "content/trellikSongDataLoader.h"
#include "tests/support/testSupport.h"
#include "tools/autochart.h"
#include "tools/beatSync.h"
#include "tools/syncCorpus.h"

namespace {

const TsyncCorpus& corpus() {
    static const TsyncCorpus loaded = loadSyncCorpus("test", std::string(TRELLIK_BINARY_DIR) + "/syncCorpus/test");
    return loaded;
}

const TsongAnalysis& analysisOf(const TcorpusSong& song) {
    static std::map<std::string, TsongAnalysis> analyses;
    auto found = analyses.find(song.name);
    if (found != analyses.end()) return found->second;
    TsongAudio audio;
    EXPECT_EQ(readSongAudio(song.path, audio), "") << song.name;
    return analyses.emplace(song.name, analyseSong(audio.mono)).first->second;
}

// Steady from the first note (a free-time intro has no tempo to compare with).
std::vector<TcorpusSong> songsOfKind(const std::string& kind) {
    std::vector<TcorpusSong> songs;
    for (const TcorpusSong& song : corpus().songs) {
        if (song.kind == kind) songs.push_back(song);
    }
    return songs;
}

std::vector<TcorpusSong> steadySongs() {
    std::vector<TcorpusSong> songs;
    for (const TcorpusSong& song : corpus().songs) {
        if (song.steady() && !song.name.starts_with("freeintro")) songs.push_back(song);
    }
    return songs;
}

// Sustained strings sound between their plucked notes, so few onsets stand out on the grid.
bool hasSharpAttacks(const TcorpusSong& song) { return song.style != "strings"; }

// How exactly the first beat can be placed: a strum spreads its six strings over 35 ms.
double firstBeatTolerance(const TcorpusSong& song) { return song.style == "guitar" ? 0.010 : 0.005; }

// Renders the corpus on first use; the sanitizer build leaves it to the main build.
class SyncCorpus : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef TRELLIK_SKIP_SYNC_CORPUS
        GTEST_SKIP() << "the rendered corpus is checked in the main build only";
#endif
        }
};

}  // namespace

TEST_F(SyncCorpus, RendersTheSongsWithTheirTruth) {
    EXPECT_GE(steadySongs().size(), 10u);
    EXPECT_NEAR(corpus().renderDelaySeconds, 0.0, 0.02);
}

// Hip-hop at 70, four-on-the-floor at 76 and one-drops at 72 and 113.4 are not doubled, punk at 200 and
// swing at 150 and 196 not halved, ballads without drums not doubled.
TEST_F(SyncCorpus, CountsSteadySongsAtTheTempoAPersonTaps) {
    for (const TcorpusSong& song : steadySongs()) {
        const TbeatGrid& grid = analysisOf(song).grid;
        EXPECT_NEAR(grid.bpm, song.bpm(), 0.02) << song.name;
    }
}

TEST_F(SyncCorpus, OffersEveryTappableTempoAsAnAlternative) {
    for (const TcorpusSong& song : steadySongs()) {
        const TbeatGrid& grid = analysisOf(song).grid;
        ASSERT_FALSE(grid.alternatives.empty()) << song.name;
        EXPECT_DOUBLE_EQ(grid.alternatives.front().bpm, grid.bpm) << song.name;
        double total = 0, truthScore = -1;
        for (const TtempoAlternative& alternative : grid.alternatives) {
            total += alternative.score;
            if (std::fabs(alternative.bpm - song.bpm()) < 0.1) truthScore = alternative.score;
        }
        EXPECT_NEAR(total, 1.0, 1e-9) << song.name;
        EXPECT_GE(truthScore, 0.0) << song.name << ": " << song.bpm() << " BPM is not offered";
    }
}

// The first beat lies on a true beat, not between two: the one-drop's kick is on the third beat,
// its skank between the beats. Plucked strings swell for 50 ms: their beat is the foot of the swell.
TEST_F(SyncCorpus, PutsTheFirstBeatOnABeatNotBetween) {
    for (const TcorpusSong& song : steadySongs()) {
        const TbeatGrid& grid = analysisOf(song).grid;
        EXPECT_LE(song.distanceToBeat(grid.firstBeat), firstBeatTolerance(song))
            << song.name << " first beat at " << grid.firstBeat;
        // Within the first bar of the music (a pickup comes before it, a count-in is part of it).
        EXPECT_LE(grid.firstBeat - song.firstBeat(), 4 * 60.0 / song.bpm()) << song.name;
    }
}

// A steady grid that hits most strong onsets is confident and stable, whatever the style.
TEST_F(SyncCorpus, SteadySongsAreConfidentAndStable) {
    for (const TcorpusSong& song : steadySongs()) {
        const TbeatGrid& grid = analysisOf(song).grid;
        EXPECT_TRUE(grid.tempoStable) << song.name << ": " << grid.largestDeviationMs << " ms";
        if (hasSharpAttacks(song)) {
            EXPECT_GE(grid.confidence, 0.4) << song.name;
        }
    }
}

TEST_F(SyncCorpus, TempoChangesAndDriftAreUnstable) {
    for (const TcorpusSong& song : corpus().songs) {
        if (song.steady()) continue;
        const TbeatGrid& grid = analysisOf(song).grid;
        EXPECT_FALSE(grid.tempoStable) << song.name;
        EXPECT_GT(grid.largestDeviationMs, 25.0) << song.name;
    }
}

// Piano chords in free time before the band: no beat there, so nothing to hold against the tempo.
TEST_F(SyncCorpus, AnIntroWithoutABeatIsReportedAndLeftOut) {
    for (const TcorpusSong& song : corpus().songs) {
        if (!song.name.starts_with("freeintro")) continue;
        const TbeatGrid& grid = analysisOf(song).grid;
        EXPECT_NEAR(grid.bpm, song.bpm(), 0.02);
        EXPECT_LE(song.distanceToBeat(grid.firstBeat), 0.005);
        EXPECT_TRUE(grid.tempoStable) << grid.largestDeviationMs << " ms";
        ASSERT_FALSE(grid.beatless.empty());
        EXPECT_LT(grid.beatless.front().start, song.firstBeat());
        EXPECT_GT(grid.beatless.front().end, 2.0);
    }
}

// Every chart, the easy one too, starts in the first bars of the beat and leaves no more than 8 s
// without a marker while the music has a beat, also through a quiet start of piano chords alone.
TEST_F(SyncCorpus, ChartsCoverTheSongFromItsFirstBars) {
    for (const TcorpusSong& song : corpus().songs) {
        if (!song.steady() || !hasSharpAttacks(song)) continue;
        const TsongAnalysis& analysis = analysisOf(song);
        const double musicEnd = analysis.onsets.back().time;
        for (int difficulty = 0; difficulty < difficultyCount; ++difficulty) {
            const std::vector<TautoRow> rows = planAutoChart(analysis, difficulty);
            ASSERT_FALSE(rows.empty()) << song.name;
            const double introEnd = analysis.grid.beatless.empty() ? 0.0 : analysis.grid.beatless.front().end;
            double previous = std::max(song.firstBeat(), introEnd);
            EXPECT_LE(analysis.grid.beatTime(rows.front().halfBeat / 2.0) - previous, 8 * 60.0 / song.bpm())
                << song.name << " difficulty " << difficulty;
            for (const TautoRow& row : rows) {
                const double time = analysis.grid.beatTime(row.halfBeat / 2.0);
                EXPECT_LE(time - previous, 8.0) << song.name << " difficulty " << difficulty << " at " << time;
                previous = time;
            }
            EXPECT_LE(musicEnd - previous, 8.0) << song.name << " difficulty " << difficulty;
        }
    }
}

// 120 to 132 and 150 to 100 BPM: one segment a tempo, each starting on the beat the music changes on.
TEST_F(SyncCorpus, MapsSuddenTempoChanges) {
    ASSERT_FALSE(songsOfKind("change").empty());
    for (const TcorpusSong& song : songsOfKind("change")) {
        const TbeatGrid& grid = analysisOf(song).grid;
        EXPECT_TRUE(grid.mapped) << song.name;
        EXPECT_FALSE(grid.drifting) << song.name;
        ASSERT_EQ(grid.segments.size(), song.segments.size()) << song.name;
        for (size_t i = 0; i < song.segments.size(); ++i) {
            EXPECT_NEAR(grid.segments[i].bpm, song.segments[i].bpm, 0.05) << song.name << " segment " << i;
            EXPECT_LE(song.distanceToBeat(grid.segments[i].firstBeat), 0.005) << song.name << " segment " << i;
            if (i > 0) {
                EXPECT_NEAR(grid.segments[i].start, song.segments[i].startSeconds, 0.005) << song.name;
            }
        }
    }
}

// The game's own parser reads every row of the charts onto a true beat or half-beat, before and
// after the change.
TEST_F(SyncCorpus, ChartsKeepTheirMarkersOnTheBeatAcrossATempoChange) {
    for (const TcorpusSong& song : songsOfKind("change")) {
        const TsongAnalysis& analysis = analysisOf(song);
        for (int difficulty = 0; difficulty < difficultyCount; ++difficulty) {
            const auto parser = std::make_unique<TsongParser>();
            TchartFindings findings;
            const std::string text = autoChartText(analysis.grid, planAutoChart(analysis, difficulty));
            ASSERT_TRUE(loadChartFromBytes(*parser, text, &findings).accepted);
            EXPECT_TRUE(findings.empty()) << song.name;
            double lastTime = 0;
            for (int32_t row = 0; row < parser->entryCount; ++row) {
                const double heard = parser->entries[row].time - chartLeadSeconds;
                EXPECT_LE(song.distanceToBeat(heard, true), 0.010)
                    << song.name << " difficulty " << difficulty << " row at " << heard;
                lastTime = heard;
            }
            EXPECT_GT(lastTime, song.segments.back().startSeconds + 4) << song.name << ": the chart goes on after the change";
        }
    }
}

TEST_F(SyncCorpus, ReportsAGradualDriftWithoutAMap) {
    ASSERT_FALSE(songsOfKind("drift").empty());
    for (const TcorpusSong& song : songsOfKind("drift")) {
        const TbeatGrid& grid = analysisOf(song).grid;
        EXPECT_TRUE(grid.drifting) << song.name;
        EXPECT_FALSE(grid.mapped) << song.name;
        EXPECT_EQ(grid.segments.size(), 1u) << song.name;
    }
}
