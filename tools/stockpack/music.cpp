// Note names, chords, melodies and the arrangement that renders the parts of a piece.
#include "tools/stockpack/music.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

namespace stockpack {

namespace {

int pitchClass(char letter) {
    static const int classes[] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    if (letter < 'a' || letter > 'g') throw std::runtime_error(std::string("not a note letter: ") + letter);
    return classes[letter - 'a'];
}

// Reads the letter and accidental at the start of text; returns the pitch class and how many
// characters it used.
std::pair<int, size_t> readPitchClass(const std::string& text) {
    int value = pitchClass(static_cast<char>(std::tolower(static_cast<unsigned char>(text.at(0)))));
    size_t used = 1;
    if (text.size() > 1 && text[1] == '#') value += 1, used = 2;
    else if (text.size() > 1 && text[1] == 'b') value -= 1, used = 2;
    return {(value + 12) % 12, used};
}

std::vector<int> intervalsOf(const std::string& quality) {
    static const std::map<std::string, std::vector<int>> qualities = {
        {"", {0, 4, 7}},          {"m", {0, 3, 7}},           {"7", {0, 4, 7, 10}},     {"maj7", {0, 4, 7, 11}},
        {"m7", {0, 3, 7, 10}},    {"sus4", {0, 5, 7}},        {"sus2", {0, 2, 7}},      {"add9", {0, 4, 7, 14}},
        {"maj9", {0, 4, 7, 11, 14}}, {"m9", {0, 3, 7, 10, 14}}, {"6", {0, 4, 7, 9}},     {"7sus4", {0, 5, 7, 10}},
    };
    const auto found = qualities.find(quality);
    if (found == qualities.end()) throw std::runtime_error(joined({"unknown chord quality: ", quality}));
    return found->second;
}

}  // namespace

std::string joined(std::initializer_list<std::string> parts) {
    std::string text;
    for (const std::string& part : parts) text.append(part);
    return text;
}

int noteNumber(const std::string& name) {
    const int letter = pitchClass(static_cast<char>(std::tolower(static_cast<unsigned char>(name.at(0)))));
    size_t used = 1;
    int accidental = 0;
    if (name.size() > 1 && name[1] == '#') accidental = 1, used = 2;
    else if (name.size() > 1 && name[1] == 'b') accidental = -1, used = 2;
    return (std::stoi(name.substr(used)) + 1) * 12 + letter + accidental;
}

Tchord parseChord(const std::string& symbol) {
    const auto [root, used] = readPitchClass(symbol);
    return {root, intervalsOf(symbol.substr(used))};
}

std::vector<int> voiceChord(const Tchord& chord, int lowest) {
    std::vector<int> notes;
    for (const int interval : chord.intervals) {
        int note = chord.root + interval % 12;
        while (note < lowest) note += 12;
        while (note >= lowest + 12) note -= 12;
        notes.push_back(note);
    }
    return notes;
}

int chordRoot(const Tchord& chord, int lowest) { return voiceChord({chord.root, {0}}, lowest).front(); }

std::vector<TmelodyNote> parseMelody(const std::string& text, int bars) {
    std::vector<TmelodyNote> notes;
    std::istringstream tokens(text);
    std::string token;
    int step = 0;
    while (tokens >> token) {
        const size_t colon = token.find(':');
        if (colon == std::string::npos) throw std::runtime_error(joined({"melody token without length: ", token}));
        const std::string name = token.substr(0, colon);
        const int length = std::stoi(token.substr(colon + 1));
        if (name != "r") notes.push_back({step, length, noteNumber(name)});
        step += length;
    }
    if (step != bars * 16) {
        throw std::runtime_error(joined({"melody fills ", std::to_string(step), " sixteenths instead of ", std::to_string(bars * 16)}));
    }
    return notes;
}

Tarrangement::Tarrangement(double beatsPerMinute, double leadInSeconds, int bars, double tailSeconds)
    : tempo(beatsPerMinute), leadInTime(leadInSeconds), barCount(bars) {
    const size_t total = static_cast<size_t>(std::ceil((leadInSeconds + bars * 4 * 60.0 / beatsPerMinute + tailSeconds) * audioRate));
    drums = bassLine = harmony = leadLine = reverbSend = TstereoBus(total);
}

size_t Tarrangement::frameOfStep(double step) const {
    return static_cast<size_t>(std::lround(timeOfStep(step) * audioRate));
}

const Tvoice& Tarrangement::cached(const std::string& key, const std::function<Tvoice()>& make) {
    auto found = voiceCache.find(key);
    if (found == voiceCache.end()) found = voiceCache.emplace(key, make()).first;
    return found->second;
}

void Tarrangement::place(TstereoBus& bus, const Tvoice& voice, double step, float gain, float pan, float send) {
    const size_t frame = frameOfStep(step);
    mixVoice(bus, voice, frame, gain, pan);
    if (send > 0) mixVoice(reverbSend, voice, frame, gain * send, pan);
}

void Tarrangement::kick(int step, float gain) {
    // The kick is felt more than heard; kept below the other drums so it does not swamp the mix.
    place(drums, cached("kick", [] { return kickDrum(1.0f, 0.16f); }), step, gain * 0.65f, 0, 0.05f);
    kickFrames.push_back(frameOfStep(step));
    played.push_back({step, Tpart::kick, 0, 1});
}

void Tarrangement::snare(int step, float gain) {
    const uint32_t variant = static_cast<uint32_t>(step % 3);
    place(drums, cached(joined({"snare", std::to_string(variant)}), [variant] { return snareDrum(11 + variant, 0.6f); }), step, gain,
          -0.05f, 0.3f);
    played.push_back({step, Tpart::snare, 0, 1});
}

void Tarrangement::clap(int step, float gain) {
    place(drums, cached("clap", [] { return handClap(23); }), step, gain, 0.05f, 0.35f);
    played.push_back({step, Tpart::clap, 0, 1});
}

void Tarrangement::hat(int step, float gain, bool open, float pan) {
    const uint32_t variant = static_cast<uint32_t>(step % 2);
    const std::string key = joined({open ? "open" : "closed", std::to_string(variant)});
    place(drums, cached(key, [variant, open] { return hiHat(31 + variant, open); }), step, gain, pan, 0.05f);
    played.push_back({step, open ? Tpart::openHat : Tpart::hat, 0, 1});
}

void Tarrangement::crash(int step, float gain) {
    place(drums, cached("crash", [] { return crashCymbal(41); }), step, gain, -0.3f, 0.2f);
    played.push_back({step, Tpart::crash, 0, 1});
}

void Tarrangement::shake(int step, float gain) {
    const uint32_t variant = static_cast<uint32_t>(step % 4);
    place(drums, cached(joined({"shaker", std::to_string(variant)}), [variant] { return shaker(51 + variant); }), step, gain, 0.45f, 0.1f);
}

void Tarrangement::riser(int endStep, int lengthSteps, float gain) {
    const double seconds = lengthSteps * secondsPerStep();
    place(harmony, noiseRiser(61 + static_cast<uint32_t>(endStep), seconds), endStep - lengthSteps, gain, 0, 0.4f);
}

void Tarrangement::bass(TbassKind kind, int step, int length, int pitch, float gain) {
    const double seconds = length * secondsPerStep() * 0.92;
    const std::string key = joined({"bass", std::to_string(static_cast<int>(kind)), ":", std::to_string(pitch), ":", std::to_string(length)});
    place(bassLine, cached(key, [=] { return bassNote(kind, pitch, seconds); }), step, gain, 0, 0);
    played.push_back({step, Tpart::bass, pitch, length});
}

void Tarrangement::lead(TleadKind kind, int step, int length, int pitch, float gain) {
    const double seconds = length * secondsPerStep() * 0.9;
    const std::string key = joined({"lead", std::to_string(static_cast<int>(kind)), ":", std::to_string(pitch), ":", std::to_string(length)});
    place(leadLine, cached(key, [=] { return leadNote(kind, pitch, seconds); }), step, gain, 0, 0.35f);
    played.push_back({step, Tpart::lead, pitch, length});
}

void Tarrangement::melody(TleadKind kind, int firstStep, const std::vector<TmelodyNote>& notes, int transpose, float gain) {
    for (const TmelodyNote& note : notes) lead(kind, firstStep + note.step, note.length, note.pitch + transpose, gain);
}

void Tarrangement::pad(int step, int length, const std::vector<int>& notes, float gain, float brightness) {
    std::string key = joined({"pad", std::to_string(length), ":", std::to_string(brightness)});
    for (const int note : notes) key.append(":").append(std::to_string(note));
    place(harmony, cached(key, [=, this] { return padChord(notes, length * secondsPerStep(), brightness); }), step, gain, 0, 0.5f);
    played.push_back({step, Tpart::chord, notes.front(), length});
}

void Tarrangement::piano(int step, int length, const std::vector<int>& notes, float gain) {
    std::string key = joined({"piano", std::to_string(length)});
    for (const int note : notes) key.append(":").append(std::to_string(note));
    place(harmony, cached(key, [=, this] { return electricPiano(notes, length * secondsPerStep()); }), step, gain, -0.1f, 0.4f);
    played.push_back({step, Tpart::chord, notes.front(), length});
}

void Tarrangement::pluck(int step, int length, int pitch, float gain, float pan, float brightness) {
    const std::string key = joined({"pluck", std::to_string(pitch), ":", std::to_string(length), ":", std::to_string(brightness)});
    place(harmony, cached(key, [=, this] { return pluckNote(pitch, length * secondsPerStep(), brightness); }), step, gain, pan, 0.35f);
    played.push_back({step, Tpart::arp, pitch, length});
}

void Tarrangement::bell(int step, int pitch, float gain, float pan) {
    place(harmony, cached(joined({"bell", std::to_string(pitch)}), [=] { return bellNote(pitch, 0.3); }), step, gain, pan, 0.6f);
    played.push_back({step, Tpart::arp, pitch, 4});
}

TstereoBus Tarrangement::mixdown(const TmixSettings& settings) const {
    TstereoBus bassPart = bassLine;
    TstereoBus harmonyPart = harmony;
    if (settings.duckDepth > 0) {
        duck(bassPart, kickFrames, settings.duckDepth, secondsPerStep() * 3.5);
        duck(harmonyPart, kickFrames, settings.duckDepth, secondsPerStep() * 3.5);
    }
    TstereoBus mix(frames());
    mixBus(mix, drums, settings.drumLevel);
    mixBus(mix, bassPart, settings.bassLevel);
    mixBus(mix, harmonyPart, settings.harmonyLevel);
    mixBus(mix, leadLine, settings.leadLevel);
    mixBus(mix, pingPongEcho(leadLine, settings.echoSteps * secondsPerStep(), 0.4f), settings.echoLevel * settings.leadLevel);
    mixBus(mix, reverb(reverbSend, 0.8f, 0.35f), settings.reverbLevel);
    return mix;
}

}  // namespace stockpack
