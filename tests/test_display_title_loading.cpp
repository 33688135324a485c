// The game program loading a fresh game folder from the update server: every line of
// "debug.txt" in its order, and a loading that goes on when a stock file cannot be fetched.
#include <gtest/gtest.h>

#include <signal.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/assistSounds.h"
#include "platform/buildNumber.h"
#include "tests/support/childProcess.h"
#include "tests/support/testSupport.h"
#include "tests/support/updateServerFixture.h"
#include "tests/test_title_gameFolder.h"

namespace {

// Sounds, images and the default jacket the loading fetches into an empty game folder.
constexpr size_t fetchedFiles = 5 + 7 + 3 + 10 + 4 + 1;

struct TloadingRun {
    TtemporaryFolder stock;
    TtemporaryFolder game;
    TtemporaryFolder logs;

    TloadingRun() {
        writeStockFiles(stock.path());
        writeInFolder(game.path(), "font.fnt", blockFontBytes());
        const Tcolour red = {255, 0, 0};
        writeSong(game.path(), "alpha", "02", &red);
        writeSong(game.path(), "beta", "1");
        writeSkin(game.path(), "star", {255, 255, 0});
    }

    // Starts the game, lets it load everything it fetches and ends it the way the window
    // system asks a program to quit; the loading, one draw call, finishes first.
    int loadAndQuit(TupdateServerFixture& server) const {
        TchildProcess program(builtProgram("launcher/TrellikGL38"), {"--start"}, game.path(),
                              {"TRELLIK_UPDATE_URL=" + server.baseUrl(), "XDG_CONFIG_HOME=" + logs.path(),
                               "TRELLIK_HEADLESS=1", "TRELLIK_AUDIO=silent"},
                              logs.file("stderr.txt"));
        server.waitForRequests(fetchedFiles);
        program.signal(SIGTERM);
        return program.wait();
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::istringstream log(readFile(game.file("debug.txt")));
        for (std::string line; std::getline(log, line);) {
            EXPECT_FALSE(line.empty() || line.back() != '\r') << "line without CR LF: " << line;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
};

std::string blanks(int count) {
    return std::string(static_cast<size_t>(count), ' ');
}

std::vector<std::string> fetchedImageLines(const std::vector<std::pair<std::string, std::string>>& images) {
    std::vector<std::string> lines;
    for (const auto& [label, path] : images) {
        lines.push_back(label);
        lines.push_back("File " + path + " missing; downloading...DONE!");
    }
    return lines;
}

std::vector<std::string> skinTableLines() {
    std::vector<std::string> lines = {
        "Loading Markers:",
        ".--------------------------------------------------------------.",
        "| Marker/State:                                                |",
        "|--------------------------------------------------------------|",
    };
    for (const char* state : markerStateNames) {
        const int padding = 54 - static_cast<int>(std::string(state).size()) - 4 - 1;
        lines.push_back("| star " + std::string(state) + "." + blanks(padding) + "DONE! |");
    }
    lines.push_back("| star preview image" + blanks(20) + blanks(17) + "DONE! |");
    lines.push_back("|" + std::string(38, '-') + " star LOADING COMPLETE! |");
    lines.push_back("| 1 markers loaded" + blanks(45) + "|");
    lines.push_back("'--------------------------------------------------------------'");
    return lines;
}

std::vector<std::string> expectedLog(int build) {
    std::vector<std::string> lines = {
        "Begin load of TrellikGL v3.8." + std::to_string(build),
        "",
        "Checking data folders; creating if necessary...DONE!",
        "",
        "If you can hear music then FMOD is Loaded!",
        "Sound: silent clock",
        "I hope your firewall is off or at least lets me through!",
        "",
        "Loading sounds and downloading if necessary:",
        "",
        "Main Menu music...",
        "File snd\\mainmenu.mp3 missing; downloading...DONE!",
        "\"Ready Go!\" Sound...",
        "File snd\\readyGo.mp3 missing; downloading...DONE!",
        "gobutton sound...",
        "File snd\\goButton.mp3 missing; downloading...DONE!",
        "Assist tick sound...",
        "File snd\\assistTick.mp3 missing; downloading...DONE!",
        "Hit sound...",
        "File snd\\hitSound.mp3 missing; downloading...DONE!",
        "",
        "Loading textures and downloading if necessary:",
        "",
    };
    auto append = [&lines](const std::vector<std::string>& more) { lines.insert(lines.end(), more.begin(), more.end()); };
    append(fetchedImageLines({{"Loading Logo...", "gfx/bigLogo.tga"},
                              {"Loading fade texture...", "gfx/blank.tga"},
                              {"Loading Menu Left Arrow Button...", "gfx/leftArrow.tga"},
                              {"Loading Menu Right Arrow Button...", "gfx/rightArrow.tga"},
                              {"Loading Menu Marker Select Button...", "gfx/markerButton.tga"},
                              {"Loading Menu GO Button...", "gfx/goButton.tga"},
                              {"Loading Marker Menu Back Button...", "gfx/backButton.tga"}}));
    append({"", "Loading Jacket Textures:", ""});
    append(fetchedImageLines({{"Jacket Border...", "gfx/coverBorder.tga"},
                              {"Jacket Glow...", "gfx/coverGlow.tga"},
                              {"\"Start Here\" Marker...", "gfx/startHere.tga"}}));
    append({"", "Large Numbers for score display etc: 0 1 2 3 4 5 6 7 8 9 DONE!", ""});
    append(fetchedImageLines({{"\"Combo\" Text...", "gfx/comboText.tga"},
                              {"Top Shutter...", "gfx/topShutter.tga"},
                              {"Bottom Shutter...", "gfx/btmShutter.tga"},
                              {"Panel Highlight...", "gfx/panelHighlight.tga"}}));
    append({
        "",
        "Loading songs:",
        ".--------------------------------------------------------------.",
        "| Song Name:                                   | Difficulties: |",
        "|----------------------------------------------|---------------|",
        "| alpha" + blanks(40) + "|  BSC     EXT  |",
        "| beta" + blanks(41) + "|      ADV      |",
        "|--------------------------------------------------------------|",
        "| 2 songs loaded" + blanks(47) + "|",
        "'--------------------------------------------------------------'",
        "",
    });
    append(skinTableLines());
    append({"", "Loading completed."});
    return lines;
}

bool isTimeTakenLine(const std::string& line) {
    const std::string prefix = "Time Taken: ";
    const std::string suffix = " seconds";
    if (line.rfind(prefix, 0) != 0 || line.size() <= prefix.size() + suffix.size()) return false;
    if (line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    const std::string number = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    return number.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

TEST(LoadingSequence, LogsEveryStepInOrderWhileFetchingTheStockFiles) {
    TloadingRun run;
    TupdateServerFixture server(run.stock.path());
    ASSERT_EQ(run.loadAndQuit(server), 0) << readFile(run.logs.file("stderr.txt"));
    const std::vector<std::string> expected = expectedLog(getBuildNumber(builtProgram("launcher/TrellikGL38")));
    const std::vector<std::string> lines = run.logLines();
    ASSERT_EQ(lines.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
    EXPECT_TRUE(isTimeTakenLine(lines.back())) << lines.back();
    for (const char* folder : {"GFX", "MKR", "SND", "SNG"}) EXPECT_TRUE(isFolder(run.game.file(folder))) << folder;
    EXPECT_EQ(readFile(resolvePath(run.game.file("gfx/goButton.tga"))), readFile(run.stock.file("gfx/goButton.tga")));
    // The sounds the game opens, each by the name the game asks for, against those fetched.
    for (const char* opened : {"snd\\mainmenu.mp3", "snd\\readyGo.mp3", "snd\\goButton.mp3", assistTickFile, hitSoundFile})
        EXPECT_TRUE(pathExists(resolvePath(run.game.file(opened)))) << opened;
    for (const char* served : stockSoundFiles())
        EXPECT_TRUE(pathExists(resolvePath(run.game.file(served)))) << served;
}

TEST(LoadingSequence, GoesOnWhenAStockFileCannotBeFetched) {
    TloadingRun run;
    TupdateServerFixture server(run.stock.path());
    server.failWith("gfx/blank.tga", 404);
    ASSERT_EQ(run.loadAndQuit(server), 0) << readFile(run.logs.file("stderr.txt"));
    const std::vector<std::string> lines = run.logLines();
    size_t fade = 0;
    while (fade < lines.size() && lines[fade] != "Loading fade texture...") ++fade;
    ASSERT_LT(fade + 4, lines.size());
    EXPECT_EQ(lines[fade + 1], "File gfx/blank.tga missing; downloading...");
    EXPECT_EQ(lines[fade + 2].rfind("Could not download " + server.baseUrl() + "gfx/blank.tga", 0), 0u) << lines[fade + 2];
    EXPECT_EQ(lines[fade + 3], "DONE!");
    EXPECT_EQ(lines[fade + 4], "Loading Menu Left Arrow Button...");
    EXPECT_EQ(lines[lines.size() - 2], "Loading completed.");
}
