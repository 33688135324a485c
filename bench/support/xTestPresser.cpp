// The XTest presser's worker: waits for each key action's time and sends it to the X server.
#include "bench/support/xTestPresser.h"

#include <SDL_keycode.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/clockSeam.h"
#include "platform/input/virtualKeys.h"

namespace {

// The worker sleeps until this long before an action and spins the rest: a sleep can overshoot
// by a scheduler tick, a spin cannot.
constexpr double spinMs = 1.0;
// A release brought forward for the next press of its key leaves this long before that press.
constexpr double releaseGapMs = 1.0;

// The X keysym of a virtual key. A letter's or digit's virtual key is its upper-case character,
// whose lower case is its keysym; SDL's table gives such keys by their position only, as
// keycodes made from scancodes. Other keys whose SDL keycode is a character have it as keysym.
KeySym keysymOf(uint16_t virtualKey) {
    if ((virtualKey >= 'A' && virtualKey <= 'Z') || (virtualKey >= '0' && virtualKey <= '9'))
        return static_cast<KeySym>(std::tolower(virtualKey));
    const TsdlKey key = sdlKeyForVirtualKey(virtualKey);
    return (key.keycode & SDLK_SCANCODE_MASK) ? NoSymbol : static_cast<KeySym>(key.keycode);
}

// 0 when the key has no X keycode.
unsigned int keycodeOf(Display* display, uint16_t virtualKey) {
    const KeySym keysym = keysymOf(virtualKey);
    return keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
}

}  // namespace

TxTestPresser::TxTestPresser() {
    display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (display && !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "the X server has no XTest extension\n");
        XCloseDisplay(display);
        display = nullptr;
    }
    // The first lookup fetches the keyboard map; later ones are answered from it without a
    // round trip, so no lookup delays a press.
    if (display) keycodeOf(display, 'A');
    worker = std::thread([this] { run(); });
}

TxTestPresser::~TxTestPresser() {
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    changed.notify_all();
    worker.join();
    if (display) XCloseDisplay(display);
}

bool TxTestPresser::focus(unsigned long xWindow) {
    if (!display) return false;
    const std::lock_guard<std::mutex> guard(displayLock);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, xWindow, &attributes) || attributes.map_state != IsViewable) return false;
    XSetInputFocus(display, xWindow, RevertToParent, CurrentTime);
    XSync(display, False);
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(display, &focused, &revert);
    return focused == xWindow;
}

void TxTestPresser::schedulePress(double atMs, uint16_t virtualKey, double holdMs) {
    {
        const std::lock_guard<std::mutex> guard(lock);
        bringUpEarlierRelease(atMs, virtualKey);
        queue.emplace(atMs, Taction{virtualKey, true});
        queue.emplace(atMs + holdMs, Taction{virtualKey, false});
    }
    changed.notify_all();
}

void TxTestPresser::bringUpEarlierRelease(double downMs, uint16_t virtualKey) {
    for (auto action = queue.lower_bound(downMs - releaseGapMs); action != queue.end(); ++action) {
        if (action->second.virtualKey != virtualKey || action->second.down) continue;
        queue.erase(action);
        queue.emplace(downMs - releaseGapMs, Taction{virtualKey, false});
        return;
    }
}

void TxTestPresser::clickInstead(std::map<uint16_t, std::pair<int, int>> spots) {
    const std::lock_guard<std::mutex> guard(lock);
    clickSpots = std::move(spots);
}

// Runs with the display lock held.
void TxTestPresser::sendClick(const Taction& action) {
    if (!action.down) {
        const auto held = heldButtons.find(action.virtualKey);
        if (held == heldButtons.end()) return;
        XTestFakeButtonEvent(display, held->second, False, CurrentTime);
        heldButtons.erase(held);
        return;
    }
    const auto spot = clickSpots.find(action.virtualKey);
    if (spot == clickSpots.end()) return;
    // Left, middle, right and the two side buttons: never the wheel's 4 to 7.
    for (const unsigned int button : {1u, 2u, 3u, 8u, 9u}) {
        const bool taken = std::any_of(heldButtons.begin(), heldButtons.end(),
                                       [button](const auto& entry) { return entry.second == button; });
        if (taken) continue;
        XTestFakeMotionEvent(display, -1, spot->second.first, spot->second.second, CurrentTime);
        XTestFakeButtonEvent(display, button, True, CurrentTime);
        heldButtons[action.virtualKey] = button;
        return;
    }
}

std::optional<size_t> TxTestPresser::claim(uint16_t virtualKey) {
    const std::lock_guard<std::mutex> guard(lock);
    for (size_t index = 0; index < records.size(); ++index) {
        if (claimed[index] || records[index].virtualKey != virtualKey) continue;
        claimed[index] = true;
        return index;
    }
    return std::nullopt;
}

std::vector<TxTestPresser::TsentPress> TxTestPresser::sent() {
    const std::lock_guard<std::mutex> guard(lock);
    return records;
}

unsigned int TxTestPresser::keycodeFor(uint16_t virtualKey) {
    if (!display) return 0;
    const std::lock_guard<std::mutex> guard(displayLock);
    return keycodeOf(display, virtualKey);
}

size_t TxTestPresser::unclaimed() {
    const std::lock_guard<std::mutex> guard(lock);
    size_t count = 0;
    for (const bool taken : claimed) count += taken ? 0 : 1;
    return count;
}

void TxTestPresser::run() {
    std::unique_lock<std::mutex> guard(lock);
    while (!stopping) {
        if (queue.empty()) {
            changed.wait(guard);
            continue;
        }
        const double waitMs = queue.begin()->first - spinMs - systemHighResolutionMs();
        if (waitMs > 0.0) {
            changed.wait_for(guard, std::chrono::duration<double, std::milli>(waitMs));
            continue;
        }
        sendDue(guard);
    }
    releaseHeldKeys();
}

// A key left down on the server would repeat into whatever has the focus next.
void TxTestPresser::releaseHeldKeys() {
    if (!display) return;
    const std::lock_guard<std::mutex> displayGuard(displayLock);
    for (const auto& [atMs, action] : queue) {
        const unsigned int keycode = keycodeOf(display, action.virtualKey);
        if (!action.down && keycode != 0) XTestFakeKeyEvent(display, keycode, False, CurrentTime);
    }
    for (const auto& [key, button] : heldButtons) XTestFakeButtonEvent(display, button, False, CurrentTime);
    XFlush(display);
}

// Takes the earliest action off the queue, spins to its time without the lock and sends it.
void TxTestPresser::sendDue(std::unique_lock<std::mutex>& guard) {
    const double atMs = queue.begin()->first;
    const Taction action = queue.begin()->second;
    queue.erase(queue.begin());
    const bool clicking = !clickSpots.empty();
    const unsigned int keycode = clicking ? 0 : keycodeFor(action.virtualKey);
    if (!clicking && keycode == 0) {
        std::fprintf(stderr, "virtual key %u has no X keycode\n", static_cast<unsigned>(action.virtualKey));
        return;
    }
    // Recorded before it goes, so a key handler that gets it can never find it missing.
    const size_t record = records.size();
    if (action.down) {
        records.push_back({action.virtualKey, atMs, NAN, NAN});
        claimed.push_back(false);
    }
    guard.unlock();
    while (systemHighResolutionMs() < atMs) {
    }
    double before = 0.0, after = 0.0;
    {
        const std::lock_guard<std::mutex> displayGuard(displayLock);
        before = systemHighResolutionMs();
        if (clicking) sendClick(action);
        else XTestFakeKeyEvent(display, keycode, action.down ? True : False, CurrentTime);
        XFlush(display);
        after = systemHighResolutionMs();
    }
    guard.lock();
    if (!action.down) return;
    records[record].sentMs = before;
    records[record].sendingMs = after - before;
}
