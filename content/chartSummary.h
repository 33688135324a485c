// What song select shows of a chart without playing it: markers, length, tempo range, identity.
#pragma once

#include <string_view>

#include "content/trellikSongDataLoader.h"
#include "platform/store/songCacheDatabase.h"

// Parses the bytes with the given parser (its contents are replaced) and summarizes them; size and
// modification time are left for the caller. A chart the game refuses is not readable.
TcachedChart summarizeChart(TsongParser& parser, std::string_view bytes);
