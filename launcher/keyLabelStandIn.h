// A stand-in for the key names of the content library until that unit is merged; only letters
// and digits get their proper names here.
#pragma once

#include <cstdint>
#include <string>

std::string keyLabel(uint16_t code);
