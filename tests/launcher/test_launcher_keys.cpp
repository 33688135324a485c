// The Qt key table against the game's SDL table, and the key-capture window.
#include <gtest/gtest.h>

#include <SDL.h>

#include <QTest>

#include <set>

#include "launcher/controlsFormCode.h"
#include "launcher/qtVirtualKeys.h"
#include "platform/input/virtualKeys.h"
#include "tests/launcher/launcherTestSupport.h"

namespace {

// The same physical key as each toolkit reports it on a US layout.
struct TsharedKey {
    int qtKey;
    bool keypad;
    int32_t sdlKeycode;
    int32_t sdlScancode;
    bool numLock;
};

const TsharedKey sharedKeys[] = {
    {Qt::Key_Backspace, false, SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE, false},
    {Qt::Key_Tab, false, SDLK_TAB, SDL_SCANCODE_TAB, false},
    {Qt::Key_Backtab, false, SDLK_TAB, SDL_SCANCODE_TAB, false},
    {Qt::Key_Clear, false, SDLK_CLEAR, SDL_SCANCODE_CLEAR, false},
    {Qt::Key_Clear, true, SDLK_KP_5, SDL_SCANCODE_KP_5, false},
    {Qt::Key_Return, false, SDLK_RETURN, SDL_SCANCODE_RETURN, false},
    {Qt::Key_Enter, false, SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, false},
    {Qt::Key_Enter, true, SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, false},
    {Qt::Key_Shift, false, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, false},
    {Qt::Key_Control, false, SDLK_LCTRL, SDL_SCANCODE_LCTRL, false},
    {Qt::Key_Pause, false, SDLK_PAUSE, SDL_SCANCODE_PAUSE, false},
    {Qt::Key_CapsLock, false, SDLK_CAPSLOCK, SDL_SCANCODE_CAPSLOCK, false},
    {Qt::Key_Escape, false, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, false},
    {Qt::Key_Space, false, SDLK_SPACE, SDL_SCANCODE_SPACE, false},
    {Qt::Key_PageUp, false, SDLK_PAGEUP, SDL_SCANCODE_PAGEUP, false},
    {Qt::Key_PageDown, false, SDLK_PAGEDOWN, SDL_SCANCODE_PAGEDOWN, false},
    {Qt::Key_End, false, SDLK_END, SDL_SCANCODE_END, false},
    {Qt::Key_Home, false, SDLK_HOME, SDL_SCANCODE_HOME, false},
    {Qt::Key_Left, false, SDLK_LEFT, SDL_SCANCODE_LEFT, false},
    {Qt::Key_Up, false, SDLK_UP, SDL_SCANCODE_UP, false},
    {Qt::Key_Right, false, SDLK_RIGHT, SDL_SCANCODE_RIGHT, false},
    {Qt::Key_Down, false, SDLK_DOWN, SDL_SCANCODE_DOWN, false},
    {Qt::Key_Select, false, SDLK_SELECT, SDL_SCANCODE_SELECT, false},
    {Qt::Key_Execute, false, SDLK_EXECUTE, SDL_SCANCODE_EXECUTE, false},
    {Qt::Key_Print, false, SDLK_PRINTSCREEN, SDL_SCANCODE_PRINTSCREEN, false},
    {Qt::Key_SysReq, false, SDLK_PRINTSCREEN, SDL_SCANCODE_PRINTSCREEN, false},
    {Qt::Key_Insert, false, SDLK_INSERT, SDL_SCANCODE_INSERT, false},
    {Qt::Key_Delete, false, SDLK_DELETE, SDL_SCANCODE_DELETE, false},
    {Qt::Key_Help, false, SDLK_HELP, SDL_SCANCODE_HELP, false},
    {Qt::Key_Super_L, false, SDLK_LGUI, SDL_SCANCODE_LGUI, false},
    {Qt::Key_Meta, false, SDLK_LGUI, SDL_SCANCODE_LGUI, false},
    {Qt::Key_Super_R, false, SDLK_RGUI, SDL_SCANCODE_RGUI, false},
    {Qt::Key_Menu, false, SDLK_APPLICATION, SDL_SCANCODE_APPLICATION, false},
    {Qt::Key_Sleep, false, SDLK_SLEEP, SDL_SCANCODE_SLEEP, false},
    {Qt::Key_NumLock, false, SDLK_NUMLOCKCLEAR, SDL_SCANCODE_NUMLOCKCLEAR, false},
    {Qt::Key_ScrollLock, false, SDLK_SCROLLLOCK, SDL_SCANCODE_SCROLLLOCK, false},
    {Qt::Key_Back, false, SDLK_AC_BACK, SDL_SCANCODE_AC_BACK, false},
    {Qt::Key_Forward, false, SDLK_AC_FORWARD, SDL_SCANCODE_AC_FORWARD, false},
    {Qt::Key_Refresh, false, SDLK_AC_REFRESH, SDL_SCANCODE_AC_REFRESH, false},
    {Qt::Key_Stop, false, SDLK_AC_STOP, SDL_SCANCODE_AC_STOP, false},
    {Qt::Key_Search, false, SDLK_AC_SEARCH, SDL_SCANCODE_AC_SEARCH, false},
    {Qt::Key_Favorites, false, SDLK_AC_BOOKMARKS, SDL_SCANCODE_AC_BOOKMARKS, false},
    {Qt::Key_HomePage, false, SDLK_AC_HOME, SDL_SCANCODE_AC_HOME, false},
    {Qt::Key_VolumeMute, false, SDLK_MUTE, SDL_SCANCODE_MUTE, false},
    {Qt::Key_VolumeDown, false, SDLK_VOLUMEDOWN, SDL_SCANCODE_VOLUMEDOWN, false},
    {Qt::Key_VolumeUp, false, SDLK_VOLUMEUP, SDL_SCANCODE_VOLUMEUP, false},
    {Qt::Key_MediaNext, false, SDLK_AUDIONEXT, SDL_SCANCODE_AUDIONEXT, false},
    {Qt::Key_MediaPrevious, false, SDLK_AUDIOPREV, SDL_SCANCODE_AUDIOPREV, false},
    {Qt::Key_MediaStop, false, SDLK_AUDIOSTOP, SDL_SCANCODE_AUDIOSTOP, false},
    {Qt::Key_MediaPlay, false, SDLK_AUDIOPLAY, SDL_SCANCODE_AUDIOPLAY, false},
    {Qt::Key_MediaTogglePlayPause, false, SDLK_AUDIOPLAY, SDL_SCANCODE_AUDIOPLAY, false},
    {Qt::Key_LaunchMail, false, SDLK_MAIL, SDL_SCANCODE_MAIL, false},
    {Qt::Key_Semicolon, false, SDLK_SEMICOLON, SDL_SCANCODE_SEMICOLON, false},
    {Qt::Key_Colon, false, SDLK_SEMICOLON, SDL_SCANCODE_SEMICOLON, false},
    {Qt::Key_Equal, false, SDLK_EQUALS, SDL_SCANCODE_EQUALS, false},
    {Qt::Key_Plus, false, SDLK_EQUALS, SDL_SCANCODE_EQUALS, false},
    {Qt::Key_Comma, false, SDLK_COMMA, SDL_SCANCODE_COMMA, false},
    {Qt::Key_Less, false, SDLK_COMMA, SDL_SCANCODE_COMMA, false},
    {Qt::Key_Minus, false, SDLK_MINUS, SDL_SCANCODE_MINUS, false},
    {Qt::Key_Underscore, false, SDLK_MINUS, SDL_SCANCODE_MINUS, false},
    {Qt::Key_Period, false, SDLK_PERIOD, SDL_SCANCODE_PERIOD, false},
    {Qt::Key_Greater, false, SDLK_PERIOD, SDL_SCANCODE_PERIOD, false},
    {Qt::Key_Slash, false, SDLK_SLASH, SDL_SCANCODE_SLASH, false},
    {Qt::Key_Question, false, SDLK_SLASH, SDL_SCANCODE_SLASH, false},
    {Qt::Key_QuoteLeft, false, SDLK_BACKQUOTE, SDL_SCANCODE_GRAVE, false},
    {Qt::Key_AsciiTilde, false, SDLK_BACKQUOTE, SDL_SCANCODE_GRAVE, false},
    {Qt::Key_BracketLeft, false, SDLK_LEFTBRACKET, SDL_SCANCODE_LEFTBRACKET, false},
    {Qt::Key_BraceLeft, false, SDLK_LEFTBRACKET, SDL_SCANCODE_LEFTBRACKET, false},
    {Qt::Key_Backslash, false, SDLK_BACKSLASH, SDL_SCANCODE_BACKSLASH, false},
    {Qt::Key_Bar, false, SDLK_BACKSLASH, SDL_SCANCODE_BACKSLASH, false},
    {Qt::Key_BracketRight, false, SDLK_RIGHTBRACKET, SDL_SCANCODE_RIGHTBRACKET, false},
    {Qt::Key_BraceRight, false, SDLK_RIGHTBRACKET, SDL_SCANCODE_RIGHTBRACKET, false},
    {Qt::Key_Apostrophe, false, SDLK_QUOTE, SDL_SCANCODE_APOSTROPHE, false},
    {Qt::Key_QuoteDbl, false, SDLK_QUOTE, SDL_SCANCODE_APOSTROPHE, false},
    // Shifted digits: Windows and SDL report the digit key.
    {Qt::Key_Exclam, false, SDLK_1, SDL_SCANCODE_1, false},
    {Qt::Key_At, false, SDLK_2, SDL_SCANCODE_2, false},
    {Qt::Key_NumberSign, false, SDLK_3, SDL_SCANCODE_3, false},
    {Qt::Key_Dollar, false, SDLK_4, SDL_SCANCODE_4, false},
    {Qt::Key_Percent, false, SDLK_5, SDL_SCANCODE_5, false},
    {Qt::Key_AsciiCircum, false, SDLK_6, SDL_SCANCODE_6, false},
    {Qt::Key_Ampersand, false, SDLK_7, SDL_SCANCODE_7, false},
    {Qt::Key_Asterisk, false, SDLK_8, SDL_SCANCODE_8, false},
    {Qt::Key_ParenLeft, false, SDLK_9, SDL_SCANCODE_9, false},
    {Qt::Key_ParenRight, false, SDLK_0, SDL_SCANCODE_0, false},
    // The numeric pad with Num Lock on, and its keys that do not depend on it.
    {Qt::Key_0, true, SDLK_KP_0, SDL_SCANCODE_KP_0, true},
    {Qt::Key_1, true, SDLK_KP_1, SDL_SCANCODE_KP_1, true},
    {Qt::Key_2, true, SDLK_KP_2, SDL_SCANCODE_KP_2, true},
    {Qt::Key_3, true, SDLK_KP_3, SDL_SCANCODE_KP_3, true},
    {Qt::Key_4, true, SDLK_KP_4, SDL_SCANCODE_KP_4, true},
    {Qt::Key_5, true, SDLK_KP_5, SDL_SCANCODE_KP_5, true},
    {Qt::Key_6, true, SDLK_KP_6, SDL_SCANCODE_KP_6, true},
    {Qt::Key_7, true, SDLK_KP_7, SDL_SCANCODE_KP_7, true},
    {Qt::Key_8, true, SDLK_KP_8, SDL_SCANCODE_KP_8, true},
    {Qt::Key_9, true, SDLK_KP_9, SDL_SCANCODE_KP_9, true},
    {Qt::Key_Period, true, SDLK_KP_PERIOD, SDL_SCANCODE_KP_PERIOD, true},
    {Qt::Key_Asterisk, true, SDLK_KP_MULTIPLY, SDL_SCANCODE_KP_MULTIPLY, true},
    {Qt::Key_Plus, true, SDLK_KP_PLUS, SDL_SCANCODE_KP_PLUS, true},
    {Qt::Key_Minus, true, SDLK_KP_MINUS, SDL_SCANCODE_KP_MINUS, true},
    {Qt::Key_Slash, true, SDLK_KP_DIVIDE, SDL_SCANCODE_KP_DIVIDE, true},
    {Qt::Key_Equal, true, SDLK_KP_EQUALS, SDL_SCANCODE_KP_EQUALS, true},
    // The numeric pad with Num Lock off moves the cursor, in both toolkits.
    {Qt::Key_Insert, true, SDLK_KP_0, SDL_SCANCODE_KP_0, false},
    {Qt::Key_End, true, SDLK_KP_1, SDL_SCANCODE_KP_1, false},
    {Qt::Key_Down, true, SDLK_KP_2, SDL_SCANCODE_KP_2, false},
    {Qt::Key_PageDown, true, SDLK_KP_3, SDL_SCANCODE_KP_3, false},
    {Qt::Key_Left, true, SDLK_KP_4, SDL_SCANCODE_KP_4, false},
    {Qt::Key_Right, true, SDLK_KP_6, SDL_SCANCODE_KP_6, false},
    {Qt::Key_Home, true, SDLK_KP_7, SDL_SCANCODE_KP_7, false},
    {Qt::Key_Up, true, SDLK_KP_8, SDL_SCANCODE_KP_8, false},
    {Qt::Key_PageUp, true, SDLK_KP_9, SDL_SCANCODE_KP_9, false},
    {Qt::Key_Delete, true, SDLK_KP_PERIOD, SDL_SCANCODE_KP_PERIOD, false},
    // The decimal key where the layout writes a comma on it (X calls it the keypad separator),
    // and the extra keypad key of some keyboards, which writes a point or a comma.
    {Qt::Key_Comma, true, SDLK_COMMA, SDL_SCANCODE_KP_PERIOD, true},
    {Qt::Key_Period, true, SDLK_KP_DECIMAL, SDL_SCANCODE_KP_DECIMAL, true},
    {Qt::Key_Delete, true, SDLK_KP_DECIMAL, SDL_SCANCODE_KP_DECIMAL, false},
    {Qt::Key_Period, true, SDLK_KP_COMMA, SDL_SCANCODE_KP_COMMA, false},
    {Qt::Key_Comma, true, SDLK_KP_COMMA, SDL_SCANCODE_KP_COMMA, true},
    // Right-hand modifiers and the second Return key carry the number of the left-hand one.
    {Qt::Key_Shift, false, SDLK_RSHIFT, SDL_SCANCODE_RSHIFT, false},
    {Qt::Key_Control, false, SDLK_RCTRL, SDL_SCANCODE_RCTRL, false},
    {Qt::Key_Return, false, SDLK_RETURN2, SDL_SCANCODE_RETURN2, false},
};

// Keys the game window never receives (Windows keeps system keys from it) or that SDL has
// no number for; the launcher still accepts them.
const std::set<int> launcherOnlyKeys = {Qt::Key_Alt, Qt::Key_AltGr};

int sdlVirtualKey(const TsharedKey& key) {
    return virtualKeyFromSdl(key.sdlKeycode, key.sdlScancode, key.numLock ? KMOD_NUM : KMOD_NONE);
}

int qtVirtualKey(const TsharedKey& key) {
    return virtualKeyFromQt(key.qtKey, key.keypad ? Qt::KeypadModifier : Qt::NoModifier);
}

// Keys the game window numbers that have no Qt key in the launcher's table: a player cannot
// assign them, so no number of theirs can disagree.
const std::set<int32_t> gameOnlyKeys = {
    SDL_SCANCODE_NONUSHASH,      SDL_SCANCODE_NONUSBACKSLASH, SDL_SCANCODE_INTERNATIONAL1,
    SDL_SCANCODE_INTERNATIONAL3, SDL_SCANCODE_LANG1,          SDL_SCANCODE_LANG2,
    SDL_SCANCODE_CRSEL,          SDL_SCANCODE_EXSEL,          SDL_SCANCODE_MEDIASELECT,
    SDL_SCANCODE_APP1,           SDL_SCANCODE_APP2,
};

// Letters, digits and function keys, which the ranges of the first test compare.
bool coveredByRanges(int32_t scancode) {
    return (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_0) ||
           (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) ||
           (scancode >= SDL_SCANCODE_F13 && scancode <= SDL_SCANCODE_F24);
}

// A row for this SDL key that gives the same number, so the first test compared it with Qt.
bool listedAsSharedWith(int32_t scancode, int virtualKey) {
    for (const TsharedKey& key : sharedKeys)
        if (key.sdlScancode == scancode && sdlVirtualKey(key) == virtualKey) return true;
    return false;
}

bool listedAsShared(int qtKey, bool keypad) {
    for (const TsharedKey& key : sharedKeys)
        if (key.qtKey == qtKey && key.keypad == keypad) return true;
    return false;
}

}  // namespace

TEST(QtVirtualKeys, AgreeWithTheGameWindowForEveryKeyBothKnow) {
    for (const TsharedKey& key : sharedKeys) {
        const int fromSdl = sdlVirtualKey(key);
        ASSERT_NE(fromSdl, noVirtualKey) << "Qt key " << std::hex << key.qtKey;
        EXPECT_EQ(qtVirtualKey(key), fromSdl) << "Qt key " << std::hex << key.qtKey << (key.keypad ? " (keypad)" : "");
    }
    for (int letter = 'A'; letter <= 'Z'; ++letter)
        EXPECT_EQ(virtualKeyFromQt(letter, Qt::ShiftModifier), virtualKeyFromSdl(letter + 32, SDL_SCANCODE_A + letter - 'A', 0));
    for (int digit = 0; digit <= 9; ++digit)
        EXPECT_EQ(virtualKeyFromQt(Qt::Key_0 + digit, Qt::NoModifier),
                  virtualKeyFromSdl(SDLK_0 + digit, digit == 0 ? SDL_SCANCODE_0 : SDL_SCANCODE_1 + digit - 1, 0));
    for (int f = 0; f < 24; ++f) {
        const int32_t scancode = f < 12 ? SDL_SCANCODE_F1 + f : SDL_SCANCODE_F13 + f - 12;
        const int fromSdl = virtualKeyFromSdl(SDL_SCANCODE_TO_KEYCODE(scancode), scancode, 0);
        if (fromSdl == noVirtualKey) continue;  // F10 is a system key the game never sees
        EXPECT_EQ(virtualKeyFromQt(Qt::Key_F1 + f, Qt::NoModifier), fromSdl) << "F" << f + 1;
    }
}

TEST(QtVirtualKeys, EveryTableEntryIsComparedWithTheGameWindow) {
    size_t count = 0;
    const TqtKeyPair* table = qtKeyTable(count);
    for (size_t i = 0; i < count; ++i)
        if (!launcherOnlyKeys.count(table[i].qtKey)) {
            EXPECT_TRUE(listedAsShared(table[i].qtKey, false)) << "Qt key " << std::hex << table[i].qtKey;
        }
    table = qtKeypadTable(count);
    for (size_t i = 0; i < count; ++i)
        EXPECT_TRUE(listedAsShared(table[i].qtKey, true)) << "keypad Qt key " << std::hex << table[i].qtKey;
}

TEST(QtVirtualKeys, EveryKeyOfTheGameWindowIsComparedWithTheLauncher) {
    for (int32_t scancode = 1; scancode < SDL_NUM_SCANCODES; ++scancode) {
        if (coveredByRanges(scancode) || gameOnlyKeys.count(scancode)) continue;
        for (const uint16_t modifiers : {uint16_t{KMOD_NONE}, uint16_t{KMOD_NUM}}) {
            const int fromSdl = virtualKeyFromSdl(SDL_SCANCODE_TO_KEYCODE(scancode), scancode, modifiers);
            if (fromSdl == noVirtualKey) continue;
            EXPECT_TRUE(listedAsSharedWith(scancode, fromSdl))
                << "scancode " << scancode << (modifiers ? " with Num Lock" : "") << " gives " << fromSdl;
        }
    }
}

TEST(QtVirtualKeys, LauncherAcceptsModifiersAndSystemKeysTheGameDrops) {
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Alt, Qt::AltModifier), 18);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_F10, Qt::NoModifier), 121);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_unknown, Qt::NoModifier), noVirtualKey);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Dollar, Qt::ShiftModifier), '4');
}

TEST(KeyCaptureWindow, TakesTheFirstKeyIncludingTabAndClosesAtOnce) {
    TcontrolSetWindow window;
    whenModalOpens([](QWidget& modal) { QTest::keyClick(&modal, Qt::Key_Tab); });
    ASSERT_TRUE(window.captureKey());
    EXPECT_EQ(window.capturedKey, 9);
    EXPECT_FALSE(window.isVisible());
    whenModalOpens([](QWidget& modal) { QTest::keyClick(&modal, Qt::Key_5, Qt::KeypadModifier); });
    ASSERT_TRUE(window.captureKey());
    EXPECT_EQ(window.capturedKey, 101);
}

TEST(KeyCaptureWindow, ClosingWithoutAKeyIsNoCaptureAndKeepsTheLastKey) {
    TcontrolSetWindow window;
    window.capturedKey = 70;
    whenModalOpens([](QWidget& modal) { static_cast<QDialog&>(modal).reject(); });
    EXPECT_FALSE(window.captureKey());
    EXPECT_EQ(window.capturedKey, 70);
}

TEST(KeyCaptureWindow, ThePanelBeingAssignedIsRedTheOthersGreen) {
    TcontrolSetWindow window;
    window.colourSquares(6);
    for (int i = 0; i < 16; ++i) {
        const QColor expected = i == 6 ? QColor(255, 0, 0) : QColor(0, 128, 0);
        EXPECT_EQ(window.panelShapes[i]->palette().color(QPalette::Window), expected) << i;
    }
    EXPECT_EQ(window.panelShapes[5]->geometry(), QRect(8 + 47, 8 + 47, 41, 41));
}
