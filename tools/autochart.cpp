// Chooses chart rows from the onsets on the beat grid and places them on panels two hands can play.
#include "tools/autochart.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

#include "content/trellikSongDataLoader.h"

namespace {

struct Tdifficulty {
    int gridHalfBeats;      // 2: beats only; 1: beats and half-beats
    double baseDensity;     // rows per second ...
    double densityPerBeat;  // ... plus this much per beat per second
    double chordShare;      // the strongest share of rows that become chords
    int largestChord;
};

const Tdifficulty difficulties[difficultyCount] = {
    {2, 0.55, 0.20, 0.05, 2},
    {1, 1.20, 0.55, 0.08, 2},
    {1, 2.20, 1.00, 0.15, 3},
};

// Each harder chart has at most this share of the next one's rows, so densities always rise.
constexpr double easierShare = 0.8;
// An onset this close to a grid position is the music playing there.
constexpr double onsetReachSeconds = 0.008;
// Seconds a panel stays busy after its row: the marker's approach plus its life after the beat.
constexpr double panelRestSeconds = 0.95;
constexpr int halfBeatsPerBar = 8;

// The brightness of a beat that no onset marks.
constexpr double noBrightness = -1;

struct Tcandidate {
    int halfBeat;
    double score;
    double brightness;
};

double metricWeight(int halfBeat) {
    if (halfBeat % 8 == 0) return 0.6;
    if (halfBeat % 4 == 0) return 0.4;
    if (halfBeat % 2 == 0) return 0.3;
    return 0;
}

double halfBeatTime(const TbeatGrid& grid, int halfBeat) { return grid.beatTime(halfBeat / 2.0); }

// Markers in a stretch without a beat would follow no sound the player hears.
bool withoutBeat(const TbeatGrid& grid, double time) {
    for (const TbeatlessStretch& stretch : grid.beatless) {
        if (time >= stretch.start && time < stretch.end) return true;
    }
    return false;
}

// Every grid position with an onset on it, and every beat while the music plays.
std::vector<Tcandidate> candidates(const TsongAnalysis& analysis, int gridHalfBeats) {
    const TbeatGrid& grid = analysis.grid;
    std::vector<Tcandidate> found;
    if (analysis.onsets.empty() || grid.bpm <= 0) return found;
    const double lastTime = std::min(analysis.onsets.back().time, analysis.seconds - 0.5);
    const double beat = grid.secondsPerBeat();
    size_t next = 0;
    for (int halfBeat = 0; halfBeatTime(grid, halfBeat) <= lastTime; halfBeat += gridHalfBeats) {
        const double time = halfBeatTime(grid, halfBeat);
        while (next < analysis.onsets.size() && analysis.onsets[next].time < time - beat) ++next;
        double strongest = 0, brightness = noBrightness;
        bool musicNear = false;
        for (size_t i = next; i < analysis.onsets.size() && analysis.onsets[i].time <= time + beat; ++i) {
            const TheardOnset& onset = analysis.onsets[i];
            musicNear = true;
            if (std::fabs(onset.time - time) <= onsetReachSeconds && onset.strength > strongest) {
                strongest = onset.strength;
                brightness = onset.brightness;
            }
        }
        const bool onBeat = halfBeat % 2 == 0;
        if (withoutBeat(grid, time)) continue;
        if (strongest > 0 || (onBeat && musicNear)) found.push_back({halfBeat, strongest + metricWeight(halfBeat), brightness});
    }
    return found;
}

size_t targetRows(const TsongAnalysis& analysis, int difficulty) {
    const Tdifficulty& rule = difficulties[difficulty];
    const double seconds = std::max(0.0, analysis.seconds - analysis.grid.firstBeat);
    const size_t wanted = static_cast<size_t>((rule.baseDensity + rule.densityPerBeat * analysis.grid.bpm / 60.0) * seconds);
    const size_t available = candidates(analysis, rule.gridHalfBeats).size();
    // The game's chart record holds chartCapacity rows.
    size_t target = std::min({wanted, available, static_cast<size_t>(chartCapacity)});
    if (difficulty + 1 < difficultyCount) {
        const size_t harder = targetRows(analysis, difficulty + 1);
        target = std::min(target, static_cast<size_t>(easierShare * static_cast<double>(harder)));
    }
    return target;
}

// The half-beats of a stretch that must hold a row: two bars, or fewer when they last over four
// seconds, so the music never goes on for eight seconds without a marker.
int coverageHalfBeats(const TbeatGrid& grid) {
    constexpr double longestCoverageSeconds = 4.0;
    const int fitting = static_cast<int>(longestCoverageSeconds / (grid.secondsPerBeat() / 2));
    return std::clamp(fitting - fitting % 2, 2, 2 * halfBeatsPerBar);
}

// The strongest candidate of every stretch first, whatever its score against the rest of the song
// (an easy chart begins in the first bars like the others); then the strongest of the others up to
// the chart's number of rows. Candidates come and go in time order.
std::vector<Tcandidate> chooseRows(const TsongAnalysis& analysis, int difficulty) {
    const std::vector<Tcandidate> found = candidates(analysis, difficulties[difficulty].gridHalfBeats);
    const int stretch = coverageHalfBeats(analysis.grid);
    std::vector<bool> chosen(found.size(), false);
    size_t count = 0;
    for (size_t i = 0; i < found.size();) {
        size_t strongest = i;
        const int stretchIndex = found[i].halfBeat / stretch;
        for (; i < found.size() && found[i].halfBeat / stretch == stretchIndex; ++i) {
            if (found[i].score > found[strongest].score) strongest = i;
        }
        chosen[strongest] = true;
        ++count;
    }
    std::vector<size_t> byScore(found.size());
    std::iota(byScore.begin(), byScore.end(), size_t{0});
    std::stable_sort(byScore.begin(), byScore.end(), [&found](size_t a, size_t b) { return found[a].score > found[b].score; });
    const size_t target = targetRows(analysis, difficulty);
    for (size_t k = 0; k < byScore.size() && count < target; ++k) {
        if (!chosen[byScore[k]]) chosen[byScore[k]] = true, ++count;
    }
    std::vector<Tcandidate> rows;
    for (size_t i = 0; i < found.size(); ++i) {
        if (chosen[i]) rows.push_back(found[i]);
    }
    return rows;
}

// Which panels are free: none twice in one bar (one grid block holds each panel once), none again
// too soon, and panels still showing a marker or just played are avoided when others are free.
class TpanelPlanner {
public:
    TpanelPlanner(const TsongAnalysis& analysis) : grid(analysis.grid) {
        lastUse.fill(-1e9);
        for (const TheardOnset& onset : analysis.onsets) brightnesses.push_back(onset.brightness);
        std::sort(brightnesses.begin(), brightnesses.end());
    }

    std::vector<int> place(const Tcandidate& row, int count) {
        const int bar = row.halfBeat / halfBeatsPerBar;
        if (bar != currentBar) usedInBar.fill(false), currentBar = bar;
        const double time = halfBeatTime(grid, row.halfBeat);
        static const int handCycle[] = {0, 2, 1, 3};
        // Every four bars the whole pattern moves down a row, so a long song does not keep to a few panels.
        const int phrase = bar / 4;
        const int soundRow = row.brightness == noBrightness ? 1 + step % 2 : rowOfBrightness(row.brightness);
        const int wishedRow = (soundRow + phrase) % 4;
        const int wishedColumn = (handCycle[step % 4] + bar) % 4;
        ++step;
        std::vector<int> panels;
        for (int k = 0; k < count; ++k) {
            const int panel = cheapestPanel(time, wishedRow * 4 + wishedColumn, panels);
            if (panel < 0) break;
            panels.push_back(panel);
        }
        for (const int panel : panels) {
            usedInBar[static_cast<size_t>(panel)] = true;
            lastUse[static_cast<size_t>(panel)] = time;
        }
        std::sort(panels.begin(), panels.end());
        previous = panels;
        return panels;
    }

private:
    // Low sounds on the bottom row, high ones on the top, by their rank among the song's onsets.
    int rowOfBrightness(double brightness) const {
        const auto below = std::lower_bound(brightnesses.begin(), brightnesses.end(), brightness) - brightnesses.begin();
        const double rank = static_cast<double>(below) / static_cast<double>(std::max<size_t>(1, brightnesses.size()));
        return 3 - std::min(3, static_cast<int>(4 * rank));
    }

    static int distance(int a, int b) { return std::abs(a / 4 - b / 4) + std::abs(a % 4 - b % 4); }

    bool allowed(int panel, double time) const {
        return !usedInBar[static_cast<size_t>(panel)] &&
               time - lastUse[static_cast<size_t>(panel)] >= shortestPanelRepeatSeconds + 0.001;
    }

    // The first panel goes near the wished one; the others of a chord beside those already taken.
    int cheapestPanel(double time, int wished, const std::vector<int>& taken) const {
        int best = -1;
        double bestCost = std::numeric_limits<double>::max();
        for (int panel = 0; panel < 16; ++panel) {
            if (!allowed(panel, time) || std::find(taken.begin(), taken.end(), panel) != taken.end()) continue;
            double cost = distance(panel, wished);
            if (!taken.empty()) {
                int nearest = 16;
                for (const int other : taken) nearest = std::min(nearest, distance(panel, other));
                if (nearest != 1) continue;
                cost = distance(panel, wished) * 0.1;
            }
            if (time - lastUse[static_cast<size_t>(panel)] < panelRestSeconds) cost += 2;
            if (std::find(previous.begin(), previous.end(), panel) != previous.end()) cost += 4;
            if (cost < bestCost) bestCost = cost, best = panel;
        }
        return best;
    }

    const TbeatGrid& grid;
    std::vector<double> brightnesses;
    std::array<double, 16> lastUse{};
    std::array<bool, 16> usedInBar{};
    std::vector<int> previous;
    int currentBar = -1;
    int step = 0;
};

std::string tempoText(double bpm) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", bpm);
    std::string shown = text;
    while (shown.back() == '0') shown.pop_back();
    if (shown.back() == '.') shown.pop_back();
    return shown;
}

double loudnessOfBlock(const std::vector<float>& mono, size_t first, size_t length) {
    double sum = 0;
    for (size_t i = first; i < first + length && i < mono.size(); ++i) sum += static_cast<double>(mono[i]) * mono[i];
    return sum;
}

// The start, in frames, of the loudest stretch of previewSeconds, moved back to the bar it falls in.
size_t loudestStretch(const TsongAudio& audio, const TbeatGrid& grid) {
    constexpr size_t block = syncSampleRate / 10;
    const size_t blocks = audio.mono.size() / block;
    const size_t stretch = static_cast<size_t>(previewSeconds * 10);
    if (blocks <= stretch) return 0;
    std::vector<double> energy(blocks);
    for (size_t b = 0; b < blocks; ++b) energy[b] = loudnessOfBlock(audio.mono, b * block, block);
    double sum = std::accumulate(energy.begin(), energy.begin() + static_cast<std::ptrdiff_t>(stretch), 0.0);
    double best = sum;
    size_t bestStart = 0;
    for (size_t start = 1; start + stretch <= blocks; ++start) {
        sum += energy[start + stretch - 1] - energy[start - 1];
        if (sum > best) best = sum, bestStart = start;
    }
    double seconds = static_cast<double>(bestStart * block) / syncSampleRate;
    if (grid.bpm > 0) {
        const double bar = 4 * grid.secondsPerBeat();
        const double barStart = grid.firstBeat + std::floor((seconds - grid.firstBeat) / bar) * bar;
        if (barStart >= 0) seconds = barStart;
    }
    const size_t latest = audio.mono.size() - static_cast<size_t>(previewSeconds * syncSampleRate);
    return std::min(latest, static_cast<size_t>(seconds * syncSampleRate));
}

}  // namespace

std::vector<TautoRow> planAutoChart(const TsongAnalysis& analysis, int difficulty) {
    const Tdifficulty& rule = difficulties[difficulty];
    const std::vector<Tcandidate> chosen = chooseRows(analysis, difficulty);
    std::vector<double> scores;
    for (const Tcandidate& row : chosen) scores.push_back(row.score);
    std::sort(scores.rbegin(), scores.rend());
    const size_t chords = static_cast<size_t>(rule.chordShare * static_cast<double>(scores.size()));
    const size_t triples = rule.largestChord > 2 ? chords / 5 : 0;
    const double chordThreshold = chords > 0 ? scores[chords - 1] : std::numeric_limits<double>::max();
    const double tripleThreshold = triples > 0 ? scores[triples - 1] : std::numeric_limits<double>::max();

    TpanelPlanner planner(analysis);
    std::vector<TautoRow> rows;
    for (const Tcandidate& row : chosen) {
        const int count = row.score >= tripleThreshold ? 3 : row.score >= chordThreshold ? 2 : 1;
        std::vector<int> panels = planner.place(row, count);
        if (!panels.empty()) rows.push_back({row.halfBeat, std::move(panels)});
    }
    return rows;
}

// The timing group a beat's line starts with: the tempo and the first beat at the top, and where a
// segment of the tempo map begins, its tempo and the offset that puts the line on its first beat.
// The cursor follows the parser: each line moves it by one beat at the tempo in force.
class TtimingGroups {
public:
    explicit TtimingGroups(const TbeatGrid& grid) : grid(grid) {}

    std::string at(int beat) {
        std::string text;
        if (beat == 0) {
            const long offsetMs = std::lround((grid.firstBeat + chartLeadSeconds) * 1000);
            bpm = grid.segments.empty() ? grid.bpm : grid.segments.front().bpm;
            text = "(" + tempoText(bpm) + ")[" + std::to_string(offsetMs) + "]";
            cursor = offsetMs / 1000.0;
        }
        for (size_t i = 1; i < grid.segments.size(); ++i) {
            const TtempoSegment& segment = grid.segments[i];
            if (segment.startBeat != beat) continue;
            const long adjustMs = std::lround((segment.firstBeat + chartLeadSeconds - cursor) * 1000);
            bpm = segment.bpm;
            text += "(" + tempoText(bpm) + ")";
            if (adjustMs != 0) text += "[" + std::to_string(adjustMs) + "]";
            cursor += adjustMs / 1000.0;
        }
        cursor += 60.0 / bpm;
        return text;
    }

private:
    const TbeatGrid& grid;
    double bpm = 0;
    double cursor = 0;
};

std::string autoChartText(const TbeatGrid& grid, const std::vector<TautoRow>& rows) {
    static const char names[] = "123456789abcdefg";
    const int lastBar = rows.empty() ? 0 : rows.back().halfBeat / halfBeatsPerBar;
    TtimingGroups timing(grid);
    std::string text;
    size_t next = 0;
    for (int bar = 0; bar <= lastBar; ++bar) {
        std::string panels(16, '-');
        std::array<char, halfBeatsPerBar> nameAt{};
        int named = 0;
        for (; next < rows.size() && rows[next].halfBeat / halfBeatsPerBar == bar; ++next) {
            const char name = names[named++];
            nameAt[static_cast<size_t>(rows[next].halfBeat % halfBeatsPerBar)] = name;
            for (const int panel : rows[next].panels) panels[static_cast<size_t>(panel)] = name;
        }
        for (size_t beat = 0; beat < 4; ++beat) {
            std::string line = timing.at(bar * 4 + static_cast<int>(beat));
            const char onBeat = nameAt[2 * beat], offBeat = nameAt[2 * beat + 1];
            line += onBeat ? onBeat : '-';
            if (offBeat) line += offBeat;
            text += panels.substr(beat * 4, 4) + " |" + line + "|\n";
        }
    }
    return text;
}

int markerCount(const std::vector<TautoRow>& rows) {
    int markers = 0;
    for (const TautoRow& row : rows) markers += static_cast<int>(row.panels.size());
    return markers;
}

double secondsWithBeat(const TsongAnalysis& analysis) {
    const double start = std::max(0.0, analysis.grid.firstBeat);
    double seconds = std::max(0.0, analysis.seconds - start);
    for (const TbeatlessStretch& stretch : analysis.grid.beatless)
        seconds -= std::max(0.0, std::min(stretch.end, analysis.seconds) - std::max(stretch.start, start));
    return std::max(0.0, seconds);
}

std::string sparseChartComplaint(const TsongAnalysis& analysis, int markers) {
    const double seconds = secondsWithBeat(analysis);
    const int needed = static_cast<int>(std::ceil(seconds / longestSecondsPerMarker));
    if (markers >= needed) return "";
    char text[200];
    std::snprintf(text, sizeof text,
                  "only %d markers for %.0f s of music with a beat (at least %d, one per %.0f s, make a chart worth playing)",
                  markers, seconds, needed, longestSecondsPerMarker);
    return text;
}

std::vector<int16_t> previewExcerpt(const TsongAudio& audio, const TbeatGrid& grid) {
    constexpr double fadeInSeconds = 0.15, fadeOutSeconds = 2.5;
    const size_t frames = audio.stereo.size() / 2;
    const size_t start = loudestStretch(audio, grid);
    const size_t length = std::min(frames - start, static_cast<size_t>(previewSeconds * syncSampleRate));
    std::vector<int16_t> excerpt(audio.stereo.begin() + static_cast<std::ptrdiff_t>(2 * start),
                                 audio.stereo.begin() + static_cast<std::ptrdiff_t>(2 * (start + length)));
    const double fadeIn = fadeInSeconds * syncSampleRate, fadeOut = fadeOutSeconds * syncSampleRate;
    for (size_t i = 0; i < length; ++i) {
        const double fromEnd = static_cast<double>(length - i);
        const double gain = std::min({1.0, static_cast<double>(i) / fadeIn, fromEnd / fadeOut});
        excerpt[2 * i] = static_cast<int16_t>(std::lround(excerpt[2 * i] * gain));
        excerpt[2 * i + 1] = static_cast<int16_t>(std::lround(excerpt[2 * i + 1] * gain));
    }
    return excerpt;
}
