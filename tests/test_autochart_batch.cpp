// Charting a folder: ID3 tags read in every version, names safe for files and song keys, songs
// grouped by folder, one song's crash or refusal kept from the rest, and a second run that charts
// only what is left.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/testSupport.h"
#include "tools/autochartBatch.h"
#include "tools/beatSync.h"
#include "tools/id3Tags.h"
#include "tools/mp3Writer.h"
#include "tools/syncTestSongs.h"

namespace fs = std::filesystem;

namespace {

std::string bigEndian32(uint32_t value, bool syncsafe) {
    std::string bytes;
    for (int shift = 3; shift >= 0; --shift)
        bytes += static_cast<char>(syncsafe ? value >> (7 * shift) & 0x7F : value >> (8 * shift) & 0xFF);
    return bytes;
}

std::string frame(int version, const std::string& name, const std::string& content, char formatFlags = 0) {
    if (version == 2) return name + std::string(1, '\0') + static_cast<char>(content.size() >> 8) + static_cast<char>(content.size()) + content;
    return name + bigEndian32(static_cast<uint32_t>(content.size()), version == 4) + '\0' + formatFlags + content;
}

std::string tag(int version, char flags, const std::string& body) {
    return std::string("ID3") + static_cast<char>(version) + '\0' + flags + bigEndian32(static_cast<uint32_t>(body.size()), true) + body;
}

std::string id3v1(const std::string& title, const std::string& artist) {
    std::string bytes = "TAG" + title;
    bytes.resize(33, '\0');
    bytes += artist;
    bytes.resize(128, ' ');
    return bytes;
}

const std::string utf16Title = std::string("\x01\xFF\xFE", 3) + std::string("S\0\xE9\0\x3D\xD8\x00\xDE", 8);  // "Sé😀"

}  // namespace

TEST(Id3Tags, ReadsTitleAndArtistOfEachVersion) {
    struct Tcase {
        std::string bytes;
        TsongTags expected;
    } cases[] = {
        {tag(3, 0, frame(3, "TIT2", utf16Title) + frame(3, "TPE1", std::string("\0Bj\xF6rk", 6))), {"Sé😀", "Björk"}},
        {tag(2, 0, frame(2, "TT2", std::string("\0Old", 4)) + frame(2, "TP1", std::string("\x02\0A", 4))), {"Old", "A"}},
        // v2.4: syncsafe sizes, a data length indicator and unsynchronisation on the title frame.
        {tag(4, 0, frame(4, "TPE1", std::string("\x03" "Band\0Other", 11)) +
                       frame(4, "TIT2", std::string("\0\0\0\x05\x03\xC3\xFF\0!", 9), 0x03)), {"\xC3\xFF!", "Band"}},
        // v2.3 with an extended header and the whole tag unsynchronised.
        {tag(3, '\xC0', bigEndian32(6, false) + std::string(6, '\0') + "TIT2" + bigEndian32(3, false) + std::string("\0\0\0\xFF\0x", 6)), {"\xC3\xBFx", ""}},
        {tag(3, 0, frame(3, "TIT2", std::string("\0Cut", 4)).substr(0, 12)), {"", ""}},
        {tag(1, 0, frame(3, "TIT2", std::string("\0One", 4))), {"", ""}},
        {tag(5, 0, frame(3, "TIT2", std::string("\0Five", 5))), {"", ""}},
    };
    for (const Tcase& c : cases) {
        const TsongTags tags = id3v2Tags(c.bytes);
        EXPECT_EQ(tags.title, c.expected.title);
        EXPECT_EQ(tags.artist, c.expected.artist);
    }
    const TsongTags old = id3v1Tags(id3v1("Caf\xE9", "Someone"));
    EXPECT_EQ(old.title, "Café");
    EXPECT_EQ(old.artist, "Someone");
    EXPECT_EQ(id3v1Tags(id3v1("T", "A").substr(1)).title, "");
}

// A frame fills the tag to its last byte or is not read; the v2 title wins over the v1 one, which
// fills what v2 lacks.
TEST(Id3Tags, FramesEndingAtTheTagsEndAreReadAndV1FillsGaps) {
    const std::string title = frame(3, "TIT2", std::string("\0Exact", 6));
    EXPECT_EQ(id3v2Tags(tag(3, 0, title)).title, "Exact");
    std::string oneShort = tag(3, 0, title);
    oneShort.pop_back();
    EXPECT_EQ(id3v2Tags(oneShort).title, "");
    EXPECT_EQ(id3v2Tags(tag(3, 0, title + "\0")).title, "Exact");

    TtemporaryFolder folder;
    writeFile(folder.file("song.mp3"), tag(3, 0, title) + "audio" + id3v1("Older", "Artist"));
    const TsongTags tags = readSongTags(folder.file("song.mp3"));
    EXPECT_EQ(tags.title, "Exact");
    EXPECT_EQ(tags.artist, "Artist");
}

TEST(SongNames, AreSafeForFilesAndSongKeys) {
    const std::string long120(120, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {"AC/DC: Back\\In?", "AC_DC_ Back_In_"},
        {"  ..hidden  song.. ", "hidden song"},
        {"tab\there\x01", "tab here"},
        {"bad\xC3(utf8\xED\xA0\x80", "bad_(utf8___"},
        {"日本語", "日本語"},
        {long120.substr(1), long120.substr(1)},
        {long120, long120},
        {long120 + "b", long120},
        {std::string(119, 'a') + "é", std::string(119, 'a')},
    };
    for (const auto& [text, safe] : cases) EXPECT_EQ(safeName(text), safe) << text;
    EXPECT_EQ(songNameOf({"Title", "Artist"}, "file"), "Artist - Title");
    EXPECT_EQ(songNameOf({"Title", ""}, "file"), "Title");
    EXPECT_EQ(songNameOf({"", "Artist"}, "file"), "file");
    EXPECT_EQ(songNameOf({"...", ""}, "///"), "___");
    EXPECT_EQ(songNameOf({"", ""}, ".."), "Song");
}

// One group per folder (nested ones joined with " - "), the source's own name for its loose songs,
// hidden folders and the song folder left out, clashing names numbered.
TEST(BatchPlan, GroupsSongsByFolderAndNumbersClashingNames) {
    TtemporaryFolder folder;
    const std::string music = folder.file("Music");
    for (const char* sub : {"Music/Album", "Music/Album/Disc 2", "Music/.hidden", "Music/sng/Old"}) fs::create_directories(folder.file(sub));
    for (const char* file : {"Music/loose.mp3", "Music/Album/b.mp3", "Music/Album/a.MP3", "Music/Album/notes.txt",
                             "Music/Album/Disc 2/c.mp3", "Music/.hidden/h.mp3", "Music/sng/Old/o.mp3"})
        writeFile(folder.file(file), "");
    writeFile(folder.file("Music/Album/c.mp3"), tag(3, 0, frame(3, "TIT2", std::string("\0A", 2))));

    const std::vector<TbatchSong> songs = planBatch(music, folder.file("Music/sng"));
    std::vector<std::string> seen;
    for (const TbatchSong& song : songs) seen.push_back(song.group + "\\" + song.name);
    EXPECT_EQ(seen, (std::vector<std::string>{"Music\\loose", "Album\\a", "Album\\b", "Album\\A (2)", "Album - Disc 2\\c"}));
}

TEST(BatchSettings, JobsRunFromOneTo256) {
    const std::pair<std::string, int> cases[] = {{"0", 0}, {"1", 1}, {"2", 2}, {"255", 255}, {"256", 256},
                                                 {"257", 0}, {"1000", 0}, {"-1", 0}, {"x", 0}};
    for (const auto& [text, jobs] : cases) EXPECT_EQ(jobsFrom(text), jobs) << text;
    EXPECT_EQ(jobsFrom(""), std::max(1, static_cast<int>(std::thread::hardware_concurrency())));
}

TEST(BatchProgress, ShowsTheBarTheTimeLeftAndTheSong) {
    EXPECT_EQ(progressLine({0, 20, 3, 0, "Pack\\Song"}, 80), "[--------------------] 0/20  ETA --:--  Pack\\Song");
    // Five songs in 30 s foretell 120 s for twenty; 40 s in, 80 s are left.
    EXPECT_EQ(progressLine({5, 20, 40, 30, "Pack\\Sé"}, 80), "[#####---------------] 5/20  ETA 1:20  Pack\\Sé");
    EXPECT_EQ(progressLine({5, 20, 130, 30, ""}, 80), "[#####---------------] 5/20  ETA 0:00  ");
    EXPECT_EQ(progressLine({20, 20, 30, 30, ""}, 80), "[####################] 20/20  ETA 0:00  ");
    EXPECT_EQ(progressLine({5, 20, 40, 30, "Pack\\Sé"}, 45), "[#####---------------] 5/20  ETA 1:20  Pack\\S");
    EXPECT_EQ(progressLine({5, 20, 40, 30, "Pack\\Sé"}, 46), "[#####---------------] 5/20  ETA 1:20  Pack\\Sé");
    const std::pair<double, std::string> clocks[] = {{59.4, "0:59"}, {59.5, "1:00"}, {3599.4, "59:59"},
                                                     {3599.5, "1:00:00"}, {3600.5, "1:00:01"}};
    for (const auto& [seconds, text] : clocks) EXPECT_EQ(clockText(seconds), text) << seconds;
}

// A song whose charting crashes fails alone, a refused one is listed with its reason, and the next
// run skips every song that was charted and tries the others again.
TEST(BatchRun, ACrashFailsOneSongAndASecondRunChartsOnlyTheRest) {
    TtemporaryFolder folder;
    std::vector<TbatchSong> songs;
    for (const char* name : {"one", "crash", "flat", "two", "three"}) songs.push_back({std::string(name) + ".mp3", "Pack", name});
    const TchartSong chart = [](const TbatchSong& song, const std::string& groupFolder) -> TsongOutcome {
        if (song.name == "crash") std::abort();
        if (song.name == "flat") return {TsongResult::refused, "flat.mp3: no steady beat"};
        fs::create_directories(groupFolder);
        for (const char* suffix : {".mp3", "_prev.mp3", "0.txt", "1.txt", "2.TXT"}) writeFile(groupFolder + "/" + song.name + suffix, "");
        return {TsongResult::charted, {}};
    };
    std::ostringstream out;
    TbatchSummary summary = runBatch(songs, {folder.path(), 2, false, 80}, chart, out);
    EXPECT_EQ(summary.charted, 3);
    EXPECT_EQ(summary.skipped, 0);
    ASSERT_EQ(summary.refused.size(), 1u);
    EXPECT_EQ(summary.refused[0].reason, "no steady beat");
    ASSERT_EQ(summary.failed.size(), 1u);
    EXPECT_EQ(summary.failed[0].source, "crash.mp3");
    EXPECT_EQ(summary.failed[0].reason, "the charting crashed (Aborted)");
    EXPECT_NE(out.str().find("[5/5] "), std::string::npos) << out.str();

    fs::remove(folder.file("Pack/three2.TXT"));
    summary = runBatch(songs, {folder.path(), 1, false, 80}, chart, out);
    EXPECT_EQ(summary.charted, 1);
    EXPECT_EQ(summary.skipped, 2);
    EXPECT_EQ(summaryText(summary),
              "Charted: 1  Skipped as already charted: 2  Refused: 1  Failed: 1\n"
              "Refused (no steady beat):\n  flat.mp3: no steady beat\nFailed:\n  crash.mp3: the charting crashed (Aborted)\n");
}

// The tool on a folder: the tagged song named from its tags, each folder a group, the broken file
// listed as failed; run again, it skips both songs.
TEST(BatchTool, ChartsAFolderIntoGroupsAndSkipsThemTheNextTime) {
    TtemporaryFolder folder;
    TdrumSongRecipe recipe;
    recipe.bars = 6;
    const std::vector<uint8_t> song = encodeMp3(makeDrumSong(recipe), syncSampleRate, 2, 192);
    fs::create_directories(folder.file("in/Rock"));
    fs::create_directories(folder.file("in/Jazz"));
    const std::string tags = tag(3, 0, frame(3, "TIT2", std::string("\0Beat", 5)) + frame(3, "TPE1", std::string("\0Drums", 6)));
    writeFile(folder.file("in/Rock/track01.mp3"), tags + std::string(song.begin(), song.end()));
    writeFile(folder.file("in/Jazz/groove.mp3"), std::string(song.begin(), song.end()));
    writeFile(folder.file("in/Jazz/broken.mp3"), "not an mp3");
    const std::string command = "'" + builtProgram("tools/trellik-tool") + "' autochart '" + folder.file("in") + "' --out '" +
                                folder.file("sng") + "' --jobs 2 >'" + folder.file("out") + "' 2>&1";
    int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1) << readFile(folder.file("out"));
    EXPECT_TRUE(fs::exists(folder.file("sng/Rock/Drums - Beat2.txt")));
    EXPECT_TRUE(fs::exists(folder.file("sng/Jazz/groove_prev.mp3")));
    EXPECT_NE(readFile(folder.file("out")).find("Charted: 2  Skipped as already charted: 0  Refused: 0  Failed: 1\n"),
              std::string::npos) << readFile(folder.file("out"));

    status = std::system(command.c_str());
    EXPECT_NE(readFile(folder.file("out")).find("Charted: 0  Skipped as already charted: 2  Refused: 0  Failed: 1\n"),
              std::string::npos) << readFile(folder.file("out"));
}

namespace {

// A fake charting that writes a song's files as the tool does.
TsongOutcome writeSongFiles(const TbatchSong& song, const std::string& groupFolder) {
    fs::create_directories(groupFolder);
    for (const char* suffix : {".mp3", "_prev.mp3", "0.txt", "1.txt", "2.txt"}) writeFile(groupFolder + "/" + song.name + suffix, "x");
    return {TsongResult::charted, {}};
}

std::vector<std::string> plannedNames(const std::vector<TbatchSong>& songs) {
    std::vector<std::string> names;
    for (const TbatchSong& song : songs) names.push_back(song.source.substr(song.source.rfind('/') + 1) + "=" + song.name);
    return names;
}

}  // namespace

// A song is its source file: a rerun charts a new file once, under a name no charted song holds,
// and never a charted one again, however the listing order or the tags fall.
TEST(BatchManifest, ARerunChartsEachNewFileOnceAndNoneTwice) {
    TtemporaryFolder folder;
    const std::string tags = tag(3, 0, frame(3, "TIT2", std::string("\0Same", 5)));
    fs::create_directories(folder.file("in"));
    writeFile(folder.file("in/b.mp3"), tags + "first");
    writeFile(folder.file("in/c.mp3"), tags + "second");
    std::ostringstream out;
    std::vector<TbatchSong> songs = planBatch(folder.file("in"), folder.file("sng"));
    EXPECT_EQ(plannedNames(songs), (std::vector<std::string>{"b.mp3=Same", "c.mp3=Same (2)"}));
    EXPECT_EQ(runBatch(songs, {folder.file("sng"), 1, false, 80}, writeSongFiles, out).charted, 2);
    ASSERT_EQ(readManifest(folder.file("sng")).size(), 2u);

    // A third file with the same tags, listed first.
    writeFile(folder.file("in/a.mp3"), tags + "third");
    songs = planBatch(folder.file("in"), folder.file("sng"));
    EXPECT_EQ(plannedNames(songs), (std::vector<std::string>{"a.mp3=Same (3)", "b.mp3=Same", "c.mp3=Same (2)"}));
    TbatchSummary summary = runBatch(songs, {folder.file("sng"), 1, false, 80}, writeSongFiles, out);
    EXPECT_EQ(summary.charted, 1);
    EXPECT_EQ(summary.skipped, 2);
    EXPECT_EQ(readManifest(folder.file("sng")).size(), 3u);

    // Moved and renamed, a charted file is still known by its bytes.
    fs::rename(folder.file("in/b.mp3"), folder.file("in/z.mp3"));
    songs = planBatch(folder.file("in"), folder.file("sng"));
    EXPECT_EQ(plannedNames(songs), (std::vector<std::string>{"a.mp3=Same (3)", "c.mp3=Same (2)", "z.mp3=Same"}));
    EXPECT_EQ(runBatch(songs, {folder.file("sng"), 1, false, 80}, writeSongFiles, out).charted, 0);
}

// Charting the game's own song folder: its songs, their previews and the stock sounds beside it
// are no new songs.
TEST(BatchPlan, LeavesOutTheGamesSongsPreviewsAndStockSounds) {
    TtemporaryFolder folder;
    for (const char* file : {"game/sng/Pack/tune.mp3", "game/sng/Pack/tune_prev.mp3", "game/sng/Pack/tune0.txt",
                             "game/sng/Pack/Other_prev.mp3", "game/sng/Pack/other2.TXT", "game/sng/Pack/new.mp3",
                             "game/sng/Pack/lonely_prev.mp3", "game/snd/assistTick.mp3", "game/snd/hitSound.mp3"}) {
        fs::create_directories(fs::path(folder.file(file)).parent_path());
        writeFile(folder.file(file), "x");
    }
    EXPECT_EQ(plannedNames(planBatch(folder.file("game/sng"), folder.file("game/sng"))),
              (std::vector<std::string>{"lonely_prev.mp3=lonely_prev", "new.mp3=new"}));
    EXPECT_EQ(plannedNames(planBatch(folder.file("game"), folder.file("game/sng"))), std::vector<std::string>{});
}

// A song folder that cannot be written stops the run before any song is charted.
TEST(BatchRun, AnUnwritableSongFolderStopsTheRunBeforeAnyWork) {
    TtemporaryFolder folder;
    fs::create_directories(folder.file("in"));
    writeFile(folder.file("in/a.mp3"), "x");
    writeFile(folder.file("file"), "x");
    int charted = 0;
    const TchartSong counting = [&charted](const TbatchSong&, const std::string&) -> TsongOutcome {
        ++charted;
        return {TsongResult::charted, {}};
    };
    EXPECT_EQ(runAutochartBatch(folder.file("in"), folder.file("file/sng"), 1, counting), 1);
    EXPECT_EQ(charted, 0);
    EXPECT_NE(songFolderComplaint(folder.file("file/sng")), "");
    EXPECT_EQ(songFolderComplaint(folder.file("new/sng")), "");
    EXPECT_TRUE(fs::is_directory(folder.file("new/sng")));
    EXPECT_FALSE(fs::exists(folder.file("new/sng/.autochart-write-test")));
}
