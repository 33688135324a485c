// Times carried on input events: 32-bit stamps that wrap, and the X server's clock mapped onto ours.
#pragma once

#include <cstdint>
#include <optional>

// A time on the high-resolution clock as a 32-bit stamp in microseconds, so it fits the spare
// field of an SDL key event. It wraps every 71 minutes, far longer than an event waits in the
// queue. Never 0, which marks an event without a stamp.
uint32_t eventStampFor(double atMs);
// The time a stamp stands for: of all the times with that stamp, the one nearest nowMs.
double eventTimeOf(uint32_t stamp, double nowMs);

// serverMs - localMs on a clock that wraps at 2^32 ms: the difference in [-2^31, 2^31) ms.
double wrappedDifferenceMs(uint32_t serverMs, double localMs);

// Maps the X server's millisecond clock onto the high-resolution clock. Each round trip that
// makes the server stamp something bounds the offset between the clocks (the stamp was taken
// between sending and receiving, and the server truncates to whole ms); the bounds of agreeing
// round trips are intersected, so the offset is known far better than to a millisecond.
class TserverClockMap {
public:
    // One round trip: the request left at sentMs, the server stamped serverMs, the reply came
    // at receivedMs (both on the high-resolution clock).
    void addSample(uint32_t serverMs, double sentMs, double receivedMs);
    // The high-resolution time of an event the server stamped serverMs, read at nowMs; nothing
    // while the mapping is unsure.
    std::optional<double> localTimeOf(uint32_t serverMs, double nowMs) const;
    bool sure() const;
    // Whether the clocks were ever seen to jump apart by more than a drift explains.
    bool jumpSeen() const { return jumped; }

    // Round trips longer than this say too little about when the stamp was taken.
    static constexpr double longestRoundTripMs = 20.0;
    // Two clocks that disagree by more than this between round trips have jumped, not drifted.
    static constexpr double jumpToleranceMs = 3.0;
    // Agreeing round trips needed before the mapping is trusted, at start and after a jump.
    static constexpr int agreeingNeeded = 3;

private:
    void restartFrom(double low, double high);

    // Bounds on (server - local) in ms, as wrapped differences.
    double lowOffset = 0.0;
    double highOffset = 0.0;
    int agreeing = 0;
    bool jumped = false;
};
