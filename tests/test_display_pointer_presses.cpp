// Mouse buttons and fingers on panels reach the key handlers as the panel's key, timed by the X
// server's clock where the event came from it.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <string>

#include "platform/clockSeam.h"
#include "platform/window/openGLClass.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"

namespace {

constexpr Time longAgoMs = 5000;
constexpr int mostFrames = 200000;

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

void pushXButtonEvent(bool down, Time serverTime) {
    SDL_SysWMmsg message{};
    SDL_VERSION(&message.version);
    message.subsystem = SDL_SYSWM_X11;
    message.msg.x11.event.type = down ? ButtonPress : ButtonRelease;
    message.msg.x11.event.xbutton.button = 1;
    message.msg.x11.event.xbutton.time = serverTime;
    SDL_Event event{};
    event.type = SDL_SYSWMEVENT;
    event.syswm.msg = &message;
    SDL_PushEvent(&event);
}

void pushMouseButton(bool down, int x, Uint32 which = 0) {
    SDL_Event event{};
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.which = which;
    event.button.button = SDL_BUTTON_LEFT;
    event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.button.x = x;
    event.button.y = 100;
    SDL_PushEvent(&event);
}

void pushFinger(bool down, SDL_FingerID finger, float x) {
    SDL_Event event{};
    event.type = down ? SDL_FINGERDOWN : SDL_FINGERUP;
    event.tfinger.touchId = 7;
    event.tfinger.fingerId = finger;
    event.tfinger.x = x;
    event.tfinger.y = 0.5f;
    SDL_PushEvent(&event);
}

}  // namespace

// The left half of the window is the panel of key 'R', the right half is no panel.
TEST(PointerPresses, ClicksAndTouchesOnAPanelPressItsKeyAtTheirOwnTime) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile(folder.file("font.fnt"), sampleFontFileBytes());
    TopenGLEngine window;
    window.setup(320, 240, false, "pointer presses", "font.fnt");
    window.panelKeyAt = [](double x, double) { return x < 160.0 ? int32_t{'R'} : -1; };
    const Time clickedAt = serverTimeNow() - longAgoMs;
    bool stamped = false;
    bool pushedRest = false;
    std::string seen;
    double lastLag = 0.0;
    int frames = 0;
    window.onDraw = [&] {
        if (!stamped) {
            // Until the server's clock is mapped, the click is timed when handled; then by the server.
            pushXButtonEvent(true, clickedAt);
            pushMouseButton(true, 10);
            pushXButtonEvent(false, clickedAt);
            pushMouseButton(false, 10);
        } else if (!pushedRest) {
            pushedRest = true;
            pushMouseButton(true, 300);                    // off the panels
            pushMouseButton(false, 300);
            pushMouseButton(true, 10, SDL_TOUCH_MOUSEID);  // a touch's copy as a click
            pushMouseButton(false, 10, SDL_TOUCH_MOUSEID);
            pushFinger(true, 1, 0.1f);
            pushFinger(true, 1, 0.1f);  // the same finger again, as no real touch does
            pushFinger(true, 2, 0.2f);
            pushFinger(false, 1, 0.1f);
            pushFinger(false, 2, 0.2f);
            pushMouseButton(true, 10);
            pushMouseButton(false, 10);
        }
        return ++frames < mostFrames;
    };
    window.onKeyDown = [&](uint16_t key, double atMs) {
        const double lag = systemHighResolutionMs() - atMs;
        if (!stamped) {
            stamped = lag > longAgoMs - 100.0;
            return false;
        }
        seen += "D" + std::string(1, static_cast<char>(key));
        lastLag = lag;
        return false;
    };
    window.onKeyUp = [&](uint16_t key, double) {
        if (!pushedRest) return false;
        seen += "U" + std::string(1, static_cast<char>(key));
        return seen.size() >= 8;
    };
    window.run();
    ASSERT_TRUE(stamped) << "the clicks never got the X server's time";
    EXPECT_EQ(seen, "DRURDRUR") << "two fingers press once and let go once; the copy and the miss press nothing";
    EXPECT_GE(lastLag, 0.0);
    EXPECT_LT(lastLag, 100.0) << "a click without its X event is timed by SDL, not by a stale X time";
}
