// Event stamps and the X server clock mapping: arithmetic only, no clock is read here.
#include "platform/input/eventStamps.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double microsecondsPerMs = 1000.0;

}  // namespace

uint32_t eventStampFor(double atMs) {
    const auto micros = static_cast<int64_t>(std::llround(atMs * microsecondsPerMs));
    const auto stamp = static_cast<uint32_t>(micros);
    return stamp == 0 ? 1 : stamp;
}

double eventTimeOf(uint32_t stamp, double nowMs) {
    const auto nowMicros = static_cast<int64_t>(std::llround(nowMs * microsecondsPerMs));
    const auto behind = static_cast<int32_t>(static_cast<uint32_t>(nowMicros) - stamp);
    return static_cast<double>(nowMicros - behind) / microsecondsPerMs;
}

double wrappedDifferenceMs(uint32_t serverMs, double localMs) {
    const double localWhole = std::floor(localMs);
    const auto localLow = static_cast<uint32_t>(static_cast<int64_t>(localWhole));
    const auto wholeDifference = static_cast<int32_t>(serverMs - localLow);
    return wholeDifference - (localMs - localWhole);
}

void TserverClockMap::addSample(uint32_t serverMs, double sentMs, double receivedMs) {
    if (receivedMs < sentMs || receivedMs - sentMs > longestRoundTripMs) return;
    // The server read its clock at some local time between sending and receiving, and kept only
    // the whole ms: server - local lies in (stamp - received, stamp + 1 - sent).
    const double low = wrappedDifferenceMs(serverMs, receivedMs);
    const double high = wrappedDifferenceMs(serverMs, sentMs) + 1.0;
    if (agreeing == 0) {
        restartFrom(low, high);
        return;
    }
    const double meetLow = std::max(lowOffset, low);
    const double meetHigh = std::min(highOffset, high);
    if (meetLow <= meetHigh) {
        lowOffset = meetLow;
        highOffset = meetHigh;
        agreeing += 1;
        return;
    }
    const double gap = meetLow - meetHigh;
    const bool wasSure = sure();
    restartFrom(low, high);
    // Clocks that drift apart slowly (a remote server's) only need the newer bounds.
    if (gap <= jumpToleranceMs && wasSure) agreeing = agreeingNeeded;
    else if (gap > jumpToleranceMs) jumped = true;
}

std::optional<double> TserverClockMap::localTimeOf(uint32_t serverMs, double nowMs) const {
    if (!sure()) return std::nullopt;
    const double offset = (lowOffset + highOffset) / 2.0;
    // The stamp dropped the fraction of its ms: the middle of that ms is the best guess.
    return nowMs + wrappedDifferenceMs(serverMs, nowMs + offset) + 0.5;
}

bool TserverClockMap::sure() const {
    return agreeing >= agreeingNeeded;
}

void TserverClockMap::restartFrom(double low, double high) {
    lowOffset = low;
    highOffset = high;
    agreeing = 1;
}
