// A virtual joystick standing in for a pad that a test plugs in, presses and pulls out.
#pragma once

#include <SDL.h>

// Plugged in on construction (with SDL's joystick support started for as long as it lives),
// with a handle of its own to press its 16 buttons; pulled out on unplug() or destruction.
class TvirtualPad {
public:
    TvirtualPad();
    ~TvirtualPad();
    TvirtualPad(const TvirtualPad&) = delete;
    TvirtualPad& operator=(const TvirtualPad&) = delete;

    // False when SDL could not make the device (SDL_GetError says why).
    bool plugged() const { return handle != nullptr; }
    // Sets the button's state; SDL reports the change at its next joystick update.
    void press(int button, bool down) const;
    void unplug();
    // SDL's number for this device while it is plugged in (it is not reused afterwards).
    SDL_JoystickID instance() const { return instanceId; }

private:
    bool started = false;
    SDL_JoystickID instanceId = -1;
    SDL_Joystick* handle = nullptr;
};
