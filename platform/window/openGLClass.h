// The game's one GL window: opening it, its message loop, and the event slots scenes swap.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/window/glCustomCommandsCode.h"
#include "platform/window/globalConsoleCode.h"

struct SDL_Window;

using TnullArgsProcedure = std::function<void()>;
// A draw handler; false ends the loop without presenting the frame.
using TnullArgsFunctionReturningBoolean = std::function<bool()>;
// A key handler for a virtual-key code that went down or up at atMs on the high-resolution clock
// (the moment the system saw it, which may be before the loop got to it); true ends the loop
// after the message.
using TkeyEvent = std::function<bool(uint16_t key, double atMs)>;
// The virtual key of the panel under a window point in pixels, or -1: mouse buttons and fingers
// that go down on a panel press its key.
using TpanelKeyLocator = std::function<int32_t(double x, double y)>;

using TwindowHandle = SDL_Window*;

// Owns the GL window and routes its messages to the installed handlers. The handlers may be
// replaced at any time, also from inside a running handler; the change takes effect at the
// next message or frame.
class TopenGLEngine {
public:
    TopenGLEngine() = default;
    // Stops the window routing messages to this object and the console operations reaching it.
    ~TopenGLEngine();
    TopenGLEngine(const TopenGLEngine&) = delete;
    TopenGLEngine& operator=(const TopenGLEngine&) = delete;

    TnullArgsProcedure onInitialise;
    TnullArgsProcedure onClose;
    TnullArgsFunctionReturningBoolean onDraw;
    TkeyEvent onKeyUp;
    TkeyEvent onKeyDown;
    // Text the player typed (UTF-8, through the input method when one runs), after its key went down.
    std::function<void(const std::string& text)> onTextInput;
    TpanelKeyLocator panelKeyAt;
    TglCustomCommands customCommands;
    TglConsole console;

    // Stores the window request and makes this object's console the current one. Opens nothing.
    void setup(int32_t width, int32_t height, bool fullscreen, const std::string& title,
               const std::string& fontFile);
    // Opens the window, starts the console, and runs the loop until the game ends. The window is
    // released (full screen left, cursor shown) before run returns, also when an error leaves it.
    int32_t run();

    void setClearColor(long double red, long double green, long double blue, long double alpha);
    void disableDepthTest();
    TwindowHandle getWindowHandle() const;

    int32_t getCameraRotation() const;
    void setCameraRotation(int32_t degrees);
};

// The rotation about the view axis that every quad and text line is drawn with (degrees).
int32_t cameraRotation();

// Presents the back buffer of the game window (the console does this during loading).
void presentFrame();
// How many frames the loop and the console have presented since the program started.
uint64_t presentedFrameCount();
// Sets the game window's title (UTF-8).
void setWindowTitle(TwindowHandle window, const std::string& title);
// The client size the window has now (after the latest resize).
void windowClientSize(int32_t& width, int32_t& height);
// Asks the running loop to end at its next check, as a key handler returning true does.
void requestQuit();

// Puts the display of a full-screen window into the mode closest to width x height; false when
// the display refuses it, and the player is asked whether to play in a window instead.
using TdisplayModeSwitch = bool (*)(TwindowHandle window, int32_t width, int32_t height);
// Installs a mode switch in place of the display's own (tests stand in a display that refuses);
// nullptr restores the display's own.
void setDisplayModeSwitch(TdisplayModeSwitch modeSwitch);

// Sets the viewport and the perspective projection for a client area; height 0 counts as 1.
void setViewport(int32_t width, int32_t height);
// The fixed GL state every frame relies on.
void setInitialGLState();
