// The song-select loop and the launcher loop; each is rendered twice over and its second pass
// kept, so the echoes and tails of the end sound again at the start and the loop has no seam.
#include <functional>

#include "tools/stockpack/songBook.h"

namespace stockpack {

namespace {

TstereoBus secondPass(const Tarrangement& song, const Tarrangement::TmixSettings& settings) {
    const int loopSteps = song.bars() / 2 * 16;
    const TstereoBus whole = song.mixdown(settings);
    const size_t first = song.frameOfStep(loopSteps);
    return slice(whole, first, song.frameOfStep(2 * loopSteps) - first);
}

void menuBar(Tarrangement& song, int bar, int loopBar) {
    static const std::vector<Tchord> chords = progression({"Fmaj7", "Em7", "Dm7", "Cmaj7", "Fmaj7", "Em7", "Dm7", "G7sus4"});
    static const char* const bellLine[] = {"a5", "g5", "f5", "e5", "c6", "b5", "a5", "g5"};
    const int first = bar * 16;
    const Tchord& chord = chords[static_cast<size_t>(loopBar % 8)];
    song.piano(first, 8, voiceChord(chord, 53), 0.7f);
    song.piano(first + 8, 8, voiceChord(chord, 53), 0.5f);
    const int root = chordRoot(chord, 36);
    song.bass(TbassKind::sub, first, 6, root, 0.8f);
    song.bass(TbassKind::sub, first + 8, 4, root, 0.7f);
    song.bass(TbassKind::sub, first + 12, 4, root + 7, 0.6f);
    song.kick(first, 0.7f);
    song.kick(first + 8, 0.6f);
    song.kick(first + 11, 0.4f);
    song.snare(first + 4, 0.35f);
    song.snare(first + 12, 0.4f);
    for (int step = 0; step < 16; step += 2) song.shake(first + step, step % 4 == 0 ? 0.5f : 0.3f);
    if (loopBar >= 8) {
        const int note = noteNumber(bellLine[loopBar % 8]);
        song.bell(first, note, 0.35f, -0.3f);
        song.bell(first + 6, note - 3, 0.25f, 0.3f);
        song.bell(first + 10, note + 2, 0.2f, 0.0f);
    }
}

void launcherBar(Tarrangement& song, int bar, int loopBar) {
    static const std::vector<Tchord> chords = progression({"Dmaj7", "Bm7", "Gmaj7", "A", "Dmaj7", "Bm7", "Em7", "A7sus4"});
    const int first = bar * 16;
    const Tchord& chord = chords[static_cast<size_t>(loopBar % 8)];
    song.pad(first, 16, voiceChord(chord, 54), 0.8f, 0.35f);
    song.bass(TbassKind::sub, first, 16, chordRoot(chord, 38), 0.5f);
    const std::vector<int> tones = voiceChord(chord, 66);
    static const int order[] = {0, 1, 2, 1, 3, 2, 1, 2};
    for (int eighth = 0; eighth < 8; ++eighth) {
        const int tone = tones[static_cast<size_t>(order[eighth]) % tones.size()];
        song.pluck(first + eighth * 2, 2, tone, eighth % 4 == 0 ? 0.35f : 0.22f, eighth % 2 ? 0.4f : -0.4f, 0.35f);
    }
    if (loopBar % 2 == 0) song.bell(first + 12, tones[0] + 12, 0.2f, 0.2f);
}

TstereoBus loopOf(double bpm, int loopBars, const std::function<void(Tarrangement&, int, int)>& writeBar,
                  const Tarrangement::TmixSettings& settings) {
    Tarrangement song(bpm, 0.0, loopBars * 2, 4.0);
    for (int bar = 0; bar < loopBars * 2; ++bar) writeBar(song, bar, bar % loopBars);
    return secondPass(song, settings);
}

}  // namespace

TstereoBus composeMenuLoop() {
    Tarrangement::TmixSettings settings;
    settings.drumLevel = 0.6f;
    settings.harmonyLevel = 0.75f;
    settings.bassLevel = 0.35f;
    settings.reverbLevel = 0.45f;
    return loopOf(100.0, 16, menuBar, settings);
}

TstereoBus composeLauncherLoop() {
    Tarrangement::TmixSettings settings;
    settings.harmonyLevel = 0.8f;
    settings.bassLevel = 0.3f;
    settings.reverbLevel = 0.6f;
    return loopOf(84.0, 8, launcherBar, settings);
}

TstereoBus composeReadyGo() {
    Tarrangement cue(120.0, 0.05, 1, 0.6);
    // "Ready": two rising chimes over a swell; "Go": a bright chord hit a beat later.
    cue.riser(8, 8, 0.5f);
    cue.pluck(0, 2, noteNumber("e5"), 0.8f, -0.2f, 0.8f);
    cue.pluck(3, 2, noteNumber("b5"), 0.8f, 0.2f, 0.8f);
    cue.bell(0, noteNumber("e6"), 0.4f, -0.2f);
    cue.bell(3, noteNumber("b6"), 0.4f, 0.2f);
    cue.kick(8, 1.0f);
    cue.crash(8, 0.7f);
    cue.pad(8, 4, voiceChord(parseChord("Eadd9"), 52), 1.0f, 1.0f);
    cue.lead(TleadKind::saw, 8, 4, noteNumber("e6"), 0.7f);
    cue.lead(TleadKind::saw, 8, 4, noteNumber("b5"), 0.6f);
    Tarrangement::TmixSettings settings;
    settings.harmonyLevel = 0.8f;
    settings.echoLevel = 0.15f;
    TstereoBus sound = cue.mixdown(settings);
    fade(sound, 0, 0.4);
    return sound;
}

TstereoBus composeGoButton() {
    TstereoBus sound(static_cast<size_t>(0.45 * audioRate));
    mixVoice(sound, pluckNote(noteNumber("g5"), 0.05, 1.0f), 0, 0.7f, -0.2f);
    mixVoice(sound, pluckNote(noteNumber("d6"), 0.08, 1.0f), static_cast<size_t>(0.055 * audioRate), 0.8f, 0.2f);
    mixVoice(sound, bellNote(noteNumber("g6"), 0.1), static_cast<size_t>(0.055 * audioRate), 0.35f, 0.0f);
    mixVoice(sound, hiHat(77, false), 0, 0.5f, 0.0f);
    fade(sound, 0, 0.15);
    return sound;
}

}  // namespace stockpack
