// Translation of SDL key events into the Windows virtual-key numbers the game and settings use.
#pragma once

#include <cstdint>

// Result for keys the window never passes on (system keys, keys without a number).
constexpr int noVirtualKey = -1;

// The virtual-key code for an SDL key event. keycode and scancode are SDL's; modifiers is the
// event's SDL_Keymod. F10, Alt and any key pressed while Alt is held give noVirtualKey, as
// Windows keeps system keys from the window. Keypad keys follow the Num Lock state.
int virtualKeyFromSdl(int32_t keycode, int32_t scancode, uint16_t modifiers);
