// Song select and marker select: the song wheel, difficulties and skin previews.
#include "engine/trellikGL38Engine.h"

namespace {

bool drawMenu(TtrellikGL& game) {
    clearScreen(game.window->customCommands);
    return true;
}

}  // namespace

const Scene songSelectScene = {drawMenu, escapeEndsRun, nullptr};
const Scene markerSelectScene = {drawMenu, escapeEndsRun, nullptr};
