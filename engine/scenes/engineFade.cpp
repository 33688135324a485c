// Fades to and from black over whatever the scene drew before them, one step per frame.
#include <cstdint>

#include "engine/trellikGL38Engine.h"
#include "platform/clockSeam.h"

namespace {

constexpr int32_t fadeDurationMs = 1500;
constexpr float overlaySize = 50.0f;
constexpr float overlayDepth = -20.0f;

// The fade texture tinted black, in front of everything drawn at the engine depth.
void drawFadeOverlay(TtrellikGL& game, long double alpha) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    drawTexturedQuad(window->customCommands, game.textures.fade, 0.0f, 0.0f, overlayDepth, overlaySize, overlaySize,
                     0.0L, 0.0L, 0.0L, alpha);
}

// The share of the fade that has passed, 0..1. The difference is taken signed so that a clock
// that wrapped still counts forward and one read before the start counts as no time.
long double fadeProgress(uint32_t start, uint32_t now) {
    const int32_t elapsed = static_cast<int32_t>(now - start);
    if (elapsed <= 0) return 0.0L;
    if (elapsed >= fadeDurationMs) return 1.0L;
    return static_cast<long double>(elapsed) / fadeDurationMs;
}

// One frame of a fade whose alpha runs from startAlpha to its opposite.
bool stepFade(TtrellikGL& game, long double startAlpha) {
    FadeState& fade = game.fade;
    const uint32_t now = activeClock().milliseconds();
    const long double endAlpha = 1.0L - startAlpha;
    if (!fade.running) {
        fade.start = now;
        fade.alpha = startAlpha;
        fade.running = 1;
        drawFadeOverlay(game, fade.alpha);
        return false;
    }
    if (fade.alpha == endAlpha) {
        drawFadeOverlay(game, fade.alpha);
        fade.alpha = 0.0L;
        fade.running = 0;
        return true;
    }
    const long double progress = fadeProgress(fade.start, now);
    fade.alpha = startAlpha == 0.0L ? progress : 1.0L - progress;
    drawFadeOverlay(game, fade.alpha);
    return false;
}

}  // namespace

bool fadeToBlack(TtrellikGL& game) {
    return stepFade(game, 0.0L);
}

bool fadeFromBlack(TtrellikGL& game) {
    return stepFade(game, 1.0L);
}
