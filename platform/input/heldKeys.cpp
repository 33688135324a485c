// Held keys: a short list, since a player holds a few keys at a time.
#include "platform/input/heldKeys.h"

#include <algorithm>

bool TheldKeys::press(uint32_t key) {
    if (std::find(down.begin(), down.end(), key) != down.end()) return false;
    down.push_back(key);
    return true;
}

void TheldKeys::release(uint32_t key) {
    down.erase(std::remove(down.begin(), down.end(), key), down.end());
}

void TheldKeys::clear() {
    down.clear();
}

bool TvirtualKeyHolds::press(uint16_t virtualKey) {
    const bool held = std::find(holds.begin(), holds.end(), virtualKey) != holds.end();
    holds.push_back(virtualKey);
    return !held;
}

bool TvirtualKeyHolds::release(uint16_t virtualKey) {
    const auto hold = std::find(holds.begin(), holds.end(), virtualKey);
    if (hold != holds.end()) holds.erase(hold);
    return std::find(holds.begin(), holds.end(), virtualKey) == holds.end();
}

void TvirtualKeyHolds::clear() {
    holds.clear();
}
