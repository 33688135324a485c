// Recording rendered pieces and looking up the music frame heard at an output frame.
#include "platform/sound/outputFrameMap.h"

#include <algorithm>

namespace {

// The music frame step frames into the segment (step within 0..advance).
int64_t musicFrameAfter(const TframeSegment& segment, int64_t step) {
    if (segment.wrapOffset >= 0 && step >= segment.wrapOffset) return step - segment.wrapOffset;
    return segment.musicStart + step;
}

bool advancesEveryFrame(const TframeSegment& segment) {
    return segment.wrapOffset < 0 && segment.musicAdvance == segment.frames;
}

// True when next can be told as the continuation of last without changing any lookup.
bool continues(const TframeSegment& last, const TframeSegment& next) {
    if (last.stream != next.stream || last.outputStart + last.frames != next.outputStart) return false;
    if (advancesEveryFrame(last) && advancesEveryFrame(next))
        return next.musicStart == last.musicStart + last.musicAdvance;
    const bool bothHeld = last.musicAdvance == 0 && next.musicAdvance == 0 && last.wrapOffset < 0 &&
                          next.wrapOffset < 0;
    return bothHeld && next.musicStart == last.musicStart;
}

}  // namespace

void ToutputFrameMap::record(const TframeSegment& segment) {
    if (segment.frames <= 0) return;
    if (!segments.empty() && continues(segments.back(), segment)) {
        TframeSegment& last = segments.back();
        last.frames += segment.frames;
        last.musicAdvance += segment.musicAdvance;
        return;
    }
    segments.push_back(segment);
}

std::optional<int64_t> ToutputFrameMap::musicFrameAt(uint64_t stream, int64_t outputFrame) const {
    const TframeSegment* latest = nullptr;
    for (auto at = segments.rbegin(); at != segments.rend(); ++at) {
        if (at->stream != stream) continue;
        if (at->outputStart <= outputFrame) {
            const int64_t step = std::min(outputFrame - at->outputStart, at->musicAdvance);
            return musicFrameAfter(*at, step);
        }
        latest = &*at;
    }
    if (!latest) return std::nullopt;
    return latest->musicStart;
}

void ToutputFrameMap::forget(uint64_t stream) {
    std::erase_if(segments, [stream](const TframeSegment& segment) { return segment.stream == stream; });
}

void ToutputFrameMap::pruneBefore(int64_t outputFrame) {
    while (!segments.empty() && segments.front().outputStart + segments.front().frames <= outputFrame)
        segments.pop_front();
}
