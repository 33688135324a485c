// MP3 fixtures made at test time: a click track over a rising tone, so every stretch differs.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/mp3Writer.h"

inline std::vector<int16_t> clickTrack(int32_t frames, int32_t rate, int32_t channels) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    const int32_t clickEvery = rate / 4;
    const int32_t clickLength = rate / 1000 + 1;
    double phase = 0.0;
    for (int32_t i = 0; i < frames; ++i) {
        const double frequency = 220.0 + 660.0 * i / frames;
        phase += 2.0 * M_PI * frequency / rate;
        double value = 6000.0 * std::sin(phase);
        if (i % clickEvery < clickLength) value += 16000.0;
        for (int32_t c = 0; c < channels; ++c)
            samples[static_cast<size_t>(i) * channels + c] = static_cast<int16_t>(c == 0 ? value : value * 0.5);
    }
    return samples;
}

inline std::vector<uint8_t> clickTrackMp3(int32_t frames, int32_t rate = 44100, int32_t channels = 2) {
    return encodeMp3(clickTrack(frames, rate, channels), rate, channels, channels == 2 ? 128 : 64);
}
