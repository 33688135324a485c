// An X key event's time goes only to the SDL key event made from it, in the game window's loop.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "platform/clockSeam.h"
#include "platform/window/openGLClass.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"

namespace {

// X key code 38 is the A key of the server's usual layout; the test pairs it with SDL's A itself.
constexpr unsigned int keycodeA = 38;
// Long enough ago on the server's clock that a key stamped then is unmistakable, and well inside
// the half hour a stamp can stand for.
constexpr Time longAgoMs = 5000;
// Frames after which the clock mapping that never became sure counts as failed.
constexpr int mostFrames = 200000;

// The server's clock now: the stamp of the event a property change makes.
Time serverTimeNow() {
    Display* display = XOpenDisplay(nullptr);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);
    const unsigned char value = 0;
    XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace, &value, 1);
    XEvent event;
    do XNextEvent(display, &event);
    while (event.type != PropertyNotify);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return event.xproperty.time;
}

// As SDL hands the X event on before the key event it makes of it: through the event filter.
void pushXKeyEvent(bool down, Time serverTime) {
    SDL_SysWMmsg message{};
    SDL_VERSION(&message.version);
    message.subsystem = SDL_SYSWM_X11;
    message.msg.x11.event.type = down ? KeyPress : KeyRelease;
    message.msg.x11.event.xkey.keycode = keycodeA;
    message.msg.x11.event.xkey.time = serverTime;
    SDL_Event event{};
    event.type = SDL_SYSWMEVENT;
    event.syswm.msg = &message;
    SDL_PushEvent(&event);
}

void pushSdlKey(const TopenGLEngine& window, bool down, SDL_Scancode scancode, SDL_Keycode sym) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.windowID = SDL_GetWindowID(window.getWindowHandle());
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = sym;
    SDL_PushEvent(&event);
}

}  // namespace

TEST(KeyTimes, AKeyEventNeverTakesAnotherKeysXTime) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile(folder.file("font.fnt"), sampleFontFileBytes());
    TopenGLEngine window;
    window.setup(320, 240, false, "key times", "font.fnt");
    const Time pressedAt = serverTimeNow() - longAgoMs;
    bool stamped = false;
    double otherKeyLag = -1.0;
    double staleKeyLag = -1.0;
    int frames = 0;
    window.onDraw = [&] {
        if (!stamped) {
            // Until the server's clock is mapped, A's own X time is not handed on; then it is.
            pushXKeyEvent(true, pressedAt);
            pushSdlKey(window, true, SDL_SCANCODE_A, SDLK_a);
            pushXKeyEvent(false, pressedAt);
            pushSdlKey(window, false, SDL_SCANCODE_A, SDLK_a);
        } else if (otherKeyLag < 0.0) {
            pushXKeyEvent(true, pressedAt);
            pushSdlKey(window, true, SDL_SCANCODE_B, SDLK_b);  // an input method's, with no X event
            pushSdlKey(window, true, SDL_SCANCODE_A, SDLK_a);  // A after the time went unclaimed
        }
        return ++frames < mostFrames;
    };
    window.onKeyDown = [&](uint16_t key, double atMs) {
        const double lag = systemHighResolutionMs() - atMs;
        if (!stamped) stamped = key == 'A' && lag > longAgoMs - 100.0;
        else if (key == 'B') otherKeyLag = lag;
        else if (key == 'A') staleKeyLag = lag;
        return staleKeyLag >= 0.0;
    };
    window.run();
    ASSERT_TRUE(stamped) << "the X key times never became sure";
    EXPECT_GE(otherKeyLag, 0.0);
    EXPECT_LT(otherKeyLag, 100.0) << "B is timed when handled, not at A's X time";
    EXPECT_GE(staleKeyLag, 0.0);
    EXPECT_LT(staleKeyLag, 100.0) << "the mismatched X time was dropped";
}
