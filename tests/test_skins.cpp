// Marker skins: which files make which sets and frames, the console table, and frame choice.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "content/trellikMarkersLoaderCode.h"
#include "tests/support/testSupport.h"
#include "tests/test_songsAndSkinsSteps.h"

namespace {

class Skins : public ::testing::Test {
protected:
    void touch(const std::string& name) { writeFile(folder.file(name), "x"); }
    void frames(const std::string& set, const std::string& state, int from, int to, const std::string& ext = ".tga") {
        for (int i = from; i <= to; ++i) touch(set + "_" + state + "_" + std::to_string(i) + ext);
    }
    std::string markerFolder() const { return folder.path() + "/"; }
    void load() { loadMarkersWith(*table, markerFolder(), recording.steps()); }

    TtemporaryFolder folder;
    std::unique_ptr<TmarkersControl> table = std::make_unique<TmarkersControl>();
    TrecordingSteps recording;
};

}  // namespace

TEST_F(Skins, FramesRunUpToTheFirstMissingNumber) {
    frames("star", "normal", 0, 15);
    touch("star_normal_17.tga");
    frames("star", "great", 0, 60);
    frames("star", "miss", 1, 3);
    load();
    EXPECT_TRUE(recording.fetchedPaths.empty());
    const Tmarker& star = table->markers[1];
    EXPECT_EQ(star.name, "star");
    EXPECT_TRUE(star.loaded);
    EXPECT_EQ(star.lastFrame[0], 15);
    EXPECT_EQ(star.lastFrame[1], -1);
    EXPECT_EQ(star.lastFrame[3], 50);
    EXPECT_EQ(star.lastFrame[6], -1);
    for (const std::string& path : recording.loadedPaths) EXPECT_EQ(path.find("normal_17."), std::string::npos) << path;
    EXPECT_EQ(recording.loadedPaths.size(), 16u + 51u);
}

TEST_F(Skins, TgaIsTriedBeforeBmpAndBmpBeforeJpg) {
    touch("star_normal_0.tga");
    touch("star_normal_0.bmp");
    touch("star_normal_1.jpg");
    touch("star_normal_1.bmp");
    touch("star_normal_2.jpg");
    load();
    const std::string base = markerFolder() + "star_normal_";
    EXPECT_EQ(recording.loadedPaths, (std::vector<std::string>{base + "0.tga", base + "1.bmp", base + "2.jpg"}));
}

TEST_F(Skins, SetsAreNamedByTheTextBeforeTheFirstUnderscore) {
    EXPECT_EQ(markerSetNameOf("star_normal_0.tga"), "star");
    EXPECT_EQ(markerSetNameOf("background.jpg"), "background.jp");
    EXPECT_EQ(markerSetNameOf("_x.tga"), "");
    EXPECT_EQ(markerSetNameOf(""), "");

    touch("star_prev.jpg");
    frames("star", "normal", 0, 2);
    touch("background.jpg");
    touch("_odd.tga");
    touch("notes.txt");
    load();
    EXPECT_EQ(table->nameCount, 2);
    EXPECT_EQ(table->loadedCount, 2);
    // bmp names come first, then jpg, then tga, each in listing order.
    EXPECT_EQ(table->markers[1].name, "background.jp");
    EXPECT_EQ(table->markers[2].name, "star");
    EXPECT_EQ(table->markers[2].preview, 4u);
    EXPECT_EQ(table->markers[1].preview, 0u);
}

TEST_F(Skins, MissingPreviewFallsBackToTheMiddleNormalFrame) {
    frames("star", "normal", 0, 15);
    load();
    const Tmarker& star = table->markers[1];
    EXPECT_EQ(star.preview, star.frames[0][8]);
    EXPECT_NE(star.preview, 0u);
}

TEST_F(Skins, ConsoleTableRowsAreSixtyFourCharactersWide) {
    frames("star", "normal", 0, 15);
    touch("star_prev.tga");
    touch("background.jpg");
    load();
    const std::vector<std::string> rows = recording.rows();
    ASSERT_EQ(rows.front(), "Loading Markers:");
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].size(), 64u) << i << ": " << rows[i];
    const std::vector<std::string> expectedStar = {
        std::string("| star normal") + std::string(16, '.') + std::string(28, ' ') + "DONE! |",
        std::string("| star normalpassed") + std::string(38, ' ') + "DONE! |",
        std::string("| star preview image") + std::string(20, ' ') + "                 DONE! |",
        std::string("|") + std::string(38, '-') + " star LOADING COMPLETE! |",
    };
    EXPECT_EQ(rows[13], expectedStar[0]);
    EXPECT_EQ(rows[14], expectedStar[1]);
    EXPECT_EQ(rows[20], expectedStar[2]);
    EXPECT_EQ(rows[21], expectedStar[3]);
    EXPECT_EQ(rows[11], "| background.jp preview image           MISSING; LOAD DEFAULT! |");
    EXPECT_EQ(rows[1], ".--------------------------------------------------------------.");
    EXPECT_EQ(rows[rows.size() - 2], "| 2 markers loaded                                             |");
    EXPECT_EQ(rows.back(), "'--------------------------------------------------------------'");
}

TEST_F(Skins, ConsoleTableRowsPadNamesByCharactersNotBytes) {
    frames("stérn", "normal", 0, 0);
    load();
    const std::vector<std::string> rows = recording.rows();
    ASSERT_GT(rows.size(), 2u);
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(tableWidth(rows[i]), 64) << i << ": " << rows[i];
}

TEST_F(Skins, EmptyFolderReportsNoMarkers) {
    load();
    const std::vector<std::string> rows = recording.rows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[4], "| 0 markers loaded                                             |");
    EXPECT_EQ(table->nameCount, 0);

    TrecordingSteps missingFolder;
    loadMarkersWith(*table, folder.file("nowhere") + "/", missingFolder.steps());
    EXPECT_EQ(missingFolder.rows(), rows);
}

TEST_F(Skins, FiftySetsLoadFortyNineAndSayHowManyWereSkipped) {
    for (int i = 0; i < 50; ++i) touch(std::string("set") + std::to_string(100 + i) + "_prev.tga");
    load();
    EXPECT_EQ(table->nameCount, 49);
    EXPECT_EQ(table->loadedCount, 49);
    EXPECT_EQ(table->markers[49].name, "set148");
    const std::vector<std::string> rows = recording.rows();
    EXPECT_EQ(rows[rows.size() - 3], "| 49 markers loaded                                            |");
    EXPECT_EQ(rows.back(), "Skipped 1 more marker sets: there is room for 49.");
    // A further set cannot overrun the table.
    addMarkerWith(*table, markerFolder(), "set149", recording.steps());
    EXPECT_EQ(table->loadedCount, 49);
}

TEST(MarkerFrames, ProgressSpansTheFramesRoundingHalvesToEven) {
    Tmarker set;
    set.lastFrame[0] = 15;
    for (int i = 0; i <= 15; ++i) set.frames[0][i] = 100 + i;
    EXPECT_EQ(getFrame(set, 1, 0.0), 100u);
    EXPECT_EQ(getFrame(set, 1, 1.0), 115u);
    EXPECT_EQ(getFrame(set, 1, 0.5), 108u);      // 7.5 goes to 8
    EXPECT_EQ(getFrame(set, 1, 0.1), 102u);      // 1.5 goes to 2
    EXPECT_EQ(getFrame(set, 1, 1.0 / 6), 102u);  // 2.5 goes to 2
    set.lastFrame[2] = -1;
    set.frames[2][0] = 55;
    EXPECT_EQ(getFrame(set, 3, 0.5), 0u);  // a state without frames draws nothing
    EXPECT_EQ(getFrame(set, 0, 0.5), 0u);
    EXPECT_EQ(getFrame(set, 8, 0.5), 0u);
}

TEST(MarkerFrames, MenuIndexesAreSlotsShiftedByOneAndProgressIsClamped) {
    auto table = std::make_unique<TmarkersControl>();
    for (int slot = 1; slot <= 2; ++slot) {
        table->markers[slot].lastFrame[6] = 4;
        for (int i = 0; i <= 4; ++i) table->markers[slot].frames[6][i] = slot * 10 + i;
        table->markers[slot].preview = 900 + slot;
    }
    EXPECT_EQ(getMarkerFrame(*table, 0, 7, 0.0), 10u);
    EXPECT_EQ(getMarkerFrame(*table, 1, 7, 1.0), 24u);
    EXPECT_EQ(getMarkerFrame(*table, 1, 7, 3.0), 24u);
    EXPECT_EQ(getMarkerFrame(*table, 1, 7, -2.0), 20u);
    EXPECT_EQ(getMarkerFrame(*table, 1, 7, std::nan("")), 20u);
    EXPECT_EQ(getMarkerFrame(*table, -1, 7, 0.5), 0u);
    EXPECT_EQ(getMarkerFrame(*table, 49, 7, 0.5), 0u);
    EXPECT_EQ(getPreview(*table, 1), 901u);
    EXPECT_EQ(getPreview(*table, 2), 902u);
    EXPECT_EQ(getPreview(*table, 50), 0u);
}
