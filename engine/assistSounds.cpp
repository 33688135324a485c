// The assist sounds' setting, volume and tick times.
#include "engine/assistSounds.h"

#include <algorithm>
#include <cmath>

TassistMode assistModeFromSetting(int32_t stored) {
    if (stored < 0 || stored > 3) return TassistMode::off;
    return static_cast<TassistMode>(stored);
}

int32_t assistVolumeFromSetting(int32_t stored) {
    if (stored < 0 || stored > loudestAssistVolume) return loudestAssistVolume;
    return stored;
}

TassistMode nextAssistMode(TassistMode mode) {
    return static_cast<TassistMode>((static_cast<int32_t>(mode) + 1) % 4);
}

bool ticksOn(TassistMode mode) {
    return mode == TassistMode::tick || mode == TassistMode::both;
}

bool hitSoundsOn(TassistMode mode) {
    return mode == TassistMode::hitSounds || mode == TassistMode::both;
}

std::string assistModeLine(TassistMode mode) {
    switch (mode) {
        case TassistMode::tick: return "ASSIST: TICK";
        case TassistMode::hitSounds: return "ASSIST: HIT SOUNDS";
        case TassistMode::both: return "ASSIST: TICK + HIT SOUNDS";
        default: return "ASSIST: OFF";
    }
}

std::vector<int16_t> samplesAtVolume(std::vector<int16_t> samples, int32_t volume) {
    const int32_t held = std::clamp(volume, 0, loudestAssistVolume);
    if (held == loudestAssistVolume) return samples;
    // Perceived loudness follows the square of the setting more closely than the setting itself.
    const double gain = static_cast<double>(held) * held / (loudestAssistVolume * loudestAssistVolume);
    for (int16_t& sample : samples) sample = static_cast<int16_t>(std::lround(sample * gain));
    return samples;
}

