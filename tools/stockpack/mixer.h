// Stereo buses, the effects the mix uses (reverb, echo, ducking) and the master stage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/stockpack/synth.h"

namespace stockpack {

struct TstereoBus {
    std::vector<float> left;
    std::vector<float> right;

    explicit TstereoBus(size_t frames = 0) : left(frames, 0.0f), right(frames, 0.0f) {}
    size_t frames() const { return left.size(); }
};

// Adds a mono voice at startFrame; pan -1 (left) .. 1 (right), constant power.
void mixVoice(TstereoBus& bus, const Tvoice& voice, size_t startFrame, float gain, float pan);
void mixBus(TstereoBus& into, const TstereoBus& from, float gain);

// A plate-like reverb (parallel combs into series all-passes), returning only the wet signal.
TstereoBus reverb(const TstereoBus& input, float roomSize, float damping);
// An echo that bounces between the channels, returning only the wet signal.
TstereoBus pingPongEcho(const TstereoBus& input, double delaySeconds, float feedback);
// Lowers the bus after each trigger and lets it recover, the pumping of dance music.
void duck(TstereoBus& bus, const std::vector<size_t>& triggerFrames, float depth, double recoverSeconds);
// Fades the bus in over the first fadeIn seconds and out over the last fadeOut seconds.
void fade(TstereoBus& bus, double fadeInSeconds, double fadeOutSeconds);
TstereoBus slice(const TstereoBus& bus, size_t firstFrame, size_t frames);

// Gentle saturation, then scaling so the highest sample sits at `peak` (below full scale, so
// the encoded file never clips), then 16-bit interleaved samples.
std::vector<int16_t> master(const TstereoBus& bus, float peak);

}  // namespace stockpack
