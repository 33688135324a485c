// Key presses sent through the X server (XTest) at exact times, so they reach the game as a
// player's keys do, stamped by the server.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct _XDisplay;

// A thread with an X connection of its own that presses and releases keys at given times of the
// high-resolution system clock. It sleeps until just before each time and spins the rest, so a key
// leaves within microseconds of its time; each press records when it really left.
class TxTestPresser {
public:
    TxTestPresser();
    ~TxTestPresser();
    TxTestPresser(const TxTestPresser&) = delete;
    TxTestPresser& operator=(const TxTestPresser&) = delete;

    // Whether the display opened and has the XTest extension.
    bool ready() const { return display != nullptr; }
    // Gives an X window the keyboard focus, so the presses go to it; false when the window is not
    // viewable (yet) or the server refused.
    bool focus(unsigned long xWindow);
    // A key-down of a virtual key at atMs and its key-up holdMs later. A key-up of the same key
    // still waiting comes forward to just before the new key-down, so the server never sees a
    // key go down twice.
    void schedulePress(double atMs, uint16_t virtualKey, double holdMs);
    // From now on each press is a mouse click on the screen point given for its key instead of
    // the key: the pointer moves there and a button not held goes down, so presses at one time
    // land on several panels. Set before the first press.
    void clickInstead(std::map<uint16_t, std::pair<int, int>> spots);

    // One key-down sent: the time it was scheduled for, and the time it left (ms): the clock read
    // right before the request, which the flush writes to the server microseconds later. The
    // write wakes the server, which can take the processor from the presser before it reads the
    // clock again, so the reading after the flush can be late by a scheduler's slice.
    struct TsentPress {
        uint16_t virtualKey = 0;
        double scheduledMs = 0.0;
        double sentMs = 0.0;
        // The clock after the flush minus the clock before the request.
        double sendingMs = 0.0;
    };
    // Takes the earliest key-down of virtualKey that has gone out or is going out and was not
    // taken before, as the key-down handler that received it; its index in sent(), or nothing.
    std::optional<size_t> claim(uint16_t virtualKey);
    // Every key-down sent so far, in the order they went out. Read once the presses are done.
    std::vector<TsentPress> sent();
    // Key-downs sent but never claimed: presses that did not arrive where they were meant to.
    size_t unclaimed();

private:
    struct Taction {
        uint16_t virtualKey;
        bool down;
    };

    void run();
    void bringUpEarlierRelease(double downMs, uint16_t virtualKey);
    void sendDue(std::unique_lock<std::mutex>& guard);
    unsigned int keycodeFor(uint16_t virtualKey);
    void sendClick(const Taction& action);
    void releaseHeldKeys();

    _XDisplay* display = nullptr;
    // Guards the display, which the worker and focus share; held only while a request goes out.
    std::mutex displayLock;
    // Guards the queue and the records; never held while the worker waits for a time.
    std::mutex lock;
    std::condition_variable changed;
    std::multimap<double, Taction> queue;
    std::vector<TsentPress> records;
    std::vector<bool> claimed;
    std::map<uint16_t, std::pair<int, int>> clickSpots;
    // The mouse button each clicked key holds down.
    std::map<uint16_t, unsigned int> heldButtons;
    bool stopping = false;
    std::thread worker;
};
