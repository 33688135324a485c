// Chart summaries for the song cache, from one parse of the chart's bytes.
#include "content/chartSummary.h"

#include <algorithm>

#include "platform/store/sha256.h"

namespace {

constexpr double millisecondsPerSecond = 1000.0;

}  // namespace

TcachedChart summarizeChart(TsongParser& parser, std::string_view bytes) {
    TcachedChart summary;
    summary.sha256 = sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    // Each chart is summarized on its own, not at the tempo a chart read before it left.
    parser.currentBpm = 0.0;
    // A chart without a marker is nothing to play: shown as unreadable like one the game refuses.
    summary.readable = loadChartFromBytes(parser, bytes).accepted && parser.markerCount > 0;
    if (!summary.readable) return summary;
    summary.markerCount = parser.markerCount;
    bool tempoSeen = false;
    for (int32_t row = 0; row < parser.entryCount; ++row) {
        const ChartEntry& entry = parser.entries[row];
        if (entry.time >= spareRowTime) continue;
        summary.lengthMs = std::max(summary.lengthMs, entry.time * millisecondsPerSecond);
        if (entry.bpm <= 0.0) continue;
        summary.tempoMin = tempoSeen ? std::min(summary.tempoMin, entry.bpm) : entry.bpm;
        summary.tempoMax = tempoSeen ? std::max(summary.tempoMax, entry.bpm) : entry.bpm;
        tempoSeen = true;
    }
    return summary;
}
