// Counts the ranking server's open connections, overall and by address, and turns away those over a cap.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

class TconnectionGate {
public:
    // A cap of 0 from one address means only the overall cap holds.
    TconnectionGate(size_t overall, size_t perAddress);

    // Counts a new connection from the address and returns true, or returns false when either cap is full.
    bool admit(const std::string& address);
    // Uncounts a connection admit() let in.
    void release(const std::string& address);
    size_t open() const;
    // Waits until exactly this many connections are open; false when patience ran out first.
    bool awaitOpen(size_t count, std::chrono::milliseconds patience) const;

private:
    const size_t overall_;
    const size_t perAddress_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    size_t open_ = 0;
    std::map<std::string, size_t> byAddress_;
};

// The connection cap a process with this many descriptors can keep: the wanted cap, lowered so that
// the descriptors the process needs besides its connections (stores, listening socket, logs) stay free.
// A connection over a cap this process cannot hold would wait unanswered instead of being turned away.
size_t connectionCapWithin(size_t wanted, size_t descriptorLimit);

// Bytes that many connections draw on together, each taking its share before it may use it; the
// connections from one address together take no more than their own cap.
class TbyteBudget {
public:
    // A cap of 0 from one address means only the overall budget holds.
    TbyteBudget(size_t bytes, size_t perAddress) : left_(bytes), perAddress_(perAddress) {}
    // Takes the bytes for the address and returns true, or returns false (taking nothing) when
    // fewer are left overall or in the address's share.
    bool take(const std::string& address, size_t bytes);
    void giveBack(const std::string& address, size_t bytes);

private:
    std::mutex mutex_;
    size_t left_;
    const size_t perAddress_;
    std::map<std::string, size_t> heldByAddress_;
};
