// The marker skin table: up to 49 skins of animation frames per panel state.
#pragma once

#include <cstdint>

struct TmarkersControl {
    int32_t count = 0;
};
