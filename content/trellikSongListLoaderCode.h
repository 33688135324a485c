// The song catalogue: up to 101 songs found in the song folder.
#pragma once

#include <cstdint>

struct TsongsLoadingData {
    int32_t count = 0;
};
