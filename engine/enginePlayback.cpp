// From GO to the end of the song: the song start fade, the ready scene and play.
#include "engine/trellikGL38Engine.h"

namespace {

bool drawPlayfield(TtrellikGL& game) {
    clearScreen(game.window->customCommands);
    return true;
}

}  // namespace

const Scene songStartScene = {drawPlayfield, escapeEndsRun, nullptr};
const Scene readyScene = {drawPlayfield, escapeEndsRun, nullptr};
const Scene playScene = {drawPlayfield, escapeEndsRun, nullptr};
