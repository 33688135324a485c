// The GL window on SDL2: opening, the message loop, event routing and release.
#include "platform/window/openGLClass.h"

#include <SDL.h>
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "platform/clockSeam.h"
#include "platform/input/eventStamps.h"
#include "platform/window/globalConsoleCode.h"
#include "platform/input/keyEventPusher.h"
#include "platform/input/gamePads.h"
#include "platform/input/heldKeys.h"
#include "platform/input/pointerPresses.h"
#include "platform/window/mainThreadCall.h"
#include "platform/window/messageBox.h"
#include "platform/input/virtualKeys.h"
#include "platform/input/xKeyTimes.h"

namespace {

// The window state of the process; there is only ever one game window.
struct TwindowState {
    SDL_GLContext renderContext = nullptr;
    SDL_Window* window = nullptr;
    bool windowActive = false;
    int32_t quitRequested = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool fullscreen = false;
    bool closeNotified = false;
    std::string title;
    std::string fontFileName;
    TopenGLEngine* engine = nullptr;
    // While the window is open: the X server's times of its key events. Not a smart pointer:
    // when the X connection breaks, Xlib exits the process from inside a call, and the clock
    // thread must not be joined from this object's static destructor then (it is stuck in Xlib).
    TxKeyTimes* keyTimes = nullptr;
    // Open while the window is; their buttons play like keys.
    TgamePads pads;
    // The player's keys (by scancode) and pad buttons (by pad key code) that are down.
    TheldKeys heldKeys;
    TvirtualKeyHolds virtualKeyHolds;
    // The panel keys mouse buttons and fingers hold down.
    TpointerPresses pointers;
};

TwindowState windowState;
TdisplayModeSwitch installedModeSwitch = nullptr;
int32_t rotationDegrees = 0;
std::atomic<uint64_t> framesPresented{0};

void swapBuffers() {
    SDL_GL_SwapWindow(windowState.window);
    framesPresented.fetch_add(1, std::memory_order_relaxed);
}


void showError(const char* text) {
    messageBox(text, "Error", TmessageKind::error);
}

void showWarning(const char* text) {
    messageBox(text, "Error", TmessageKind::warning);
}

// Safe to call again: each step only undoes what is still there. The cursor is hidden before
// the window exists, so it comes back even when the window never opened.
void releaseWindow() {
    if (windowState.fullscreen) {
        if (windowState.window) SDL_SetWindowFullscreen(windowState.window, 0);
        SDL_ShowCursor(SDL_ENABLE);
    }
    if (windowState.renderContext) {
        if (SDL_GL_MakeCurrent(windowState.window, nullptr) != 0)
            messageBox("Release of DC and RC failed.", " Shutdown Error", TmessageKind::error);
        SDL_GL_DeleteContext(windowState.renderContext);
        windowState.renderContext = nullptr;
    }
    if (windowState.window) {
        SDL_DestroyWindow(windowState.window);
        windowState.window = nullptr;
    }
    delete windowState.keyTimes;
    windowState.keyTimes = nullptr;
    windowState.windowActive = false;
    windowState.pads.close();
    windowState.heldKeys.clear();
    windowState.virtualKeyHolds.clear();
    windowState.pointers.clear();
}

// Finds the display mode closest to the request; false when the display offers none.
bool chooseFullscreenMode(int32_t width, int32_t height, SDL_DisplayMode& mode) {
    SDL_DisplayMode wanted{};
    wanted.w = width;
    wanted.h = height;
    return SDL_GetClosestDisplayMode(0, &wanted, &mode) != nullptr;
}

// Puts the display into the mode closest to the request and checks that it is in force.
bool switchDisplayMode(TwindowHandle window, int32_t width, int32_t height) {
    SDL_DisplayMode mode{};
    if (!chooseFullscreenMode(width, height, mode) || SDL_SetWindowDisplayMode(window, &mode) != 0) return false;
    SDL_DisplayMode current{};
    const int display = SDL_GetWindowDisplayIndex(window);
    return display >= 0 && SDL_GetCurrentDisplayMode(display, &current) == 0 && current.w == mode.w &&
           current.h == mode.h;
}

bool displayTookMode(TwindowHandle window, int32_t width, int32_t height) {
    const TdisplayModeSwitch modeSwitch = installedModeSwitch ? installedModeSwitch : switchDisplayMode;
    return modeSwitch(window, width, height);
}

bool askForWindowedMode() {
    const TmessageResult answer = messageBox("This FullScreen Mode Is Not Supported. Use Windowed Mode Instead?",
                                             windowState.title, TmessageKind::questionYesNo);
    if (answer == TmessageResult::yes) return true;
    showError("Program Will Now Close.");
    return false;
}

// Turns the full-screen window into a normal one of the requested client size.
void leaveFullscreen(int32_t width, int32_t height) {
    SDL_SetWindowFullscreen(windowState.window, 0);
    SDL_SetWindowBordered(windowState.window, SDL_TRUE);
    SDL_SetWindowResizable(windowState.window, SDL_TRUE);
    SDL_SetWindowSize(windowState.window, width, height);
    SDL_ShowCursor(SDL_ENABLE);
    windowState.fullscreen = false;
}

void requestGLAttributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
}

bool createWindowAndContext(int32_t width, int32_t height) {
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN;
    if (windowState.fullscreen) {
        flags = SDL_WINDOW_OPENGL | SDL_WINDOW_FULLSCREEN | SDL_WINDOW_SHOWN;
        SDL_ShowCursor(SDL_DISABLE);
    }
    windowState.window = SDL_CreateWindow(windowState.title.c_str(), 0, 0, width, height, flags);
    if (!windowState.window) {
        releaseWindow();
        showWarning("Window creation error.");
        return false;
    }
    // The display can still refuse a mode it lists; the player is asked as when it lists none,
    // with the full screen already left so the question is not hidden behind it.
    if (windowState.fullscreen && !displayTookMode(windowState.window, width, height)) {
        leaveFullscreen(width, height);
        if (!askForWindowedMode()) {
            releaseWindow();
            return false;
        }
    }
    windowState.renderContext = SDL_GL_CreateContext(windowState.window);
    if (!windowState.renderContext) {
        releaseWindow();
        showWarning("Can't create a GL rendering context.");
        return false;
    }
    if (SDL_GL_MakeCurrent(windowState.window, windowState.renderContext) != 0) {
        releaseWindow();
        showWarning("Can't activate the GL rendering context.");
        return false;
    }
    return true;
}

bool openWindow(int32_t width, int32_t height, bool fullscreen) {
    windowState.fullscreen = fullscreen;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        showError("Failed To Register The Window Class.");
        return false;
    }
    registerMainThreadCalls();
    SDL_DisableScreenSaver();
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_DisplayMode mode{};
    if (windowState.fullscreen && !chooseFullscreenMode(width, height, mode)) {
        if (!askForWindowedMode()) return false;
        windowState.fullscreen = false;
    }
    requestGLAttributes();
    if (!createWindowAndContext(width, height)) return false;
    SDL_GL_SetSwapInterval(0);
    windowState.keyTimes = new TxKeyTimes();
    SDL_RaiseWindow(windowState.window);
    windowState.windowActive = true;
    setViewport(width, height);
    setInitialGLState();
    windowState.pads.open();
    return true;
}

void endLoop() {
    windowState.quitRequested = -1;
}

// Whether the event's spare field holds a stamp of ours: SDL does not clear it on the events it
// makes, so it is read only where the X key times cleared or stamped it, or autoplay pushed it.
bool carriesStamp(const SDL_KeyboardEvent& key) {
    if (key.keysym.unused == 0) return false;
    return key.windowID == pushedKeyWindowId || (windowState.keyTimes && windowState.keyTimes->active());
}

// When the key went down or up: the time stamped on the event (the X server's, or autoplay's
// schedule), or without a stamp the time it is handled. Never later than now.
double keyEventTime(const SDL_KeyboardEvent& key) {
    const double now = activeClock().highResolutionMs();
    if (!carriesStamp(key)) return now;
    return std::min(now, eventTimeOf(key.keysym.unused, now));
}

void reportKeyTimeFallback() {
    if (windowState.keyTimes && windowState.keyTimes->takeFallbackReport()) appendToDebugLog(keyTimeFallbackLine);
}

void dispatchVirtualKey(uint16_t virtualKey, bool down, double atMs) {
    // A copy, so a handler that replaces itself keeps running on intact state.
    const TkeyEvent handler = down ? windowState.engine->onKeyDown : windowState.engine->onKeyUp;
    if (handler && handler(virtualKey, atMs)) endLoop();
}

// A key, pad button or pointer of the player's: a virtual key another of them holds already makes no
// second press, and goes up only with the last of them.
void dispatchHeldVirtualKey(uint16_t virtualKey, bool down, double atMs) {
    TvirtualKeyHolds& holds = windowState.virtualKeyHolds;
    if (down ? holds.press(virtualKey) : holds.release(virtualKey)) dispatchVirtualKey(virtualKey, down, atMs);
}

// Scancodes lie below SDL_NUM_SCANCODES and pad key codes from padKeyBase up; a key SDL knows no
// scancode of goes by its virtual key, above both.
uint32_t heldKeyOf(const SDL_KeyboardEvent& key, int virtualKey) {
    constexpr uint32_t byVirtualKey = 0x10000;
    if (key.keysym.scancode != SDL_SCANCODE_UNKNOWN) return static_cast<uint32_t>(key.keysym.scancode);
    return byVirtualKey | static_cast<uint32_t>(virtualKey);
}

// A held key is one press: its repeats (SDL's flag, or another key-down before its key-up, as an
// input method can make) reach no scene, so none judges, keeps or acts on a held key twice.
// Pushed keys are autoplay's and replays' own presses, never repeats, and one cancelled while
// down has no key-up to come: they are not held here.
bool isHeldKeyRepeat(const SDL_KeyboardEvent& key, int virtualKey, bool down) {
    if (key.windowID == pushedKeyWindowId) return down && key.repeat;
    const uint32_t held = heldKeyOf(key, virtualKey);
    if (!down) {
        windowState.heldKeys.release(held);
        return false;
    }
    return key.repeat || !windowState.heldKeys.press(held);
}

// The virtual key of a key event; a pushed pad button carries its code in the spare bytes.
int virtualKeyOf(const SDL_KeyboardEvent& key) {
    if (key.windowID == pushedKeyWindowId && key.keysym.scancode == SDL_SCANCODE_UNKNOWN)
        return key.padding2 | key.padding3 << 8;
    return virtualKeyFromSdl(key.keysym.sym, key.keysym.scancode, key.keysym.mod);
}

void dispatchKey(const SDL_KeyboardEvent& key, bool down) {
    const int virtualKey = virtualKeyOf(key);
    if (virtualKey == noVirtualKey || !windowState.engine) return;
    if (isHeldKeyRepeat(key, virtualKey, down)) return;
    const double atMs = keyEventTime(key);
    reportKeyTimeFallback();
    if (key.windowID == pushedKeyWindowId) dispatchVirtualKey(static_cast<uint16_t>(virtualKey), down, atMs);
    else dispatchHeldVirtualKey(static_cast<uint16_t>(virtualKey), down, atMs);
}

// A pad button goes to the key handlers with its pad key code; it is judged when dispatched,
// since SDL stamps joystick events only with the time it read them.
// SDL stamps pad events only with the moment it pumped them, which is no better than now.
void dispatchPadEvent(const SDL_Event& event) {
    TpadKeyEvent pad;
    if (!windowState.pads.keyFromEvent(event, pad) || !windowState.engine) return;
    if (!pad.down) windowState.heldKeys.release(pad.key);
    else if (!windowState.heldKeys.press(pad.key)) return;
    dispatchHeldVirtualKey(pad.key, pad.down, activeClock().highResolutionMs());
}

// When a mouse button went down or up: the X server's time the X key times put on the event, else
// SDL's stamp of when it read the event. Never later than now.
double pointerEventTime(uint32_t timestamp, bool serverStamped) {
    const double now = activeClock().highResolutionMs();
    if (serverStamped && windowState.keyTimes && windowState.keyTimes->active())
        return std::min(now, eventTimeOf(timestamp, now));
    return timeOfSdlTicks(timestamp, SDL_GetTicks(), now);
}

// A pointer down on a panel presses the panel's key, its up lets it go, through the key handlers.
void dispatchPointer(uint64_t pointer, bool down, double x, double y, double atMs) {
    if (!windowState.engine) return;
    if (!down) {
        const std::optional<int32_t> key = windowState.pointers.release(pointer);
        if (key) dispatchHeldVirtualKey(static_cast<uint16_t>(*key), false, atMs);
        return;
    }
    const TpanelKeyLocator locate = windowState.engine->panelKeyAt;
    const int32_t key = locate ? locate(x, y) : -1;
    if (key < 0 || !windowState.pointers.press(pointer, key)) return;
    dispatchHeldVirtualKey(static_cast<uint16_t>(key), true, atMs);
}

void dispatchMouseButton(const SDL_MouseButtonEvent& button) {
    // Touches come again as fingers; their copies as mouse clicks would press twice.
    if (button.which == SDL_TOUCH_MOUSEID) return;
    const double atMs = pointerEventTime(button.timestamp, button.padding1 == serverStampMark);
    dispatchPointer(mousePointer(button.button), button.state == SDL_PRESSED, button.x, button.y, atMs);
}

void dispatchFinger(const SDL_TouchFingerEvent& finger) {
    const double atMs = pointerEventTime(finger.timestamp, false);
    dispatchPointer(fingerPointer(finger.touchId, finger.fingerId), finger.type == SDL_FINGERDOWN,
                    finger.x * windowState.width, finger.y * windowState.height, atMs);
}

void notifyClose() {
    if (windowState.closeNotified || !windowState.engine) return;
    windowState.closeNotified = true;
    const TnullArgsProcedure handler = windowState.engine->onClose;
    if (handler) handler();
}

void dispatchWindowEvent(const SDL_WindowEvent& event) {
    switch (event.event) {
        case SDL_WINDOWEVENT_MINIMIZED: windowState.windowActive = false; break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_MAXIMIZED: windowState.windowActive = true; break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: setViewport(event.data1, event.data2); break;
        // Key-ups made while another window has the focus never come here.
        case SDL_WINDOWEVENT_FOCUS_GAINED:
        case SDL_WINDOWEVENT_FOCUS_LOST:
            windowState.heldKeys.clear();
            windowState.virtualKeyHolds.clear();
    windowState.virtualKeyHolds.clear();
            windowState.pointers.clear();
            break;
        case SDL_WINDOWEVENT_CLOSE: {
            notifyClose();
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
            break;
        }
        default: break;
    }
}

void dispatchEvent(const SDL_Event& event) {
    if (runMainThreadCall(&event)) return;
    switch (event.type) {
        case SDL_QUIT:
            notifyClose();
            endLoop();
            break;
        case SDL_WINDOWEVENT: dispatchWindowEvent(event.window); break;
        case SDL_KEYDOWN: dispatchKey(event.key, true); break;
        case SDL_KEYUP: dispatchKey(event.key, false); break;
        case SDL_TEXTINPUT:
            if (windowState.engine && windowState.engine->onTextInput) windowState.engine->onTextInput(event.text.text);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: dispatchMouseButton(event.button); break;
        case SDL_FINGERDOWN:
        case SDL_FINGERUP: dispatchFinger(event.tfinger); break;
        case SDL_JOYDEVICEADDED:
        case SDL_JOYDEVICEREMOVED:
        case SDL_JOYBUTTONDOWN:
        case SDL_JOYBUTTONUP: dispatchPadEvent(event); break;
        default: break;
    }
}

// One pass without a message: draw (while active) and present, unless the draw handler ends the run.
void drawPass() {
    if (windowState.windowActive) {
        const TnullArgsFunctionReturningBoolean draw = windowState.engine->onDraw;
        if (!draw || !draw()) {
            endLoop();
            return;
        }
    }
    swapBuffers();
}

// Releases the window when the run ends, also when an error leaves the loop, so the error box
// that follows never sits behind a full-screen window that stopped drawing.
struct TwindowRelease {
    TwindowRelease() = default;
    TwindowRelease(const TwindowRelease&) = delete;
    TwindowRelease& operator=(const TwindowRelease&) = delete;
    ~TwindowRelease() { releaseWindow(); }
};

}  // namespace

TopenGLEngine::~TopenGLEngine() {
    if (windowState.engine == this) windowState.engine = nullptr;
    if (currentConsole() == &console) setCurrentConsole(nullptr);
}

void TopenGLEngine::setup(int32_t width, int32_t height, bool fullscreen, const std::string& title,
                          const std::string& fontFile) {
    windowState.engine = this;
    setCurrentConsole(&console);
    windowState.width = width;
    windowState.height = height;
    windowState.fullscreen = fullscreen;
    windowState.title = title;
    windowState.fontFileName = fontFile;
    resetColours(customCommands);
}

int32_t TopenGLEngine::run() {
    windowState.quitRequested = 0;
    windowState.closeNotified = false;
    const TwindowRelease release;
    if (!openWindow(windowState.width, windowState.height, windowState.fullscreen)) return 0;
    startConsole(console, 22, windowState.fontFileName);
    if (onInitialise) {
        const TnullArgsProcedure initialise = onInitialise;
        initialise();
    }
    while (windowState.quitRequested == 0) {
        SDL_Event event;
        if (SDL_PollEvent(&event)) dispatchEvent(event);
        else drawPass();
    }
    return 0;
}

void TopenGLEngine::setClearColor(long double red, long double green, long double blue, long double alpha) {
    glClearColor(static_cast<GLclampf>(red), static_cast<GLclampf>(green), static_cast<GLclampf>(blue),
                 static_cast<GLclampf>(alpha));
}

void TopenGLEngine::disableDepthTest() {
    glDisable(GL_DEPTH_TEST);
}

TwindowHandle TopenGLEngine::getWindowHandle() const {
    return windowState.window;
}

int32_t TopenGLEngine::getCameraRotation() const {
    return rotationDegrees;
}

void TopenGLEngine::setCameraRotation(int32_t degrees) {
    rotationDegrees = degrees;
}

int32_t cameraRotation() {
    return rotationDegrees;
}

void presentFrame() {
    if (windowState.window) swapBuffers();
}

uint64_t presentedFrameCount() {
    return framesPresented.load(std::memory_order_relaxed);
}

void setWindowTitle(TwindowHandle window, const std::string& title) {
    if (window) SDL_SetWindowTitle(window, title.c_str());
}

void windowClientSize(int32_t& width, int32_t& height) {
    width = windowState.width;
    height = windowState.height;
}

void requestQuit() {
    endLoop();
}

void setDisplayModeSwitch(TdisplayModeSwitch modeSwitch) {
    installedModeSwitch = modeSwitch;
}

void setViewport(int32_t width, int32_t height) {
    if (height == 0) height = 1;
    windowState.width = width;
    windowState.height = height;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height), 0.1, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void setInitialGLState() {
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}
