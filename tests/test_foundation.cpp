// Index conventions, view geometry, build numbers, paths and the key table.
#include <gtest/gtest.h>

#include <SDL.h>

#include <filesystem>
#include <vector>

#include "engine/trellikGL38Engine.h"
#include "platform/buildNumber.h"
#include "platform/store/pathResolver.h"
#include "platform/input/virtualKeys.h"
#include "tests/support/testSupport.h"

TEST(IndexConventions, TransposeIsItsOwnInverseAndMapsRowsToColumns) {
    for (int k = 0; k < 16; ++k) EXPECT_EQ(transposeIndex(transposeIndex(k)), k);
    EXPECT_EQ(transposeIndex(1), 4);   // row 0, column 1 is the second column's top panel
    EXPECT_EQ(transposeIndex(4), 1);
    EXPECT_EQ(transposeIndex(15), 15);
}

TEST(IndexConventions, KeyIndexOfTakesTheHighestIndexAndComparesLow16Bits) {
    auto game = std::make_unique<TtrellikGL>();
    for (int i = 0; i < 16; ++i) game->launch.keys[i] = 100 + i;
    game->launch.keys[3] = 'A';
    game->launch.keys[11] = 'A';
    EXPECT_EQ(keyIndexOf(*game, 'A'), 11);
    EXPECT_EQ(keyIndexOf(*game, 0x10000 + 'A'), 11);
    game->launch.keys[5] = 0x20000 + 'Z';
    EXPECT_EQ(keyIndexOf(*game, 'Z'), 5);
    EXPECT_EQ(keyIndexOf(*game, 27), -1);
}

TEST(ViewGeometry, DepthAndVerticalOffsetFollowScaleAndAdjustment) {
    EXPECT_DOUBLE_EQ(depthForScale(1.0), -7.0);
    EXPECT_DOUBLE_EQ(depthForScale(0.1), -70.0);
    EXPECT_DOUBLE_EQ(yOffsetFor(0.703, 0.0), 0.0);
    EXPECT_NEAR(yOffsetFor(0.703, 4.0), -1.0754, 1e-4);
}

TEST(LaunchDefaults, MatchTheFirstRunSettings) {
    const LaunchParameters parameters = defaultLaunchParameters("x");
    EXPECT_EQ(parameters.width, 600);
    EXPECT_EQ(parameters.height, 600);
    EXPECT_FALSE(parameters.fullscreen);
    EXPECT_EQ(parameters.keys[0], '4');
    EXPECT_EQ(parameters.keys[4], 'R');
    EXPECT_EQ(parameters.keys[15], 'M');
    EXPECT_DOUBLE_EQ(parameters.scale, 0.703);
    EXPECT_DOUBLE_EQ(parameters.yAdjust, 4.0);
    EXPECT_EQ(windowTitleFor(62), "TrellikGL v3.8 BUILD 62");
    EXPECT_EQ(windowTitleFor(-1), "TrellikGL v3.8 BUILD -1");
}

TEST(BuildNumber, ReadsTheProgramsNoteAndRefusesOtherFiles) {
    EXPECT_EQ(getBuildNumber(builtProgram("launcher/TrellikGL38")), 62);
    EXPECT_EQ(getBuildNumber("/bin/sh"), -1);
    EXPECT_EQ(getBuildNumber("/no/such/file"), -1);
    TtemporaryFolder folder;
    writeFile(folder.file("short"), "\x7f" "ELF\x02");
    EXPECT_EQ(getBuildNumber(folder.file("short")), -1);
}

TEST(PathResolver, MatchesExistingNamesInAnyCaseWithEitherSeparator) {
    TtemporaryFolder folder;
    std::filesystem::create_directories(folder.file("GFX/Sub"));
    writeFile(folder.file("GFX/Sub/Logo.TGA"), "x");
    EXPECT_EQ(resolvePath(folder.path() + "\\gfx\\sub\\logo.tga"), folder.file("GFX/Sub/Logo.TGA"));
    EXPECT_EQ(resolvePath(folder.path() + "/gfx/SUB/new.tga"), folder.file("GFX/Sub/new.tga"));
    EXPECT_TRUE(pathExists(folder.path() + "/gfx\\SUB/LOGO.tga"));
    EXPECT_FALSE(pathExists(folder.path() + "/gfx/missing.tga"));
}

TEST(PathResolver, AnExactCaseEntryWinsOverItsOtherSpellings) {
    TtemporaryFolder folder;
    std::filesystem::create_directories(folder.file("gfx"));
    std::filesystem::create_directories(folder.file("GFX"));
    for (const char* name : {"gfx/logo.tga", "gfx/LOGO.tga", "GFX/logo.tga"}) writeFile(folder.file(name), name);
    EXPECT_EQ(resolvePath(folder.path() + "/gfx/logo.tga"), folder.file("gfx/logo.tga"));
    EXPECT_EQ(resolvePath(folder.path() + "/gfx/LOGO.tga"), folder.file("gfx/LOGO.tga"));
    EXPECT_EQ(resolvePath(folder.path() + "/GFX/logo.tga"), folder.file("GFX/logo.tga"));
    // Without an exact entry the choice is still the same every time: the smallest spelling.
    EXPECT_EQ(resolvePath(folder.path() + "/gfx/Logo.tga"), folder.file("gfx/LOGO.tga"));
}

TEST(PathResolver, CreatesInsideExistingFolderOfAnotherCase) {
    TtemporaryFolder folder;
    std::filesystem::create_directories(folder.file("GFX"));
    ASSERT_TRUE(createParentFolders(folder.path() + "/gfx/deep/x.tga"));
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("GFX/deep")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("gfx")));
}

TEST(PathResolver, ListsByMaskWithoutCaseSortedWithoutCase) {
    TtemporaryFolder folder;
    for (const char* name : {"b.txt", "A.TXT", "c.Txt", "d.jpg", "B2.txt"}) writeFile(folder.file(name), "");
    const std::vector<std::string> expected = {"A.TXT", "b.txt", "B2.txt", "c.Txt"};
    EXPECT_EQ(listFolder(folder.path(), "*.txt"), expected);
    EXPECT_TRUE(listFolder(folder.file("missing"), "*").empty());
}

namespace {

int keyFor(SDL_Keycode keycode, SDL_Scancode scancode, uint16_t modifiers = 0) {
    return virtualKeyFromSdl(keycode, scancode, modifiers);
}

}  // namespace

TEST(KeyTable, LettersDigitsAndFunctionKeys) {
    EXPECT_EQ(keyFor(SDLK_a, SDL_SCANCODE_A), 'A');
    EXPECT_EQ(keyFor(SDLK_m, SDL_SCANCODE_M), 'M');
    EXPECT_EQ(keyFor(SDLK_4, SDL_SCANCODE_4), '4');
    EXPECT_EQ(keyFor(SDLK_0, SDL_SCANCODE_0), '0');
    EXPECT_EQ(keyFor(SDLK_F1, SDL_SCANCODE_F1), 112);
    EXPECT_EQ(keyFor(SDLK_F9, SDL_SCANCODE_F9), 120);
    EXPECT_EQ(keyFor(SDLK_F11, SDL_SCANCODE_F11), 122);
    EXPECT_EQ(keyFor(SDLK_F12, SDL_SCANCODE_F12), 123);
    EXPECT_EQ(keyFor(SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE), 8);
    EXPECT_EQ(keyFor(SDLK_TAB, SDL_SCANCODE_TAB), 9);
    EXPECT_EQ(keyFor(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE), 27);
    EXPECT_EQ(keyFor(SDLK_SEMICOLON, SDL_SCANCODE_SEMICOLON), 186);
}

TEST(KeyTable, KeypadFollowsNumLock) {
    EXPECT_EQ(keyFor(SDLK_KP_5, SDL_SCANCODE_KP_5, KMOD_NUM), 101);
    EXPECT_EQ(keyFor(SDLK_KP_5, SDL_SCANCODE_KP_5, 0), 12);
    EXPECT_EQ(keyFor(SDLK_KP_0, SDL_SCANCODE_KP_0, KMOD_NUM), 96);
    EXPECT_EQ(keyFor(SDLK_KP_8, SDL_SCANCODE_KP_8, 0), 38);
    EXPECT_EQ(keyFor(SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, KMOD_NUM), 13);
    EXPECT_EQ(keyFor(SDLK_KP_DIVIDE, SDL_SCANCODE_KP_DIVIDE), 111);
    EXPECT_EQ(keyFor(SDLK_KP_MULTIPLY, SDL_SCANCODE_KP_MULTIPLY), 106);
    EXPECT_EQ(keyFor(SDLK_KP_MINUS, SDL_SCANCODE_KP_MINUS), 109);
    EXPECT_EQ(keyFor(SDLK_KP_PLUS, SDL_SCANCODE_KP_PLUS), 107);
}

TEST(KeyTable, SystemKeysNeverReachTheGame) {
    EXPECT_EQ(keyFor(SDLK_F10, SDL_SCANCODE_F10), noVirtualKey);
    EXPECT_EQ(keyFor(SDLK_LALT, SDL_SCANCODE_LALT), noVirtualKey);
    EXPECT_EQ(keyFor(SDLK_RALT, SDL_SCANCODE_RALT), noVirtualKey);
    EXPECT_EQ(keyFor(SDLK_r, SDL_SCANCODE_R, KMOD_LALT), noVirtualKey);
}

// Autoplay presses whatever keys the player bound, so every key the launcher can assign must
// have an SDL event that the game reads back as the same key.
TEST(KeyTable, EveryAssignableKeyHasAnEventThatReadsBackAsItself) {
    std::vector<int> assignable;
    for (int key = 'A'; key <= 'Z'; ++key) assignable.push_back(key);
    for (int key = '0'; key <= '9'; ++key) assignable.push_back(key);
    for (int key = 96; key <= 111; ++key) assignable.push_back(key);  // the numeric pad
    for (int key : {8, 9, 13, 16, 17, 27, 32, 33, 34, 35, 36, 37, 38, 39, 40, 45, 46, 112, 120, 122, 123, 186, 188,
                    190, 191, 192, 219, 220, 221, 222})
        assignable.push_back(key);
    for (int key : assignable) {
        if (key == 108) continue;  // the separator: both tables give every keypad comma the decimal number
        const TsdlKey event = sdlKeyForVirtualKey(key);
        ASSERT_NE(event.scancode, SDL_SCANCODE_UNKNOWN) << "no event for key " << key;
        EXPECT_EQ(virtualKeyFromSdl(event.keycode, event.scancode, event.modifiers), key);
    }
    // Plain keys need no modifier; only the pad's digits need Num Lock.
    EXPECT_EQ(sdlKeyForVirtualKey('R').modifiers, 0);
    EXPECT_EQ(sdlKeyForVirtualKey(37).modifiers, 0);
    EXPECT_EQ(sdlKeyForVirtualKey(101).modifiers, KMOD_NUM);
    // F10 and Alt never reach the game, so nothing can stand for them.
    EXPECT_EQ(sdlKeyForVirtualKey(121).scancode, SDL_SCANCODE_UNKNOWN);
    EXPECT_EQ(sdlKeyForVirtualKey(18).scancode, SDL_SCANCODE_UNKNOWN);
    EXPECT_EQ(sdlKeyForVirtualKey(0).scancode, SDL_SCANCODE_UNKNOWN);
}
