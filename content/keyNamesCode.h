// Short display names of Windows virtual-key codes for the key assignment buttons.
#pragma once

#include <cstdint>
#include <string>

// The caption for a key code, as UTF-8: an abbreviation for keys without a printable character,
// the punctuation of a UK layout, otherwise the character whose code equals the key code.
std::string keyLabel(uint16_t code);
