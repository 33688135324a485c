// The last high-resolution reading, shared by the handlers of one frame.
#include "engine/performanceCounterTimer.h"

#include "platform/clockSeam.h"

namespace {

double lastReading = 0.0;

}  // namespace

double readHighResolutionMs() {
    lastReading = activeClock().highResolutionMs();
    return lastReading;
}

double lastHighResolutionMs() {
    return lastReading;
}
