// The two play-assist effects: a dry tick for every marker's beat and a soft hit for each press.
#include "tools/stockpack/mixer.h"
#include "tools/stockpack/songBook.h"
#include "tools/stockpack/synth.h"

namespace stockpack {

// Its attack starts on the first frame, so the tick is heard on the frame it is placed on.
TstereoBus composeAssistTick() {
    TstereoBus sound(static_cast<size_t>(0.08 * audioRate));
    mixVoice(sound, pluckNote(noteNumber("e7"), 0.01, 1.0f), 0, 0.8f, 0.0f);
    mixVoice(sound, hiHat(31, false), 0, 0.6f, 0.0f);
    fade(sound, 0, 0.05);
    return sound;
}

// Lower and rounder than the tick, so the two are told apart when both play.
TstereoBus composeHitSound() {
    TstereoBus sound(static_cast<size_t>(0.12 * audioRate));
    mixVoice(sound, pluckNote(noteNumber("g5"), 0.03, 0.6f), 0, 0.7f, 0.0f);
    mixVoice(sound, kickDrum(0.3f, 0.05f), 0, 0.4f, 0.0f);
    fade(sound, 0, 0.08);
    return sound;
}

}  // namespace stockpack
