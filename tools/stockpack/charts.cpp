// Chooses chart rows from what the music plays and writes them as a person would write a chart.
//
// Timing convention: a step's audible time is leadIn + step × (15 / bpm) seconds. Play activates
// a row so that its perfect moment comes 50 ms before the row's chart time, so the offset group
// of the first line is (leadIn + 0.050) s in milliseconds and every row's chart time is its
// audible time plus 50 ms: the perfect moments land on the beats the player hears.
#include "tools/stockpack/charts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <sstream>

namespace stockpack {

namespace {

struct Tdifficulty {
    int grid;               // candidates only every `grid` sixteenths
    double minimumGap;      // seconds between two rows
    double baseDensity;     // rows per second ...
    double densityPerBeat;  // ... plus this much per beat per second
    double chordShare;      // the strongest share of rows that become two-panel chords
};

const Tdifficulty difficulties[] = {
    {4, 0.40, 0.55, 0.20, 0.00},
    {2, 0.20, 1.20, 0.55, 0.08},
    {1, 0.10, 2.20, 1.00, 0.15},
};

// Seconds a panel stays busy after its row: the marker's approach plus its longest life after the beat.
constexpr double panelRestSeconds = 0.95;

double partWeight(const Tonset& onset) {
    switch (onset.part) {
        case Tpart::kick: return 1.0;
        case Tpart::snare: return 1.0;
        case Tpart::clap: return 0.8;
        case Tpart::crash: return 1.5;
        case Tpart::lead: return 0.9 + 0.05 * std::min(onset.length, 8);
        case Tpart::bass: return 0.4;
        case Tpart::chord: return 0.5;
        case Tpart::arp: return 0.15;
        case Tpart::openHat: return 0.25;
        case Tpart::hat: return 0.1;
    }
    return 0;
}

double metricWeight(int step) {
    if (step % 16 == 0) return 0.6;
    if (step % 8 == 0) return 0.4;
    if (step % 4 == 0) return 0.3;
    if (step % 2 == 0) return 0.1;
    return 0;
}

// How strongly the music calls for a marker at each step that has something on it.
std::map<int, double> stepScores(const TcomposedSong& song, int grid) {
    std::map<int, double> scores;
    for (const Tonset& onset : song.onsets) {
        if (onset.step < 0 || onset.step % grid != 0) continue;
        scores[onset.step] += partWeight(onset);
    }
    for (auto& [step, score] : scores) score += metricWeight(step);
    return scores;
}

std::vector<int> chooseSteps(const TcomposedSong& song, const Tdifficulty& rule, std::map<int, double>& scores) {
    std::vector<std::pair<double, int>> ranked;
    for (const auto& [step, score] : scores) ranked.push_back({-score, step});
    std::sort(ranked.begin(), ranked.end());
    const double stepSeconds = 15.0 / song.bpm;
    const double seconds = song.bars * 16 * stepSeconds;
    const size_t target = static_cast<size_t>((rule.baseDensity + rule.densityPerBeat * song.bpm / 60.0) * seconds);
    std::vector<int> chosen;
    for (const auto& [negativeScore, step] : ranked) {
        if (chosen.size() >= target) break;
        const bool crowded = std::any_of(chosen.begin(), chosen.end(), [&](int other) {
            return std::fabs(static_cast<double>(other - step)) * stepSeconds < rule.minimumGap - 1e-9;
        });
        if (!crowded) chosen.push_back(step);
    }
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

// The lead's pitch range, so high notes can sit on the top row and low ones on the bottom.
std::pair<int, int> leadRange(const TcomposedSong& song) {
    int lowest = 127, highest = 0;
    for (const Tonset& onset : song.onsets) {
        if (onset.part != Tpart::lead) continue;
        lowest = std::min(lowest, onset.pitch);
        highest = std::max(highest, onset.pitch);
    }
    return {lowest, std::max(highest, lowest + 1)};
}

int preferredRow(const TcomposedSong& song, int step, std::pair<int, int> range) {
    int row = 2;
    for (const Tonset& onset : song.onsets) {
        if (onset.step != step) continue;
        if (onset.part == Tpart::lead) {
            const double height = static_cast<double>(onset.pitch - range.first) / (range.second - range.first);
            return 3 - static_cast<int>(std::lround(3 * height));
        }
        if (onset.part == Tpart::crash) row = 0;
        else if (onset.part == Tpart::snare || onset.part == Tpart::clap) row = std::min(row, 1);
        else if (onset.part == Tpart::kick && row == 2) row = 3;
    }
    return row;
}

// Panels in use: none twice in one bar (one grid block) and none again before its marker is gone.
class TpanelBook {
public:
    explicit TpanelBook(double secondsPerStep) : stepSeconds(secondsPerStep) { lastUse.fill(-1e9); }

    void startBar(int bar) {
        if (bar != currentBar) usedInBar.fill(false), currentBar = bar;
    }
    bool isFree(int panel, int step) const {
        return !usedInBar[static_cast<size_t>(panel)] && (step - lastUse[static_cast<size_t>(panel)]) * stepSeconds >= panelRestSeconds;
    }
    void take(int panel, int step) {
        usedInBar[static_cast<size_t>(panel)] = true;
        lastUse[static_cast<size_t>(panel)] = step;
    }
    // The free panel nearest the wished one (row and column distance), or -1.
    int nearestFree(int wished, int step, const std::vector<int>& taken) const {
        int best = -1, bestDistance = 100;
        for (int panel = 0; panel < 16; ++panel) {
            if (!isFree(panel, step) || std::find(taken.begin(), taken.end(), panel) != taken.end()) continue;
            const int distance = std::abs(panel / 4 - wished / 4) + std::abs(panel % 4 - wished % 4);
            if (distance < bestDistance) best = panel, bestDistance = distance;
        }
        return best;
    }

private:
    double stepSeconds;
    std::array<double, 16> lastUse{};
    std::array<bool, 16> usedInBar{};
    int currentBar = -1;
};

std::vector<int> rowPanels(TpanelBook& book, int wished, int step, int count) {
    std::vector<int> panels;
    const int row = wished / 4;
    const int column = wished % 4;
    const int companions[] = {wished, row * 4 + (3 - column), (row < 2 ? row + 1 : row - 1) * 4 + column};
    for (int k = 0; k < count; ++k) {
        const int panel = book.nearestFree(companions[k], step, panels);
        if (panel < 0) break;
        panels.push_back(panel);
    }
    for (const int panel : panels) book.take(panel, step);
    return panels;
}

bool hasCrash(const TcomposedSong& song, int step) {
    return std::any_of(song.onsets.begin(), song.onsets.end(),
                       [step](const Tonset& onset) { return onset.step == step && onset.part == Tpart::crash; });
}

std::string numberText(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

double audibleTime(const TcomposedSong& song, int step) { return song.leadIn + step * 15.0 / song.bpm; }

std::vector<TchartRow> planChart(const TcomposedSong& song, int difficulty) {
    const Tdifficulty& rule = difficulties[difficulty];
    std::map<int, double> scores = stepScores(song, rule.grid);
    const std::vector<int> steps = chooseSteps(song, rule, scores);
    std::vector<double> chosenScores;
    for (const int step : steps) chosenScores.push_back(scores[step]);
    std::sort(chosenScores.rbegin(), chosenScores.rend());
    const size_t chordCount = static_cast<size_t>(rule.chordShare * static_cast<double>(chosenScores.size()));
    const double chordThreshold = chordCount > 0 ? chosenScores[chordCount - 1] : 1e9;

    TpanelBook book(15.0 / song.bpm);
    const std::pair<int, int> range = leadRange(song);
    std::vector<TchartRow> rows;
    int hand = 0;
    for (const int step : steps) {
        book.startBar(step / 16);
        const int column = hand % 2 * 2 + hand / 2 % 2;
        const int wished = preferredRow(song, step, range) * 4 + column;
        int count = scores[step] >= chordThreshold ? 2 : 1;
        if (hasCrash(song, step)) count = difficulty == 2 ? 3 : 2;
        std::vector<int> panels = rowPanels(book, wished, step, count);
        if (panels.empty()) continue;
        std::sort(panels.begin(), panels.end());
        rows.push_back({step, panels});
        hand = (hand + 1) % 4;
    }
    return rows;
}

std::string chartText(const TcomposedSong& song, const std::vector<TchartRow>& rows) {
    static const char names[] = "123456789abcdefg";
    const int lastBar = rows.empty() ? 0 : rows.back().step / 16;
    std::ostringstream text;
    size_t next = 0;
    for (int bar = 0; bar <= lastBar; ++bar) {
        std::string grid(16, '-');
        std::map<int, char> nameAtStep;
        for (; next < rows.size() && rows[next].step / 16 == bar; ++next) {
            const char name = names[nameAtStep.size()];
            nameAtStep[rows[next].step] = name;
            for (const int panel : rows[next].panels) grid[static_cast<size_t>(panel)] = name;
        }
        for (int beat = 0; beat < 4; ++beat) {
            const int beatStep = bar * 16 + beat * 4;
            bool onEighths = true;
            bool onBeat = true;
            for (int offset = 1; offset < 4; ++offset) {
                if (!nameAtStep.count(beatStep + offset)) continue;
                onBeat = false;
                if (offset % 2 == 1) onEighths = false;
            }
            const int slots = onBeat ? 1 : onEighths ? 2 : 4;
            std::string timing;
            if (bar == 0 && beat == 0) {
                timing = joined({"(", numberText(song.bpm), ")[", numberText(std::lround((song.leadIn + perfectLeadSeconds) * 1000)), "]"});
            }
            for (int slot = 0; slot < slots; ++slot) {
                const auto found = nameAtStep.find(beatStep + slot * 4 / slots);
                timing += found == nameAtStep.end() ? '-' : found->second;
            }
            text << grid.substr(static_cast<size_t>(beat) * 4, 4) << " |" << timing << "|\n";
        }
    }
    return text.str();
}

}  // namespace stockpack
