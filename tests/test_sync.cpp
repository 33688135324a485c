// The beat analysis and the chart maker on generated drum songs with a known beat, and how
// trellik-tool autochart treats bad input and existing files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sys/wait.h>

#include "content/trellikSongDataLoader.h"
#include "tests/support/testSupport.h"
#include "tools/autochart.h"
#include "tools/beatSync.h"
#include "tools/mp3Writer.h"
#include "tools/stockpack/mixer.h"
#include "tools/stockpack/songBook.h"
#include "tools/syncTestSongs.h"

namespace {

std::vector<uint8_t> songMp3(const TdrumSongRecipe& recipe) {
    return encodeMp3(makeDrumSong(recipe), syncSampleRate, 2, 192);
}

// The analysis of the song as it comes back from an MP3, as authors will hand it over.
TsongAnalysis analyseRecipe(const TdrumSongRecipe& recipe) {
    TsongAudio audio;
    const std::string complaint = decodeSongAudio(songMp3(recipe), audio);
    EXPECT_EQ(complaint, "");
    return analyseSong(audio.mono);
}

TdrumSongRecipe recipeOf(double bpm, double firstBeat, int bars) {
    TdrumSongRecipe recipe;
    recipe.bpm = bpm;
    recipe.firstBeat = firstBeat;
    recipe.bars = bars;
    return recipe;
}

// The times at which the song's hits start: every eighth (swung ones late).
std::vector<double> hitTimes(const TdrumSongRecipe& recipe) {
    std::vector<double> times;
    for (int eighth = 0; eighth < 8 * recipe.bars; ++eighth)
        times.push_back(drumSongBeatTime(recipe, eighth / 2.0 + (eighth % 2 ? recipe.swing : 0.0)));
    return times;
}

struct TtoolRun {
    int status = -1;
    std::string err;
};

TtoolRun runTool(const TtemporaryFolder& folder, const std::string& arguments) {
    const std::string command = "cd '" + folder.path() + "' && '" + builtProgram("tools/trellik-tool") + "' " +
                                arguments + " >/dev/null 2>'" + folder.file("stderr") + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(folder.file("stderr"))};
}

}  // namespace

// Slow and fast tempos (the fast ones would be counted at half speed without the octave check),
// swing, a quiet intro and a pad: the tempo within 0.05 BPM, the first beat within 5 ms.
TEST(BeatSync, FindsTempoAndFirstBeatOfSteadySongs) {
    std::vector<TdrumSongRecipe> songs = {recipeOf(70, 0.8, 6), recipeOf(96, 0.35, 8), recipeOf(128, 1.2, 10),
                                          recipeOf(160, 0.5, 12), recipeOf(200, 0.25, 14)};
    songs[0].pad = true;
    songs[1].swing = 1.0 / 6;
    songs[2].quietIntroBars = 2;
    songs[2].pad = true;
    songs[3].seed = 4;
    for (const TdrumSongRecipe& recipe : songs) {
        const TbeatGrid grid = analyseRecipe(recipe).grid;
        EXPECT_NEAR(grid.bpm, recipe.bpm, 0.05) << recipe.bpm << " BPM";
        EXPECT_NEAR(grid.firstBeat, recipe.firstBeat, 0.005) << recipe.bpm << " BPM";
        EXPECT_TRUE(grid.tempoStable) << recipe.bpm << " BPM, deviation " << grid.largestDeviationMs << " ms";
        EXPECT_GT(grid.confidence, 0.5) << recipe.bpm << " BPM";
    }
}

TEST(BeatSync, AStretchKeepsABeatFromEightOnsetsAndNearlyHalfTheStrengthNearItsBeats) {
    EXPECT_TRUE(keepsABeat(8, 0.45));
    EXPECT_TRUE(keepsABeat(9, 0.4501));
    EXPECT_FALSE(keepsABeat(7, 0.45));
    EXPECT_FALSE(keepsABeat(8, 0.4499));
}

TEST(BeatSync, TheTempoIsSteadyWhileTheMusicStraysAtMost25Ms) {
    EXPECT_TRUE(isSteadyTempo(24.99));
    EXPECT_TRUE(isSteadyTempo(25.0));
    EXPECT_FALSE(isSteadyTempo(25.01));
}

// A snare louder than the kick by 1.25 to 2.5 times, both at least twice the off-beats, is a backbeat.
TEST(BeatSync, ABackbeatIsLouderThanTheKickByAQuarterToTwoAndAHalfTimes) {
    struct Tcase {
        double louder, weaker, offBeats;
        bool backbeat;
    };
    const Tcase cases[] = {{1.25, 1, 0.5, true},   {1.2499, 1, 0.5, false}, {1.2501, 1, 0.5, true},
                           {2.5, 1, 0.5, true},    {2.5001, 1, 0.5, false}, {2.4999, 1, 0.5, true},
                           {2, 1, 0.5001, false},  {2, 1, 0.4999, true},    {2, 0, 0, false}};
    for (const Tcase& c : cases) EXPECT_EQ(looksLikeBackbeat(c.louder, c.weaker, c.offBeats), c.backbeat) << c.louder << " " << c.offBeats;
}

// A struck attack keeps its sharpest rise; a slow swell (a plucked string in a bed of strings)
// moved the beat 57 ms late when it was timed there.
TEST(BeatSync, TimesOnlySlowAttacksAtTheFootOfTheirSwell) {
    struct Tcase {
        double sharpestRise, swellSeconds;
        bool slow;
    };
    const Tcase cases[] = {{3.9999, 0.010, true}, {4, 0.010, false}, {4.0001, 0.010, false},
                           {2, 0.0099, false},    {2, 0.0101, true}};
    for (const Tcase& c : cases) EXPECT_EQ(isSlowAttack(c.sharpestRise, c.swellSeconds), c.slow) << c.sharpestRise << " " << c.swellSeconds;
}

// A reggae one-drop's skank sits between beats that carry the kick and the bass; counted as beats it
// doubled a 76 BPM song. A half-time count of rock has its snare there, with a low body.
TEST(BeatSync, TellsASkankBetweenTheBeatsFromBeats) {
    struct Tcase {
        double beatsLow, offBeatsLow, beatsBright, offBeatsBright;
        bool skank;
    };
    const Tcase cases[] = {{3, 0.5, 4, 6, true},         {3, 0.5, 4, 5.9999, false},  {3, 0.5, 4, 6.0001, true},
                           {3, 1, 2, 5, true},           {3, 1.0001, 2, 5, false},    {3, 0.9999, 2, 5, true},
                           {1.5, 1, 2, 5, true},         {1.4999, 1, 2, 5, false},    {1.5001, 1, 2, 5, true}};
    for (const Tcase& c : cases)
        EXPECT_EQ(looksLikeSkank(c.beatsLow, c.offBeatsLow, c.beatsBright, c.offBeatsBright), c.skank)
            << c.beatsLow << " " << c.offBeatsLow << " " << c.offBeatsBright;
}

// "drift" syncopates its kick and bass onto the off-beats, which made them look like beats of their
// own; its snare on 2 and 4 keeps it at 90 BPM, not 180.
TEST(BeatSync, FindsTheDemoSongDriftAtItsTempoAndFirstBeat) {
    const stockpack::TcomposedSong song = stockpack::composeDrift();
    TsongAudio audio;
    ASSERT_EQ(decodeSongAudio(encodeMp3(stockpack::master(song.audio, 0.84f), syncSampleRate, 2, 192), audio), "");
    const TbeatGrid grid = analyseSong(audio.mono).grid;
    EXPECT_NEAR(grid.bpm, song.bpm, 0.05);
    EXPECT_NEAR(grid.firstBeat, song.leadIn, 0.005);
}

// Swung eighths sit two thirds into the beat, not half way, so they never made the beats look like
// half-beats; at 140 to 210 BPM such songs were counted at half speed.
TEST(BeatSync, CountsFastSwungSongsAtTheirTempo) {
    for (const double bpm : {140.0, 175.0, 210.0}) {
        TdrumSongRecipe recipe = recipeOf(bpm, 0.4, static_cast<int>(bpm / 12));
        recipe.swing = 1.0 / 6;
        const TbeatGrid grid = analyseRecipe(recipe).grid;
        EXPECT_NEAR(grid.bpm, bpm, 0.05);
        EXPECT_NEAR(grid.firstBeat, recipe.firstBeat, 0.005) << bpm << " BPM";
    }
}

TEST(BeatSync, ReportsATempoChangeAsUnstable) {
    TdrumSongRecipe recipe = recipeOf(120, 0.5, 12);
    recipe.laterBpm = 126;
    recipe.changeBar = 6;
    const TbeatGrid grid = analyseRecipe(recipe).grid;
    EXPECT_FALSE(grid.tempoStable);
    EXPECT_GT(grid.largestDeviationMs, 10.0);
}

// The three charts of one song: the game's parser takes them without a finding, densities rise,
// two hands can play every row, and every marker sits on a hit of the song or a beat.
TEST(AutoChart, ChartsArePlayableAndFollowTheMusic) {
    TdrumSongRecipe recipe = recipeOf(205, 0.6, 20);
    recipe.pad = true;
    const TsongAnalysis analysis = analyseRecipe(recipe);
    const std::vector<double> hits = hitTimes(recipe);
    int previousMarkers = 0;
    for (int difficulty = 0; difficulty < difficultyCount; ++difficulty) {
        SCOPED_TRACE("difficulty " + std::to_string(difficulty));
        const std::string text = autoChartText(analysis.grid, planAutoChart(analysis, difficulty));
        const auto parser = std::make_unique<TsongParser>();
        TchartFindings findings;
        const TchartOutcome outcome = loadChartFromBytes(*parser, text, &findings);
        ASSERT_TRUE(outcome.accepted);
        EXPECT_TRUE(findings.empty()) << findings.front().text;
        EXPECT_GT(parser->markerCount, previousMarkers);
        previousMarkers = parser->markerCount;

        std::vector<double> lastUse(16, -1.0);
        std::set<int> panelsUsed;
        std::vector<int> previousPanels;
        for (int32_t row = 0; row < parser->entryCount; ++row) {
            const ChartEntry& entry = parser->entries[row];
            std::vector<int> panels;
            for (int k = 0; k < 16; ++k) {
                if (entry.panels[k]) panels.push_back(k);
            }
            ASSERT_FALSE(panels.empty()) << "row " << row;
            EXPECT_LE(panels.size(), difficulty == 0 ? 2u : 3u) << "row " << row;
            EXPECT_NE(panels, previousPanels) << "row " << row << " repeats the row before";
            for (const int panel : panels) {
                // Play shows a marker 500 ms before its beat and a new one on its panel replaces it, so
                // a marker pressed as late as the bad window (300 ms) must still be there.
                EXPECT_GE(entry.time - lastUse[panel], 0.800 - 1e-6) << "panel " << panel << " row " << row;
                lastUse[panel] = entry.time;
                panelsUsed.insert(panel);
            }
            previousPanels = panels;
            const double heard = entry.time - chartLeadSeconds;
            const double nearestHit = *std::min_element(hits.begin(), hits.end(), [heard](double a, double b) {
                return std::fabs(a - heard) < std::fabs(b - heard);
            });
            const double beats = (heard - recipe.firstBeat) * recipe.bpm / 60.0;
            const double fromBeat = std::fabs(beats - std::round(beats)) * 60.0 / recipe.bpm;
            EXPECT_LE(std::min(std::fabs(nearestHit - heard), fromBeat), 0.010) << "row " << row << " at " << heard;
        }
        EXPECT_GE(panelsUsed.size(), 12u) << "the patterns move over the grid";
    }
}

// A forced chart of a song without drums once came out as one marker for 83 s of music.
TEST(AutoChart, AChartSparserThanOneMarkerPerThreeSecondsOfBeatIsRefused) {
    TsongAnalysis analysis;
    analysis.seconds = 91.0;
    analysis.grid.firstBeat = 1.0;  // 90 s with a beat: 30 markers at least
    for (const auto& [markers, refused] : {std::pair{29, true}, {30, false}, {31, false}, {1, true}})
        EXPECT_EQ(!sparseChartComplaint(analysis, markers).empty(), refused) << markers;
    EXPECT_EQ(sparseChartComplaint(analysis, 1),
              "only 1 markers for 90 s of music with a beat (at least 30, one per 3 s, make a chart worth playing)");
    // A break without a beat asks for no markers; one reaching past the end counts only to the end.
    analysis.grid.beatless = {{0.0, 4.0}, {31.0, 61.0}, {85.0, 200.0}};
    EXPECT_DOUBLE_EQ(secondsWithBeat(analysis), 51.0);
    EXPECT_FALSE(sparseChartComplaint(analysis, 16).empty());
    EXPECT_TRUE(sparseChartComplaint(analysis, 17).empty());
}

TEST(SongAudio, RefusesWhatIsNoSong) {
    TsongAudio audio;
    EXPECT_EQ(decodeSongAudio({}, audio), "the file is empty");
    const std::string text = "this is a chart, not music\n";
    EXPECT_EQ(decodeSongAudio(std::vector<uint8_t>(text.begin(), text.end()), audio),
              "not an MP3 file (no MPEG audio frame found)");
    EXPECT_EQ(decodeSongAudio(encodeMp3(std::vector<int16_t>(2 * 12 * syncSampleRate, 0), syncSampleRate, 2, 128), audio),
              "the audio is silent");
    EXPECT_EQ(decodeSongAudio(songMp3(recipeOf(120, 0.5, 2)), audio), "the song lasts 6.5 s; at least 10 s are needed");
    std::vector<uint8_t> garbage(300000);
    uint32_t state = 12345;
    for (uint8_t& byte : garbage) byte = static_cast<uint8_t>((state = state * 1664525 + 1013904223) >> 24);
    EXPECT_EQ(decodeSongAudio(garbage, audio), "not an MP3 file (no MPEG audio frame found)");
    // A real start followed by damage.
    const std::vector<uint8_t> song = songMp3(recipeOf(120, 0.5, 8));
    std::copy(song.begin(), song.begin() + 3000, garbage.begin());
    EXPECT_TRUE(decodeSongAudio(garbage, audio).starts_with("the MP3 is broken: decoding stops after 0.")) << decodeSongAudio(garbage, audio);
}

// Bad input leaves the song folder untouched; existing files stay unless --force is given; a song
// whose tempo drifts is charted only with --force.
TEST(AutoChartTool, WritesNothingUnlessAllIsWell) {
    TtemporaryFolder folder;
    writeFile(folder.file("noise.mp3"), "not music at all");
    TtoolRun run = runTool(folder, "autochart noise.mp3 --out sng");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("sng")));

    const std::vector<uint8_t> song = songMp3(recipeOf(110, 0.4, 6));
    writeFile(folder.file("song.mp3"), std::string(song.begin(), song.end()));
    std::filesystem::create_directory(folder.file("sng"));
    writeFile(folder.file("sng/Song1.TXT"), "kept");
    run = runTool(folder, "autochart song.mp3 --out sng");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(folder.file("sng/Song1.TXT")), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.file("sng")), {}), 1);

    EXPECT_EQ(runTool(folder, "autochart song.mp3 --out sng --force").status, 0);
    for (const char* name : {"song.mp3", "song_prev.mp3", "song0.txt", "song1.txt", "song2.txt"})
        EXPECT_TRUE(std::filesystem::exists(folder.file(std::string("sng/") + name))) << name;
    EXPECT_FALSE(std::filesystem::exists(folder.file("sng/Song1.TXT")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.file("sng")), {}), 5) << "no scratch folder is left";

    // A tempo gliding from 100 to 110 BPM, as a live band's may: no tempo map follows it.
    TdrumSongRecipe gliding = recipeOf(100, 0.4, 12);
    gliding.driftToBpm = 110;
    const std::vector<uint8_t> drifting = songMp3(gliding);
    writeFile(folder.file("drift.mp3"), std::string(drifting.begin(), drifting.end()));
    run = runTool(folder, "autochart drift.mp3 --out sng");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no steady beat"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("sng/drift0.txt")));
    run = runTool(folder, "autochart drift.mp3 --out sng --force");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::exists(folder.file("sng/drift2.txt")));
}

// A tempo gliding from 100 to 110 BPM charted with --force: the game's parser puts every row of
// every chart within 10 ms of a true beat or half-beat, to the last bars.
TEST(AutoChartTool, ForcedChartsFollowADriftingBeat) {
    TtemporaryFolder folder;
    TdrumSongRecipe gliding = recipeOf(100, 0.4, 16);
    gliding.driftToBpm = 110;
    const std::vector<uint8_t> drifting = songMp3(gliding);
    writeFile(folder.file("drift.mp3"), std::string(drifting.begin(), drifting.end()));
    ASSERT_EQ(runTool(folder, "autochart drift.mp3 --out sng --force").status, 0);
    for (const char* chart : {"sng/drift0.txt", "sng/drift1.txt", "sng/drift2.txt"}) {
        const auto parser = std::make_unique<TsongParser>();
        ASSERT_TRUE(loadChartFromBytes(*parser, readFile(folder.file(chart)), nullptr).accepted);
        double heard = 0;
        for (int32_t row = 0; row < parser->entryCount; ++row) {
            heard = parser->entries[row].time - chartLeadSeconds;
            double nearest = 1;
            for (int half = 0; half <= 8 * gliding.bars; ++half)
                nearest = std::min(nearest, std::fabs(heard - drumSongBeatTime(gliding, half / 2.0)));
            EXPECT_LE(nearest, 0.010) << chart << " row at " << heard;
        }
        EXPECT_GT(heard, drumSongBeatTime(gliding, 4.0 * gliding.bars - 8)) << chart;
    }
}

// A replacement that fails half way (a folder stands where the last chart goes) puts back every
// file it had moved: the earlier song stays whole and no scratch folder is left.
TEST(AutoChartTool, ForcedReplacementIsAllOrNothing) {
    TtemporaryFolder folder;
    const std::vector<uint8_t> song = songMp3(recipeOf(110, 0.4, 6));
    writeFile(folder.file("song.mp3"), std::string(song.begin(), song.end()));
    const std::vector<std::string> earlier = {"song.mp3", "song_prev.mp3", "song0.txt", "Song1.TXT"};
    std::filesystem::create_directories(folder.file("sng/song2.txt"));
    writeFile(folder.file("sng/song2.txt/notes"), "kept");
    for (const std::string& name : earlier) writeFile(folder.file("sng/" + name), "earlier " + name);

    const TtoolRun run = runTool(folder, "autochart song.mp3 --out sng --force");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("song2.txt is not a file; nothing was replaced"), std::string::npos) << run.err;
    for (const std::string& name : earlier) EXPECT_TRUE(readFile(folder.file("sng/" + name)) == "earlier " + name) << name;
    EXPECT_EQ(readFile(folder.file("sng/song2.txt/notes")), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.file("sng")), {}), 5);
}

namespace {

// A file of the given size, holes but for its first bytes, so no test writes hundreds of MiB.
std::string sparseFile(const TtemporaryFolder& folder, const std::string& name, const std::string& head, uintmax_t size) {
    writeFile(folder.file(name), head);
    std::filesystem::resize_file(folder.file(name), size);
    return folder.file(name);
}

}  // namespace

TEST(SongFile, FilesOver200MiBAreRefusedBeforeTheyAreRead) {
    TtemporaryFolder folder;
    EXPECT_EQ(songFileComplaint(sparseFile(folder, "a.mp3", "ID3", largestSongFileBytes - 1)), "");
    EXPECT_EQ(songFileComplaint(sparseFile(folder, "b.mp3", "ID3", largestSongFileBytes)), "");
    sparseFile(folder, "big.mp3", "ID3", largestSongFileBytes + 1);
    EXPECT_EQ(songFileComplaint(folder.file("big.mp3")),
              "the file holds 209715201 bytes; song files over 200 MiB (209715200 bytes) are refused");
    for (const std::string command : {"sync big.mp3", "autochart big.mp3 --out sng"}) {
        const TtoolRun run = runTool(folder, command);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.err.find("big.mp3: the file holds 209715201 bytes"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("sng")));
}

// Only an ID3 tag or an MPEG audio frame header (no reserved version, layer, bit rate or sample
// rate) at the start makes a file worth reading.
TEST(SongFile, OnlyFilesBeginningAsAnMp3AreRead) {
    TtemporaryFolder folder;
    const std::vector<uint8_t> song = songMp3(recipeOf(120, 0.5, 6));
    writeFile(folder.file("song.mp3"), std::string(song.begin(), song.end()));
    EXPECT_EQ(songFileComplaint(folder.file("SONG.MP3")), "") << "found without regard to letter case";
    writeFile(folder.file("tagged.mp3"), "ID3\x04 and a tag");
    EXPECT_EQ(songFileComplaint(folder.file("tagged.mp3")), "");
    writeFile(folder.file("frame.mp3"), "\xFF\xFB\x90\x64");
    EXPECT_EQ(songFileComplaint(folder.file("frame.mp3")), "");

    const std::string notMp3 = "not an MP3 file (it begins with neither an ID3 tag nor an MPEG audio frame)";
    for (const std::string head : {"\xFF\xEB\x90\x64", "\xFF\xF9\x90\x64", "\xFF\xFB\xF0\x64", "\xFF\xFB\x9C\x64",
                                   "\xFF\xD8\xFF\xE0", "ID", "a chart\n"}) {
        writeFile(folder.file("other.mp3"), head);
        EXPECT_EQ(songFileComplaint(folder.file("other.mp3")), notMp3) << head;
    }
    writeFile(folder.file("empty.mp3"), "");
    EXPECT_EQ(songFileComplaint(folder.file("empty.mp3")), "the file is empty");
    EXPECT_EQ(songFileComplaint(folder.path()), "it is not a regular file");
    EXPECT_EQ(songFileComplaint(folder.file("missing.mp3")), "there is no such file");
    const TtoolRun run = runTool(folder, "sync other.mp3");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "trellik-tool sync: other.mp3: " + notMp3 + "\n");
}
