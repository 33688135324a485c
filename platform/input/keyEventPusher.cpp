// The key pusher's worker: waits for the earliest action, then hands it to SDL's queue.
#include "platform/input/keyEventPusher.h"

#include <SDL.h>

#include <chrono>
#include <cstdint>

#include "platform/clockSeam.h"
#include "platform/input/eventStamps.h"
#include "platform/input/virtualKeys.h"

namespace {

// Virtual key 0 is no key on any keyboard, so it marks the end of the loop in the queue.
constexpr uint16_t quitMarker = 0;

int keepUnlessPushedKey(void*, SDL_Event* event) {
    const bool isKey = event->type == SDL_KEYDOWN || event->type == SDL_KEYUP;
    return isKey && event->key.windowID == pushedKeyWindowId ? 0 : 1;
}

std::chrono::steady_clock::time_point steadyTimeAt(double highResolutionMs) {
    using namespace std::chrono;
    return steady_clock::time_point(duration_cast<steady_clock::duration>(duration<double, std::milli>(highResolutionMs)));
}

}  // namespace

TkeyPusher::TkeyPusher() : worker([this] { run(); }) {}

TkeyPusher::~TkeyPusher() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    changed.notify_all();
    worker.join();
}

void TkeyPusher::schedule(double atMs, uint16_t virtualKey, bool down) {
    {
        std::lock_guard<std::mutex> guard(lock);
        queue.emplace(atMs, TkeyAction{virtualKey, down});
    }
    changed.notify_all();
}

void TkeyPusher::schedulePress(double atMs, uint16_t virtualKey, double holdMs) {
    schedule(atMs, virtualKey, true);
    schedule(atMs + holdMs, virtualKey, false);
}

void TkeyPusher::scheduleQuit(double atMs) {
    schedule(atMs, quitMarker, true);
}

void TkeyPusher::cancelAll() {
    // Under the lock, so the worker cannot push an event between the two steps.
    std::lock_guard<std::mutex> guard(lock);
    queue.clear();
    SDL_FilterEvents(keepUnlessPushedKey, nullptr);
}

std::vector<TkeyPusher::Tpending> TkeyPusher::pending() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<Tpending> waiting;
    for (const auto& [atMs, action] : queue) waiting.push_back({atMs, action.virtualKey, action.down});
    return waiting;
}

void TkeyPusher::push(const TkeyAction& action, double atMs) {
    SDL_Event event{};
    if (action.virtualKey == quitMarker) {
        event.type = SDL_QUIT;
        SDL_PushEvent(&event);
        return;
    }
    const TsdlKey key = sdlKeyForVirtualKey(action.virtualKey);
    event.type = action.down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.windowID = pushedKeyWindowId;
    event.key.state = action.down ? SDL_PRESSED : SDL_RELEASED;
    if (key.scancode == SDL_SCANCODE_UNKNOWN) {
        // A pad button has no keyboard key to stand for it: its code rides in the spare bytes.
        event.key.padding2 = static_cast<Uint8>(action.virtualKey & 0xFF);
        event.key.padding3 = static_cast<Uint8>(action.virtualKey >> 8);
    } else {
        event.key.keysym.sym = key.keycode;
        event.key.keysym.scancode = static_cast<SDL_Scancode>(key.scancode);
        event.key.keysym.mod = key.modifiers;
    }
    // The key went down at its scheduled time, however late the loop gets to the event.
    event.key.keysym.unused = eventStampFor(atMs);
    SDL_PushEvent(&event);
}

void TkeyPusher::run() {
    std::unique_lock<std::mutex> guard(lock);
    while (!stopping) {
        if (queue.empty()) {
            changed.wait(guard);
            continue;
        }
        const auto next = queue.begin();
        if (systemHighResolutionMs() < next->first) {
            changed.wait_until(guard, steadyTimeAt(next->first));
            continue;
        }
        push(next->second, next->first);
        queue.erase(next);
    }
}
