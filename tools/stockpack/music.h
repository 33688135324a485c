// Writing music in code: note names, chord symbols, melodies and an arrangement that renders
// each part as it is placed and remembers where every hit and note fell.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "tools/stockpack/mixer.h"
#include "tools/stockpack/synth.h"

namespace stockpack {

// What sounded at a step: the chart writer picks its rows from these.
enum class Tpart { kick, snare, clap, hat, openHat, crash, bass, lead, chord, arp };

struct Tonset {
    int step;    // sixteenth notes from the first beat
    Tpart part;
    int pitch;   // MIDI note for pitched parts, 0 for drums
    int length;  // in sixteenths
};

// Concatenates by appending: GCC 12 at -O3 warns falsely about a literal added in front of a string.
std::string joined(std::initializer_list<std::string> parts);

// "c4" is MIDI 60; sharps with "#", flats with "b" ("f#3", "bb4").
int noteNumber(const std::string& name);

struct Tchord {
    int root;  // pitch class 0..11
    std::vector<int> intervals;
};

// Symbols like "A", "F#m7", "Gmaj7", "Dsus4", "Cadd9", "Em9".
Tchord parseChord(const std::string& symbol);
// The chord's notes in close position, each at or above `lowest` and below lowest + 12.
std::vector<int> voiceChord(const Tchord& chord, int lowest);
// The root in the octave starting at `lowest`.
int chordRoot(const Tchord& chord, int lowest);

struct TmelodyNote {
    int step;    // from the start of the melody
    int length;  // in sixteenths
    int pitch;
};

// A melody written as "note:length" tokens in sixteenths, "r" for a rest: "e5:4 r:2 d5:2".
// Throws when the melody does not fill exactly `bars` bars.
std::vector<TmelodyNote> parseMelody(const std::string& text, int bars);

// Parts are rendered onto buses as they are placed; the mixdown adds effects and balance.
class Tarrangement {
public:
    Tarrangement(double beatsPerMinute, double leadInSeconds, int bars, double tailSeconds);

    double bpm() const { return tempo; }
    double leadIn() const { return leadInTime; }
    int bars() const { return barCount; }
    double secondsPerStep() const { return 15.0 / tempo; }
    double timeOfStep(double step) const { return leadInTime + step * secondsPerStep(); }
    size_t frameOfStep(double step) const;
    size_t frames() const { return drums.frames(); }

    void kick(int step, float gain);
    void snare(int step, float gain);
    void clap(int step, float gain);
    void hat(int step, float gain, bool open, float pan = 0.25f);
    void crash(int step, float gain);
    void shake(int step, float gain);
    void riser(int endStep, int lengthSteps, float gain);
    void bass(TbassKind kind, int step, int length, int pitch, float gain);
    void lead(TleadKind kind, int step, int length, int pitch, float gain);
    void melody(TleadKind kind, int firstStep, const std::vector<TmelodyNote>& notes, int transpose, float gain);
    void pad(int step, int length, const std::vector<int>& notes, float gain, float brightness);
    void piano(int step, int length, const std::vector<int>& notes, float gain);
    void pluck(int step, int length, int pitch, float gain, float pan, float brightness = 0.6f);
    void bell(int step, int pitch, float gain, float pan);

    struct TmixSettings {
        float drumLevel = 0.9f;
        float bassLevel = 0.45f;
        float harmonyLevel = 0.6f;
        float leadLevel = 0.75f;
        float reverbLevel = 0.35f;
        float echoLevel = 0.25f;
        double echoSteps = 3;   // a dotted eighth
        float duckDepth = 0;    // pumping of bass and harmony after each kick
    };
    TstereoBus mixdown(const TmixSettings& settings) const;

    const std::vector<Tonset>& onsets() const { return played; }

private:
    void place(TstereoBus& bus, const Tvoice& voice, double step, float gain, float pan, float reverbSend);
    const Tvoice& cached(const std::string& key, const std::function<Tvoice()>& make);

    double tempo;
    double leadInTime;
    int barCount;
    TstereoBus drums;
    TstereoBus bassLine;
    TstereoBus harmony;
    TstereoBus leadLine;
    TstereoBus reverbSend;
    std::vector<size_t> kickFrames;
    std::vector<Tonset> played;
    std::map<std::string, Tvoice> voiceCache;
};

// A finished piece: its audio and where everything sounded.
struct TcomposedSong {
    std::string name;
    double bpm = 0;
    double leadIn = 0;
    int bars = 0;
    int chorusBar = 0;             // where the preview starts
    std::vector<int> sectionBars;  // first bar of each section
    TstereoBus audio;
    std::vector<Tonset> onsets;
};

}  // namespace stockpack
