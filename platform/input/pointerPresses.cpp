// Mouse and touch presses: window points onto panels, and pointers onto held panel keys.
#include "platform/input/pointerPresses.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double fieldOfViewDegrees = 45.0;
constexpr double degreesToRadians = 3.14159265358979323846 / 180.0;

// Half the height of the view at the panels' depth, in world units.
double halfViewHeight(const TpanelGrid& grid) {
    return std::tan(fieldOfViewDegrees / 2.0 * degreesToRadians) * -grid.depth;
}

}  // namespace

void windowPointOf(const TpanelGrid& grid, double worldX, double worldY, double& x, double& y) {
    const double angle = grid.rotationDegrees * degreesToRadians;
    const double turnedX = worldX * std::cos(angle) - worldY * std::sin(angle);
    const double turnedY = worldX * std::sin(angle) + worldY * std::cos(angle);
    const double aspect = static_cast<double>(grid.windowWidth) / grid.windowHeight;
    x = (turnedX / (aspect * halfViewHeight(grid)) + 1.0) / 2.0 * grid.windowWidth;
    y = (1.0 - turnedY / halfViewHeight(grid)) / 2.0 * grid.windowHeight;
}

int32_t panelAtPoint(const TpanelGrid& grid, double x, double y) {
    if (grid.windowWidth <= 0 || grid.windowHeight <= 0) return -1;
    // Back through the projection to the plane of the panels, then turned back.
    const double aspect = static_cast<double>(grid.windowWidth) / grid.windowHeight;
    const double spread = halfViewHeight(grid);
    const double turnedX = (2.0 * x / grid.windowWidth - 1.0) * aspect * spread;
    const double turnedY = (1.0 - 2.0 * y / grid.windowHeight) * spread;
    const double angle = -grid.rotationDegrees * degreesToRadians;
    const double worldX = turnedX * std::cos(angle) - turnedY * std::sin(angle);
    const double worldY = turnedX * std::sin(angle) + turnedY * std::cos(angle);
    // Edges belong to both cells, so no line between two panels is dead; the first one takes it.
    const double half = grid.cellSize / 2.0;
    for (int32_t panel = 0; panel < 16; ++panel) {
        if (std::fabs(worldX - grid.centreX[panel]) <= half && std::fabs(worldY - grid.centreY[panel]) <= half)
            return panel;
    }
    return -1;
}

uint64_t mousePointer(uint8_t button) {
    return button;
}

uint64_t fingerPointer(int64_t touchDevice, int64_t finger) {
    // The top bit keeps fingers apart from mouse buttons.
    const uint64_t mixed = static_cast<uint64_t>(touchDevice) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(finger);
    return mixed | (uint64_t{1} << 63);
}

bool TpointerPresses::press(uint64_t pointer, int32_t key) {
    const auto holding = [pointer](const auto& entry) { return entry.first == pointer; };
    if (std::any_of(held.begin(), held.end(), holding)) return false;
    // A key another pointer holds is already down: like a held key, no second press.
    const bool keyDown = std::any_of(held.begin(), held.end(), [key](const auto& entry) { return entry.second == key; });
    held.emplace_back(pointer, key);
    return !keyDown;
}

std::optional<int32_t> TpointerPresses::release(uint64_t pointer) {
    const auto entry =
        std::find_if(held.begin(), held.end(), [pointer](const auto& item) { return item.first == pointer; });
    if (entry == held.end()) return std::nullopt;
    const int32_t key = entry->second;
    held.erase(entry);
    const bool stillHeld =
        std::any_of(held.begin(), held.end(), [key](const auto& item) { return item.second == key; });
    if (stillHeld) return std::nullopt;
    return key;
}

void TpointerPresses::clear() {
    held.clear();
}

double timeOfSdlTicks(uint32_t sdlTicks, uint32_t ticksNow, double nowMs) {
    // Unsigned difference: right across the wrap of SDL's clock.
    const uint32_t ago = ticksNow - sdlTicks;
    // A stamp ahead of SDL's clock by a wrap's worth means it is not older than now.
    if (ago > 0x80000000u) return nowMs;
    return nowMs - ago;
}
