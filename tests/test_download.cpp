// Downloads of missing files against the embedded update server running in the test.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/net/downloadFileCode.h"
#include "platform/window/globalConsoleCode.h"
#include "platform/store/pathResolver.h"
#include "tests/support/downloadProbe.h"
#include "tests/support/stallingServer.h"
#include "tests/support/testSupport.h"
#include "tests/support/updateServerFixture.h"

namespace {

namespace fs = std::filesystem;

// A server root with a few stock files and an empty game folder as the working directory.
struct TdownloadSetup {
    TtemporaryFolder root;
    TtemporaryFolder game;
    TworkingDirectory inGame{game.path()};
    TupdateServerFixture server{root.path()};

    TdownloadSetup() {
        fs::create_directories(root.file("snd"));
        writeFile(root.file("snd/readyGo.mp3"), "ready go bytes");
        writeFile(root.file("font.fnt"), "font");
    }
    std::vector<std::string> gameFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(game.path()))
            names.push_back(fs::relative(entry.path(), game.path()).string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST(Download, BackslashPathIsRequestedWithSlashesAndLandsInPlace) {
    TdownloadSetup setup;
    EXPECT_TRUE(downloadFile(setup.server.baseUrl() + "snd\\readyGo.mp3", "snd\\readyGo.mp3", false));
    EXPECT_EQ(readFile(setup.game.file("snd/readyGo.mp3")), "ready go bytes");
    const std::vector<TservedRequest> requests = setup.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/snd/readyGo.mp3");
    EXPECT_EQ(requests[0].userAgent, "Trellik-Downloader/1.0");
    EXPECT_EQ(setup.gameFiles(), (std::vector<std::string>{"snd", "snd/readyGo.mp3"}));
}

TEST(Download, ReplacesAnExistingFileWholeInAFolderOfAnyCase) {
    TdownloadSetup setup;
    fs::create_directories(setup.game.file("SND"));
    writeFile(setup.game.file("SND/readyGo.mp3"), "an older and much longer file");
    downloadFile(setup.server.baseUrl() + "snd/readyGo.mp3", "snd/readyGo.mp3", false);
    EXPECT_EQ(readFile(setup.game.file("SND/readyGo.mp3")), "ready go bytes");
    EXPECT_EQ(setup.gameFiles(), (std::vector<std::string>{"SND", "SND/readyGo.mp3"}));
}

TEST(Download, FailuresRaiseAndLeaveNoTargetBehind) {
    TdownloadSetup setup;
    setup.server.failWith("snd/error.mp3", 500);
    setup.server.cutShort("snd/cut.mp3", "only the start", 100000);
    const std::string base = setup.server.baseUrl();
    const std::string missing = downloadError(base + "snd/missing.mp3", "snd/missing.mp3");
    EXPECT_NE(missing.find("404"), std::string::npos) << missing;
    EXPECT_NE(missing.find(base + "snd/missing.mp3"), std::string::npos) << missing;
    EXPECT_NE(downloadError(base + "snd/error.mp3", "snd/error.mp3").find("500"), std::string::npos);
    EXPECT_NE(downloadError(base + "snd/cut.mp3", "snd/cut.mp3"), "");
    setup.server.stop();
    EXPECT_NE(downloadError(base + "snd/readyGo.mp3", "snd/readyGo.mp3"), "");
    EXPECT_EQ(setup.gameFiles(), (std::vector<std::string>{"snd"}));
}

TEST(Download, FailureLeavesAnOldTargetUntouched) {
    TdownloadSetup setup;
    fs::create_directories(setup.game.file("snd"));
    writeFile(setup.game.file("snd/old.mp3"), "old");
    setup.server.cutShort("snd/old.mp3", "new but cut", 5000);
    EXPECT_NE(downloadError(setup.server.baseUrl() + "snd/old.mp3", "snd/old.mp3"), "");
    EXPECT_EQ(readFile(setup.game.file("snd/old.mp3")), "old");
    EXPECT_EQ(setup.gameFiles(), (std::vector<std::string>{"snd", "snd/old.mp3"}));
}

TEST(Download, AFolderThatCannotBeMadeIsAClearError) {
    TdownloadSetup setup;
    writeFile(setup.game.file("snd"), "a file where the folder should be");
    const std::string error = downloadError(setup.server.baseUrl() + "snd/readyGo.mp3", "snd/readyGo.mp3");
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
}

TEST(Download, AnnouncementOpensAFreshConsoleLineThatTheCallerFinishes) {
    TdownloadSetup setup;
    TglConsole console;
    console.maxLines = 22;
    setCurrentConsole(&console);
    consoleWrite("Ready Go Sound...");
    downloadFile(setup.server.baseUrl() + "snd\\readyGo.mp3", "snd\\readyGo.mp3", true);
    consoleWriteLine("DONE!");
    EXPECT_EQ(std::vector<std::string>(console.lines.begin(), console.lines.end()),
              (std::vector<std::string>{"Ready Go Sound...", "File snd\\readyGo.mp3 missing; downloading...DONE!"}));
    setCurrentConsole(nullptr);
}

TEST(Download, ProgressSeesTheAnnouncedSizeAndCanCancel) {
    TdownloadSetup setup;
    uint64_t announced = 0;
    uint64_t received = 0;
    const TdownloadProgress remember = [&](uint64_t total, uint64_t got) {
        announced = total;
        received = got;
        return true;
    };
    fetchToFile(setup.server.baseUrl() + "font.fnt", "font.fnt", "Trellik-Updater/1.0", remember);
    EXPECT_EQ(announced, 4u);
    EXPECT_EQ(received, 4u);
    EXPECT_EQ(setup.server.waitForRequests(1).back().userAgent, "Trellik-Updater/1.0");
    fs::remove(setup.game.file("font.fnt"));
    EXPECT_THROW(fetchToFile(setup.server.baseUrl() + "font.fnt", "font.fnt", "Trellik-Updater/1.0",
                             [](uint64_t, uint64_t) { return false; }),
                 std::runtime_error);
    EXPECT_TRUE(setup.gameFiles().empty());
}

TEST(Download, AReplyPastItsSizeCeilingFailsClearlyWhetherItAnnouncedItsLengthOrNot) {
    TtemporaryFolder game;
    TworkingDirectory inGame(game.path());
    const std::string body(3000, 'x');
    TscriptedServer server({{"announced", replyHeaderFor(body.size()) + body},
                            {"unannounced", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body}});
    for (const std::string path : {"announced", "unannounced"}) {
        SCOPED_TRACE(path);
        std::string error;
        try {
            fetchToFile(server.baseUrl() + path, path, "Trellik-Downloader/1.0", {}, 2048);
        } catch (const std::runtime_error& failure) {
            error = failure.what();
        }
        EXPECT_NE(error.find(": the file is larger than 2048 bytes."), std::string::npos) << error;
        EXPECT_TRUE(fs::is_empty(game.path()));
    }
}

TEST(Download, AReplyOfExactlyItsSizeCeilingIsKeptAndOneByteMoreFails) {
    for (const size_t size : {size_t{2048}, size_t{2049}}) {
        const std::string body(size, 'x');
        TscriptedServer server({{"announced", replyHeaderFor(body.size()) + body},
                                {"unannounced", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body}});
        for (const std::string path : {"announced", "unannounced"}) {
            SCOPED_TRACE(path + " " + std::to_string(size));
            TtemporaryFolder game;
            TworkingDirectory inGame(game.path());
            std::string error;
            try {
                fetchToFile(server.baseUrl() + path, path, "Trellik-Downloader/1.0", {}, 2048);
            } catch (const std::runtime_error& failure) {
                error = failure.what();
            }
            if (size == 2048) {
                EXPECT_EQ(error, "");
                EXPECT_EQ(readFile(game.file(path)), body);
            } else {
                EXPECT_NE(error.find(": the file is larger than 2048 bytes."), std::string::npos) << error;
                EXPECT_TRUE(fs::is_empty(game.path()));
            }
        }
    }
}

TEST(Download, ARedirectsAnnouncedLengthIsNotTakenForTheReplyItLeadsTo) {
    TtemporaryFolder game;
    TworkingDirectory inGame(game.path());
    TscriptedServer server({{"moved", "HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 5\r\n"
                                      "Connection: close\r\n\r\nmoved"},
                            {"final", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nthe final bytes"}});
    std::vector<uint64_t> announced;
    const int64_t length = fetchToFile(server.baseUrl() + "moved", "file", "Trellik-Updater/1.0",
                                       [&announced](uint64_t size, uint64_t) {
                                           announced.push_back(size);
                                           return true;
                                       });
    EXPECT_EQ(length, -1);
    EXPECT_EQ(readFile(game.file("file")), "the final bytes");
    for (const uint64_t size : announced) EXPECT_EQ(size, 0u);
}

// What start-up passes: files at the top of the game folder, and the stock folders.
const TdownloadTargets gameTargets{{"font.fnt", "motd.txt"}, {"gfx", "snd"}};

std::vector<std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) found.push_back(fs::relative(entry.path(), folder).string());
    std::sort(found.begin(), found.end());
    return found;
}

TEST(Download, LeftoversOfEndedRunsAreClearedAndTransfersStillGoingAreKept) {
    TtemporaryFolder game;
    fs::create_directories(game.file("gfx"));
    fs::create_directories(game.file("SND"));
    // No system hands out a process number this large.
    writeFile(game.file("gfx/bigLogo.tga.part-999999999-0"), "half a logo");
    writeFile(game.file("Font.fnt.part-999999999-12"), "half a font");
    const std::string stillArriving = "SND/readyGo.mp3.part-" + std::to_string(::getppid()) + "-3";
    writeFile(game.file(stillArriving), "still arriving");
    writeFile(game.file("gfx/bigLogo.tga"), "a whole logo");
    writeFile(game.file("SND/my.part-2-song.mp3"), "a player's file");
    removeLeftoverDownloads(game.path(), gameTargets);
    EXPECT_EQ(filesBelow(game.path()),
              (std::vector<std::string>{"SND/my.part-2-song.mp3", stillArriving, "gfx/bigLogo.tga"}));
}

TEST(Download, TheCleanupLooksOnlyBesideTheDownloadTargets) {
    // A game folder that is the player's home, holding files named like leftovers.
    TtemporaryFolder home;
    const std::vector<std::string> playersFiles = {
        "Documents/taxes/return.part-999999999-12", "gfx/old/logo.tga.part-999999999-0", "notes.txt.part-999999999-1",
        "sng/song.mp3.part-999999999-2"};
    for (const std::string& name : playersFiles) {
        fs::create_directories(fs::path(home.file(name)).parent_path());
        writeFile(home.file(name), "the player's");
    }
    removeLeftoverDownloads(home.path(), gameTargets);
    std::vector<std::string> expected = playersFiles;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filesBelow(home.path()), expected);
}

TEST(RequestUrl, TurnsBackslashesIntoSlashesAndEscapesWhatAUrlCannotHold) {
    EXPECT_EQ(requestUrl("http://h/snd\\readyGo.mp3"), "http://h/snd/readyGo.mp3");
    EXPECT_EQ(requestUrl("http://h/gfx/bigLogo.tga"), "http://h/gfx/bigLogo.tga");
    EXPECT_EQ(requestUrl("http://h/sng/my song\xC3\xA9.mp3"), "http://h/sng/my%20song%C3%A9.mp3");
}

TEST(UpdateServerUrl, AlwaysEndsInASlash) {
    setUpdateServerUrl("http://example.test:1234");
    EXPECT_EQ(updateServerUrl(), "http://example.test:1234/");
    setUpdateServerUrl("http://example.test/");
    EXPECT_EQ(updateServerUrl(), "http://example.test/");
}
