// Renders drum songs from the stock pack's instruments onto a mono bus, then to stereo PCM.
#include "tools/syncTestSongs.h"

#include <algorithm>
#include <cmath>

#include "tools/stockpack/synth.h"

namespace {

constexpr double tailSeconds = 2.0;

void mixIn(std::vector<float>& bus, const std::vector<float>& voice, double seconds, float gain) {
    const size_t start = static_cast<size_t>(std::lround(seconds * stockpack::audioRate));
    for (size_t i = 0; i < voice.size() && start + i < bus.size(); ++i) bus[start + i] += voice[i] * gain;
}

}  // namespace

double drumSongBeatTime(const TdrumSongRecipe& recipe, double beat) {
    if (recipe.driftToBpm > 0 && recipe.driftToBpm != recipe.bpm) {
        // The time is the integral of 60 / tempo over beats, the tempo changing linearly.
        const double slope = (recipe.driftToBpm - recipe.bpm) / (4.0 * recipe.bars);
        return recipe.firstBeat + 60.0 / slope * std::log((recipe.bpm + slope * beat) / recipe.bpm);
    }
    const double changeBeat = 4.0 * recipe.changeBar;
    if (recipe.laterBpm <= 0 || beat <= changeBeat) return recipe.firstBeat + beat * 60.0 / recipe.bpm;
    return recipe.firstBeat + changeBeat * 60.0 / recipe.bpm + (beat - changeBeat) * 60.0 / recipe.laterBpm;
}

std::vector<int16_t> makeDrumSong(const TdrumSongRecipe& recipe) {
    const double end = drumSongBeatTime(recipe, 4.0 * recipe.bars) + tailSeconds;
    std::vector<float> bus(static_cast<size_t>(end * stockpack::audioRate));
    const std::vector<float> kick = stockpack::kickDrum(0.8f, 0.25f);
    const std::vector<float> snare = stockpack::snareDrum(recipe.seed, 0.5f);
    const std::vector<float> hat = stockpack::hiHat(recipe.seed + 1, false);
    for (int bar = 0; bar < recipe.bars; ++bar) {
        const double first = 4.0 * bar;
        const bool quiet = bar < recipe.quietIntroBars;
        for (int eighth = 0; eighth < 8; ++eighth) {
            const bool offBeat = eighth % 2 == 1;
            const double beat = first + eighth / 2.0 + (offBeat ? recipe.swing : 0.0);
            mixIn(bus, hat, drumSongBeatTime(recipe, beat), quiet ? 0.12f : offBeat ? 0.25f : 0.35f);
        }
        if (recipe.pad && bar % 2 == 0) {
            const double length = drumSongBeatTime(recipe, first + 8) - drumSongBeatTime(recipe, first);
            const int chord = 48 + static_cast<int>((recipe.seed + static_cast<uint32_t>(bar)) % 5);
            mixIn(bus, stockpack::padChord({chord, chord + 4, chord + 7}, length, 0.4f), drumSongBeatTime(recipe, first), 0.3f);
        }
        if (quiet) continue;
        mixIn(bus, kick, drumSongBeatTime(recipe, first), 0.9f);
        mixIn(bus, kick, drumSongBeatTime(recipe, first + 2), 0.8f);
        if ((bar + static_cast<int>(recipe.seed)) % 3 == 0) mixIn(bus, kick, drumSongBeatTime(recipe, first + 3.5), 0.5f);
        mixIn(bus, snare, drumSongBeatTime(recipe, first + 1), 0.7f);
        mixIn(bus, snare, drumSongBeatTime(recipe, first + 3), 0.75f);
    }
    float peak = 1e-6f;
    for (const float sample : bus) peak = std::max(peak, std::fabs(sample));
    std::vector<int16_t> stereo(bus.size() * 2);
    for (size_t i = 0; i < bus.size(); ++i) {
        const auto value = static_cast<int16_t>(std::lround(bus[i] / peak * 0.8f * 32767));
        stereo[2 * i] = value;
        stereo[2 * i + 1] = value;
    }
    return stereo;
}
