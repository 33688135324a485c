// Mouse and touch presses: points onto panels, pointers onto held keys, SDL's stamps onto our clock.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/input/pointerPresses.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// The play field's grid: pitch 1.4, columns left to right, rows top to bottom, at depth -7.
TpanelGrid playFieldGrid(int32_t rotation, int32_t width, int32_t height) {
    TpanelGrid grid;
    for (int32_t panel = 0; panel < 16; ++panel) {
        grid.centreX[panel] = (panel / 4) * 1.4 - 2.1;
        grid.centreY[panel] = 2.1 - (panel % 4) * 1.4 - 0.5;
    }
    grid.cellSize = 1.4;
    grid.rotationDegrees = rotation;
    grid.windowWidth = width;
    grid.windowHeight = height;
    return grid;
}

// Where the window shows a world point of the grid's plane, as GL draws it.
void pixelOf(const TpanelGrid& grid, double worldX, double worldY, double& x, double& y) {
    const double angle = grid.rotationDegrees * pi / 180.0;
    const double turnedX = worldX * std::cos(angle) - worldY * std::sin(angle);
    const double turnedY = worldX * std::sin(angle) + worldY * std::cos(angle);
    const double spread = std::tan(22.5 * pi / 180.0) * -grid.depth;
    const double aspect = static_cast<double>(grid.windowWidth) / grid.windowHeight;
    x = (turnedX / (aspect * spread) + 1.0) / 2.0 * grid.windowWidth;
    y = (1.0 - turnedY / spread) / 2.0 * grid.windowHeight;
}

}  // namespace

TEST(PanelAtPoint, FindsEveryPanelThroughTheProjectionAndTheRotation) {
    for (const int32_t rotation : {0, 90, 270}) {
        const TpanelGrid grid = playFieldGrid(rotation, 800, 600);
        for (int32_t panel = 0; panel < 16; ++panel) {
            double x = 0.0, y = 0.0;
            pixelOf(grid, grid.centreX[panel], grid.centreY[panel], x, y);
            EXPECT_EQ(panelAtPoint(grid, x, y), panel) << "rotation " << rotation;
            double shownX = 0.0, shownY = 0.0;
            windowPointOf(grid, grid.centreX[panel], grid.centreY[panel], shownX, shownY);
            EXPECT_NEAR(shownX, x, 1e-9);
            EXPECT_NEAR(shownY, y, 1e-9);
        }
    }
    EXPECT_EQ(panelAtPoint(playFieldGrid(0, 0, 600), 10, 10), -1) << "a window of no size";
}

TEST(PanelAtPoint, EachPanelEndsHalfACellFromItsCentre) {
    const TpanelGrid grid = playFieldGrid(0, 600, 600);
    // Panel 12 is the top right one: beyond its right and top edges lies no panel.
    struct Tcase {
        double fromCentre;
        int32_t panel;
    } cases[] = {{0.7 - 1e-6, 12}, {0.7 + 1e-6, -1}};
    for (const Tcase& tried : cases) {
        double x = 0.0, y = 0.0;
        pixelOf(grid, grid.centreX[12] + tried.fromCentre, grid.centreY[12], x, y);
        EXPECT_EQ(panelAtPoint(grid, x, y), tried.panel) << "right by " << tried.fromCentre;
        pixelOf(grid, grid.centreX[12], grid.centreY[12] + tried.fromCentre, x, y);
        EXPECT_EQ(panelAtPoint(grid, x, y), tried.panel) << "up by " << tried.fromCentre;
    }
    // The line between two panels (the exact edge, as near as the projection gets) is no gap.
    for (const double across : {-1e-9, 0.0, 1e-9}) {
        double x = 0.0, y = 0.0;
        pixelOf(grid, grid.centreX[12] - 0.7 + across, grid.centreY[12], x, y);
        const int32_t panel = panelAtPoint(grid, x, y);
        EXPECT_TRUE(panel == 8 || panel == 12) << across << " gave " << panel;
    }
}

TEST(PointerPresses, HoldKeysPerPointerAndLetGoWithTheLastOne) {
    TpointerPresses pointers;
    const uint64_t mouse = mousePointer(1);
    const uint64_t thumb = fingerPointer(3, 0);
    const uint64_t finger = fingerPointer(3, 1);
    EXPECT_NE(mouse, thumb);
    EXPECT_NE(thumb, finger);
    EXPECT_TRUE(pointers.press(mouse, 'R'));
    EXPECT_FALSE(pointers.press(mouse, 'T')) << "a pointer already down presses nothing more";
    EXPECT_TRUE(pointers.press(thumb, 'T'));
    EXPECT_FALSE(pointers.press(finger, 'T')) << "a second finger on a panel held already presses nothing";
    EXPECT_FALSE(pointers.press(mousePointer(3), 'T')) << "nor does a second mouse button";
    EXPECT_EQ(pointers.release(mousePointer(3)), std::nullopt);
    EXPECT_EQ(pointers.release(thumb), std::nullopt) << "the other finger still holds the panel";
    EXPECT_EQ(pointers.release(finger), 'T');
    EXPECT_EQ(pointers.release(finger), std::nullopt) << "an up without its down";
    EXPECT_EQ(pointers.release(mouse), 'R');
    EXPECT_TRUE(pointers.press(mouse, 'R'));
    pointers.clear();
    EXPECT_EQ(pointers.release(mouse), std::nullopt);
    EXPECT_TRUE(pointers.press(mouse, 'R'));
}

TEST(TimeOfSdlTicks, CountsBackFromNowAcrossTheWrapAndNeverAhead) {
    struct Tcase {
        uint32_t stamp;
        uint32_t ticksNow;
        double expected;
    } cases[] = {
        {1000, 1000, 5000.0},
        {997, 1000, 4997.0},
        {0xFFFFFFFEu, 1, 4997.0},
        {1000, 1000 + 0x80000000u, 5000.0 - 2147483648.0},
        {1000, 1000 + 0x80000001u, 5000.0},
        {1001, 1000, 5000.0},
    };
    for (const Tcase& tried : cases)
        EXPECT_DOUBLE_EQ(timeOfSdlTicks(tried.stamp, tried.ticksNow, 5000.0), tried.expected) << tried.stamp;
}
