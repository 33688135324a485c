// Oscillators, filters and the instrument voices of the stock music.
#include "tools/stockpack/synth.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace stockpack {

namespace {

constexpr double twoPi = 2.0 * M_PI;
constexpr float rate = static_cast<float>(audioRate);

size_t framesFor(double seconds) { return static_cast<size_t>(std::max(0.0, seconds) * audioRate); }

double timeOf(size_t frame) { return static_cast<double>(frame) / audioRate; }

// Attack, decay to sustain while held, then a linear release after `held` seconds.
float envelope(double t, double held, double attack, double decay, float sustain, double release) {
    auto level = [&](double at) {
        if (at < attack) return static_cast<float>(at / attack);
        if (at < attack + decay) return static_cast<float>(1.0 - (1.0 - sustain) * (at - attack) / decay);
        return sustain;
    };
    if (t < held) return level(t);
    return level(held) * static_cast<float>(std::max(0.0, 1.0 - (t - held) / release));
}

float polyBlep(float t, float dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0f;
    }
    if (t > 1.0f - dt) {
        t = (t - 1.0f) / dt;
        return t * t + t + t + 1.0f;
    }
    return 0.0f;
}

// Six detuned square waves, the classic source of a metallic cymbal sound.
float metallicTone(double t) {
    static const double partials[] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    float sum = 0;
    for (const double frequency : partials) sum += std::fmod(t * frequency * 1.7, 1.0) < 0.5 ? 1.0f : -1.0f;
    return sum / 6.0f;
}

float vibrato(double t, double delay, double depth) {
    const double amount = std::clamp((t - delay) / 0.3, 0.0, 1.0) * depth;
    return static_cast<float>(1.0 + amount * std::sin(twoPi * 5.2 * t));
}

void normalise(Tvoice& voice, float peak) {
    float highest = 0;
    for (const float sample : voice) highest = std::max(highest, std::fabs(sample));
    if (highest <= 0) return;
    for (float& sample : voice) sample *= peak / highest;
}

}  // namespace

Tnoise::Tnoise(uint32_t seed) : state(seed * 2654435761u + 0x9e3779b9u) {
    if (state == 0) state = 1;
}

float Tnoise::next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<float>(state) / 2147483648.0f - 1.0f;
}

Tfilter::Toutputs Tfilter::process(float input, float cutoffHz, float resonance) {
    const float cutoff = std::clamp(cutoffHz, 10.0f, rate * 0.45f);
    const float g = std::tan(static_cast<float>(M_PI) * cutoff / rate);
    const float k = 1.0f / std::max(resonance, 0.05f);
    const float a1 = 1.0f / (1.0f + g * (g + k));
    const float a2 = g * a1;
    const float a3 = g * a2;
    const float v3 = input - integrator2;
    const float v1 = a1 * integrator1 + a2 * v3;
    const float v2 = integrator2 + a2 * integrator1 + a3 * v3;
    integrator1 = 2 * v1 - integrator1;
    integrator2 = 2 * v2 - integrator2;
    return {v2, v1, input - k * v1 - v2};
}

Tsaw::Tsaw(float startPhase) : phase(startPhase) {}

float Tsaw::next(float frequencyHz) {
    const float dt = frequencyHz / rate;
    const float value = 2.0f * phase - 1.0f - polyBlep(phase, dt);
    phase += dt;
    if (phase >= 1.0f) phase -= 1.0f;
    return value;
}

double midiToHz(double midiNote) { return 440.0 * std::pow(2.0, (midiNote - 69.0) / 12.0); }

Tvoice kickDrum(float punch, float decaySeconds) {
    Tvoice voice(framesFor(decaySeconds * 4 + 0.05));
    Tnoise noise(7);
    Tfilter clickFilter;
    double phase = 0;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        const double frequency = 44.0 + 150.0 * punch * std::exp(-t / 0.03) + 80.0 * std::exp(-t / 0.006);
        phase += twoPi * frequency / audioRate;
        const float body = static_cast<float>(std::sin(phase) * std::exp(-t / decaySeconds) * std::min(1.0, t / 0.001));
        const float click = clickFilter.process(noise.next(), 3000, 0.7f).highpass * static_cast<float>(std::exp(-t / 0.003));
        voice[i] = std::tanh(1.8f * body) * 0.85f + click * 0.25f * punch;
    }
    normalise(voice, 0.9f);
    return voice;
}

Tvoice snareDrum(uint32_t seed, float snappy) {
    Tvoice voice(framesFor(0.4));
    Tnoise noise(seed);
    Tfilter highpass;
    Tfilter body;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        const float tone = static_cast<float>((std::sin(twoPi * 190 * t) * 0.6 + std::sin(twoPi * 340 * t) * 0.3) * std::exp(-t / 0.045));
        const float raw = noise.next();
        const float rattle = highpass.process(raw, 1800, 0.7f).highpass * static_cast<float>(std::exp(-t / (0.07 + 0.09 * snappy)));
        const float thump = body.process(raw, 900, 1.0f).bandpass * static_cast<float>(std::exp(-t / 0.03));
        voice[i] = tone * 0.8f + rattle * 0.9f + thump * 0.5f;
    }
    normalise(voice, 0.85f);
    return voice;
}

Tvoice handClap(uint32_t seed) {
    Tvoice voice(framesFor(0.45));
    Tnoise noise(seed);
    Tfilter band;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        double level = 0;
        for (int burst = 0; burst < 3; ++burst) {
            const double start = burst * 0.011;
            if (t >= start && t < start + 0.011) level = std::max(level, std::exp(-(t - start) / 0.004));
        }
        if (t >= 0.033) level = std::max(level, 0.7 * std::exp(-(t - 0.033) / 0.11));
        voice[i] = band.process(noise.next(), 1250, 1.3f).bandpass * static_cast<float>(level);
    }
    normalise(voice, 0.8f);
    return voice;
}

// Metallic partials and hiss, both high-passed, under an envelope: what hats and cymbals share.
struct TcymbalSound {
    double seconds;
    double pitch;
    float metalCutoff;
    float hissCutoff;
    float metalLevel;
    float hissLevel;
    std::function<double(double)> level;
    float peak;
};

Tvoice cymbal(uint32_t seed, const TcymbalSound& sound) {
    Tvoice voice(framesFor(sound.seconds));
    Tnoise noise(seed);
    Tfilter metal;
    Tfilter air;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        const float tone = metal.process(metallicTone(t * sound.pitch), sound.metalCutoff, 0.8f).highpass;
        const float hiss = air.process(noise.next(), sound.hissCutoff, 0.7f).highpass;
        voice[i] = (tone * sound.metalLevel + hiss * sound.hissLevel) * static_cast<float>(sound.level(t));
    }
    normalise(voice, sound.peak);
    return voice;
}

Tvoice hiHat(uint32_t seed, bool open) {
    const double decay = open ? 0.2 : 0.028;
    return cymbal(seed, {decay * 4, 1.0, 9000, 7500, 0.45f, 0.7f,
                         [decay](double t) { return std::exp(-t / decay) * std::min(1.0, t / 0.0008); }, 0.6f});
}

Tvoice crashCymbal(uint32_t seed) {
    return cymbal(seed, {2.6, 1.13, 5000, 4200, 0.35f, 0.8f,
                         [](double t) { return std::exp(-t / 0.75) * 0.8 + std::exp(-t / 0.05) * 0.4; }, 0.55f});
}

Tvoice shaker(uint32_t seed) {
    Tvoice voice(framesFor(0.12));
    Tnoise noise(seed);
    Tfilter band;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        const double level = std::min(1.0, t / 0.012) * std::exp(-t / 0.035);
        voice[i] = band.process(noise.next(), 6500, 1.0f).bandpass * static_cast<float>(level);
    }
    normalise(voice, 0.4f);
    return voice;
}

Tvoice noiseRiser(uint32_t seed, double seconds) {
    Tvoice voice(framesFor(seconds));
    Tnoise noise(seed);
    Tfilter band;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double progress = timeOf(i) / seconds;
        const float cutoff = static_cast<float>(300.0 * std::pow(25.0, progress));
        const double level = progress * progress * std::min(1.0, (1.0 - progress) / 0.02);
        voice[i] = band.process(noise.next(), cutoff, 2.0f).bandpass * static_cast<float>(level);
    }
    normalise(voice, 0.5f);
    return voice;
}

Tvoice bassNote(TbassKind kind, double midiNote, double seconds) {
    const double release = 0.06;
    Tvoice voice(framesFor(seconds + release));
    const float frequency = static_cast<float>(midiToHz(midiNote));
    Tsaw first(0.0f);
    Tsaw second(0.5f);
    Tfilter filter;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        const float sub = static_cast<float>(std::sin(twoPi * frequency * t));
        float sample = 0;
        if (kind == TbassKind::sub) {
            sample = std::tanh(1.4f * (sub + 0.2f * static_cast<float>(std::sin(twoPi * 2 * frequency * t))));
        } else if (kind == TbassKind::pluck) {
            const float saws = first.next(frequency * 1.003f) + second.next(frequency * 0.997f);
            const float cutoff = frequency * 1.5f + 2400.0f * static_cast<float>(std::exp(-t / 0.08));
            sample = filter.process(saws * 0.5f, cutoff, 1.1f).lowpass + 0.6f * sub;
        } else {
            const float saws = first.next(frequency * 1.004f) + second.next(frequency * 0.996f);
            const float cutoff = 520.0f + 180.0f * static_cast<float>(std::sin(twoPi * 0.35 * t));
            sample = std::tanh(1.5f * (filter.process(saws * 0.5f, cutoff, 1.0f).lowpass + 0.7f * sub));
        }
        voice[i] = sample * envelope(t, seconds, 0.004, 0.2, 0.85f, release);
    }
    normalise(voice, 0.8f);
    return voice;
}

Tvoice leadNote(TleadKind kind, double midiNote, double seconds) {
    const double release = kind == TleadKind::flute ? 0.14 : 0.11;
    Tvoice voice(framesFor(seconds + release));
    const float frequency = static_cast<float>(midiToHz(midiNote));
    Tnoise noise(static_cast<uint32_t>(midiNote * 31));
    Tsaw first(0.0f);
    Tsaw second(0.37f);
    Tsaw pulseShift(0.3f);
    Tfilter filter;
    Tfilter breath;
    double phase = 0;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        const float pitch = frequency * vibrato(t, 0.22, 0.005);
        phase += twoPi * pitch / audioRate;
        float sample = 0;
        if (kind == TleadKind::flute) {
            const float tone = static_cast<float>(std::sin(phase) + 0.22 * std::sin(2 * phase) + 0.08 * std::sin(3 * phase));
            const float air = breath.process(noise.next(), pitch * 2.0f, 3.0f).bandpass;
            sample = tone + air * 0.35f;
            sample *= envelope(t, seconds, 0.035, 0.25, 0.8f, release);
        } else if (kind == TleadKind::saw) {
            const float saws = first.next(pitch * 1.0025f) + second.next(pitch * 0.9975f);
            const float cutoff = 1800.0f + 3200.0f * static_cast<float>(std::exp(-t / 0.18));
            sample = filter.process(saws * 0.5f + 0.25f * static_cast<float>(std::sin(phase * 0.5)), cutoff, 0.9f).lowpass;
            sample *= envelope(t, seconds, 0.006, 0.3, 0.75f, release);
        } else {
            const float pulse = first.next(pitch) - pulseShift.next(pitch);
            const float cutoff = 2600.0f + 3500.0f * static_cast<float>(std::exp(-t / 0.1));
            sample = filter.process(pulse * 0.45f + second.next(pitch * 1.005f) * 0.3f, cutoff, 0.9f).lowpass;
            sample *= envelope(t, seconds, 0.003, 0.2, 0.7f, release);
        }
        voice[i] = sample;
    }
    normalise(voice, 0.7f);
    return voice;
}

Tvoice padChord(const std::vector<int>& midiNotes, double seconds, float brightness) {
    const double release = 0.7;
    Tvoice voice(framesFor(seconds + release));
    std::vector<Tsaw> oscillators;
    std::vector<float> frequencies;
    const float detune[] = {0.9965f, 1.0f, 1.0035f};
    for (size_t n = 0; n < midiNotes.size(); ++n) {
        for (int d = 0; d < 3; ++d) {
            oscillators.emplace_back(static_cast<float>((n * 3 + static_cast<size_t>(d)) % 7) / 7.0f);
            frequencies.push_back(static_cast<float>(midiToHz(midiNotes[n])) * detune[d]);
        }
    }
    Tfilter filter;
    const float cutoff = 500.0f + 2200.0f * brightness;
    for (size_t i = 0; i < voice.size(); ++i) {
        float sum = 0;
        for (size_t o = 0; o < oscillators.size(); ++o) sum += oscillators[o].next(frequencies[o]);
        const float level = envelope(timeOf(i), seconds, 0.35, 0.5, 0.85f, release);
        voice[i] = filter.process(sum / static_cast<float>(oscillators.size()), cutoff, 0.7f).lowpass * level;
    }
    normalise(voice, 0.6f);
    return voice;
}

Tvoice electricPiano(const std::vector<int>& midiNotes, double seconds) {
    const double release = 0.3;
    Tvoice voice(framesFor(seconds + release));
    for (const int note : midiNotes) {
        const double frequency = midiToHz(note);
        for (size_t i = 0; i < voice.size(); ++i) {
            const double t = timeOf(i);
            const double index = 1.6 * std::exp(-t / 0.3) + 0.25;
            const double modulator = index * std::sin(twoPi * frequency * t);
            const double tine = 0.12 * std::sin(twoPi * frequency * 7.0 * t) * std::exp(-t / 0.02);
            const double level = std::exp(-t / 2.2) * envelope(t, seconds, 0.002, 1.0, 1.0f, release);
            voice[i] += static_cast<float>((std::sin(twoPi * frequency * t + modulator) + tine) * level);
        }
    }
    normalise(voice, 0.65f);
    return voice;
}

Tvoice pluckNote(double midiNote, double seconds, float brightness) {
    const double release = 0.05;
    Tvoice voice(framesFor(seconds + release + 0.25));
    const float frequency = static_cast<float>(midiToHz(midiNote));
    Tsaw saw(0.0f);
    Tsaw detuned(0.5f);
    Tfilter filter;
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        const float source = saw.next(frequency) * 0.6f + detuned.next(frequency * 1.006f) * 0.4f;
        const float cutoff = frequency + (800.0f + 4200.0f * brightness) * static_cast<float>(std::exp(-t / 0.07));
        const float level = static_cast<float>(std::exp(-t / 0.28)) * envelope(t, seconds + 0.25, 0.002, 1.0, 1.0f, release);
        voice[i] = filter.process(source, cutoff, 1.3f).lowpass * level;
    }
    normalise(voice, 0.6f);
    return voice;
}

Tvoice bellNote(double midiNote, double seconds) {
    Tvoice voice(framesFor(seconds + 1.6));
    const double frequency = midiToHz(midiNote);
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = timeOf(i);
        const double index = 2.2 * std::exp(-t / 0.35);
        const double carrier = std::sin(twoPi * frequency * t + index * std::sin(twoPi * frequency * 3.5 * t));
        const double level = std::exp(-t / 1.1) * std::min(1.0, t / 0.002);
        voice[i] = static_cast<float>(carrier * level);
    }
    normalise(voice, 0.5f);
    return voice;
}

}  // namespace stockpack
