// Connection caps and the body budget of the ranking server.
#include "ranking/rankingConnectionGate.h"

#include <algorithm>

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

size_t connectionCapWithin(size_t wanted, size_t descriptorLimit) {
    constexpr size_t descriptorsBesideConnections = 64;
    const size_t room = descriptorLimit > descriptorsBesideConnections ? descriptorLimit - descriptorsBesideConnections : 1;
    return std::max<size_t>(std::min(wanted, room), 1);
}

bool TbyteBudget::take(const std::string& address, size_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto held = heldByAddress_.find(address);
    const size_t alreadyHeld = held == heldByAddress_.end() ? 0 : held->second;
    if (bytes > left_) return false;
    if (perAddress_ > 0 && bytes > perAddress_ - std::min(alreadyHeld, perAddress_)) return false;
    left_ -= bytes;
    if (bytes > 0) heldByAddress_[address] = alreadyHeld + bytes;
    return true;
}

void TbyteBudget::giveBack(const std::string& address, size_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto held = heldByAddress_.find(address);
    if (bytes == 0 || held == heldByAddress_.end()) return;
    const size_t returned = std::min(bytes, held->second);
    left_ += returned;
    held->second -= returned;
    if (held->second == 0) heldByAddress_.erase(held);
}
