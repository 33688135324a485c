// Lets a few threads at a time through, in the order they came: with one thread per connection,
// the CPU-heavy part of many requests otherwise shares two cores out by chance, and a few
// requests wait for dozens of others' time slices.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

class TfairGate {
public:
    explicit TfairGate(size_t slots) : slots_(slots == 0 ? 1 : slots) {}
    // Blocks until a slot is free and every thread that came earlier has one.
    void enter();
    // Hands the slot to the longest waiting thread, if any.
    void leave();

private:
    struct Twaiter {
        std::condition_variable admitted;
        bool inside = false;
    };
    const size_t slots_;
    std::mutex mutex_;
    size_t active_ = 0;
    std::deque<Twaiter*> queue_;
};

// Holds a slot for its scope.
class TfairGatePass {
public:
    explicit TfairGatePass(TfairGate& gate) : gate_(gate) { gate_.enter(); }
    ~TfairGatePass() { gate_.leave(); }
    TfairGatePass(const TfairGatePass&) = delete;
    TfairGatePass& operator=(const TfairGatePass&) = delete;

private:
    TfairGate& gate_;
};
