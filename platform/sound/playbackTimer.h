// How an output tells which of the frames it took from the mixer is being played now.
#pragma once

#include <cstdint>

// Output frames count every frame the mixer rendered, from 0 at its first block.
class TplaybackTimer {
public:
    virtual ~TplaybackTimer() = default;
    // The output frame being played at nowMs (high-resolution clock); may take the output's own
    // lock, so callers must not hold the mixer's.
    virtual int64_t playingOutputFrame(double nowMs) = 0;
};

// The last block an output took: frames are counted as played at the output rate from its time.
struct TblockPace {
    double timeMs = 0.0;
    int64_t outputStart = 0;
    int64_t frames = 0;

    // The output frame at nowMs, never before the block's start nor past its end.
    int64_t frameAt(double nowMs) const;
};
