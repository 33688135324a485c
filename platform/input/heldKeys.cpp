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
