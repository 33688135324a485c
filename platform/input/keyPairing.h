// Which SDL key each X key code becomes, so an X key event's time goes only to the key made from it.
#pragma once

#include <array>
#include <cstdint>

// SDL keeps its table of X key codes to scancodes to itself; the pairs are learned from the key
// events that follow their X events. An input method can make SDL key events without an X event
// of their own (and swallow X events SDL makes nothing of), so a pending X time is handed on only
// when the key matches.
class TkeyPairing {
public:
    // Whether the SDL scancode is the one the X key code becomes. A key code not seen before is
    // paired with it; one already paired matches only its own scancode.
    bool matches(uint32_t xKeycode, int32_t scancode);

private:
    static constexpr int32_t unpaired = -1;
    // X key codes run from 8 to 255.
    std::array<int32_t, 256> scancodeOf = filledUnpaired();

    static std::array<int32_t, 256> filledUnpaired() {
        std::array<int32_t, 256> table{};
        table.fill(unpaired);
        return table;
    }
};
