// Translation of SDL key events into the Windows virtual-key numbers the game and settings use.
#pragma once

#include <cstdint>

// Result for keys the window never passes on (system keys, keys without a number).
constexpr int noVirtualKey = -1;

// The virtual-key code for an SDL key event. keycode and scancode are SDL's; modifiers is the
// event's SDL_Keymod. F10, Alt and any key pressed while Alt is held give noVirtualKey, as
// Windows keeps system keys from the window. Keypad keys follow the Num Lock state.
int virtualKeyFromSdl(int32_t keycode, int32_t scancode, uint16_t modifiers);

// An SDL key event's identity: what virtualKeyFromSdl reads.
struct TsdlKey {
    int32_t keycode = 0;
    int32_t scancode = 0;  // SDL_SCANCODE_UNKNOWN when no SDL key gives the virtual key
    uint16_t modifiers = 0;
};

// An SDL key that virtualKeyFromSdl turns into virtualKey, for events made by the program itself
// (autoplay). Found by searching the forward table, so the two can never disagree.
TsdlKey sdlKeyForVirtualKey(int virtualKey);
