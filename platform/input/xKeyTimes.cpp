// The X server's key times: a clock-mapping thread on a connection of its own, and an SDL event
// filter that moves each X key event's time onto the SDL key event made from it.
#include "platform/input/xKeyTimes.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/clockSeam.h"
#include "platform/input/eventStamps.h"
#include "platform/input/keyEventPusher.h"
#include "platform/input/keyPairing.h"
#include "platform/input/pointerPresses.h"

const char* const keyTimeFallbackLine =
    "Key times: the X server's clock cannot be followed now; presses are timed when the game handles them until it can";

namespace {

// Quick round trips at start make the mapping sure before the first press; then one a second
// keeps it fresh against drift and catches jumps.
constexpr int quickSamples = 8;
constexpr auto quickSpacing = std::chrono::milliseconds(5);
constexpr auto refreshSpacing = std::chrono::milliseconds(1000);


bool stampingWanted() {
    const char* setting = std::getenv("TRELLIK_PRESS_TIME");
    if (setting && std::strcmp(setting, "dispatch") == 0) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && std::strcmp(driver, "x11") == 0;
}

// A connection of our own with an unmapped window whose property we touch: the server answers
// each change with an event stamped with its clock at that moment.
class TserverClockProbe {
public:
    TserverClockProbe() : display(XOpenDisplay(nullptr)) {
        if (!display) return;
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display, window, PropertyChangeMask);
        property = XInternAtom(display, "TRELLIK_CLOCK_PROBE", False);
    }
    ~TserverClockProbe() {
        if (!display) return;
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }
    TserverClockProbe(const TserverClockProbe&) = delete;
    TserverClockProbe& operator=(const TserverClockProbe&) = delete;

    bool open() const { return display != nullptr; }

    void sample(TserverClockMap& map, std::mutex& mapLock) {
        const unsigned char value = 0;
        const double sent = activeClock().highResolutionMs();
        XChangeProperty(display, window, property, XA_INTEGER, 8, PropModeReplace, &value, 1);
        XFlush(display);
        XEvent event;
        do XNextEvent(display, &event);
        while (event.type != PropertyNotify || event.xproperty.atom != property);
        const double received = activeClock().highResolutionMs();
        const std::lock_guard<std::mutex> guard(mapLock);
        map.addSample(static_cast<uint32_t>(event.xproperty.time), sent, received);
    }

private:
    Display* display = nullptr;
    Window window = 0;
    Atom property = 0;
};

}  // namespace

struct TxKeyTimes::Tstate {
    std::mutex mapLock;
    TserverClockMap map;
    std::condition_variable stopSignal;
    bool stopping = false;
    std::thread sampler;
    // The last X key event seen, waiting for the SDL key event SDL makes from it next.
    bool keyTimePending = false;
    bool pendingDown = false;
    uint32_t pendingKeycode = 0;
    uint32_t pendingServerMs = 0;
    // The same for the last X button event and the SDL mouse button event made from it.
    bool buttonTimePending = false;
    bool pendingButtonDown = false;
    uint32_t pendingButtonServerMs = 0;
    TkeyPairing keyPairing;
    bool fallbackUsed = false;
    bool fallbackReported = false;

    void runSampler() {
        TserverClockProbe probe;
        if (!probe.open()) return;
        std::unique_lock<std::mutex> guard(mapLock);
        for (int count = 0; !stopping; ++count) {
            guard.unlock();
            probe.sample(map, mapLock);
            guard.lock();
            stopSignal.wait_for(guard, count < quickSamples ? quickSpacing : refreshSpacing, [this] { return stopping; });
        }
    }

    void noteSystemEvent(const SDL_SysWMmsg& message) {
        // Any other X event in between means SDL made no key event from the pending one.
        keyTimePending = false;
        buttonTimePending = false;
        if (message.subsystem != SDL_SYSWM_X11) return;
        const XEvent& event = message.msg.x11.event;
        if (event.type == ButtonPress || event.type == ButtonRelease) {
            buttonTimePending = true;
            pendingButtonDown = event.type == ButtonPress;
            pendingButtonServerMs = static_cast<uint32_t>(event.xbutton.time);
            return;
        }
        if (event.type != KeyPress && event.type != KeyRelease) return;
        keyTimePending = true;
        pendingDown = event.type == KeyPress;
        pendingKeycode = event.xkey.keycode;
        pendingServerMs = static_cast<uint32_t>(event.xkey.time);
    }

    void stampKey(SDL_KeyboardEvent& key) {
        // SDL leaves the spare field as it found it; only a stamp of ours may be read there.
        key.keysym.unused = 0;
        if (!keyTimePending) return;
        // The X event is this key event's or no key event's: either way it is spent.
        keyTimePending = false;
        const bool sameWay = pendingDown == (key.type == SDL_KEYDOWN);
        if (!sameWay || !keyPairing.matches(pendingKeycode, key.keysym.scancode)) return;
        std::optional<double> at;
        {
            const std::lock_guard<std::mutex> guard(mapLock);
            at = map.localTimeOf(pendingServerMs, activeClock().highResolutionMs());
            if (!at) fallbackUsed = true;
        }
        if (at) key.keysym.unused = eventStampFor(*at);
    }

    // A mouse button event has no spare field wide enough: its timestamp, SDL's millisecond of
    // reading it, gives way to the server's moment as a stamp, and the spare byte says so.
    void stampButton(SDL_MouseButtonEvent& button) {
        button.padding1 = 0;
        if (!buttonTimePending) return;
        buttonTimePending = false;
        if (pendingButtonDown != (button.type == SDL_MOUSEBUTTONDOWN)) return;
        std::optional<double> at;
        {
            const std::lock_guard<std::mutex> guard(mapLock);
            at = map.localTimeOf(pendingButtonServerMs, activeClock().highResolutionMs());
            if (!at) fallbackUsed = true;
        }
        if (!at) return;
        button.timestamp = eventStampFor(*at);
        button.padding1 = serverStampMark;
    }
};

namespace {

// Runs on the thread that pumps events (the main thread) for SDL's own events, and on any
// thread for pushed ones, which it leaves alone.
int stampKeyEvents(void* userData, SDL_Event* event) {
    auto& state = *static_cast<TxKeyTimes::Tstate*>(userData);
    if (event->type == SDL_SYSWMEVENT) {
        if (event->syswm.msg) state.noteSystemEvent(*event->syswm.msg);
        // Only key times were wanted; no window-manager event needs to reach the loop.
        return 0;
    }
    const bool isKey = event->type == SDL_KEYDOWN || event->type == SDL_KEYUP;
    if (isKey && event->key.windowID != pushedKeyWindowId) state.stampKey(event->key);
    const bool isButton = event->type == SDL_MOUSEBUTTONDOWN || event->type == SDL_MOUSEBUTTONUP;
    if (isButton) state.stampButton(event->button);
    return 1;
}

}  // namespace

TxKeyTimes::TxKeyTimes() {
    if (!stampingWanted()) return;
    state = std::make_unique<Tstate>();
    state->sampler = std::thread([this] { state->runSampler(); });
    SDL_SetEventFilter(stampKeyEvents, state.get());
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
}

TxKeyTimes::~TxKeyTimes() {
    if (!state) return;
    SDL_EventState(SDL_SYSWMEVENT, SDL_IGNORE);
    SDL_SetEventFilter(nullptr, nullptr);
    {
        const std::lock_guard<std::mutex> guard(state->mapLock);
        state->stopping = true;
    }
    state->stopSignal.notify_all();
    state->sampler.join();
}

bool TxKeyTimes::active() const {
    return state != nullptr;
}

bool TxKeyTimes::takeFallbackReport() {
    if (!state || !state->fallbackUsed || state->fallbackReported) return false;
    state->fallbackReported = true;
    return true;
}
