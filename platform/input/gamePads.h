// Game pads and joysticks as extra keys: every button of every pad has a key code of its own.
#pragma once

#include <cstdint>

#include <SDL_events.h>
#include <SDL_joystick.h>

// A pad button's key code is padKeyBase + pad * buttonsPerPad + button, for pads 0..31 and
// buttons 0..127: 0x1000..0x1FFF. Keyboard keys are virtual-key codes up to 0xFF, so the two
// never meet, and every pad key fits the 16 bits a key code is handled in.
inline constexpr uint16_t padKeyBase = 0x1000;
inline constexpr int maxPads = 32;
inline constexpr int buttonsPerPad = 128;

// The key code of a pad's button; pad and button must lie in their ranges.
constexpr uint16_t padButtonKey(int pad, int button) {
    return static_cast<uint16_t>(padKeyBase + pad * buttonsPerPad + button);
}

// Whether a key code stands for a pad button rather than a keyboard key.
constexpr bool isPadKey(int32_t code) {
    return code >= padKeyBase && code < padKeyBase + maxPads * buttonsPerPad;
}

// Which pad (from 0) and which of its buttons (from 0) a pad key code stands for.
struct TpadButton {
    int pad = 0;
    int button = 0;
};

// The pad and button of a code for which isPadKey holds.
constexpr TpadButton padButtonOf(uint16_t code) {
    const int offset = code - padKeyBase;
    return {offset / buttonsPerPad, offset % buttonsPerPad};
}

// A pad button pressed or released, as a key.
struct TpadKeyEvent {
    uint16_t key = 0;
    bool down = false;
};

// The pads of one window (or one key-capture window), numbered in the order they were opened.
// A pad keeps its number while it stays plugged in; one plugged in later takes the lowest free
// number, so a single pad pulled out and put back plays as before. Every SDL_Joystick held here
// is closed when its device goes away, by close(), or by the destructor.
class TgamePads {
public:
    TgamePads() = default;
    ~TgamePads();
    TgamePads(const TgamePads&) = delete;
    TgamePads& operator=(const TgamePads&) = delete;

    // Starts SDL's joystick support and opens every pad present. False when SDL cannot start it;
    // that is no error: there are just no pads.
    bool open();
    // Closes the pads and stops this object's share of SDL's joystick support. Safe to repeat.
    void close();

    // To be called with every SDL event: opens pads plugged in, closes those pulled out, and
    // for a button of an open pad pressed or released gives its key and returns true.
    bool keyFromEvent(const SDL_Event& event, TpadKeyEvent& out);

    // How many pads are open now.
    int openCount() const;

private:
    void openNewPads();
    void closePad(SDL_JoystickID instance);
    // The lowest pad number not in use, or -1 when all are.
    int freeNumber() const;
    // The number of the open pad SDL knows by instance, or -1.
    int numberOf(SDL_JoystickID instance) const;

    bool started = false;
    SDL_Joystick* pads[maxPads] = {};
};
