// The console's line list and its "debug.txt" mirror, and the global operations that reach it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/net/downloadFileCode.h"
#include "platform/window/globalConsoleCode.h"
#include "tests/support/testSupport.h"
#include "tests/support/updateServerFixture.h"

namespace {

// A console with its log in a fresh working folder, as startConsole leaves it (font aside).
struct TloggedConsole {
    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    TglConsole console;

    TloggedConsole() {
        console.debugLog = std::make_unique<TdebugFile>();
        console.maxLines = 22;
    }
    std::vector<std::string> lines() const { return {console.lines.begin(), console.lines.end()}; }
    std::string log() const { return readFile(folder.file("debug.txt")); }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(Console, WriteThenWriteLineGiveOneLineOnScreenAndInTheLog) {
    TloggedConsole test;
    write(test.console, "Loading Logo...");
    writeLine(test.console, "DONE!");
    write(test.console, "next");
    EXPECT_EQ(test.lines(), (Lines{"Loading Logo...DONE!", "next"}));
    EXPECT_EQ(test.log(), "Loading Logo...DONE!\r\nnext");
}

TEST(Console, EmptyWriteLineEndsTheLineOrAddsAnEmptyOne) {
    TloggedConsole test;
    write(test.console, "first");
    writeLine(test.console, "");
    writeLine(test.console, "");
    writeLine(test.console, "third");
    EXPECT_EQ(test.lines(), (Lines{"first", "", "third"}));
    EXPECT_EQ(test.log(), "first\r\n\r\nthird\r\n");
}

TEST(Console, TheTwentyThirdLineDropsTheOldest) {
    TloggedConsole test;
    for (int i = 0; i < 23; ++i) writeLine(test.console, "line " + std::to_string(i));
    ASSERT_EQ(test.console.lines.size(), 22u);
    EXPECT_EQ(test.console.lines.front(), "line 1");
    EXPECT_EQ(test.console.lines.back(), "line 22");
    write(test.console, "more");
    EXPECT_EQ(test.console.lines.size(), 22u);
    EXPECT_EQ(test.console.lines.front(), "line 2");
}

TEST(Console, AfterCloseLogWritesReachTheScreenOnly) {
    TloggedConsole test;
    writeLine(test.console, "logged");
    closeLog(test.console);
    writeLine(test.console, "screen only");
    closeLog(test.console);
    EXPECT_EQ(test.lines(), (Lines{"logged", "screen only"}));
    EXPECT_EQ(test.log(), "logged\r\n");
}

TEST(Console, GlobalOperationsReachTheCurrentConsoleWhileItLives) {
    TloggedConsole test;
    setCurrentConsole(&test.console);
    consoleWrite("Main Menu music...");
    consoleWriteLine("DONE!");
    EXPECT_EQ(test.lines(), (Lines{"Main Menu music...DONE!"}));
    {
        TglConsole shortLived;
        setCurrentConsole(&shortLived);
    }
    EXPECT_EQ(currentConsole(), nullptr);
    consoleWriteLine("goes nowhere");
    EXPECT_EQ(test.log(), "Main Menu music...DONE!\r\n");
}

TEST(Console, LogOnlyLinesGoToTheOpenLogOrAreAppendedAfterItClosed) {
    TloggedConsole test;
    setCurrentConsole(&test.console);
    consoleWriteLine("Time Taken: 1.0 seconds");
    appendToDebugLog("while loading");
    closeLog(test.console);
    appendToDebugLog("during play");
    setCurrentConsole(nullptr);
    EXPECT_EQ(test.lines(), (Lines{"Time Taken: 1.0 seconds"}));
    EXPECT_EQ(test.log(), "Time Taken: 1.0 seconds\r\nwhile loading\r\nduring play\r\n");
}

TEST(DebugFile, StartsEmptyAndRaisesWhenItCannotBeCreated) {
    TtemporaryFolder folder;
    writeFile(folder.file("debug.txt"), "old run");
    {
        TdebugFile log(folder.file("debug.txt"));
        log.writeLine("new");
    }
    EXPECT_EQ(readFile(folder.file("debug.txt")), "new\r\n");
    try {
        TdebugFile log(folder.file("missing/debug.txt"));
        FAIL() << "a log was created in a missing folder";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("debug.txt"), std::string::npos) << error.what();
    }
}

TEST(ConsoleStart, UnreachableServerForAMissingFontRaisesAfterAnnouncingIt) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    std::string refusingUrl;
    {
        TupdateServerFixture stopped(folder.path());
        refusingUrl = stopped.baseUrl();
    }
    setUpdateServerUrl(refusingUrl);
    TglConsole console;
    setCurrentConsole(&console);
    EXPECT_THROW(startConsole(console, 22, "font.fnt"), std::runtime_error);
    EXPECT_EQ(readFile(folder.file("debug.txt")), "\r\nFile font.fnt missing; downloading...");
    EXPECT_FALSE(std::filesystem::exists(folder.file("font.fnt")));
}
