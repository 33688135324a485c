// The game folder: which folder start-up picks and how a new one is filled from an install.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/store/gameFolder.h"
#include "tests/support/testSupport.h"

namespace fs = std::filesystem;

namespace {

void writeNewFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    writeFile(path, bytes);
}

// An install prefix with a small stock pack: <prefix>/bin and <prefix>/share/trellik.
std::string makeInstall(const TtemporaryFolder& prefix) {
    fs::create_directories(prefix.file("bin"));
    const std::string data = prefix.file("share/trellik");
    writeNewFile(data + "/server/gfx/bigLogo.tga", "logo");
    writeNewFile(data + "/server/snd/mainmenu.mp3", "music");
    writeNewFile(data + "/server/font.fnt", "font");
    writeNewFile(data + "/server/latestVersion.txt", "62\r\n");
    writeNewFile(data + "/demo/sng/drift0.txt", "chart");
    writeNewFile(data + "/demo/MKR/Halo_normal_0.tga", "frame");
    writeNewFile(data + "/stock-version", "1\n");
    return data;
}

// Gives an environment variable its value back when the test ends.
class TenvironmentScope {
public:
    explicit TenvironmentScope(const char* variable) : name(variable) {
        const char* value = std::getenv(variable);
        wasSet = value != nullptr;
        if (wasSet) earlier = value;
    }
    ~TenvironmentScope() {
        if (wasSet) {
            ::setenv(name, earlier.c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

private:
    const char* name;
    bool wasSet = false;
    std::string earlier;
};

}  // namespace

TEST(GameFolder, TheChoiceFollowsTheRequestThenTheCurrentFolderThenTheInstall) {
    TtemporaryFolder current;
    const TgameFolderInputs installed{"", current.path(), "/opt/share/trellik", "/home/p/.local/share/Trellik"};
    EXPECT_EQ(chooseGameFolder(installed), "/home/p/.local/share/Trellik");
    TgameFolderInputs requested = installed;
    requested.requested = "/songs";
    EXPECT_EQ(chooseGameFolder(requested), "/songs");
    TgameFolderInputs fromCheckout = installed;
    fromCheckout.installedData = "";
    EXPECT_EQ(chooseGameFolder(fromCheckout), current.path());

    // Songs without the font are not yet a game folder; with it the installed game stays there.
    fs::create_directories(current.file("SNG"));
    EXPECT_EQ(chooseGameFolder(installed), "/home/p/.local/share/Trellik");
    writeFile(current.file("Font.fnt"), "font");
    EXPECT_EQ(chooseGameFolder(installed), current.path());
}

TEST(GameFolder, InstalledDataIsFoundBesideTheProgramOnly) {
    TtemporaryFolder prefix;
    const std::string data = makeInstall(prefix);
    EXPECT_EQ(installedDataFolder(prefix.file("bin/trellik")), data);
    TtemporaryFolder checkout;
    fs::create_directories(checkout.file("share/trellik/server"));  // no demo: not an install
    EXPECT_EQ(installedDataFolder(checkout.file("launcher/TrellikGL38")), "");
}

TEST(GameFolder, ThePlayersFolderIsUnderTheXdgDataFolder) {
    const TenvironmentScope dataHome("XDG_DATA_HOME");
    const TenvironmentScope home("HOME");
    ::setenv("XDG_DATA_HOME", "/data/p", 1);
    EXPECT_EQ(playerDataFolder(), "/data/p/Trellik");
    ::setenv("XDG_DATA_HOME", "relative", 1);
    ::setenv("HOME", "/home/p", 1);
    EXPECT_EQ(playerDataFolder(), "/home/p/.local/share/Trellik");
}

TEST(GameFolder, ANewFolderGetsTheStockFilesAndDemoAndAHalfCopyIsRedone) {
    TtemporaryFolder prefix;
    const std::string data = makeInstall(prefix);
    TtemporaryFolder home;
    const std::string folder = home.file("share/Trellik");
    // What a start killed while copying left behind.
    writeNewFile(folder + ".partial/sng/half.txt", "half");

    prepareGameFolder(folder, data);

    EXPECT_EQ(readFile(folder + "/gfx/bigLogo.tga"), "logo");
    EXPECT_EQ(readFile(folder + "/snd/mainmenu.mp3"), "music");
    EXPECT_EQ(readFile(folder + "/sng/drift0.txt"), "chart");
    EXPECT_EQ(readFile(folder + "/MKR/Halo_normal_0.tga"), "frame");
    EXPECT_TRUE(looksLikeGameFolder(folder));
    EXPECT_FALSE(fs::exists(folder + "/sng/half.txt"));
    EXPECT_FALSE(fs::exists(folder + "/latestVersion.txt"));
    EXPECT_FALSE(fs::exists(folder + ".partial"));

    // The player's folder is theirs from then on.
    fs::remove(folder + "/sng/drift0.txt");
    prepareGameFolder(folder, data);
    EXPECT_FALSE(fs::exists(folder + "/sng/drift0.txt"));
}

TEST(GameFolder, AFolderThatCannotBeMadeIsNamedInTheError) {
    TtemporaryFolder home;
    writeFile(home.file("notAFolder"), "a file where the data folder should be");
    const std::string folder = home.file("notAFolder/Trellik");
    try {
        prepareGameFolder(folder, "");
        FAIL() << "no error for " << folder;
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(folder), std::string::npos) << error.what();
    }
}

TEST(GameFolder, AFolderHoldingOnlyThePlayersFilesGetsTheStockFilesAndDemoBesideThem) {
    TtemporaryFolder prefix;
    const std::string data = makeInstall(prefix);
    TtemporaryFolder home;
    const std::string folder = home.file("Trellik");
    writeNewFile(folder + "/records.sqlite3", "plays");
    writeNewFile(folder + "/sng/drift0.txt", "the player's own edit");

    prepareGameFolder(folder, data);

    EXPECT_EQ(readFile(folder + "/gfx/bigLogo.tga"), "logo");
    EXPECT_EQ(readFile(folder + "/snd/mainmenu.mp3"), "music");
    EXPECT_EQ(readFile(folder + "/font.fnt"), "font");
    EXPECT_EQ(readFile(folder + "/MKR/Halo_normal_0.tga"), "frame");
    EXPECT_EQ(readFile(folder + "/records.sqlite3"), "plays");
    EXPECT_EQ(readFile(folder + "/sng/drift0.txt"), "the player's own edit");
    EXPECT_TRUE(looksLikeGameFolder(folder));
}

TEST(GameFolder, WhatAnExistingFolderCannotBeGivenIsAWarningAndTheRestArrives) {
    TtemporaryFolder prefix;
    const std::string data = makeInstall(prefix);
    TtemporaryFolder home;
    const std::string folder = home.file("Trellik");
    writeNewFile(folder + "/MKR", "a file where the skins would go");

    const std::string warning = prepareGameFolder(folder, data);

    EXPECT_NE(warning.find(folder + "/MKR"), std::string::npos) << warning;
    EXPECT_EQ(readFile(folder + "/font.fnt"), "font");
    EXPECT_EQ(readFile(folder + "/MKR"), "a file where the skins would go");
    EXPECT_FALSE(fs::exists(folder + "/.stock-version"));
}

TEST(GameFolder, StockFilesFollowTheInstallsStockVersionAndThePlayersSongsStay) {
    TtemporaryFolder prefix;
    const std::string data = makeInstall(prefix);
    TtemporaryFolder home;
    const std::string folder = home.file("Trellik");
    prepareGameFolder(folder, data);
    writeNewFile(folder + "/sng/mine.txt", "the player's song");
    writeFile(folder + "/sng/drift0.txt", "the player's own edit");
    fs::remove(folder + "/MKR/Halo_normal_0.tga");
    fs::remove(folder + "/GFX/bigLogo.tga");
    fs::rename(folder + "/gfx", folder + "/GFX");

    // The same version: a lost stock file comes back, the player's choices stay.
    prepareGameFolder(folder, data);
    EXPECT_EQ(readFile(folder + "/GFX/bigLogo.tga"), "logo");
    EXPECT_FALSE(fs::exists(folder + "/MKR/Halo_normal_0.tga"));

    // An upgrade with other stock files replaces them; songs stay as the player left them.
    writeFile(data + "/server/gfx/bigLogo.tga", "new logo");
    writeFile(data + "/server/font.fnt", "new font");
    writeFile(data + "/demo/sng/drift0.txt", "new chart");
    writeFile(data + "/stock-version", "2\n");
    prepareGameFolder(folder, data);
    EXPECT_EQ(readFile(folder + "/GFX/bigLogo.tga"), "new logo");
    EXPECT_EQ(readFile(folder + "/font.fnt"), "new font");
    EXPECT_EQ(readFile(folder + "/sng/drift0.txt"), "the player's own edit");
    EXPECT_EQ(readFile(folder + "/sng/mine.txt"), "the player's song");
    EXPECT_FALSE(fs::exists(folder + "/gfx"));
    EXPECT_EQ(readFile(folder + "/.stock-version"), "2\n");
}

TEST(GameFolder, TheInstalledGameStartedInThePlayersFolderStillFillsIt) {
    TtemporaryFolder prefix;
    const std::string data = makeInstall(prefix);
    TtemporaryFolder home;
    const TenvironmentScope dataHome("XDG_DATA_HOME");
    const TenvironmentScope gameDir("TRELLIK_GAME_DIR");
    ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    ::unsetenv("TRELLIK_GAME_DIR");
    const std::string folder = home.file("Trellik");
    writeNewFile(folder + "/sng/drift0.txt", "chart");
    writeNewFile(folder + "/font.fnt", "font");
    TworkingDirectory inFolder(folder);

    enterGameFolder("", prefix.file("bin/trellik"));

    EXPECT_EQ(readFile(folder + "/gfx/bigLogo.tga"), "logo");
}
