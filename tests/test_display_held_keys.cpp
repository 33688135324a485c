// A held key or pad button is one press: the window passes on no key-down for a key already down.
#include <gtest/gtest.h>

#include <SDL.h>

#include <functional>
#include <string>

#include "platform/clockSeam.h"
#include "platform/input/gamePads.h"
#include "platform/input/keyEventPusher.h"
#include "platform/window/openGLClass.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"
#include "tests/support/virtualPad.h"

namespace {

constexpr uint16_t padKey = padButtonKey(0, 3);

// A small window in a folder holding the console font, writing "D" for every key-down and "U"
// for every key-up its handlers get; Escape ends its run.
struct TheldKeyWindow {
    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    TopenGLEngine window;
    std::string seen;

    TheldKeyWindow() {
        writeFile(folder.file("font.fnt"), sampleFontFileBytes());
        window.setup(320, 240, false, "held keys", "font.fnt");
        window.onKeyDown = [this](uint16_t key, double) {
            if (key == 27) return true;
            seen += "D";
            return false;
        };
        window.onKeyUp = [this](uint16_t, double) {
            seen += "U";
            return false;
        };
    }

    // Runs the window, handing it the events on its first frame.
    void runWith(const std::function<void()>& events) {
        bool pushed = false;
        window.onDraw = [&] {
            if (!pushed) events();
            pushed = true;
            return true;
        };
        window.run();
    }

    void pushKey(Uint32 type, SDL_Scancode scancode, SDL_Keycode sym, Uint8 repeat = 0) const {
        SDL_Event event{};
        event.type = type;
        event.key.windowID = SDL_GetWindowID(window.getWindowHandle());
        event.key.repeat = repeat;
        event.key.keysym.scancode = scancode;
        event.key.keysym.sym = sym;
        SDL_PushEvent(&event);
    }

    void pushA(Uint32 type, Uint8 repeat = 0) const { pushKey(type, SDL_SCANCODE_A, SDLK_a, repeat); }
    void pushEscape() const { pushKey(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE); }
};

void pushPadButton(SDL_JoystickID pad, Uint32 type) {
    SDL_Event event{};
    event.type = type;
    event.jbutton.which = pad;
    event.jbutton.button = padButtonOf(padKey).button;
    SDL_PushEvent(&event);
}

}  // namespace

TEST(HeldKeys, RepeatsAndKeyDownsOfAKeyAlreadyDownReachNoHandler) {
    TheldKeyWindow test;
    test.runWith([&] {
        test.pushA(SDL_KEYDOWN);
        test.pushA(SDL_KEYDOWN, 1);
        test.pushA(SDL_KEYDOWN);  // a second key-down without SDL's flag, as an input method makes
        test.pushA(SDL_KEYUP);
        test.pushA(SDL_KEYDOWN);
        test.pushA(SDL_KEYUP);
        test.pushEscape();
    });
    EXPECT_EQ(test.seen, "DUDU");
}

TEST(HeldKeys, AHeldPadButtonIsOnePress) {
    TvirtualPad pad;
    ASSERT_TRUE(pad.plugged()) << SDL_GetError();
    TheldKeyWindow test;
    test.runWith([&] {
        pushPadButton(pad.instance(), SDL_JOYBUTTONDOWN);
        pushPadButton(pad.instance(), SDL_JOYBUTTONDOWN);
        pushPadButton(pad.instance(), SDL_JOYBUTTONUP);
        pushPadButton(pad.instance(), SDL_JOYBUTTONDOWN);
        test.pushEscape();
    });
    EXPECT_EQ(test.seen, "DUD");
}

// A panel held by its key and clicked as well is one press; it goes up when the last of them lets go.
TEST(HeldKeys, APanelHeldByAKeyAndAClickIsOnePress) {
    TheldKeyWindow test;
    test.window.panelKeyAt = [](double, double) { return static_cast<int32_t>('A'); };
    const auto pushMouse = [&test](Uint32 type) {
        SDL_Event event{};
        event.type = type;
        event.button.windowID = SDL_GetWindowID(test.window.getWindowHandle());
        event.button.button = SDL_BUTTON_LEFT;
        event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.button.x = 10;
        event.button.y = 10;
        SDL_PushEvent(&event);
    };
    test.runWith([&] {
        test.pushA(SDL_KEYDOWN);
        pushMouse(SDL_MOUSEBUTTONDOWN);  // the held panel clicked: no second press
        test.pushA(SDL_KEYUP);           // the click still holds it
        pushMouse(SDL_MOUSEBUTTONUP);    // the last one lets it go
        pushMouse(SDL_MOUSEBUTTONDOWN);
        test.pushA(SDL_KEYDOWN);
        pushMouse(SDL_MOUSEBUTTONUP);
        test.pushA(SDL_KEYUP);
        test.pushEscape();
    });
    EXPECT_EQ(test.seen, "DUDU");
}

// Autoplay cancelled with a key down takes that key's key-up back: its next press must still count.
TEST(HeldKeys, PushedKeysAreNeverHeld) {
    TheldKeyWindow test;
    TkeyPusher pusher;
    test.runWith([&] {
        const double now = systemHighResolutionMs();
        pusher.schedule(now, 'A', true);
        pusher.schedule(now + 1, 'A', true);
        pusher.scheduleQuit(now + 2);
    });
    EXPECT_EQ(test.seen, "DD");
}
