// The virtual pad: SDL's virtual joystick driver, attached and detached by device number.
#include "tests/support/virtualPad.h"

namespace {

int deviceIndexOf(SDL_JoystickID instance) {
    for (int device = 0; device < SDL_NumJoysticks(); ++device)
        if (SDL_JoystickGetDeviceInstanceID(device) == instance) return device;
    return -1;
}

}  // namespace

TvirtualPad::TvirtualPad() {
    started = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
    if (!started) return;
    const int device = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0, 16, 0);
    if (device < 0) return;
    instanceId = SDL_JoystickGetDeviceInstanceID(device);
    handle = SDL_JoystickOpen(device);
}

TvirtualPad::~TvirtualPad() {
    unplug();
    if (handle) SDL_JoystickClose(handle);
    if (started) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

void TvirtualPad::press(int button, bool down) const {
    if (handle) SDL_JoystickSetVirtualButton(handle, button, down ? SDL_PRESSED : SDL_RELEASED);
}

void TvirtualPad::unplug() {
    const int device = deviceIndexOf(instanceId);
    if (device >= 0) SDL_JoystickDetachVirtual(device);
}
