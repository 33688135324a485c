// Score out of 900000, combo and gauge, fed by judgements.
#pragma once

#include <cstdint>

struct ScoreControl {
    int32_t noteCount = 1;
    int32_t combo = 0;
    int32_t gauge = 0;
    int32_t score = 0;
    int32_t judgements[9] = {};
};
