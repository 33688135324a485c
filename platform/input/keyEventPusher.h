// Key events pushed into the window's event queue at chosen times, from a thread of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// Pushed key events carry a window id no window gets (SDL counts them up from 1), so they can be
// told from the player's own keys while they wait in SDL's queue, and their stamp trusted.
constexpr uint32_t pushedKeyWindowId = UINT32_MAX;

// Pushes key-down and key-up events (and, when asked, the end of the loop) into SDL's queue at
// given times of the high-resolution system clock, so they take the same path as a player's keys.
// Each key event carries its scheduled time as its stamp, as the X server stamps a player's.
class TkeyPusher {
public:
    TkeyPusher();
    ~TkeyPusher();
    TkeyPusher(const TkeyPusher&) = delete;
    TkeyPusher& operator=(const TkeyPusher&) = delete;

    void schedule(double atMs, uint16_t virtualKey, bool down);
    // A key-down at atMs and its key-up holdMs later.
    void schedulePress(double atMs, uint16_t virtualKey, double holdMs);
    void scheduleQuit(double atMs);
    // Drops every action not pushed yet and takes the key events already pushed, but not yet
    // handled, back out of SDL's queue: none of them reaches whatever the window shows next.
    void cancelAll();
    // An action still waiting for its time.
    struct Tpending {
        double atMs;
        uint16_t virtualKey;
        bool down;
    };
    // The actions still waiting, earliest first.
    std::vector<Tpending> pending();

private:
    struct TkeyAction {
        uint16_t virtualKey;
        bool down;
    };

    static void push(const TkeyAction& action, double atMs);
    void run();

    std::mutex lock;
    std::condition_variable changed;
    std::multimap<double, TkeyAction> queue;
    bool stopping = false;
    std::thread worker;
};
