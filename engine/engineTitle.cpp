// The loading sequence and the title screens: banner fade, logo fade in, hold and fade out.
#include "engine/trellikGL38Engine.h"

namespace {

bool drawLoading(TtrellikGL& game) {
    clearScreen(game.window->customCommands);
    return true;
}

bool drawTitle(TtrellikGL& game) {
    clearScreen(game.window->customCommands);
    return true;
}

}  // namespace

const Scene loadingScene = {drawLoading, escapeEndsRun, nullptr};
const Scene bannerFadeScene = {drawTitle, escapeEndsRun, nullptr};
const Scene logoFadeInScene = {drawTitle, escapeEndsRun, nullptr};
const Scene logoHoldScene = {drawTitle, escapeEndsRun, nullptr};
const Scene logoFadeOutScene = {drawTitle, escapeEndsRun, nullptr};
