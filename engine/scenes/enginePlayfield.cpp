// The play field: shutters, combo, score, panel markers and highlights, grid, masks and the jacket.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/trellikGL38Engine.h"

namespace {

constexpr int32_t panelCount = 16;
constexpr int32_t fullGaugeLevel = 100000;
// Full white; tints are handed to GL unscaled and saturate at 1.
constexpr long double full = 255.0L;

constexpr long double startHereTint[4] = {0.8L, 0.8L, 1.0L, 1.0L};
constexpr long double highlightTint[4] = {0.4L, 0.4L, 1.0L, 0.8L};

// The score's units digit sits at x 2.1 above the grid; digits a third of the combo's size.
constexpr double scoreX = 2.1;
constexpr double scoreY = 3.5;
constexpr double scoreSpacing = 0.45;
constexpr double scoreDigitScale = 0.35;

constexpr double bigJacketX = -1.8;
constexpr double bigJacketY = 4.0;
constexpr double bigJacketScale = 1.75;
constexpr uint8_t glowShown = 200;

// One quad of the play field at the engine depth, when a window is open to draw into.
void drawQuad(TtrellikGL& game, uint32_t texture, double x, double y, double width, double height,
              const long double (&tint)[4]) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    drawTexturedQuad(window->customCommands, texture, static_cast<float>(x), static_cast<float>(y),
                     static_cast<float>(game.depth), static_cast<float>(width), static_cast<float>(height), tint[0],
                     tint[1], tint[2], tint[3]);
}

void drawWhiteQuad(TtrellikGL& game, uint32_t texture, double x, double y, double width, double height,
                   long double alpha = full) {
    drawQuad(game, texture, x, y, width, height, {full, full, full, alpha});
}

// Masks and grid lines are the fade texture tinted opaque black.
void drawBlackQuad(TtrellikGL& game, double x, double y, double width, double height) {
    drawQuad(game, game.textures.fade, x, y, width, height, {0.0L, 0.0L, 0.0L, 1.0L});
}

void drawDigits(TtrellikGL& game, int32_t value, DigitAlignment alignment, uint8_t alpha, double spacing,
                double width, double height, double x, double y) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    drawNumber(window->customCommands, value, game.textures.digits, alignment, alpha, spacing, width, height, x, y,
               game.depth);
}

bool rowZeroHasMarker(const TtrellikGL& game, int32_t keyIndex) {
    return game.chart.entries[0].panels[keyIndex] != 0;
}

// The start-here marker of a key index goes on its panel, which is numbered column-wise.
void drawStartHere(TtrellikGL& game, int32_t keyIndex) {
    if (!rowZeroHasMarker(game, keyIndex)) return;
    const TpanelCentre& centre = game.panels[transposeIndex(keyIndex)];
    const double edge = game.layout.jacketSizeSelected;
    drawQuad(game, game.textures.startHere, centre.x, centre.y, edge, edge, startHereTint);
}

void drawHighlight(TtrellikGL& game, int32_t panel) {
    if (!game.play.pressed[panel]) return;
    const TpanelCentre& centre = game.panels[panel];
    const double edge = game.layout.markerSize;
    drawQuad(game, game.textures.panelHighlight, centre.x, centre.y, edge, edge, highlightTint);
}

// How far through its state a panel is at now; the skin lookup clamps it to 0..1.
double stateProgress(const TplayState& play, int32_t panel, double now) {
    return (now - play.stateStart[panel]) / (play.stateEnd[panel] - play.stateStart[panel]);
}

// The approach and the unpressed states after it move with the visual offset; a judgement's
// own animation answers the press and is drawn at once.
bool movesWithVisualOffset(uint8_t state) {
    return state == approach || state == overrun || state == miss;
}

// A state the skin has no frames for draws nothing rather than an untextured square.
void drawMarker(TtrellikGL& game, int32_t panel, double now) {
    const TmarkerLook look = markerLookAt(game, panel, now);
    if (look.state != idle) drawMarkerFrame(game, panel, look.state, look.progress);
}

}  // namespace

TmarkerLook markerLookAt(const TtrellikGL& game, int32_t panel, double now) {
    const TplayState& play = game.play;
    const uint8_t state = play.panelState[panel];
    if (!movesWithVisualOffset(state)) return {state, stateProgress(play, panel, now)};
    const double drawnAt = now - visualOffsetInForce(game);
    // Drawn before the approach ended (on the perfect time): that approach is still what the
    // player sees, though play has moved the panel on.
    if (state == overrun && drawnAt < play.perfectTime[panel]) {
        const double approachMs = game.timing.stateDuration[approach];
        return {approach, 1.0 + (drawnAt - play.perfectTime[panel]) / approachMs};
    }
    return {state, stateProgress(play, panel, drawnAt)};
}

void drawMarkerFrame(TtrellikGL& game, int32_t panel, uint8_t state, double progress) {
    const uint32_t frame = getMarkerFrame(game.markers, game.menu.selectedMarker, state, progress);
    if (frame == 0) return;
    const TpanelCentre& centre = game.panels[panel];
    const double edge = game.layout.markerSize;
    drawWhiteQuad(game, frame, centre.x, centre.y, edge, edge);
}

void drawTextColumn(TtrellikGL& game, const std::vector<std::string>& lines, float x, float firstY) {
    TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    constexpr float lineStep = 1.75f;
    float y = firstY;
    for (const std::string& line : lines) {
        drawWhiteLine(window->console, line, x, y);
        y -= lineStep;
    }
}

void drawTintedQuad(TtrellikGL& game, double x, double y, double width, double height, long double red,
                    long double green, long double blue, long double alpha) {
    const long double tint[4] = {red * full, green * full, blue * full, alpha};
    drawQuad(game, game.textures.fade, x, y, width, height, tint);
}


double shutterOpening(const TlayoutConstants& layout, int32_t gaugeLevel) {
    return layout.shutterClosed + (layout.shutterOpen - layout.shutterClosed) * gaugeLevel / fullGaugeLevel;
}

void drawShutters(TtrellikGL& game) {
    const int32_t level = game.score.gaugeLevel(drawingWindow(game));
    updateShutterBob(game, level);
    const TlayoutConstants& layout = game.layout;
    const double opening = shutterOpening(layout, level);
    const double bob = game.play.shutterBobEased;
    const double edge = layout.shutterSize;
    drawWhiteQuad(game, game.textures.topShutter, 0.0, bob + game.yOffset + opening, edge, edge);
    drawWhiteQuad(game, game.textures.bottomShutter, 0.0, game.yOffset - bob - opening, edge, edge);
}

void drawCombo(TtrellikGL& game) {
    const int32_t combo = game.score.comboCount();
    if (combo < 10) return;
    const TlayoutConstants& layout = game.layout;
    drawDigits(game, combo, digitsCentred, layout.hudAlpha, layout.digitSpacing, layout.digitWidth,
               layout.digitHeight, layout.comboX, layout.comboY + game.yOffset);
    drawWhiteQuad(game, game.textures.comboLabel, layout.comboTextX, game.yOffset + layout.comboTextY,
                  layout.comboTextWidth, layout.comboTextHeight, layout.hudAlpha);
}

void drawReadyPanels(TtrellikGL& game) {
    for (int32_t i = 0; i < panelCount; ++i) {
        drawStartHere(game, i);
        drawHighlight(game, i);
    }
}

void drawPlayPanels(TtrellikGL& game, double now) {
    for (int32_t i = 0; i < panelCount; ++i) {
        if (!game.play.firstEntryReached) drawStartHere(game, i);
        drawHighlight(game, i);
        drawMarker(game, i, now);
    }
}

void drawSideMasks(TtrellikGL& game) {
    const TlayoutConstants& layout = game.layout;
    const double width = 40.0 * layout.pitch;
    const double height = 20.0 * layout.lineLength;
    const double x = 22.0 * layout.pitch;
    drawBlackQuad(game, -x, 0.0, width, height);
    drawBlackQuad(game, x, 0.0, width, height);
}

void drawGrid(TtrellikGL& game) {
    const TlayoutConstants& layout = game.layout;
    const double pitch = layout.pitch;
    for (int32_t i = -2; i <= 2; ++i) {
        const double verticalLength = (i == -2 || i == 2) ? 2.0 * layout.lineLength : layout.lineLength;
        drawBlackQuad(game, i * pitch, game.yOffset, layout.lineWidth, verticalLength);
        drawBlackQuad(game, 0.0, i * pitch + game.yOffset, layout.lineLength, layout.lineWidth);
    }
    // Bars above and below the grid hide the shutters where they pass beyond it.
    for (int32_t i = -1; i <= 1; i += 2)
        drawBlackQuad(game, 0.0, 4.0 * i * pitch + game.yOffset, 2.0 * layout.lineLength, layout.shutterSize);
}

void drawScore(TtrellikGL& game) {
    drawScoreDigits(game, game.score.displayScore());
}

void drawScoreDigits(TtrellikGL& game, int32_t value) {
    const TlayoutConstants& layout = game.layout;
    drawDigits(game, value, digitsRightAligned, 255, scoreSpacing,
               scoreDigitScale * layout.digitWidth, scoreDigitScale * layout.digitHeight, scoreX,
               game.yOffset + scoreY);
}

// Without songs nothing is selected, so no jacket is shown.
void drawSelectedJacket(TtrellikGL& game) {
    const TopenGLEngine* window = drawingWindow(game);
    const int32_t song = game.menu.selectedSong;
    if (!window || song < 0 || song > getLastIndex(game.songs)) return;
    drawFramedQuad(window->customCommands, shownJacket(game, song), game.textures.jacketBorder,
                   game.textures.jacketGlow, glowShown, static_cast<float>(bigJacketScale * game.layout.jacketSize),
                   static_cast<float>(bigJacketX), static_cast<float>(game.yOffset + bigJacketY),
                   static_cast<float>(game.depth));
}
