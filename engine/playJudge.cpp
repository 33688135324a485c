// Judgement rules and the after-the-fact judge of a whole play, on the music's clock.
#include "engine/playJudge.h"

#include <algorithm>
#include <cmath>

#include "engine/trellikScoreControl2.h"

namespace {

constexpr int32_t panelCount = 16;

// One marker of the chart on its panel.
struct Tmarker {
    double activateAt = 0.0;
    double perfectAt = 0.0;
};

// A judgement or a miss at the moment it happened. A miss happens just after its moment, so a
// press at the same moment comes first; among equals the order of the game's handling holds.
struct TscoredEvent {
    double at = 0.0;
    uint8_t isMiss = 0;
    int32_t order = 0;
    uint8_t state = 0;

    bool operator<(const TscoredEvent& other) const {
        if (at != other.at) return at < other.at;
        if (isMiss != other.isMiss) return isMiss < other.isMiss;
        return order < other.order;
    }
};

// The markers of each panel in the order the game brings them on: row by row, a row never before
// the one ahead of it in the chart.
void collectMarkers(const TsongParser& chart, const TtimingConstants& timing, int32_t audioOffset,
                    std::vector<Tmarker> (&markers)[panelCount]) {
    const int32_t rows = std::min(chart.entryCount, chartCapacity);
    double latestActivation = -INFINITY;
    for (int32_t row = 0; row < rows; ++row) {
        const ChartEntry& entry = chart.entries[row];
        latestActivation = std::max(latestActivation, activationMusicMs(timing, entry, audioOffset));
        const double perfectAt = perfectMusicMs(timing, entry, audioOffset);
        for (int32_t keyIndex = 0; keyIndex < panelCount; ++keyIndex)
            if (entry.panels[keyIndex] != 0) markers[transposeIndex(keyIndex)].push_back({latestActivation, perfectAt});
    }
}

// One panel's markers met by its presses, in time order; every judgement and miss is noted. A marker
// is live from coming on until it is judged or its miss moment passes, also after the next one came
// on over it; a press judges the oldest live marker.
class TpanelJudge {
public:
    TpanelJudge(const TtimingConstants& timing, const std::vector<Tmarker>& markers, int32_t panel,
                std::vector<TscoredEvent>& events)
        : timing_(timing), markers_(markers), panel_(panel), events_(events), missAfter_(missAfterMs(timing)),
          done_(markers.size(), 0) {}

    TpressOutcome press(double at, int32_t order) {
        bringOnMarkersUntil(at);
        retireMissedBefore(at);
        const size_t oldest = oldestLive();
        if (oldest == next_) return {};
        const double distance = at - markers_[oldest].perfectAt;
        const PanelState judgement = judgementFor(timing_, std::fabs(distance));
        if (judgement == idle) return {};
        events_.push_back({at, 0, order, judgement});
        done_[oldest] = 1;
        return {judgement, distance};
    }

    void runOut() {
        bringOnMarkersUntil(INFINITY);
        retireMissedBefore(INFINITY);
    }

private:
    void bringOnMarkersUntil(double at) {
        while (next_ < markers_.size() && markers_[next_].activateAt <= at) ++next_;
    }

    void retireMissedBefore(double at) {
        for (size_t marker = firstLive_; marker < next_; ++marker) {
            if (done_[marker]) continue;
            const double missAt = markers_[marker].perfectAt + missAfter_;
            if (missAt >= at) continue;
            events_.push_back({missAt, 1, panel_, missScored});
            done_[marker] = 1;
        }
    }

    // The oldest marker on the panel neither judged nor missed, or next_ when there is none.
    size_t oldestLive() {
        while (firstLive_ < next_ && done_[firstLive_]) ++firstLive_;
        return firstLive_;
    }

    const TtimingConstants& timing_;
    const std::vector<Tmarker>& markers_;
    const int32_t panel_;
    std::vector<TscoredEvent>& events_;
    const double missAfter_;
    std::vector<uint8_t> done_;
    size_t next_ = 0;
    size_t firstLive_ = 0;
};

TplayJudgement figuresOf(const ScoreControl& score) {
    TplayJudgement figures;
    figures.score = score.displayScore();
    figures.maxCombo = score.maxCombo;
    figures.perfect = score.counters[perfect];
    figures.great = score.counters[great];
    figures.good = score.counters[good];
    figures.bad = score.counters[bad];
    figures.miss = score.counters[missScored];
    return figures;
}

}  // namespace

bool isJudgeable(uint8_t state) {
    return state == approach || state == overrun || state == miss;
}

PanelState judgementFor(const TtimingConstants& timing, double distance) {
    if (distance <= timing.perfectWindow) return perfect;
    if (distance <= timing.greatWindow) return great;
    if (distance <= timing.goodWindow) return good;
    if (distance <= timing.badWindow) return bad;
    return idle;
}

PanelState stateAfter(uint8_t state) {
    switch (state) {
        case approach: return overrun;
        case overrun: return miss;
        case miss: return missScored;
        default: return idle;
    }
}

double rowBeatMs(const ChartEntry& entry, int32_t audioOffset) {
    return entry.time * 1000.0 + audioOffset;
}

double activationMusicMs(const TtimingConstants& timing, const ChartEntry& entry, int32_t audioOffset) {
    return rowBeatMs(entry, audioOffset) - timing.stateDuration[approach];
}

double perfectLeadSongMs(const TtimingConstants& timing) {
    return chartLeadInMs + timing.stateDuration[approach] - offsetLeadMs;
}

double perfectMusicMs(const TtimingConstants& timing, const ChartEntry& entry, int32_t audioOffset) {
    return rowBeatMs(entry, audioOffset) - perfectLeadSongMs(timing);
}

double missAfterMs(const TtimingConstants& timing) {
    return timing.stateDuration[overrun] + timing.stateDuration[miss];
}

TplayJudgement judgePlay(const TsongParser& chart, const TtimingConstants& timing, int32_t audioOffset,
                         const std::vector<TjudgePress>& presses) {
    std::vector<TpressOutcome> outcomes;
    return judgePlay(chart, timing, audioOffset, presses, outcomes);
}

TplayJudgement judgePlay(const TsongParser& chart, const TtimingConstants& timing, int32_t audioOffset,
                         const std::vector<TjudgePress>& presses, std::vector<TpressOutcome>& outcomes) {
    outcomes.assign(presses.size(), TpressOutcome{});
    std::vector<Tmarker> markers[panelCount];
    collectMarkers(chart, timing, audioOffset, markers);
    std::vector<TscoredEvent> events;
    events.reserve(presses.size() + static_cast<size_t>(std::max(chart.markerCount, 0)));
    std::vector<TpanelJudge> panels;
    panels.reserve(panelCount);
    for (int32_t panel = 0; panel < panelCount; ++panel) panels.emplace_back(timing, markers[panel], panel, events);
    for (size_t index = 0; index < presses.size(); ++index) {
        const TjudgePress& press = presses[index];
        if (press.panel < 0 || press.panel >= panelCount) continue;
        outcomes[index] = panels[static_cast<size_t>(press.panel)].press(press.musicMs, static_cast<int32_t>(index));
    }
    for (TpanelJudge& panel : panels) panel.runOut();
    std::sort(events.begin(), events.end());
    ScoreControl score;
    score.reset(chart.markerCount);
    for (const TscoredEvent& event : events) score.apply(event.state);
    return figuresOf(score);
}
