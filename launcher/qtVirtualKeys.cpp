// The Qt to virtual-key table, kept in step with the SDL table of the game window.
#include "launcher/qtVirtualKeys.h"

#include <iterator>

namespace {

constexpr TqtKeyPair keyTable[] = {
    {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9}, {Qt::Key_Backtab, 9}, {Qt::Key_Clear, 12},
    {Qt::Key_Return, 13}, {Qt::Key_Enter, 13}, {Qt::Key_Shift, 16}, {Qt::Key_Control, 17},
    {Qt::Key_Alt, 18}, {Qt::Key_AltGr, 18}, {Qt::Key_Pause, 19}, {Qt::Key_CapsLock, 20},
    {Qt::Key_Escape, 27}, {Qt::Key_Space, 32}, {Qt::Key_PageUp, 33}, {Qt::Key_PageDown, 34},
    {Qt::Key_End, 35}, {Qt::Key_Home, 36}, {Qt::Key_Left, 37}, {Qt::Key_Up, 38},
    {Qt::Key_Right, 39}, {Qt::Key_Down, 40}, {Qt::Key_Select, 41}, {Qt::Key_Execute, 43},
    {Qt::Key_Print, 44}, {Qt::Key_SysReq, 44}, {Qt::Key_Insert, 45}, {Qt::Key_Delete, 46},
    {Qt::Key_Help, 47}, {Qt::Key_Super_L, 91}, {Qt::Key_Meta, 91}, {Qt::Key_Super_R, 92},
    {Qt::Key_Menu, 93}, {Qt::Key_Sleep, 95}, {Qt::Key_NumLock, 144}, {Qt::Key_ScrollLock, 145},
    {Qt::Key_Back, 166}, {Qt::Key_Forward, 167}, {Qt::Key_Refresh, 168}, {Qt::Key_Stop, 169},
    {Qt::Key_Search, 170}, {Qt::Key_Favorites, 171}, {Qt::Key_HomePage, 172},
    {Qt::Key_VolumeMute, 173}, {Qt::Key_VolumeDown, 174}, {Qt::Key_VolumeUp, 175},
    {Qt::Key_MediaNext, 176}, {Qt::Key_MediaPrevious, 177}, {Qt::Key_MediaStop, 178},
    {Qt::Key_MediaPlay, 179}, {Qt::Key_MediaTogglePlayPause, 179}, {Qt::Key_LaunchMail, 180},
    // Punctuation of the US layout, unshifted and shifted, and the shifted digits.
    {Qt::Key_Semicolon, 186}, {Qt::Key_Colon, 186}, {Qt::Key_Equal, 187}, {Qt::Key_Plus, 187},
    {Qt::Key_Comma, 188}, {Qt::Key_Less, 188}, {Qt::Key_Minus, 189}, {Qt::Key_Underscore, 189},
    {Qt::Key_Period, 190}, {Qt::Key_Greater, 190}, {Qt::Key_Slash, 191}, {Qt::Key_Question, 191},
    {Qt::Key_QuoteLeft, 192}, {Qt::Key_AsciiTilde, 192}, {Qt::Key_BracketLeft, 219},
    {Qt::Key_BraceLeft, 219}, {Qt::Key_Backslash, 220}, {Qt::Key_Bar, 220},
    {Qt::Key_BracketRight, 221}, {Qt::Key_BraceRight, 221}, {Qt::Key_Apostrophe, 222},
    {Qt::Key_QuoteDbl, 222}, {Qt::Key_Exclam, '1'}, {Qt::Key_At, '2'}, {Qt::Key_NumberSign, '3'},
    {Qt::Key_Dollar, '4'}, {Qt::Key_Percent, '5'}, {Qt::Key_AsciiCircum, '6'},
    {Qt::Key_Ampersand, '7'}, {Qt::Key_Asterisk, '8'}, {Qt::Key_ParenLeft, '9'},
    {Qt::Key_ParenRight, '0'},
};

// Keys of the numeric pad whose number differs from the main keyboard's. The keypad comma is
// the decimal key of layouts that write a comma there (X names it the keypad separator), so it
// is the decimal key's number, as the game window numbers that key by its position.
constexpr TqtKeyPair keypadTable[] = {
    {Qt::Key_0, 96}, {Qt::Key_1, 97}, {Qt::Key_2, 98}, {Qt::Key_3, 99}, {Qt::Key_4, 100},
    {Qt::Key_5, 101}, {Qt::Key_6, 102}, {Qt::Key_7, 103}, {Qt::Key_8, 104}, {Qt::Key_9, 105},
    {Qt::Key_Asterisk, 106}, {Qt::Key_Plus, 107}, {Qt::Key_Comma, 110}, {Qt::Key_Minus, 109},
    {Qt::Key_Period, 110}, {Qt::Key_Slash, 111}, {Qt::Key_Equal, 146},
};

int lookup(const TqtKeyPair* table, size_t count, int qtKey) {
    for (size_t i = 0; i < count; ++i)
        if (table[i].qtKey == qtKey) return table[i].virtualKey;
    return noVirtualKey;
}

}  // namespace

const TqtKeyPair* qtKeyTable(size_t& count) {
    count = std::size(keyTable);
    return keyTable;
}

const TqtKeyPair* qtKeypadTable(size_t& count) {
    count = std::size(keypadTable);
    return keypadTable;
}

int virtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers) {
    if (modifiers.testFlag(Qt::KeypadModifier)) {
        const int keypad = lookup(keypadTable, std::size(keypadTable), qtKey);
        if (keypad != noVirtualKey) return keypad;
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return qtKey;
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return qtKey;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 112 + (qtKey - Qt::Key_F1);
    return lookup(keyTable, std::size(keyTable), qtKey);
}
