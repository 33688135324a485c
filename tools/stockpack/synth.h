// Synthesised instruments: each renders one note or hit as mono samples at 44.1 kHz.
#pragma once

#include <cstdint>
#include <vector>

namespace stockpack {

constexpr int audioRate = 44100;

using Tvoice = std::vector<float>;

// A small deterministic noise source (xorshift); the same seed gives the same hit every run.
class Tnoise {
public:
    explicit Tnoise(uint32_t seed);
    float next();  // -1..1

private:
    uint32_t state;
};

// A state-variable filter (topology-preserving form); cutoff may change every sample.
class Tfilter {
public:
    struct Toutputs {
        float lowpass;
        float bandpass;
        float highpass;
    };
    Toutputs process(float input, float cutoffHz, float resonance);

private:
    float integrator1 = 0;
    float integrator2 = 0;
};

// A band-limited sawtooth (PolyBLEP); phase runs 0..1.
class Tsaw {
public:
    explicit Tsaw(float startPhase = 0);
    float next(float frequencyHz);

private:
    float phase;
};

double midiToHz(double midiNote);

// Drum hits.
Tvoice kickDrum(float punch, float decaySeconds);
Tvoice snareDrum(uint32_t seed, float snappy);
Tvoice handClap(uint32_t seed);
Tvoice hiHat(uint32_t seed, bool open);
Tvoice crashCymbal(uint32_t seed);
Tvoice shaker(uint32_t seed);
// Filtered noise rising in pitch and level over its length.
Tvoice noiseRiser(uint32_t seed, double seconds);

enum class TbassKind { sub, pluck, reese };
enum class TleadKind { flute, saw, square };

Tvoice bassNote(TbassKind kind, double midiNote, double seconds);
Tvoice leadNote(TleadKind kind, double midiNote, double seconds);
// A soft chord of detuned sawtooths.
Tvoice padChord(const std::vector<int>& midiNotes, double seconds, float brightness);
// An electric piano chord (two-operator FM).
Tvoice electricPiano(const std::vector<int>& midiNotes, double seconds);
// A short synth pluck, for arpeggios.
Tvoice pluckNote(double midiNote, double seconds, float brightness);
Tvoice bellNote(double midiNote, double seconds);

}  // namespace stockpack
