// A first-come first-served gate with a fixed number of slots; each waiter is woken alone.
#include "ranking/rankingFairGate.h"

void TfairGate::enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.empty() && active_ < slots_) {
        ++active_;
        return;
    }
    Twaiter waiter;
    queue_.push_back(&waiter);
    waiter.admitted.wait(lock, [&waiter] { return waiter.inside; });
}

void TfairGate::leave() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        --active_;
        return;
    }
    Twaiter* next = queue_.front();
    queue_.pop_front();
    next->inside = true;
    next->admitted.notify_one();
}
