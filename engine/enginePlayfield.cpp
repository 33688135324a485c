// The parts of the play field the menus draw as well: the masks beside the grid, the grid and
// the selected song's jacket.
#include "engine/trellikGL38Engine.h"

namespace {

void drawBlackQuad(TtrellikGL& game, double x, double y, double width, double height) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    drawTexturedQuad(window->customCommands, game.textures.fade, static_cast<float>(x), static_cast<float>(y),
                     static_cast<float>(game.depth), static_cast<float>(width), static_cast<float>(height), 0, 0, 0,
                     1);
}

}  // namespace

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
    for (int i = -2; i <= 2; ++i) {
        const double height = (i == -2 || i == 2) ? 2.0 * layout.lineLength : layout.lineLength;
        drawBlackQuad(game, i * layout.pitch, game.yOffset, layout.lineWidth, height);
        drawBlackQuad(game, 0.0, i * layout.pitch + game.yOffset, layout.lineLength, layout.lineWidth);
    }
    for (int i = -1; i <= 1; i += 2)
        drawBlackQuad(game, 0.0, 4.0 * i * layout.pitch + game.yOffset, 2.0 * layout.lineLength, layout.shutterSize);
}

void drawSelectedJacket(TtrellikGL& game) {
    const TopenGLEngine* window = drawingWindow(game);
    if (!window) return;
    const int32_t song = game.menu.selectedSong;
    drawFramedQuad(window->customCommands, getSongCover(game.songs, song), game.textures.jacketBorder,
                   game.textures.jacketGlow, 200, static_cast<float>(game.layout.jacketSize * 1.75), -1.8f,
                   static_cast<float>(game.yOffset + 4.0), static_cast<float>(game.depth));
}
