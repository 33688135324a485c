// Game pads on SDL's joystick interface (any joystick, not only known game controllers).
#include "platform/input/gamePads.h"

#include <SDL.h>

TgamePads::~TgamePads() {
    close();
}

bool TgamePads::open() {
    if (started) return true;
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return false;
    started = true;
    openNewPads();
    return true;
}

void TgamePads::close() {
    if (!started) return;
    for (SDL_Joystick*& pad : pads) {
        if (pad) SDL_JoystickClose(pad);
        pad = nullptr;
    }
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    started = false;
}

bool TgamePads::keyFromEvent(const SDL_Event& event, TpadKeyEvent& out) {
    if (!started) return false;
    switch (event.type) {
        case SDL_JOYDEVICEADDED: openNewPads(); return false;
        case SDL_JOYDEVICEREMOVED: closePad(event.jdevice.which); return false;
        case SDL_JOYBUTTONDOWN:
        case SDL_JOYBUTTONUP: {
            const int pad = numberOf(event.jbutton.which);
            if (pad < 0 || event.jbutton.button >= buttonsPerPad) return false;
            out.key = padButtonKey(pad, event.jbutton.button);
            out.down = event.type == SDL_JOYBUTTONDOWN;
            return true;
        }
        default: return false;
    }
}

int TgamePads::openCount() const {
    int count = 0;
    for (const SDL_Joystick* pad : pads) count += pad != nullptr;
    return count;
}

// Looks at every device rather than the one an event names: device numbers shift when another
// device goes away before the event is read, and a pad already open is simply passed over.
void TgamePads::openNewPads() {
    const int devices = SDL_NumJoysticks();
    for (int device = 0; device < devices; ++device) {
        const int number = freeNumber();
        if (number < 0) return;
        const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(device);
        if (instance >= 0 && numberOf(instance) < 0) pads[number] = SDL_JoystickOpen(device);
    }
}

void TgamePads::closePad(SDL_JoystickID instance) {
    const int pad = numberOf(instance);
    if (pad < 0) return;
    SDL_JoystickClose(pads[pad]);
    pads[pad] = nullptr;
}

int TgamePads::freeNumber() const {
    for (int pad = 0; pad < maxPads; ++pad) {
        if (!pads[pad]) return pad;
    }
    return -1;
}

int TgamePads::numberOf(SDL_JoystickID instance) const {
    for (int pad = 0; pad < maxPads; ++pad) {
        if (pads[pad] && SDL_JoystickInstanceID(pads[pad]) == instance) return pad;
    }
    return -1;
}
