// Recording rendered pieces and looking up the music frame heard at an output frame.
#include "platform/sound/outputFrameMap.h"

#include <algorithm>
#include <cmath>

namespace {

// The music frame outputStep frames into the segment; it stops where the segment's music ran out.
int64_t musicFrameAfter(const TframeSegment& segment, int64_t outputStep) {
    const int64_t scaled = segment.rate == 1.0 ? outputStep : std::llround(static_cast<double>(outputStep) * segment.rate);
    const int64_t step = std::min(scaled, segment.musicAdvance);
    if (segment.wrapOffset >= 0 && step >= segment.wrapOffset) return step - segment.wrapOffset;
    return segment.musicStart + step;
}

bool advancesEveryFrame(const TframeSegment& segment) {
    return segment.wrapOffset < 0 && segment.rate == 1.0 && segment.musicAdvance == segment.frames;
}

int64_t outputStepsFor(const TframeSegment& segment, int64_t musicSteps) {
    return std::llround(static_cast<double>(musicSteps) / segment.rate);
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
        if (at->outputStart <= outputFrame) return musicFrameAfter(*at, outputFrame - at->outputStart);
        latest = &*at;
    }
    if (!latest) return std::nullopt;
    return latest->musicStart;
}

std::optional<int64_t> ToutputFrameMap::outputFrameOf(uint64_t stream, int64_t musicFrame) const {
    const TframeSegment* last = nullptr;
    for (const TframeSegment& segment : segments) {
        if (segment.stream != stream) continue;
        last = &segment;
        const bool inside = segment.wrapOffset < 0 && segment.musicStart <= musicFrame &&
                            musicFrame < segment.musicStart + segment.musicAdvance;
        if (inside) return segment.outputStart + outputStepsFor(segment, musicFrame - segment.musicStart);
    }
    if (!last || last->wrapOffset >= 0) return std::nullopt;
    const int64_t lastEnd = last->outputStart + last->frames;
    const int64_t heldFrame = last->musicStart + last->musicAdvance;
    return lastEnd + outputStepsFor(*last, musicFrame - heldFrame);
}

void ToutputFrameMap::forget(uint64_t stream) {
    std::erase_if(segments, [stream](const TframeSegment& segment) { return segment.stream == stream; });
}

void ToutputFrameMap::pruneBefore(int64_t outputFrame) {
    while (!segments.empty() && segments.front().outputStart + segments.front().frames <= outputFrame)
        segments.pop_front();
}
