// Mixing, effects and mastering of the stock music.
#include "tools/stockpack/mixer.h"

#include <algorithm>
#include <cmath>

namespace stockpack {

namespace {

// One feedback comb with a low-pass in its loop.
class Tcomb {
public:
    explicit Tcomb(size_t length) : buffer(length, 0.0f) {}
    float process(float input, float feedback, float damping) {
        const float output = buffer[position];
        store = output * (1 - damping) + store * damping;
        buffer[position] = input + store * feedback;
        position = (position + 1) % buffer.size();
        return output;
    }

private:
    std::vector<float> buffer;
    size_t position = 0;
    float store = 0;
};

class TallPass {
public:
    explicit TallPass(size_t length) : buffer(length, 0.0f) {}
    float process(float input) {
        const float delayed = buffer[position];
        buffer[position] = input + delayed * 0.5f;
        position = (position + 1) % buffer.size();
        return delayed - input;
    }

private:
    std::vector<float> buffer;
    size_t position = 0;
};

std::vector<float> reverbChannel(const std::vector<float>& input, size_t spread, float roomSize, float damping) {
    static const size_t combLengths[] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static const size_t allPassLengths[] = {556, 441, 341, 225};
    std::vector<Tcomb> combs;
    for (const size_t length : combLengths) combs.emplace_back(length + spread);
    std::vector<TallPass> allPasses;
    for (const size_t length : allPassLengths) allPasses.emplace_back(length + spread);
    std::vector<float> output(input.size());
    const float feedback = 0.7f + 0.28f * roomSize;
    for (size_t i = 0; i < input.size(); ++i) {
        float sum = 0;
        for (Tcomb& comb : combs) sum += comb.process(input[i] * 0.015f, feedback, damping);
        for (TallPass& allPass : allPasses) sum = allPass.process(sum);
        output[i] = sum;
    }
    return output;
}

}  // namespace

void mixVoice(TstereoBus& bus, const Tvoice& voice, size_t startFrame, float gain, float pan) {
    const float angle = (std::clamp(pan, -1.0f, 1.0f) + 1.0f) * static_cast<float>(M_PI) / 4.0f;
    const float leftGain = gain * std::cos(angle) * static_cast<float>(M_SQRT2);
    const float rightGain = gain * std::sin(angle) * static_cast<float>(M_SQRT2);
    for (size_t i = 0; i < voice.size() && startFrame + i < bus.frames(); ++i) {
        bus.left[startFrame + i] += voice[i] * leftGain;
        bus.right[startFrame + i] += voice[i] * rightGain;
    }
}

void mixBus(TstereoBus& into, const TstereoBus& from, float gain) {
    for (size_t i = 0; i < std::min(into.frames(), from.frames()); ++i) {
        into.left[i] += from.left[i] * gain;
        into.right[i] += from.right[i] * gain;
    }
}

TstereoBus reverb(const TstereoBus& input, float roomSize, float damping) {
    TstereoBus wet;
    wet.left = reverbChannel(input.left, 0, roomSize, damping);
    wet.right = reverbChannel(input.right, 23, roomSize, damping);
    return wet;
}

TstereoBus pingPongEcho(const TstereoBus& input, double delaySeconds, float feedback) {
    const size_t delay = static_cast<size_t>(delaySeconds * audioRate);
    TstereoBus wet(input.frames());
    for (size_t i = delay; i < input.frames(); ++i) {
        // The left echo feeds the right one, and the right feeds the left, a little darker each time.
        wet.left[i] = (input.left[i - delay] + input.right[i - delay]) * 0.5f + wet.right[i - delay] * feedback;
        wet.right[i] = wet.left[i - delay] * feedback;
    }
    return wet;
}

void duck(TstereoBus& bus, const std::vector<size_t>& triggerFrames, float depth, double recoverSeconds) {
    std::vector<float> gain(bus.frames(), 1.0f);
    const size_t span = static_cast<size_t>(recoverSeconds * audioRate);
    for (const size_t start : triggerFrames) {
        for (size_t i = 0; i < span && start + i < gain.size(); ++i) {
            const float shape = static_cast<float>(i) / static_cast<float>(span);
            gain[start + i] = std::min(gain[start + i], 1.0f - depth * (1.0f - shape * shape));
        }
    }
    for (size_t i = 0; i < bus.frames(); ++i) {
        bus.left[i] *= gain[i];
        bus.right[i] *= gain[i];
    }
}

void fade(TstereoBus& bus, double fadeInSeconds, double fadeOutSeconds) {
    const double frames = static_cast<double>(bus.frames());
    for (size_t i = 0; i < bus.frames(); ++i) {
        const double t = static_cast<double>(i) / audioRate;
        const double remaining = (frames - static_cast<double>(i)) / audioRate;
        double level = 1.0;
        if (fadeInSeconds > 0) level = std::min(level, t / fadeInSeconds);
        if (fadeOutSeconds > 0) level = std::min(level, remaining / fadeOutSeconds);
        bus.left[i] *= static_cast<float>(level);
        bus.right[i] *= static_cast<float>(level);
    }
}

TstereoBus slice(const TstereoBus& bus, size_t firstFrame, size_t frames) {
    TstereoBus part(frames);
    for (size_t i = 0; i < frames && firstFrame + i < bus.frames(); ++i) {
        part.left[i] = bus.left[firstFrame + i];
        part.right[i] = bus.right[firstFrame + i];
    }
    return part;
}

std::vector<int16_t> master(const TstereoBus& bus, float peak) {
    float highest = 1e-9f;
    for (size_t i = 0; i < bus.frames(); ++i) highest = std::max({highest, std::fabs(bus.left[i]), std::fabs(bus.right[i])});
    // Drive so the loudest moment reaches the knee of the curve, which rounds off drum peaks.
    const float drive = 1.2f / highest;
    const float ceiling = std::tanh(1.2f);
    std::vector<int16_t> samples;
    samples.reserve(bus.frames() * 2);
    for (size_t i = 0; i < bus.frames(); ++i) {
        for (const float value : {bus.left[i], bus.right[i]}) {
            const float shaped = std::tanh(value * drive) / ceiling * peak;
            samples.push_back(static_cast<int16_t>(std::lround(std::clamp(shaped, -1.0f, 1.0f) * 32767.0f)));
        }
    }
    return samples;
}

}  // namespace stockpack
