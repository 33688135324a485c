// "drift": an unhurried 90 BPM piece in D major, electric piano, flute and a lazy beat.
#include <stdexcept>

#include "tools/stockpack/songBook.h"

namespace stockpack {

std::vector<Tchord> progression(const std::vector<std::string>& symbols) {
    std::vector<Tchord> chords;
    for (const std::string& symbol : symbols) chords.push_back(parseChord(symbol));
    return chords;
}

int sectionOf(const std::vector<int>& sectionBars, int bar) {
    int section = 0;
    for (size_t i = 0; i < sectionBars.size(); ++i) {
        if (bar >= sectionBars[i]) section = static_cast<int>(i);
    }
    return section;
}

namespace {

enum TdriftSection { intro, verse, chorus, interlude, reprise, outro };
const std::vector<int> driftSections = {0, 4, 12, 20, 24, 32};
constexpr int driftBars = 36;

const char* const driftVerse =
    "r:2 d5:2 f#5:4 e5:2 d5:2 b4:4  c#5:6 a4:2 c#5:2 e5:6  r:2 b4:2 d5:4 g5:2 f#5:2 e5:4  c#5:3 e5:3 g5:2 f#5:4 e5:4 "
    "d5:2 f#5:2 a5:6 g5:2 f#5:4  e5:4 c#5:4 a4:4 c#5:4  b4:2 d5:2 e5:4 g5:4 b5:4  a5:6 g5:2 e5:4 c#5:4";
const char* const driftChorus =
    "f#5:4 d5:2 f#5:2 b5:6 a5:2  g5:4 f#5:2 d5:2 b4:8  e5:2 g5:2 b5:4 a5:2 g5:2 e5:4  e5:4 a5:4 c#6:4 a5:4 "
    "b5:6 a5:2 f#5:4 d5:4  g5:2 a5:2 b5:4 d6:4 b5:4  a5:4 g5:2 e5:2 g5:4 f#5:4  e5:8 r:4 a4:2 c#5:2";

Tchord driftChord(int bar) {
    static const std::vector<Tchord> verseChords = progression({"Gmaj7", "F#m7", "Em7", "A7"});
    static const std::vector<Tchord> chorusChords = progression({"Bm7", "Gmaj7", "Em7", "A7"});
    if (bar == driftBars - 1) return parseChord("Dmaj9");
    const int section = sectionOf(driftSections, bar);
    const bool chorusHarmony = section == chorus || section == interlude;
    return (chorusHarmony ? chorusChords : verseChords)[static_cast<size_t>(bar % 4)];
}

void driftDrums(Tarrangement& song, int bar, int section) {
    const int first = bar * 16;
    const bool fullBeat = section == verse || section == chorus || section == reprise || (section == outro && bar < 34) ||
                          (section == intro && bar >= 2);
    for (int step = 0; step < 16; step += 2) {
        if (section == outro && bar == driftBars - 1) break;
        const float accent = step % 4 == 0 ? 0.5f : 0.3f;
        const bool open = step == 14 && bar % 2 == 1 && fullBeat;
        song.hat(first + step, section == interlude ? accent * 0.6f : accent, open);
    }
    if (!fullBeat) return;
    song.kick(first, 0.95f);
    song.kick(first + 7, 0.6f);
    song.kick(first + 10, 0.85f);
    if (bar % 4 == 3) song.kick(first + 14, 0.6f);
    if (section == intro) return;
    song.snare(first + 4, 0.75f);
    song.snare(first + 12, 0.8f);
    if (bar % 2 == 1) song.snare(first + 15, 0.18f);
}

void driftHarmony(Tarrangement& song, int bar, int section) {
    const int first = bar * 16;
    const Tchord chord = driftChord(bar);
    const std::vector<int> voicing = voiceChord(chord, 55);
    if (bar == driftBars - 1) {
        song.piano(first, 16, voicing, 0.9f);
        song.bass(TbassKind::sub, first, 16, chordRoot(chord, 38), 0.9f);
        song.kick(first, 0.9f);
        song.crash(first, 0.5f);
        return;
    }
    if (section == intro || section == interlude) {
        song.piano(first, 16, voicing, 0.8f);
    } else {
        song.piano(first, 10, voicing, 0.8f);
        song.piano(first + 10, 6, voicing, 0.55f);
    }
    if (section == chorus || section == interlude || (section == outro && bar < 34)) {
        const std::vector<int> sparkle = voiceChord(chord, 74);
        for (size_t k = 0; k < 3; ++k) song.bell(first + static_cast<int>(k) * 6, sparkle[k % sparkle.size()], 0.25f, k % 2 ? 0.5f : -0.5f);
    }
    if (section == intro && bar < 2) return;
    if (section == interlude) return;
    const int root = chordRoot(chord, 38);
    song.bass(TbassKind::pluck, first, 6, root, 0.9f);
    song.bass(TbassKind::pluck, first + 10, 3, root, 0.75f);
    song.bass(TbassKind::pluck, first + 14, 2, root + 7, 0.6f);
}

}  // namespace

TcomposedSong composeDrift() {
    Tarrangement song(90.0, 1.0, driftBars, 3.5);
    song.riser(0, 6, 0.35f);
    const std::vector<TmelodyNote> verseMelody = parseMelody(driftVerse, 8);
    const std::vector<TmelodyNote> chorusMelody = parseMelody(driftChorus, 8);
    song.melody(TleadKind::flute, driftSections[verse] * 16, verseMelody, 0, 0.8f);
    song.melody(TleadKind::flute, driftSections[chorus] * 16, chorusMelody, 0, 0.85f);
    song.melody(TleadKind::flute, driftSections[reprise] * 16, verseMelody, 0, 0.8f);
    for (const int bar : {driftSections[verse], driftSections[chorus], driftSections[reprise]}) song.crash(bar * 16, 0.45f);
    song.riser(driftSections[reprise] * 16, 16, 0.3f);
    for (int bar = 0; bar < driftBars; ++bar) {
        const int section = sectionOf(driftSections, bar);
        driftDrums(song, bar, section);
        driftHarmony(song, bar, section);
    }
    Tarrangement::TmixSettings settings;
    settings.harmonyLevel = 0.65f;
    settings.leadLevel = 0.8f;
    settings.reverbLevel = 0.45f;
    return {"drift", song.bpm(), song.leadIn(), song.bars(), driftSections[chorus], driftSections, song.mixdown(settings),
            song.onsets()};
}

}  // namespace stockpack
