// The song catalogue: up to 101 songs found in the song folder.
#pragma once

#include <cstdint>
#include <string>

struct TsongsLoadingData {
    int32_t count = 0;
};

// Name of song i (from 0); empty outside the catalogue.
inline std::string getSongName(const TsongsLoadingData&, int32_t) {
    return std::string();
}
