// "overdrive": a 168 BPM breakbeat piece in E minor with a rolling bass and a square lead.
#include "tools/stockpack/songBook.h"

namespace stockpack {

namespace {

enum ToverdriveSection { intro, verse, chorus, breakdown, chorusAgain, outro };
const std::vector<int> overdriveSections = {0, 8, 24, 40, 48, 56};
constexpr int overdriveBars = 64;

const char* const overdriveVerse =
    "b4:4 e5:4 g5:4 f#5:2 e5:2  g5:4 e5:4 c5:4 e5:4  d5:4 b4:4 d5:4 g5:4  f#5:8 e5:4 d5:4 "
    "b4:4 e5:4 g5:4 b5:4  c6:6 b5:2 g5:4 e5:4  d5:4 g5:4 b5:4 a5:2 g5:2  a5:8 f#5:4 d5:4";
const char* const overdriveChorus =
    "e5:2 g5:2 b5:2 e6:2 d6:2 b5:2 g5:2 b5:2  c6:2 b5:2 g5:2 e5:2 g5:4 c6:4 "
    "b5:2 a5:2 g5:2 d5:2 g5:2 b5:2 d6:4  a5:2 f#5:2 d5:2 f#5:2 a5:4 d6:4 "
    "e5:2 g5:2 b5:2 e6:2 d6:2 b5:2 g5:2 b5:2  c6:2 b5:2 g5:2 e5:2 g5:4 c6:4 "
    "b5:2 a5:2 g5:2 d5:2 g5:2 b5:2 d6:4  f#5:8 d5:4 b4:4";

void breakbeat(Tarrangement& song, int first, int bar) {
    song.kick(first, 1.0f);
    song.kick(first + 10, 0.9f);
    if (bar % 4 == 3) song.kick(first + 14, 0.6f);
    song.snare(first + 4, 0.85f);
    song.snare(first + 12, 0.85f);
    song.snare(first + 7, 0.2f);
    if (bar % 2 == 1) song.snare(first + 15, 0.25f);
}

void overdriveDrums(Tarrangement& song, int bar, int section) {
    const int first = bar * 16;
    if (bar == overdriveBars - 1) return;
    const bool fullBeat = section == verse || section == chorus || section == chorusAgain || (section == outro && bar < 62);
    for (int step = 0; step < 16; step += 2) {
        const bool open = step == 6 && (section == chorus || section == chorusAgain);
        song.hat(first + step, step % 4 == 2 ? 0.4f : 0.28f, open);
    }
    if (fullBeat) {
        breakbeat(song, first, bar);
    } else if (section == breakdown || (section == intro && bar >= 4)) {
        song.kick(first, 0.85f);
        song.snare(first + 8, 0.75f);
    }
}

void overdriveHarmony(Tarrangement& song, int bar, int section) {
    static const std::vector<Tchord> chords = progression({"Em", "C", "G", "D"});
    const int first = bar * 16;
    const Tchord& chord = chords[static_cast<size_t>(bar % 4)];
    const int root = chordRoot(chord, 28);
    if (bar == overdriveBars - 1) {
        song.pad(first, 16, voiceChord(chord, 55), 0.9f, 0.6f);
        song.bass(TbassKind::reese, first, 12, root, 0.9f);
        song.kick(first, 1.0f);
        song.crash(first, 0.6f);
        return;
    }
    std::vector<int> tones = voiceChord(chord, 64);
    for (int step = 0; step < 16; step += 2) {
        const bool arpeggio = section == intro || section == chorus || section == chorusAgain || section == outro;
        if (arpeggio) song.pluck(first + step, 2, tones[static_cast<size_t>(step / 2 % 3)] + (step >= 8 ? 12 : 0), 0.3f, step % 4 ? 0.4f : -0.4f, 0.7f);
    }
    if (section != intro) song.pad(first, 16, voiceChord(chord, 55), section == breakdown ? 0.85f : 0.45f, 0.6f);
    if (section == breakdown) {
        song.bell(first, tones[0] + 12, 0.3f, -0.4f);
        song.bell(first + 6, tones[2] + 12, 0.25f, 0.4f);
        return;
    }
    if (section == intro && bar < 4) return;
    song.bass(TbassKind::reese, first, 6, root, 0.9f);
    song.bass(TbassKind::reese, first + 6, 4, root, 0.8f);
    song.bass(TbassKind::reese, first + 10, 2, root + 12, 0.7f);
    song.bass(TbassKind::reese, first + 12, 4, root, 0.8f);
}

}  // namespace

TcomposedSong composeOverdrive() {
    Tarrangement song(168.0, 1.0, overdriveBars, 3.5);
    const std::vector<TmelodyNote> verseMelody = parseMelody(overdriveVerse, 8);
    const std::vector<TmelodyNote> chorusMelody = parseMelody(overdriveChorus, 8);
    for (const int repeat : {0, 8}) {
        song.melody(TleadKind::square, (overdriveSections[verse] + repeat) * 16, verseMelody, 0, 0.7f);
        song.melody(TleadKind::square, (overdriveSections[chorus] + repeat) * 16, chorusMelody, 0, 0.75f);
    }
    song.melody(TleadKind::square, overdriveSections[chorusAgain] * 16, chorusMelody, 0, 0.8f);
    for (size_t section = 1; section < overdriveSections.size(); ++section) song.crash(overdriveSections[section] * 16, 0.55f);
    song.riser(overdriveSections[verse] * 16, 32, 0.4f);
    song.riser(overdriveSections[chorusAgain] * 16, 32, 0.45f);
    for (int bar = 0; bar < overdriveBars; ++bar) {
        const int section = sectionOf(overdriveSections, bar);
        overdriveDrums(song, bar, section);
        overdriveHarmony(song, bar, section);
    }
    Tarrangement::TmixSettings settings;
    settings.harmonyLevel = 0.55f;
    settings.leadLevel = 0.75f;
    settings.bassLevel = 0.5f;
    settings.duckDepth = 0.35f;
    settings.echoSteps = 3;
    return {"overdrive", song.bpm(), song.leadIn(), song.bars(), overdriveSections[chorus], overdriveSections,
            song.mixdown(settings), song.onsets()};
}

}  // namespace stockpack
