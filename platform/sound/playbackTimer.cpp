// The pace of the last block, interpolated at the output rate.
#include "platform/sound/playbackTimer.h"

#include <algorithm>
#include <cmath>

#include "platform/sound/audioDecoder.h"

int64_t TblockPace::frameAt(double nowMs) const {
    const double elapsedFrames = std::floor((nowMs - timeMs) * audioRate / 1000.0);
    return outputStart + static_cast<int64_t>(std::clamp(elapsedFrames, 0.0, static_cast<double>(frames)));
}
