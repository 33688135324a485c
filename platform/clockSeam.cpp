// The system clock and the switch that lets tests replace it.
#include "platform/clockSeam.h"

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cmath>

namespace {

std::atomic<TmusicPositionSource> musicSource{nullptr};
std::atomic<TmusicPositionSource> musicLengthSource{nullptr};

class TsystemClock : public Tclock {
public:
    uint32_t milliseconds() override { return systemMilliseconds(); }
    double highResolutionMs() override { return systemHighResolutionMs(); }
    int32_t musicPositionMs() override {
        const TmusicPositionSource source = musicSource.load();
        return source ? source() : 0;
    }
    int32_t musicLengthMs() override {
        const TmusicPositionSource source = musicLengthSource.load();
        return source ? source() : 0;
    }
};

TsystemClock systemClock;
std::atomic<Tclock*> currentClock{&systemClock};

}  // namespace

uint32_t systemMilliseconds() {
    return SDL_GetTicks();
}

double systemHighResolutionMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void setMusicPositionSource(TmusicPositionSource source) {
    musicSource.store(source);
}

void setMusicLengthSource(TmusicPositionSource source) {
    musicLengthSource.store(source);
}

Tclock& activeClock() {
    return *currentClock.load();
}

void installClock(Tclock* clock) {
    currentClock.store(clock ? clock : &systemClock);
}

void TmanualClock::advance(double millis, bool musicRuns) {
    highResolution += millis;
    ms += static_cast<uint32_t>(std::llround(millis));
    if (musicRuns) musicPosition += static_cast<int32_t>(std::llround(millis));
}
