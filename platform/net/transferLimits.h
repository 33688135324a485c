// How long a transfer may wait for its connection and for its next byte, and the watch on silence.
#pragma once

#include <cstdint>

// Limits of one transfer in milliseconds. A transfer that is slow but still receiving is never
// cut off; only a connection that cannot be made or a server that has gone silent is.
struct TtransferLimits {
    uint32_t connectMs;
    uint32_t silenceMs;
};

inline constexpr TtransferLimits standardTransferLimits{15000, 30000};

// The most a reply may bring: the new program, a stock file, a short text file.
inline constexpr uint64_t programSizeCeiling = uint64_t{512} << 20;
inline constexpr uint64_t stockFileSizeCeiling = uint64_t{64} << 20;
inline constexpr uint64_t textFileSizeCeiling = uint64_t{1} << 20;

// The limits in force for transfers that begin now: the standard ones unless a test shortened them.
TtransferLimits transferLimits();

// Puts other limits in force while it lives and restores the earlier ones after it (tests use
// it to make a stalled server fail quickly). Transfers already running keep their limits.
class TtransferLimitsOverride {
public:
    explicit TtransferLimitsOverride(const TtransferLimits& limits);
    ~TtransferLimitsOverride();
    TtransferLimitsOverride(const TtransferLimitsOverride&) = delete;
    TtransferLimitsOverride& operator=(const TtransferLimitsOverride&) = delete;

private:
    TtransferLimits earlier;
};

// Tells from the times bytes arrived whether a transfer has received nothing for too long.
// Times are milliseconds of any steady clock; the watch starts counting at startMs.
class TsilenceWatch {
public:
    TsilenceWatch(uint32_t silenceMs, uint64_t startMs) : silenceMs(silenceMs), lastByteMs(startMs) {}
    void bytesArrived(uint64_t nowMs) { lastByteMs = nowMs; }
    bool silentTooLong(uint64_t nowMs) const { return nowMs >= lastByteMs && nowMs - lastByteMs >= silenceMs; }

private:
    uint32_t silenceMs;
    uint64_t lastByteMs;
};
