// An X key event's time goes only to the SDL key event made from it, in the game window's loop.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include "platform/clockSeam.h"
#include "platform/window/openGLClass.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"

namespace {

// X key code 38 is the A key of the server's usual layout; the test pairs it with SDL's A itself.
constexpr unsigned int keycodeA = 38;
// Long enough ago on the server's clock (its first second) that a key stamped with it is
// unmistakable, and never later than now.
constexpr Time longAgo = 1;
// Frames after which the clock mapping that never became sure counts as failed.
constexpr int mostFrames = 200000;

// As SDL hands the X event on before the key event it makes of it: through the event filter.
void pushXKeyEvent(bool down) {
    SDL_SysWMmsg message{};
    SDL_VERSION(&message.version);
    message.subsystem = SDL_SYSWM_X11;
    message.msg.x11.event.type = down ? KeyPress : KeyRelease;
    message.msg.x11.event.xkey.keycode = keycodeA;
    message.msg.x11.event.xkey.time = longAgo;
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
    bool stamped = false;
    double otherKeyLag = -1.0;
    double staleKeyLag = -1.0;
    int frames = 0;
    window.onDraw = [&] {
        if (!stamped) {
            // Until the server's clock is mapped, A's own X time is not handed on; then it is.
            pushXKeyEvent(true);
            pushSdlKey(window, true, SDL_SCANCODE_A, SDLK_a);
            pushXKeyEvent(false);
            pushSdlKey(window, false, SDL_SCANCODE_A, SDLK_a);
        } else if (otherKeyLag < 0.0) {
            pushXKeyEvent(true);
            pushSdlKey(window, true, SDL_SCANCODE_B, SDLK_b);  // an input method's, with no X event
            pushSdlKey(window, true, SDL_SCANCODE_A, SDLK_a);  // A after the time went unclaimed
        }
        return ++frames < mostFrames;
    };
    window.onKeyDown = [&](uint16_t key, double atMs) {
        const double lag = systemHighResolutionMs() - atMs;
        if (!stamped) stamped = key == 'A' && lag > 1000.0;
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
