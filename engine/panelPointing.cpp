// The panels under the mouse and fingers: the grid as drawn now, and each panel's key.
#include "engine/trellikGL38Engine.h"
#include "platform/input/pointerPresses.h"

TpanelGrid panelGridOf(const TtrellikGL& game, int32_t windowWidth, int32_t windowHeight) {
    TpanelGrid grid;
    for (int32_t panel = 0; panel < 16; ++panel) {
        grid.centreX[panel] = game.panels[panel].x;
        grid.centreY[panel] = game.panels[panel].y;
    }
    grid.cellSize = game.layout.pitch;
    grid.depth = game.depth;
    grid.rotationDegrees = cameraRotation();
    grid.windowWidth = windowWidth;
    grid.windowHeight = windowHeight;
    return grid;
}

int32_t panelKeyOnGrid(const TtrellikGL& game, const TpanelGrid& grid, double x, double y) {
    // The results draw no panels: a click on their figures presses no key hidden under them.
    if (game.results.shown) return -1;
    const int32_t panel = panelAtPoint(grid, x, y);
    if (panel < 0) return -1;
    // Panels are numbered down the columns, keys along the rows.
    return game.launch.keys[transposeIndex(panel)] & 0xFFFF;
}

int32_t panelKeyAtPoint(const TtrellikGL& game, double x, double y) {
    int32_t width = 0;
    int32_t height = 0;
    windowClientSize(width, height);
    return panelKeyOnGrid(game, panelGridOf(game, width, height), x, y);
}

void installPanelPointing(TtrellikGL& game) {
    game.window->panelKeyAt = [&game](double x, double y) { return panelKeyAtPoint(game, x, y); };
}
