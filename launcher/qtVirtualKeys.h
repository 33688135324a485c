// Translation of Qt key events into the Windows virtual-key numbers the settings and game use.
#pragma once

#include <cstddef>

#include <Qt>

#include "platform/input/virtualKeys.h"

// One Qt key and the virtual key it stands for.
struct TqtKeyPair {
    int qtKey;
    int virtualKey;
};

// The keys that keep their meaning on and off the numeric pad, and those of the numeric pad
// itself (Qt marks them with the keypad modifier).
const TqtKeyPair* qtKeyTable(size_t& count);
const TqtKeyPair* qtKeypadTable(size_t& count);

// The virtual key for a Qt key event, or noVirtualKey when the key has none. Letters and
// digits keep their unshifted meaning, so Shift+4 is still 52, as Windows reports it.
int virtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers);
