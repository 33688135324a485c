// The mixer: one streamed music channel and 32 effect channels, and the music clock.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/sound/audioDecoder.h"
#include "platform/sound/outputFrameMap.h"
#include "platform/sound/playbackTimer.h"
#include "platform/sound/timeStretcher.h"

constexpr int32_t effectChannelCount = 32;

// One effect decoded whole: interleaved stereo frames in the output format.
struct TsampleHandle {
    std::vector<int16_t> samples;
    int32_t frameCount() const { return static_cast<int32_t>(samples.size() / audioChannels); }
};

// One music file being streamed; its state belongs to the mixer that opened it.
struct TstreamHandle;

// What the output took at one block, for measuring the clock against the output's own pace.
struct TblockRecord {
    double timeMs = 0.0;
    int64_t streamFrame = -1;  // music frame before the block, -1 without a music stream
    int64_t streamFramesTaken = 0;
    int64_t outputStart = 0;  // the output frame the block starts at
};

// Mixes the music channel and the effect channels for an output, with saturation. Every
// operation may be called from any thread; the output calls render, a worker decodes ahead.
class TaudioMixer {
public:
    // With decodeOnWorker false nothing decodes in the background; decodeAhead does it on call.
    explicit TaudioMixer(bool decodeOnWorker);
    ~TaudioMixer();
    TaudioMixer(const TaudioMixer&) = delete;
    TaudioMixer& operator=(const TaudioMixer&) = delete;

    // A stream over the file's bytes, positioned at its start; null when nothing decodes.
    std::shared_ptr<TstreamHandle> openStream(std::vector<uint8_t> fileBytes);
    // Puts the stream on the music channel (replacing any other) and lets it advance.
    void play(const std::shared_ptr<TstreamHandle>& stream);
    void stop(const std::shared_ptr<TstreamHandle>& stream);
    // Takes the stream off the music channel for good.
    void release(const std::shared_ptr<TstreamHandle>& stream);
    void setLooping(const std::shared_ptr<TstreamHandle>& stream, bool looping);
    void seek(const std::shared_ptr<TstreamHandle>& stream, int64_t frame);
    // The frame heard at nowMs (high-resolution clock): the music the output's playing frame
    // carried. It never steps back by read jitter and holds while paused.
    int64_t positionFrames(const std::shared_ptr<TstreamHandle>& stream, double nowMs);
    // The frames handed to the output, interpolated from the time of the last block.
    int64_t writePositionFrames(const std::shared_ptr<TstreamHandle>& stream, double nowMs);
    // The frames handed to the output so far: the position counted only at blocks.
    int64_t handedOverFrames(const std::shared_ptr<TstreamHandle>& stream);
    int64_t lengthFrames(const std::shared_ptr<TstreamHandle>& stream);
    // Plays the stream's music at the rate (music frames per output frame, pitch kept), from the
    // next block; a rate the stretcher cannot give, or any when it cannot start, plays at 1.
    // Returns the rate in force. Positions stay in music frames: the clock runs on song time.
    double setMusicRate(const std::shared_ptr<TstreamHandle>& stream, double rate);

    // Starts the effect on a free channel; false when all are busy.
    bool playEffect(std::shared_ptr<const TsampleHandle> sample);
    // Starts the effect at the output frame played at heardMs (high-resolution clock, read at
    // nowMs), or at the first frame not yet handed to the output when that one was; returns when
    // its first frame is heard, nothing when all channels are busy.
    std::optional<double> playEffectHeardAt(std::shared_ptr<const TsampleHandle> sample, double heardMs,
                                            double nowMs);
    // Starts the effect at the output frame that carries the stream's music frame (counted on at
    // the present rate when that frame is still to be rendered), or at the first frame not yet
    // handed over when it was; returns when its first frame is heard (high-resolution clock),
    // nothing when the stream has no rendered music or all channels are busy.
    std::optional<double> playEffectAtSongTime(std::shared_ptr<const TsampleHandle> sample,
                                               const std::shared_ptr<TstreamHandle>& stream, int64_t musicFrame,
                                               double nowMs);
    // Silences every channel playing the effect, also where it is still to start.
    void stopEffect(const std::shared_ptr<const TsampleHandle>& sample);
    int32_t busyEffectChannels();

    // Halts every playing channel at its position; channels started later are not halted.
    void pauseAll(double nowMs);
    void resumeAll();

    // Fills out with frameCount interleaved stereo frames, taken at nowMs; returns the output
    // frame the block starts at.
    int64_t render(int16_t* out, size_t frameCount, double nowMs);
    // Where the playing frame comes from (not owned; nullptr: the blocks' own pace, no
    // latency). The output clears it before it goes away.
    void setPlaybackTimer(TplaybackTimer* timer);
    // Decodes the music channel's stream until its buffer is full.
    void decodeAhead();

    // Records every block from now on, up to capacity records.
    void startBlockLog(size_t capacity);
    size_t loggedBlockCount();
    std::vector<TblockRecord> takeBlockLog();
    // Records every piece of the frame map as rendered from now on (before any merging), up to
    // capacity: which output frames carried which music, at what rate.
    void startSegmentLog(size_t capacity);
    std::vector<TframeSegment> takeSegmentLog();

private:
    struct TeffectChannel {
        std::shared_ptr<const TsampleHandle> sample;
        size_t nextFrame = 0;
        // The output frame it starts at: nothing is mixed before it.
        int64_t startFrame = 0;
        bool paused = false;
    };

    int64_t mixMusic(int32_t* mix, size_t frameCount, double nowMs, int64_t outputStart);
    int64_t mixStretched(TstreamHandle& stream, int32_t* mix, size_t frameCount, int64_t outputStart);
    void feedStretcher(TstreamHandle& stream, size_t frameCount);
    void recordSegment(const TframeSegment& segment);
    void mixEffects(int32_t* mix, size_t frameCount, int64_t outputStart);
    bool startEffect(std::shared_ptr<const TsampleHandle> sample, int64_t startFrame);
    std::optional<double> startEffectHeard(std::shared_ptr<const TsampleHandle> sample, int64_t wanted,
                                           int64_t playing, double nowMs);
    int64_t renderPiece(int16_t* out, size_t frameCount, double nowMs, int64_t outputStart);
    int64_t interpolatedFrame(const TstreamHandle& stream, double nowMs) const;
    std::optional<int64_t> timedPlayingFrame(double nowMs);
    int64_t heardFrame(const TstreamHandle& stream, int64_t playingFrame) const;
    bool fillOnce(const std::shared_ptr<TstreamHandle>& stream);
    void decodeLoop();

    // Taken before the mixer's lock, never inside it: the timer may take the output's lock,
    // which the output holds while it renders.
    std::mutex timerLock;
    TplaybackTimer* timer = nullptr;

    std::mutex lock;
    std::shared_ptr<TstreamHandle> music;
    uint64_t nextStreamId = 1;
    int64_t outputFrames = 0;
    TblockPace lastBlock;
    ToutputFrameMap frameMap;
    std::array<TeffectChannel, effectChannelCount> effects;
    std::vector<int32_t> mixBuffer;
    std::vector<int32_t> stretchInput;
    std::vector<TblockRecord> blockLog;
    size_t blockLogCapacity = 0;
    std::vector<TframeSegment> segmentLog;
    size_t segmentLogCapacity = 0;

    std::condition_variable decodeWanted;
    bool stopping = false;
    std::thread decodeWorker;
};

// Whole-number milliseconds of a frame count at the output rate, rounded to nearest.
int32_t framesToMs(int64_t frames);
int64_t msToFrames(int32_t milliseconds);
