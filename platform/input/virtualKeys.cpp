// The SDL to virtual-key table: layout-dependent keys by keycode, the rest by scancode.
#include "platform/input/virtualKeys.h"

#include <SDL.h>

#include <array>
#include <iterator>

namespace {

struct TkeyPair {
    int32_t sdl;
    int virtualKey;
};

// Keys whose meaning follows the keyboard layout, as Windows' virtual keys do.
constexpr TkeyPair keycodeTable[] = {
    {SDLK_SEMICOLON, 186}, {SDLK_EQUALS, 187}, {SDLK_PLUS, 187}, {SDLK_COMMA, 188},
    {SDLK_MINUS, 189},     {SDLK_PERIOD, 190}, {SDLK_SLASH, 191}, {SDLK_BACKQUOTE, 192},
    {SDLK_LEFTBRACKET, 219}, {SDLK_BACKSLASH, 220}, {SDLK_RIGHTBRACKET, 221}, {SDLK_QUOTE, 222},
};

// Keys that are the same whatever the layout, and the fallback for layout keys SDL cannot name.
constexpr TkeyPair scancodeTable[] = {
    {SDL_SCANCODE_BACKSPACE, 8}, {SDL_SCANCODE_TAB, 9}, {SDL_SCANCODE_CLEAR, 12},
    {SDL_SCANCODE_RETURN, 13}, {SDL_SCANCODE_RETURN2, 13}, {SDL_SCANCODE_KP_ENTER, 13},
    {SDL_SCANCODE_LSHIFT, 16}, {SDL_SCANCODE_RSHIFT, 16}, {SDL_SCANCODE_LCTRL, 17}, {SDL_SCANCODE_RCTRL, 17},
    {SDL_SCANCODE_PAUSE, 19}, {SDL_SCANCODE_CAPSLOCK, 20}, {SDL_SCANCODE_ESCAPE, 27}, {SDL_SCANCODE_SPACE, 32},
    {SDL_SCANCODE_PAGEUP, 33}, {SDL_SCANCODE_PAGEDOWN, 34}, {SDL_SCANCODE_END, 35}, {SDL_SCANCODE_HOME, 36},
    {SDL_SCANCODE_LEFT, 37}, {SDL_SCANCODE_UP, 38}, {SDL_SCANCODE_RIGHT, 39}, {SDL_SCANCODE_DOWN, 40},
    {SDL_SCANCODE_SELECT, 41}, {SDL_SCANCODE_EXECUTE, 43}, {SDL_SCANCODE_PRINTSCREEN, 44},
    {SDL_SCANCODE_INSERT, 45}, {SDL_SCANCODE_DELETE, 46}, {SDL_SCANCODE_HELP, 47},
    {SDL_SCANCODE_LGUI, 91}, {SDL_SCANCODE_RGUI, 92}, {SDL_SCANCODE_APPLICATION, 93}, {SDL_SCANCODE_SLEEP, 95},
    {SDL_SCANCODE_KP_MULTIPLY, 106}, {SDL_SCANCODE_KP_PLUS, 107}, {SDL_SCANCODE_KP_MINUS, 109},
    {SDL_SCANCODE_KP_DIVIDE, 111}, {SDL_SCANCODE_NUMLOCKCLEAR, 144}, {SDL_SCANCODE_SCROLLLOCK, 145},
    {SDL_SCANCODE_KP_EQUALS, 146},
    // The extra keypad key of some keyboards writes a point or a comma with or without Num Lock;
    // like the decimal key it is one number, whatever the layout writes on it.
    {SDL_SCANCODE_KP_COMMA, 110},
    {SDL_SCANCODE_AC_BACK, 166}, {SDL_SCANCODE_AC_FORWARD, 167}, {SDL_SCANCODE_AC_REFRESH, 168},
    {SDL_SCANCODE_AC_STOP, 169}, {SDL_SCANCODE_AC_SEARCH, 170}, {SDL_SCANCODE_AC_BOOKMARKS, 171},
    {SDL_SCANCODE_AC_HOME, 172}, {SDL_SCANCODE_MUTE, 173}, {SDL_SCANCODE_VOLUMEDOWN, 174},
    {SDL_SCANCODE_VOLUMEUP, 175}, {SDL_SCANCODE_AUDIONEXT, 176}, {SDL_SCANCODE_AUDIOPREV, 177},
    {SDL_SCANCODE_AUDIOSTOP, 178}, {SDL_SCANCODE_AUDIOPLAY, 179}, {SDL_SCANCODE_MAIL, 180},
    {SDL_SCANCODE_MEDIASELECT, 181}, {SDL_SCANCODE_APP1, 182}, {SDL_SCANCODE_APP2, 183},
    {SDL_SCANCODE_SEMICOLON, 186}, {SDL_SCANCODE_EQUALS, 187}, {SDL_SCANCODE_COMMA, 188},
    {SDL_SCANCODE_MINUS, 189}, {SDL_SCANCODE_PERIOD, 190}, {SDL_SCANCODE_SLASH, 191},
    {SDL_SCANCODE_GRAVE, 192}, {SDL_SCANCODE_LEFTBRACKET, 219}, {SDL_SCANCODE_BACKSLASH, 220},
    {SDL_SCANCODE_NONUSHASH, 220}, {SDL_SCANCODE_RIGHTBRACKET, 221}, {SDL_SCANCODE_APOSTROPHE, 222},
    {SDL_SCANCODE_NONUSBACKSLASH, 226}, {SDL_SCANCODE_INTERNATIONAL1, 193}, {SDL_SCANCODE_INTERNATIONAL3, 220},
    {SDL_SCANCODE_LANG1, 21}, {SDL_SCANCODE_LANG2, 25}, {SDL_SCANCODE_CRSEL, 247}, {SDL_SCANCODE_EXSEL, 248},
};

// Keypad digits and the decimal point: with Num Lock on they are numbers, off they move the cursor.
struct TkeypadKey {
    int32_t scancode;
    int withNumLock;
    int withoutNumLock;
};

constexpr TkeypadKey keypadTable[] = {
    {SDL_SCANCODE_KP_0, 96, 45},  {SDL_SCANCODE_KP_1, 97, 35},  {SDL_SCANCODE_KP_2, 98, 40},
    {SDL_SCANCODE_KP_3, 99, 34},  {SDL_SCANCODE_KP_4, 100, 37}, {SDL_SCANCODE_KP_5, 101, 12},
    {SDL_SCANCODE_KP_6, 102, 39}, {SDL_SCANCODE_KP_7, 103, 36}, {SDL_SCANCODE_KP_8, 104, 38},
    {SDL_SCANCODE_KP_9, 105, 33}, {SDL_SCANCODE_KP_PERIOD, 110, 46}, {SDL_SCANCODE_KP_DECIMAL, 110, 46},
};

constexpr int virtualKeyF10 = 121;

int lookup(const TkeyPair* table, size_t count, int32_t key) {
    for (size_t i = 0; i < count; ++i)
        if (table[i].sdl == key) return table[i].virtualKey;
    return noVirtualKey;
}

int keypadKey(int32_t scancode, bool numLock) {
    for (const TkeypadKey& key : keypadTable)
        if (key.scancode == scancode) return numLock ? key.withNumLock : key.withoutNumLock;
    return noVirtualKey;
}

int letterOrDigit(int32_t keycode) {
    if (keycode >= SDLK_a && keycode <= SDLK_z) return 'A' + (keycode - SDLK_a);
    if (keycode >= SDLK_0 && keycode <= SDLK_9) return '0' + (keycode - SDLK_0);
    return noVirtualKey;
}

int letterOrDigitByPosition(int32_t scancode) {
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return 'A' + (scancode - SDL_SCANCODE_A);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return '1' + (scancode - SDL_SCANCODE_1);
    if (scancode == SDL_SCANCODE_0) return '0';
    return noVirtualKey;
}

int functionKey(int32_t scancode) {
    if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) return 112 + (scancode - SDL_SCANCODE_F1);
    if (scancode >= SDL_SCANCODE_F13 && scancode <= SDL_SCANCODE_F24) return 124 + (scancode - SDL_SCANCODE_F13);
    return noVirtualKey;
}

bool isAlt(int32_t scancode) {
    return scancode == SDL_SCANCODE_LALT || scancode == SDL_SCANCODE_RALT;
}

}  // namespace

int virtualKeyFromSdl(int32_t keycode, int32_t scancode, uint16_t modifiers) {
    if (isAlt(scancode) || (modifiers & KMOD_ALT)) return noVirtualKey;
    const int keypad = keypadKey(scancode, (modifiers & KMOD_NUM) != 0);
    if (keypad != noVirtualKey) return keypad;
    const int function = functionKey(scancode);
    if (function == virtualKeyF10) return noVirtualKey;
    if (function != noVirtualKey) return function;
    int key = letterOrDigit(keycode);
    if (key == noVirtualKey) key = lookup(keycodeTable, std::size(keycodeTable), keycode);
    if (key == noVirtualKey) key = lookup(scancodeTable, std::size(scancodeTable), scancode);
    if (key == noVirtualKey) key = letterOrDigitByPosition(scancode);
    return key;
}

namespace {

constexpr int virtualKeyCount = 256;

// Keys without a modifier first, so a key that needs Num Lock is chosen only when nothing else
// gives its number.
std::array<TsdlKey, virtualKeyCount> reverseTable() {
    std::array<TsdlKey, virtualKeyCount> table{};
    for (const uint16_t modifiers : {uint16_t{KMOD_NONE}, uint16_t{KMOD_NUM}}) {
        for (int32_t scancode = 1; scancode < SDL_NUM_SCANCODES; ++scancode) {
            const int32_t keycode = SDL_SCANCODE_TO_KEYCODE(scancode);
            const int virtualKey = virtualKeyFromSdl(keycode, scancode, modifiers);
            if (virtualKey <= 0 || virtualKey >= virtualKeyCount) continue;
            if (table[virtualKey].scancode == SDL_SCANCODE_UNKNOWN) table[virtualKey] = {keycode, scancode, modifiers};
        }
    }
    return table;
}

}  // namespace

TsdlKey sdlKeyForVirtualKey(int virtualKey) {
    static const std::array<TsdlKey, virtualKeyCount> table = reverseTable();
    if (virtualKey <= 0 || virtualKey >= virtualKeyCount) return {};
    return table[virtualKey];
}
