// Short display names of key codes (keyboard and pad buttons) for the key assignment buttons.
#pragma once

#include <cstdint>
#include <string>

// The caption for a key code, as UTF-8: "Pad 1 B12" for a pad button, an abbreviation for keys
// without a printable character, the punctuation of a UK layout, otherwise the character whose
// code equals the key code.
std::string keyLabel(uint16_t code);
