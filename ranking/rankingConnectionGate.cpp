// Connection caps and the body budget of the ranking server.
#include "ranking/rankingConnectionGate.h"

TconnectionGate::TconnectionGate(size_t overall, size_t perAddress) : overall_(overall), perAddress_(perAddress) {}

bool TconnectionGate::admit(const std::string& address) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_ >= overall_) return false;
    const auto counted = byAddress_.find(address);
    if (perAddress_ > 0 && counted != byAddress_.end() && counted->second >= perAddress_) return false;
    ++byAddress_[address];
    ++open_;
    changed_.notify_all();
    return true;
}

void TconnectionGate::release(const std::string& address) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto counted = byAddress_.find(address);
    if (counted == byAddress_.end() || counted->second == 0) return;
    if (--counted->second == 0) byAddress_.erase(counted);
    --open_;
    changed_.notify_all();
}

size_t TconnectionGate::open() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

bool TconnectionGate::awaitOpen(size_t count, std::chrono::milliseconds patience) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, patience, [this, count] { return open_ == count; });
}

bool TbyteBudget::take(size_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (bytes > left_) return false;
    left_ -= bytes;
    return true;
}

void TbyteBudget::giveBack(size_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    left_ += bytes;
}
