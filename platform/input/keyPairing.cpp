// Key pairing: a table of X key codes, filled as pairs are seen.
#include "platform/input/keyPairing.h"

bool TkeyPairing::matches(uint32_t xKeycode, int32_t scancode) {
    if (xKeycode >= scancodeOf.size()) return false;
    int32_t& paired = scancodeOf[xKeycode];
    if (paired == unpaired) paired = scancode;
    return paired == scancode;
}
