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
