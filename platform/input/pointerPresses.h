// Mouse buttons and fingers on the panels: which panel a point falls on, and which panel key each
// pointer holds down.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// Where the sixteen panels lie: their centres in world units at one depth, seen through the
// window's perspective (45 degrees vertically) and turned about the view axis.
struct TpanelGrid {
    double centreX[16] = {};
    double centreY[16] = {};
    // Each panel owns the square of this side about its centre (the grid pitch).
    double cellSize = 1.0;
    double depth = -7.0;
    int32_t rotationDegrees = 0;
    int32_t windowWidth = 1;
    int32_t windowHeight = 1;
};

// The panel under a window point in pixels (origin top left), or -1 when it falls on none.
int32_t panelAtPoint(const TpanelGrid& grid, double x, double y);
// Where the window shows a point of the panels' plane (world units), in pixels from the top left.
void windowPointOf(const TpanelGrid& grid, double worldX, double worldY, double& x, double& y);

// One mouse button or one finger, told apart from every other pointer.
uint64_t mousePointer(uint8_t button);
uint64_t fingerPointer(int64_t touchDevice, int64_t finger);

// The panel keys pointers hold, under the held-key rule of a keyboard: a key already down makes no
// second press. A pointer already down presses nothing more; a second pointer on a panel another
// holds presses nothing (two buttons on a song select panel step it once), and the panel is let
// go when the last of them lifts.
class TpointerPresses {
public:
    // The pointer went down on a panel key: true when that is a press to hand on.
    bool press(uint64_t pointer, int32_t key);
    // The pointer went up: the key to let go, when it held one that no other pointer holds.
    std::optional<int32_t> release(uint64_t pointer);
    // Forgets every pointer: when ups may have gone elsewhere (the window lost the focus).
    void clear();

private:
    std::vector<std::pair<uint64_t, int32_t>> held;
};

// When an event SDL stamped at sdlTicks happened on the high-resolution clock, read at nowMs when
// SDL's millisecond clock said ticksNow. Never later than now.
double timeOfSdlTicks(uint32_t sdlTicks, uint32_t ticksNow, double nowMs);

// A mouse button event whose timestamp the X key times replaced by the server's moment of the
// click (as an event stamp) carries this in its spare byte.
inline constexpr uint8_t serverStampMark = 0x5a;
