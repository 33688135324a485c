// The window's loop contract with a real window and real X key events under Xvfb.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"
#include "platform/input/keyEventPusher.h"
#include "platform/window/openGLClass.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"

namespace {

constexpr uint16_t keyA = 'A';

// A window object set up for a small test window, in a folder holding the console font.
struct TtestWindow {
    TtemporaryFolder folder;
    TworkingDirectory inFolder{folder.path()};
    TopenGLEngine window;
    explicit TtestWindow(bool fullscreen = false) {
        writeFile(folder.file("font.fnt"), sampleFontFileBytes());
        window.setup(320, 240, fullscreen, "test window", "font.fnt");
    }
};

// A display that refuses every full-screen mode it lists, while the object lives.
struct TrefusingDisplay {
    TrefusingDisplay() {
        setDisplayModeSwitch([](TwindowHandle, int32_t, int32_t) { return false; });
    }
    ~TrefusingDisplay() { setDisplayModeSwitch(nullptr); }
};

// What the window looked like to a draw handler.
struct TwindowLook {
    bool fullscreen = false;
    int width = 0;
    int height = 0;
    int cursor = -1;
};

TwindowLook lookAt(const TopenGLEngine& window) {
    TwindowLook look;
    look.fullscreen = (SDL_GetWindowFlags(window.getWindowHandle()) & SDL_WINDOW_FULLSCREEN) != 0;
    SDL_GetWindowSize(window.getWindowHandle(), &look.width, &look.height);
    look.cursor = SDL_ShowCursor(SDL_QUERY);
    return look;
}

// Runs the game and presses Escape once the first scene draws.
void runGameUntilEscape(TtrellikGL& game) {
    const uint64_t presentedBefore = presentedFrameCount();
    std::atomic<bool> finished{false};
    std::thread presser([&] {
        while (!finished && presentedFrameCount() < presentedBefore + 5) std::this_thread::yield();
        sendXKey("Escape", true);
        sendXKey("Escape", false);
    });
    runGame(game, defaultLaunchParameters(builtProgram("launcher/TrellikGL38")));
    finished = true;
    presser.join();
}

}  // namespace

TEST(WindowLoop, DrawReturningFalseEndsTheRunWithoutPresenting) {
    TtestWindow test;
    int draws = 0;
    uint64_t presentedBefore = 0;
    test.window.onInitialise = [&] { presentedBefore = presentedFrameCount(); };
    test.window.onDraw = [&] { return ++draws < 4; };
    test.window.run();
    EXPECT_EQ(draws, 4);
    EXPECT_EQ(presentedFrameCount() - presentedBefore, 3u);
}

TEST(WindowLoop, UnassignedDrawEndsTheRun) {
    TtestWindow test;
    test.window.run();
    SUCCEED();
}

TEST(WindowLoop, HandlerSwappedFromInsideAnotherRunsFromTheNextPass) {
    TtestWindow test;
    std::vector<std::string> calls;
    test.window.onDraw = [&] {
        calls.push_back("first");
        test.window.onDraw = [&] {
            calls.push_back("second");
            return false;
        };
        calls.push_back("first still running");
        return true;
    };
    test.window.run();
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "first still running", "second"}));
}

TEST(WindowLoop, KeyHandlerReturningTrueEndsTheRunAfterTheMessage) {
    TtestWindow test;
    int keyDowns = 0;
    bool sent = false;
    test.window.onDraw = [&] {
        if (!sent) {
            sendXKey("a", true);
            sendXKey("a", false);
            sent = true;
        }
        return true;
    };
    test.window.onKeyDown = [&](uint16_t key, double) {
        ++keyDowns;
        return key == keyA;
    };
    test.window.run();
    EXPECT_EQ(keyDowns, 1);
}

// Counts the key-downs SDL makes for a held key's repeats as they join the queue.
int countRepeats(void* repeats, SDL_Event* event) {
    if (event->type == SDL_KEYDOWN && event->key.repeat) ++*static_cast<std::atomic<int>*>(repeats);
    return 0;
}

// The X server repeats a held key; the repeats reach no handler.
TEST(WindowLoop, HeldKeyIsOneKeyDownHoweverOftenTheServerRepeatsIt) {
    TtestWindow test;
    int keyDowns = 0;
    int keyUps = 0;
    bool pressed = false;
    bool released = false;
    std::atomic<int> repeats{0};
    SDL_AddEventWatch(countRepeats, &repeats);
    test.window.onDraw = [&] {
        if (!pressed) {
            sendXKey("b", true);
            pressed = true;
        }
        if (repeats >= 3 && !released) {
            sendXKey("b", false);
            released = true;
        }
        return true;
    };
    test.window.onKeyDown = [&](uint16_t key, double) {
        if (key == 'B') ++keyDowns;
        return false;
    };
    test.window.onKeyUp = [&](uint16_t key, double) {
        if (key == 'B') ++keyUps;
        return key == 'B';
    };
    test.window.run();
    SDL_DelEventWatch(countRepeats, &repeats);
    EXPECT_GE(repeats, 3);
    EXPECT_EQ(keyDowns, 1);
    EXPECT_EQ(keyUps, 1);
}

TEST(WindowLoop, SystemKeysAreNotPassedOn) {
    TtestWindow test;
    std::vector<uint16_t> keys;
    int frame = 0;
    test.window.onDraw = [&] {
        if (++frame == 1) {
            sendXKey("F10", true);
            sendXKey("F10", false);
            sendXKey("Alt_L", true);
            sendXKey("r", true);
            sendXKey("r", false);
            sendXKey("Alt_L", false);
            sendXKey("Escape", true);
            sendXKey("Escape", false);
        }
        return true;
    };
    test.window.onKeyDown = [&](uint16_t key, double) {
        keys.push_back(key);
        return key == keyEscape;
    };
    test.window.run();
    EXPECT_EQ(keys, (std::vector<uint16_t>{keyEscape}));
}

TEST(WindowLoop, KeypadFollowsTheServersNumLock) {
    TtestWindow test;
    std::vector<uint16_t> keys;
    int frame = 0;
    bool fivePressed = false;
    bool secondHalfSent = false;
    // SDL takes a key's release as a held key repeating when the same key goes down again within
    // 2 ms: the second press of each key is sent only once the first release was handled.
    test.window.onDraw = [&] {
        if (++frame == 1) {
            setXNumLock(false);
            sendXKey("Num_Lock", true);
            sendXKey("Num_Lock", false);
            sendXKey("KP_5", true);
            sendXKey("KP_5", false);
        }
        if (fivePressed && !secondHalfSent) {
            sendXKey("Num_Lock", true);
            sendXKey("Num_Lock", false);
            sendXKey("KP_Begin", true);
            sendXKey("KP_Begin", false);
            sendXKey("KP_Enter", true);
            sendXKey("KP_Enter", false);
            secondHalfSent = true;
        }
        return true;
    };
    test.window.onKeyDown = [&](uint16_t key, double) {
        if (key != 144) keys.push_back(key);
        return keys.size() == 3;
    };
    test.window.onKeyUp = [&](uint16_t key, double) {
        if (key == 101) fivePressed = true;
        return false;
    };
    test.window.run();
    EXPECT_EQ(keys, (std::vector<uint16_t>{101, 12, 13}));
}

// Busy until the high-resolution clock reaches a time: a frame that takes long on purpose.
void busyUntil(double atMs) {
    while (systemHighResolutionMs() < atMs) {
    }
}

TEST(KeyTimes, AKeySentDuringASlowFrameIsTimedWhenTheServerGotIt) {
    TtestWindow test;
    double sentBefore = 0.0;
    double sentAfter = 0.0;
    double pressedAt = 0.0;
    double handledAt = 0.0;
    test.window.onDraw = [&] {
        if (sentBefore != 0.0) return true;
        const double frameStart = systemHighResolutionMs();
        // Long enough for the clock mapping's first round trips, which run on their own thread.
        busyUntil(frameStart + 300.0);
        sentBefore = systemHighResolutionMs();
        sendXKey("a", true);
        sendXKey("a", false);
        sentAfter = systemHighResolutionMs();
        busyUntil(sentAfter + 120.0);
        return true;
    };
    test.window.onKeyDown = [&](uint16_t key, double atMs) {
        pressedAt = atMs;
        handledAt = systemHighResolutionMs();
        return key == keyA;
    };
    test.window.run();
    ASSERT_NE(pressedAt, 0.0);
    EXPECT_GE(handledAt - sentAfter, 100.0) << "the loop got to the key only after the frame";
    // The server's stamp is whole ms and the mapping is known to a fraction of one.
    EXPECT_GE(pressedAt, sentBefore - 1.5);
    EXPECT_LE(pressedAt, sentAfter + 1.5);
}

// SDL does not clear the spare field its own key events carry a stamp in: whatever it holds must
// never pass for a press time, with the X key times on or off.
TEST(KeyTimes, SdlsOwnKeyEventsWithoutAStampAreTimedWhenHandled) {
    for (const bool dispatchTimes : {false, true}) {
        if (dispatchTimes) setenv("TRELLIK_PRESS_TIME", "dispatch", 1);
        TtestWindow test;
        double pressedAt = 0.0;
        double handledAt = 0.0;
        bool pushed = false;
        test.window.onDraw = [&] {
            if (pushed) return true;
            SDL_Event event{};
            event.type = SDL_KEYDOWN;
            event.key.windowID = SDL_GetWindowID(test.window.getWindowHandle());
            event.key.keysym.sym = SDLK_a;
            event.key.keysym.scancode = SDL_SCANCODE_A;
            event.key.keysym.unused = 123456789;
            SDL_PushEvent(&event);
            pushed = true;
            return true;
        };
        test.window.onKeyDown = [&](uint16_t key, double atMs) {
            pressedAt = atMs;
            handledAt = systemHighResolutionMs();
            return key == keyA;
        };
        test.window.run();
        unsetenv("TRELLIK_PRESS_TIME");
        EXPECT_NEAR(pressedAt, handledAt, 1.0) << (dispatchTimes ? "dispatch times" : "X key times");
    }
}

TEST(KeyTimes, PushedKeysCarryTheirScheduledTime) {
    TtestWindow test;
    TkeyPusher pusher;
    double scheduled = 0.0;
    double pressedAt = 0.0;
    test.window.onDraw = [&] {
        if (scheduled != 0.0) return true;
        scheduled = systemHighResolutionMs() + 5.0;
        pusher.schedulePress(scheduled, keyA, 1.0);
        busyUntil(scheduled + 80.0);
        return true;
    };
    test.window.onKeyDown = [&](uint16_t key, double atMs) {
        pressedAt = atMs;
        return key == keyA;
    };
    test.window.run();
    EXPECT_NEAR(pressedAt, scheduled, 0.001);
}

// Autoplay and replays press pad-bound panels too: a pad code has no keyboard key to push.
TEST(KeyTimes, PushedPadButtonsReachTheHandlersWithTheirCode) {
    TtestWindow test;
    TkeyPusher pusher;
    constexpr uint16_t padButton = 0x1000 + 0x80 + 12;
    std::vector<uint16_t> seen;
    bool scheduled = false;
    test.window.onDraw = [&] {
        if (!scheduled) pusher.schedulePress(systemHighResolutionMs(), padButton, 1.0);
        scheduled = true;
        return true;
    };
    test.window.onKeyDown = [&](uint16_t key, double) {
        seen.push_back(key);
        return false;
    };
    test.window.onKeyUp = [&](uint16_t key, double) {
        seen.push_back(key);
        return true;
    };
    test.window.run();
    EXPECT_EQ(seen, (std::vector<uint16_t>{padButton, padButton}));
}

TEST(WindowRelease, AnErrorLeavingTheLoopLeavesFullScreenAndShowsTheCursorFirst) {
    TtestWindow test(true);
    TwindowLook whileOpen;
    test.window.onDraw = [&]() -> bool {
        whileOpen = lookAt(test.window);
        throw std::runtime_error("a handler failed");
    };
    EXPECT_THROW(test.window.run(), std::runtime_error);
    EXPECT_TRUE(whileOpen.fullscreen);
    EXPECT_EQ(whileOpen.cursor, SDL_DISABLE);
    EXPECT_EQ(test.window.getWindowHandle(), nullptr);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

TEST(WindowOpening, ARefusedFullScreenModeAsksAndGoesOnInAWindowOfTheRequestedSize) {
    TmessageRecorder messages;
    const TrefusingDisplay display;
    TtestWindow test(true);
    TwindowLook look;
    test.window.onDraw = [&] {
        look = lookAt(test.window);
        return false;
    };
    test.window.run();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "This FullScreen Mode Is Not Supported. Use Windowed Mode Instead?");
    EXPECT_EQ(messages.messages()[0].caption, "test window");
    EXPECT_EQ(messages.messages()[0].kind, TmessageKind::questionYesNo);
    EXPECT_FALSE(look.fullscreen);
    EXPECT_EQ(look.width, 320);
    EXPECT_EQ(look.height, 240);
    EXPECT_EQ(look.cursor, SDL_ENABLE);
}

TEST(WindowGeometry, ViewportAndProjectionFollowTheClientSize) {
    TtestWindow test;
    GLint viewport[4] = {};
    GLdouble projection[16] = {};
    GLdouble expected[16] = {};
    test.window.onDraw = [&] {
        setViewport(300, 0);
        glGetIntegerv(GL_VIEWPORT, viewport);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, 300.0, 0.1, 100.0);
        glGetDoublev(GL_PROJECTION_MATRIX, expected);
        glMatrixMode(GL_MODELVIEW);
        return false;
    };
    test.window.run();
    EXPECT_EQ(viewport[2], 300);
    EXPECT_EQ(viewport[3], 1);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(projection[i], expected[i], 1e-9) << i;
}

TEST(WindowGeometry, ResizeEventSetsTheViewport) {
    TtestWindow test;
    GLint viewport[4] = {};
    int frame = 0;
    test.window.onDraw = [&] {
        ++frame;
        if (frame == 1) SDL_SetWindowSize(test.window.getWindowHandle(), 400, 200);
        glGetIntegerv(GL_VIEWPORT, viewport);
        return !(viewport[2] == 400 && viewport[3] == 200) && frame < 100000;
    };
    test.window.run();
    EXPECT_EQ(viewport[2], 400);
    EXPECT_EQ(viewport[3], 200);
}

TEST(GameRun, EscapeInTheFirstSceneEndsTheRun) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile(folder.file("font.fnt"), sampleFontFileBytes());
    auto game = std::make_unique<TtrellikGL>();
    runGameUntilEscape(*game);
    EXPECT_EQ(game->launch.keys[15], 'M');
    EXPECT_DOUBLE_EQ(game->depth, -7.0 / 0.703);
}

// The record goes right after the run in a direct start; nothing may still point at it.
TEST(GameRun, TheRunReleasesItsTimersAndHandlersBeforeItReturns) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile(folder.file("font.fnt"), sampleFontFileBytes());
    auto game = std::make_unique<TtrellikGL>();
    game->wheelTimer = new TSVATimer();
    game->playTick = new TSVATimer();
    runGameUntilEscape(*game);
    EXPECT_EQ(game->wheelTimer, nullptr);
    EXPECT_EQ(game->playTick, nullptr);
    EXPECT_FALSE(game->window->onDraw);
    EXPECT_FALSE(game->window->onKeyDown);
}
