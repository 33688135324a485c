// MP3 fixtures made at test time: a click track over a rising tone, so every stretch differs.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
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

// The MP3 cut 100 bytes into the first frame that starts past the given share of its bytes.
inline std::vector<uint8_t> cutMidFrame(std::vector<uint8_t> mp3, double share) {
    size_t at = static_cast<size_t>(static_cast<double>(mp3.size()) * share);
    while (at + 1 < mp3.size() && !(mp3[at] == 0xFF && (mp3[at + 1] & 0xE0) == 0xE0)) ++at;
    mp3.resize(std::min(mp3.size(), at + 100));
    return mp3;
}

// The MP3 with its encoder's Info frame announcing extraFrames more MP3 frames than it holds.
inline std::vector<uint8_t> withInflatedFrameCount(std::vector<uint8_t> mp3, uint32_t extraFrames) {
    for (size_t at = 0; at + 12 < std::min<size_t>(mp3.size(), 1024); ++at) {
        if (std::memcmp(&mp3[at], "Info", 4) != 0 && std::memcmp(&mp3[at], "Xing", 4) != 0) continue;
        if ((mp3[at + 7] & 1) == 0) break;  // no frame count in this Info frame
        uint32_t frames = 0;
        for (int i = 0; i < 4; ++i) frames = frames << 8 | mp3[at + 8 + i];
        frames += extraFrames;
        for (int i = 0; i < 4; ++i) mp3[at + 8 + i] = static_cast<uint8_t>(frames >> (24 - 8 * i));
        return mp3;
    }
    return {};
}
