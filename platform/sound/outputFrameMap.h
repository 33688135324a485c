// Which output frames carried which music frames, so the frame heard at an output frame is known.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

// One rendered piece of output: where it starts, and what it did to one music stream.
struct TframeSegment {
    int64_t outputStart = 0;
    int64_t frames = 0;
    uint64_t stream = 0;
    int64_t musicStart = 0;
    int64_t musicAdvance = 0;  // 0 while the stream is paused or stopped
    int64_t wrapOffset = -1;   // frames into the piece where a loop restarted at 0, or -1
    double rate = 1.0;         // music frames per output frame while it advances (the stretcher's)
};

// The recent segments in output order, with lookups of the music frame heard at an output frame.
class ToutputFrameMap {
public:
    void record(const TframeSegment& segment);
    // The stream's music frame at outputFrame; before its first segment the frame it starts at,
    // after its last the frame where it stopped; nothing when no segment of it is kept.
    std::optional<int64_t> musicFrameAt(uint64_t stream, int64_t outputFrame) const;
    // The output frame that carries the stream's music frame: inside a kept segment, else counted
    // on from its last one at that one's rate; nothing when no segment of it is kept.
    std::optional<int64_t> outputFrameOf(uint64_t stream, int64_t musicFrame) const;
    void forget(uint64_t stream);
    // Drops segments that end at or before outputFrame.
    void pruneBefore(int64_t outputFrame);
    size_t segmentCount() const { return segments.size(); }

private:
    std::deque<TframeSegment> segments;
};
