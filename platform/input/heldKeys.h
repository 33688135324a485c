// The keys and pad buttons that are down, so a key-down for one already down is told from a press.
#pragma once

#include <cstdint>
#include <vector>

// Keys are any numbers the caller keeps apart (the window uses scancodes and pad key codes).
class TheldKeys {
public:
    // Notes the key as down; false when it already was, so this key-down is no new press.
    bool press(uint32_t key);
    void release(uint32_t key);
    // Forgets every key: when key-ups may have gone elsewhere (the window lost the focus).
    void clear();

private:
    std::vector<uint32_t> down;
};
