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

// How many sources (keys, pad buttons, pointers) hold each virtual key, so that a panel held by a
// key and clicked as well is pressed once, and goes up only when the last of them lets it go.
class TvirtualKeyHolds {
public:
    // Notes one more source holding the key; true when none held it before: a new press.
    bool press(uint16_t virtualKey);
    // Lets one source go; true when none holds the key now (or none was known to): the key goes up.
    bool release(uint16_t virtualKey);
    void clear();

private:
    std::vector<uint16_t> holds;
};
