// Fuzz target: chart text of any bytes must parse without faults and keep the record's bounds.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "content/trellikSongDataLoader.h"

namespace {

// Rows never pass the capacity, the row beyond it stays spare, and written times are numbers.
void checkRecord(const TsongParser& parser, const TchartOutcome& outcome) {
    if (parser.entryCount < 0 || parser.entryCount > chartCapacity) __builtin_trap();
    if (outcome.groups < 0 || outcome.groups > chartCapacity) __builtin_trap();
    if (parser.markerCount < 0 || parser.markerCount > 16 * outcome.groups) __builtin_trap();
    const ChartEntry& beyond = parser.entries[chartCapacity];
    if (beyond.time != spareRowTime) __builtin_trap();
    for (const uint8_t flag : beyond.panels) {
        if (flag != 0) __builtin_trap();
    }
    for (int32_t row = 0; row < parser.entryCount; ++row) {
        if (!std::isfinite(parser.entries[row].time)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto parser = std::make_unique<TsongParser>();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // Each input starts as a fresh game run would, so that runs repeat exactly.
    parser->currentBpm = 0.0;
    // The last byte chooses between the game's parse and the author's parse with findings.
    TchartFindings findings;
    const bool withFindings = size > 0 && (data[size - 1] & 1) != 0;
    checkRecord(*parser, loadChartFromBytes(*parser, bytes, withFindings ? &findings : nullptr));
    return 0;
}
