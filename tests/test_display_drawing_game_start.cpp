// A game run started in an empty folder: the console font comes from the update server, or the
// run ends with one clear message when the server is not there.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/support/childProcess.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"
#include "tests/support/updateServerFixture.h"

namespace {

// The game program started straight into a game run, in an empty game folder.
struct TgameStart {
    TtemporaryFolder stock;
    TtemporaryFolder game;
    TtemporaryFolder logs;

    TgameStart() { writeFile(stock.file("font.fnt"), sampleFontFileBytes()); }

    TchildProcess start(const std::string& serverUrl) const {
        return TchildProcess(builtProgram("launcher/TrellikGL38"), {"--start"}, game.path(),
                             {"TRELLIK_UPDATE_URL=" + serverUrl, "TRELLIK_HEADLESS=1", "TRELLIK_AUDIO=silent"},
                             logs.file("stderr.txt"));
    }
    std::string standardError() const { return readFile(logs.file("stderr.txt")); }
};

}  // namespace

TEST(GameStart, FetchesTheConsoleFontAndWritesTheLog) {
    TgameStart setup;
    TupdateServerFixture server(setup.stock.path());
    TchildProcess game = setup.start(server.baseUrl());
    const std::vector<TservedRequest> requests = server.waitForRequests(1);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].path, "/font.fnt");
    EXPECT_EQ(requests[0].status, 200);
    // The window system's quit request: the run finishes what it does and closes normally.
    game.signal(SIGTERM);
    EXPECT_EQ(game.wait(), 0) << setup.standardError();
    EXPECT_EQ(readFile(setup.game.file("font.fnt")), sampleFontFileBytes());
    EXPECT_EQ(readFile(setup.game.file("debug.txt")).rfind("\r\nFile font.fnt missing; downloading...", 0), 0u);
}

TEST(GameStart, WithoutTheServerEndsWithOneClearMessage) {
    TgameStart setup;
    std::string refusingUrl;
    {
        TupdateServerFixture stopped(setup.stock.path());
        refusingUrl = stopped.baseUrl();
    }
    TchildProcess game = setup.start(refusingUrl);
    EXPECT_EQ(game.wait(), 1);
    const std::string message = setup.standardError();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find("Could not download " + refusingUrl + "font.fnt"), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(setup.game.file("font.fnt")));
    EXPECT_TRUE(std::filesystem::exists(setup.game.file("debug.txt")));
}
