// "skyline": a 124 BPM dance piece in A minor, four-on-the-floor with plucks and a saw lead.
#include "tools/stockpack/songBook.h"

namespace stockpack {

namespace {

enum TskylineSection { intro, verse, chorus, breakdown, chorusAgain, verseAgain, outro };
const std::vector<int> skylineSections = {0, 8, 16, 24, 28, 36, 44};
constexpr int skylineBars = 52;

const char* const skylineVerse =
    "e5:3 e5:3 d5:2 c5:4 a4:4  c5:3 c5:3 d5:2 e5:4 f5:4  g5:3 e5:3 c5:2 e5:4 d5:4  d5:6 b4:2 g4:4 r:4 "
    "e5:3 e5:3 d5:2 c5:4 e5:4  f5:3 e5:3 f5:2 a5:4 g5:4  e5:3 g5:3 e5:2 c5:4 d5:4  d5:8 r:4 e5:2 g5:2";
const char* const skylineChorus =
    "a5:2 a5:2 g5:2 a5:2 r:2 e5:2 c5:2 e5:2  f5:2 f5:2 e5:2 f5:2 r:2 c5:2 a4:2 c5:2 "
    "g5:2 g5:2 f5:2 g5:2 r:2 e5:2 c5:2 e5:2  d5:4 g5:4 b5:6 r:2 "
    "a5:2 a5:2 g5:2 a5:2 r:2 e5:2 c5:2 e5:2  f5:2 f5:2 e5:2 f5:2 r:2 c5:2 a4:2 c5:2 "
    "g5:2 g5:2 f5:2 g5:2 r:2 e5:2 c5:2 e5:2  b5:4 a5:4 g5:4 d5:4";

bool fourOnTheFloor(int bar, int section) {
    if (section == breakdown) return false;
    if (section == intro) return bar >= 4;
    return bar < skylineBars - 2;
}

void skylineDrums(Tarrangement& song, int bar, int section) {
    const int first = bar * 16;
    if (bar == skylineBars - 1) return;
    const bool busy = section == chorus || section == chorusAgain || section == verseAgain;
    for (int step = 0; step < 16; ++step) {
        if (step % 4 == 2 && (busy || section == outro)) song.hat(first + step, 0.45f, true, 0.2f);
        else if (section != breakdown && (step % 2 == 0 || busy)) song.hat(first + step, step % 2 == 0 ? 0.3f : 0.18f, false, -0.25f);
    }
    if (!fourOnTheFloor(bar, section)) return;
    for (int beat = 0; beat < 4; ++beat) song.kick(first + beat * 4, 1.0f);
    if (section != intro) {
        song.clap(first + 4, 0.7f);
        song.clap(first + 12, 0.7f);
    }
}

void skylineArpeggio(Tarrangement& song, int bar, const Tchord& chord, float gain) {
    std::vector<int> tones = voiceChord(chord, 64);
    tones.push_back(tones.front() + 12);
    static const int order[] = {0, 1, 2, 3, 2, 1, 2, 3, 0, 1, 2, 3, 2, 3, 1, 2};
    for (int step = 0; step < 16; ++step) {
        const float accent = step % 4 == 0 ? 1.0f : 0.7f;
        song.pluck(bar * 16 + step, 1, tones[static_cast<size_t>(order[step])], gain * accent, step % 2 ? 0.35f : -0.35f, 0.5f);
    }
}

void skylineHarmony(Tarrangement& song, int bar, int section) {
    static const std::vector<Tchord> chords = progression({"Am", "F", "C", "G"});
    const int first = bar * 16;
    const Tchord& chord = chords[static_cast<size_t>(bar % 4)];
    if (bar == skylineBars - 1) {
        song.pad(first, 16, voiceChord(chord, 57), 0.9f, 0.5f);
        song.bass(TbassKind::pluck, first, 8, chordRoot(chord, 33), 0.9f);
        song.kick(first, 1.0f);
        song.crash(first, 0.6f);
        return;
    }
    const bool arpeggio = section == intro || section == chorus || section == breakdown || section == chorusAgain || section == outro;
    if (arpeggio) skylineArpeggio(song, bar, chord, section == breakdown ? 0.45f : 0.35f);
    if (section != intro || bar >= 4) song.pad(first, 16, voiceChord(chord, 57), section == breakdown ? 0.8f : 0.6f, section == breakdown ? 0.3f : 0.55f);
    if (section == breakdown || (section == intro && bar < 4)) return;
    const int root = chordRoot(chord, 33);
    for (int step = 0; step < 16; step += 2) {
        song.bass(TbassKind::pluck, first + step, 2, step % 4 == 2 ? root + 12 : root, step % 4 == 2 ? 0.7f : 0.9f);
    }
}

}  // namespace

TcomposedSong composeSkyline() {
    Tarrangement song(124.0, 1.0, skylineBars, 3.5);
    const std::vector<TmelodyNote> verseMelody = parseMelody(skylineVerse, 8);
    const std::vector<TmelodyNote> chorusMelody = parseMelody(skylineChorus, 8);
    song.melody(TleadKind::saw, skylineSections[verse] * 16, verseMelody, 0, 0.7f);
    song.melody(TleadKind::saw, skylineSections[chorus] * 16, chorusMelody, 0, 0.8f);
    song.melody(TleadKind::saw, skylineSections[chorusAgain] * 16, chorusMelody, 0, 0.8f);
    song.melody(TleadKind::saw, skylineSections[verseAgain] * 16, verseMelody, 0, 0.7f);
    for (size_t section = 1; section < skylineSections.size(); ++section) song.crash(skylineSections[section] * 16, 0.5f);
    song.riser(skylineSections[verse] * 16, 32, 0.35f);
    song.riser(skylineSections[chorusAgain] * 16, 32, 0.45f);
    for (int bar = 0; bar < skylineBars; ++bar) {
        const int section = sectionOf(skylineSections, bar);
        skylineDrums(song, bar, section);
        skylineHarmony(song, bar, section);
    }
    Tarrangement::TmixSettings settings;
    settings.harmonyLevel = 0.6f;
    settings.leadLevel = 0.75f;
    settings.duckDepth = 0.55f;
    settings.reverbLevel = 0.35f;
    return {"skyline", song.bpm(), song.leadIn(), song.bars(), skylineSections[chorus], skylineSections,
            song.mixdown(settings), song.onsets()};
}

}  // namespace stockpack
