// Mixing with saturation, decoding ahead of the output, and the interpolated music clock.
#include "platform/sound/audioMixer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <string>

namespace {

// Decoded music kept ahead of the output (about 0.74 s), filled in pieces of decodePiece.
constexpr size_t ringCapacityFrames = 32768;
constexpr size_t decodePiece = 4096;
constexpr size_t mixPieceFrames = 1024;
constexpr auto decodePollPeriod = std::chrono::milliseconds(10);
// Backward steps smaller than this are read jitter, larger ones are loop restarts.
constexpr int64_t backstepWindowFrames = 1024;
// Rendered pieces kept for looking up what is heard: more than any output's latency (3 s).
constexpr int64_t keptOutputFrames = 3 * audioRate;
// Music fed to the stretcher at most at once.
constexpr size_t stretchInputFrames = 4096;

int16_t saturate(int32_t value) {
    return static_cast<int16_t>(std::clamp<int32_t>(value, std::numeric_limits<int16_t>::min(),
                                                    std::numeric_limits<int16_t>::max()));
}

// A first-in first-out buffer of stereo frames with running totals of what went in and out.
class TframeRing {
public:
    TframeRing() : samples(ringCapacityFrames * audioChannels) {}

    size_t size() const { return static_cast<size_t>(written - taken); }
    size_t freeSpace() const { return ringCapacityFrames - size(); }
    uint64_t writtenTotal() const { return written; }
    uint64_t takenTotal() const { return taken; }

    void clear() { taken = written; }

    void push(const int16_t* frames, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const size_t slot = static_cast<size_t>((written + i) % ringCapacityFrames) * audioChannels;
            samples[slot] = frames[i * audioChannels];
            samples[slot + 1] = frames[i * audioChannels + 1];
        }
        written += count;
    }

    // Adds count frames to mix and takes them out.
    void mixInto(int32_t* mix, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const size_t slot = static_cast<size_t>((taken + i) % ringCapacityFrames) * audioChannels;
            mix[i * audioChannels] += samples[slot];
            mix[i * audioChannels + 1] += samples[slot + 1];
        }
        taken += count;
    }

private:
    std::vector<int16_t> samples;
    uint64_t written = 0;
    uint64_t taken = 0;
};

// Where the last block left the music: the clock interpolates from here.
struct TmusicAnchor {
    bool valid = false;
    double timeMs = 0.0;
    int64_t frame = 0;
    int64_t advance = 0;
    int64_t wrapOffset = -1;  // frames into the block where a loop restarted at 0, or -1
};

}  // namespace

struct TstreamHandle {
    explicit TstreamHandle(std::vector<uint8_t> fileBytes) : decoder(std::move(fileBytes)) {}

    // Decoding side, owned by whoever holds decodeLock (taken before the mixer's lock).
    std::mutex decodeLock;
    TmpegDecoder decoder;
    int64_t decodeFrame = 0;

    // Output side, guarded by the mixer's lock.
    uint64_t id = 0;
    TframeRing ring;
    std::deque<uint64_t> loopRestarts;  // ring totals at which the music starts over at frame 0
    int64_t readFrame = 0;
    int64_t length = 0;
    bool looping = false;
    bool playing = false;
    bool paused = false;
    bool held = false;
    int64_t heldFrame = 0;
    int64_t lastReported = -1;
    TmusicAnchor anchor;
    // While the music plays at a rate other than 1: the stretcher, the music frame its next frame
    // out carries, the rate those frames come at, and how many of its frames still come at the
    // rate before a change (-1: none pending).
    std::unique_ptr<TtimeStretcher> stretcher;
    double stretchedMusic = 0.0;
    double trackedRate = 1.0;
    int64_t rateChangeIn = -1;
    bool finalFed = false;
};

namespace {

// One decoded piece of music on its way from the decoder to the ring.
struct TdecodedPiece {
    std::vector<int16_t> samples;
    size_t frames = 0;
    bool restartedAtZero = false;
    bool reachedEnd = false;
};

// Decodes the next piece, starting over at frame 0 when a looping stream has ended. The caller
// holds stream.decodeLock.
TdecodedPiece decodePieceOf(TstreamHandle& stream, bool looping) {
    TdecodedPiece piece;
    if (stream.decoder.atEnd()) {
        // A decoder that ended on a seek (past the end, or where the stream breaks) ends the
        // stream at that frame: nothing after it can ever be handed over.
        piece.reachedEnd = !looping;
        if (!looping || stream.decodeFrame == 0) return piece;
        stream.decoder.seek(0);
        stream.decodeFrame = 0;
        piece.restartedAtZero = true;
    }
    piece.samples.resize(decodePiece * audioChannels);
    piece.frames = stream.decoder.read(piece.samples.data(), decodePiece);
    stream.decodeFrame += static_cast<int64_t>(piece.frames);
    piece.reachedEnd = stream.decoder.atEnd();
    return piece;
}

// Queues a decoded piece; the caller holds stream.decodeLock and the mixer lock.
void queuePiece(TstreamHandle& stream, const TdecodedPiece& piece) {
    if (piece.restartedAtZero && piece.frames > 0) stream.loopRestarts.push_back(stream.ring.writtenTotal());
    stream.ring.push(piece.samples.data(), piece.frames);
    // The frames read to the end are the exact length, whatever the file's index said.
    if (piece.reachedEnd && stream.decodeFrame > 0) stream.length = stream.decodeFrame;
}

// Takes up to count frames of the music into mix; returns how many, and where a loop restarted.
int64_t consumeMusic(TstreamHandle& stream, int32_t* mix, size_t count, int64_t& wrapOffset) {
    size_t consumed = 0;
    while (consumed < count) {
        const uint64_t at = stream.ring.takenTotal();
        if (!stream.loopRestarts.empty() && stream.loopRestarts.front() <= at) {
            if (!stream.looping) break;
            stream.loopRestarts.pop_front();
            stream.readFrame = 0;
            wrapOffset = static_cast<int64_t>(consumed);
            continue;
        }
        size_t available = stream.ring.size();
        if (!stream.loopRestarts.empty())
            available = std::min<size_t>(available, static_cast<size_t>(stream.loopRestarts.front() - at));
        const size_t take = std::min(count - consumed, available);
        if (take == 0) break;
        stream.ring.mixInto(mix + consumed * audioChannels, take);
        stream.readFrame += static_cast<int64_t>(take);
        consumed += take;
    }
    return static_cast<int64_t>(consumed);
}

// A rate the stretcher gives, else 1.
double usableRate(double rate) {
    return rate >= slowestRate && rate <= fastestRate ? rate : 1.0;
}

// Once a program: the music plays on at its own speed, and saying so every song would be noise.
void reportStretcherFailure(const std::string& failure) {
    static bool reported = false;
    if (reported) return;
    reported = true;
    std::fprintf(stderr, "Speed: %s; the music plays at 1.00x.\n", failure.c_str());
}

// The music frame the stretcher's next frame out carries, within the music.
int64_t stretchedFrame(const TstreamHandle& stream) {
    return std::clamp<int64_t>(std::llround(stream.stretchedMusic), 0, stream.length);
}

// The stretcher starts over where the music stands: its next frame out is that music frame.
void restartStretching(TstreamHandle& stream, double rate) {
    stream.stretcher->restart(rate);
    stream.stretchedMusic = static_cast<double>(stream.readFrame) - stream.stretcher->lagFrames() * rate;
    stream.trackedRate = rate;
    stream.rateChangeIn = -1;
    stream.finalFed = false;
}

}  // namespace

TaudioMixer::TaudioMixer(bool decodeOnWorker)
    : mixBuffer(mixPieceFrames * audioChannels), stretchInput(stretchInputFrames * audioChannels) {
    if (decodeOnWorker) decodeWorker = std::thread([this] { decodeLoop(); });
}

TaudioMixer::~TaudioMixer() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    decodeWanted.notify_all();
    if (decodeWorker.joinable()) decodeWorker.join();
}

std::shared_ptr<TstreamHandle> TaudioMixer::openStream(std::vector<uint8_t> fileBytes) {
    auto stream = std::make_shared<TstreamHandle>(std::move(fileBytes));
    if (!stream->decoder.valid()) return nullptr;
    std::lock_guard<std::mutex> decoding(stream->decodeLock);
    const TdecodedPiece first = decodePieceOf(*stream, false);
    if (first.frames == 0) return nullptr;
    // Without an index the length is open until the decoder reaches the end.
    const int64_t indexed = stream->decoder.lengthFrames();
    stream->length = indexed > 0 ? indexed : std::numeric_limits<int32_t>::max();
    queuePiece(*stream, first);
    std::lock_guard<std::mutex> guard(lock);
    stream->id = nextStreamId++;
    return stream;
}

void TaudioMixer::play(const std::shared_ptr<TstreamHandle>& stream) {
    if (!stream) return;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (music && music != stream) music->playing = false;
        music = stream;
        stream->playing = true;
        stream->paused = false;
        stream->held = false;
        stream->anchor.valid = false;
    }
    decodeWanted.notify_all();
}

void TaudioMixer::stop(const std::shared_ptr<TstreamHandle>& stream) {
    if (!stream) return;
    std::lock_guard<std::mutex> guard(lock);
    stream->playing = false;
    stream->paused = false;
    stream->held = false;
    stream->anchor.valid = false;
}

void TaudioMixer::release(const std::shared_ptr<TstreamHandle>& stream) {
    if (!stream) return;
    std::lock_guard<std::mutex> guard(lock);
    stream->playing = false;
    if (music == stream) music.reset();
    frameMap.forget(stream->id);
}

void TaudioMixer::setLooping(const std::shared_ptr<TstreamHandle>& stream, bool looping) {
    if (!stream) return;
    {
        std::lock_guard<std::mutex> guard(lock);
        stream->looping = looping;
    }
    decodeWanted.notify_all();
}

void TaudioMixer::seek(const std::shared_ptr<TstreamHandle>& stream, int64_t frame) {
    if (!stream) return;
    std::lock_guard<std::mutex> decoding(stream->decodeLock);
    int64_t target = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        target = std::clamp<int64_t>(frame, 0, stream->length);
    }
    stream->decoder.seek(target);
    stream->decodeFrame = target;
    const TdecodedPiece first = decodePieceOf(*stream, false);
    {
        std::lock_guard<std::mutex> guard(lock);
        stream->ring.clear();
        stream->loopRestarts.clear();
        stream->readFrame = target;
        queuePiece(*stream, first);
        if (stream->stretcher && stream->stretcher->rate() == 1.0) stream->stretcher.reset();
        if (stream->stretcher) restartStretching(*stream, stream->stretcher->rate());
        stream->held = false;
        stream->anchor.valid = false;
        stream->lastReported = -1;
        frameMap.forget(stream->id);
    }
    decodeWanted.notify_all();
}

int64_t TaudioMixer::interpolatedFrame(const TstreamHandle& stream, double nowMs) const {
    if (stream.held) return stream.heldFrame;
    const TmusicAnchor& anchor = stream.anchor;
    if (music.get() != &stream || !anchor.valid) return stream.readFrame;
    const double elapsedFrames = std::floor((nowMs - anchor.timeMs) * audioRate / 1000.0);
    const int64_t step = std::clamp<int64_t>(static_cast<int64_t>(elapsedFrames), 0, anchor.advance);
    if (anchor.wrapOffset >= 0 && step >= anchor.wrapOffset) return step - anchor.wrapOffset;
    return std::min(anchor.frame + step, stream.length);
}

void TaudioMixer::setPlaybackTimer(TplaybackTimer* newTimer) {
    std::lock_guard<std::mutex> guard(timerLock);
    timer = newTimer;
}

std::optional<int64_t> TaudioMixer::timedPlayingFrame(double nowMs) {
    std::lock_guard<std::mutex> guard(timerLock);
    if (!timer) return std::nullopt;
    return timer->playingOutputFrame(nowMs);
}

int64_t TaudioMixer::heardFrame(const TstreamHandle& stream, int64_t playingFrame) const {
    if (stream.held) return stream.heldFrame;
    const std::optional<int64_t> mapped = frameMap.musicFrameAt(stream.id, playingFrame);
    return std::min(mapped.value_or(stream.readFrame), stream.length);
}

int64_t TaudioMixer::positionFrames(const std::shared_ptr<TstreamHandle>& stream, double nowMs) {
    if (!stream) return 0;
    const std::optional<int64_t> timed = timedPlayingFrame(nowMs);
    std::lock_guard<std::mutex> guard(lock);
    int64_t frame = heardFrame(*stream, timed.value_or(lastBlock.frameAt(nowMs)));
    const int64_t window = std::min(backstepWindowFrames, stream->length / 2);
    if (frame < stream->lastReported && stream->lastReported - frame < window) frame = stream->lastReported;
    stream->lastReported = frame;
    return frame;
}

int64_t TaudioMixer::writePositionFrames(const std::shared_ptr<TstreamHandle>& stream, double nowMs) {
    if (!stream) return 0;
    std::lock_guard<std::mutex> guard(lock);
    return interpolatedFrame(*stream, nowMs);
}

int64_t TaudioMixer::handedOverFrames(const std::shared_ptr<TstreamHandle>& stream) {
    if (!stream) return 0;
    std::lock_guard<std::mutex> guard(lock);
    return stream->readFrame;
}

int64_t TaudioMixer::lengthFrames(const std::shared_ptr<TstreamHandle>& stream) {
    if (!stream) return 0;
    std::lock_guard<std::mutex> guard(lock);
    return stream->length;
}

double TaudioMixer::setMusicRate(const std::shared_ptr<TstreamHandle>& stream, double wanted) {
    if (!stream) return 1.0;
    const double rate = usableRate(wanted);
    // Measured here, outside the lock, so that the output never waits for it.
    if (rate != 1.0) TtimeStretcher::lagFramesAt(rate);
    std::lock_guard<std::mutex> guard(lock);
    if (!stream->stretcher) {
        if (rate == 1.0) return 1.0;
        std::string failure;
        stream->stretcher = TtimeStretcher::start(rate, failure);
        if (!stream->stretcher) {
            reportStretcherFailure(failure);
            return 1.0;
        }
        restartStretching(*stream, rate);
        return rate;
    }
    if (rate == stream->stretcher->rate()) return rate;
    // The frames it made already, and those still on their way through it, come at the old rate;
    // the clock changes pace after them.
    const auto ready = static_cast<int64_t>(stream->stretcher->framesReady());
    stream->stretcher->setRate(rate);
    stream->rateChangeIn = ready + static_cast<int64_t>(stream->stretcher->delayFrames());
    return rate;
}

bool TaudioMixer::playEffect(std::shared_ptr<const TsampleHandle> sample) {
    std::lock_guard<std::mutex> guard(lock);
    return startEffect(std::move(sample), outputFrames);
}

std::optional<double> TaudioMixer::playEffectHeardAt(std::shared_ptr<const TsampleHandle> sample, double heardMs,
                                                     double nowMs) {
    const std::optional<int64_t> timed = timedPlayingFrame(nowMs);
    std::lock_guard<std::mutex> guard(lock);
    const int64_t playing = timed.value_or(lastBlock.frameAt(nowMs));
    const int64_t wanted = playing + std::llround((heardMs - nowMs) * audioRate / 1000.0);
    return startEffectHeard(std::move(sample), wanted, playing, nowMs);
}

std::optional<double> TaudioMixer::playEffectAtSongTime(std::shared_ptr<const TsampleHandle> sample,
                                                        const std::shared_ptr<TstreamHandle>& stream,
                                                        int64_t musicFrame, double nowMs) {
    if (!stream) return std::nullopt;
    const std::optional<int64_t> timed = timedPlayingFrame(nowMs);
    std::lock_guard<std::mutex> guard(lock);
    const std::optional<int64_t> carrying = frameMap.outputFrameOf(stream->id, musicFrame);
    if (!carrying) return std::nullopt;
    return startEffectHeard(std::move(sample), *carrying, timed.value_or(lastBlock.frameAt(nowMs)), nowMs);
}

// The caller holds the mixer's lock. A frame already handed over starts it at the first one not.
std::optional<double> TaudioMixer::startEffectHeard(std::shared_ptr<const TsampleHandle> sample, int64_t wanted,
                                                    int64_t playing, double nowMs) {
    const int64_t start = std::max(wanted, outputFrames);
    if (!startEffect(std::move(sample), start)) return std::nullopt;
    return nowMs + static_cast<double>(start - playing) * 1000.0 / audioRate;
}

// The caller holds the mixer's lock.
bool TaudioMixer::startEffect(std::shared_ptr<const TsampleHandle> sample, int64_t startFrame) {
    if (!sample || sample->frameCount() == 0) return false;
    for (TeffectChannel& channel : effects) {
        if (channel.sample) continue;
        channel.sample = std::move(sample);
        channel.nextFrame = 0;
        channel.startFrame = startFrame;
        channel.paused = false;
        return true;
    }
    return false;
}

void TaudioMixer::stopEffect(const std::shared_ptr<const TsampleHandle>& sample) {
    std::lock_guard<std::mutex> guard(lock);
    for (TeffectChannel& channel : effects)
        if (channel.sample == sample) channel.sample.reset();
}

int32_t TaudioMixer::busyEffectChannels() {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<int32_t>(std::count_if(effects.begin(), effects.end(),
                                              [](const TeffectChannel& channel) { return channel.sample != nullptr; }));
}

void TaudioMixer::pauseAll(double nowMs) {
    const std::optional<int64_t> timed = timedPlayingFrame(nowMs);
    std::lock_guard<std::mutex> guard(lock);
    if (music && music->playing && !music->paused) {
        music->heldFrame = heardFrame(*music, timed.value_or(lastBlock.frameAt(nowMs)));
        music->held = true;
        music->paused = true;
    }
    for (TeffectChannel& channel : effects)
        if (channel.sample) channel.paused = true;
}

void TaudioMixer::resumeAll() {
    std::lock_guard<std::mutex> guard(lock);
    if (music) music->paused = false;
    for (TeffectChannel& channel : effects) channel.paused = false;
}

int64_t TaudioMixer::render(int16_t* out, size_t frameCount, double nowMs) {
    std::lock_guard<std::mutex> guard(lock);
    const int64_t blockStart = outputFrames;
    TblockRecord record;
    record.timeMs = nowMs;
    record.outputStart = blockStart;
    if (music) record.streamFrame = music->readFrame;
    size_t done = 0;
    while (done < frameCount) {
        const size_t piece = std::min(mixPieceFrames, frameCount - done);
        // Later pieces of a large block count as taken when their turn comes at the output rate.
        const double pieceTime = nowMs + static_cast<double>(done) * 1000.0 / audioRate;
        record.streamFramesTaken +=
            renderPiece(out + done * audioChannels, piece, pieceTime, blockStart + static_cast<int64_t>(done));
        done += piece;
    }
    outputFrames += static_cast<int64_t>(frameCount);
    lastBlock = TblockPace{nowMs, blockStart, static_cast<int64_t>(frameCount)};
    frameMap.pruneBefore(outputFrames - keptOutputFrames);
    if (blockLog.size() < blockLogCapacity) blockLog.push_back(record);
    return blockStart;
}

int64_t TaudioMixer::renderPiece(int16_t* out, size_t frameCount, double nowMs, int64_t outputStart) {
    int32_t* mix = mixBuffer.data();
    std::fill(mix, mix + frameCount * audioChannels, 0);
    const int64_t musicFrames = mixMusic(mix, frameCount, nowMs, outputStart);
    mixEffects(mix, frameCount, outputStart);
    for (size_t i = 0; i < frameCount * audioChannels; ++i) out[i] = saturate(mix[i]);
    return musicFrames;
}

int64_t TaudioMixer::mixMusic(int32_t* mix, size_t frameCount, double nowMs, int64_t outputStart) {
    if (!music) return 0;
    TstreamHandle& stream = *music;
    TmusicAnchor anchor;
    anchor.valid = true;
    anchor.timeMs = nowMs;
    anchor.frame = stream.readFrame;
    const bool advancing = stream.playing && !stream.paused;
    if (stream.stretcher) {
        anchor.frame = stretchedFrame(stream);
        if (advancing) anchor.advance = mixStretched(stream, mix, frameCount, outputStart);
        else recordSegment(TframeSegment{outputStart, static_cast<int64_t>(frameCount), stream.id, anchor.frame, 0,
                                           -1, stream.trackedRate});
    } else {
        if (advancing) anchor.advance = consumeMusic(stream, mix, frameCount, anchor.wrapOffset);
        recordSegment(TframeSegment{outputStart, static_cast<int64_t>(frameCount), stream.id, anchor.frame,
                                      anchor.advance, anchor.wrapOffset});
    }
    stream.anchor = anchor;
    if (!stream.paused) stream.held = false;
    return anchor.advance;
}

// Feeds the stretcher until it has the piece ready, the music ran out, or the decoder is behind.
void TaudioMixer::feedStretcher(TstreamHandle& stream, size_t frameCount) {
    TtimeStretcher& stretcher = *stream.stretcher;
    while (!stream.finalFed && stretcher.framesReady() < frameCount) {
        const size_t wanted = std::clamp<size_t>(stretcher.framesWanted(), 1, stretchInputFrames);
        std::fill_n(stretchInput.begin(), wanted * audioChannels, 0);
        int64_t wrapOffset = -1;
        const auto took = static_cast<size_t>(consumeMusic(stream, stretchInput.data(), wanted, wrapOffset));
        const bool ended = took < wanted && stream.readFrame >= stream.length;
        if (took == 0 && !ended) return;
        stretcher.feed(stretchInput.data(), took, ended);
        stream.finalFed = ended;
    }
}

// Mixes the stretched music and records which music frames each output frame carries; returns
// how many music frames the piece advanced.
int64_t TaudioMixer::mixStretched(TstreamHandle& stream, int32_t* mix, size_t frameCount, int64_t outputStart) {
    feedStretcher(stream, frameCount);
    const auto mixed = static_cast<int64_t>(stream.stretcher->mixInto(mix, frameCount));
    // Everything fed was heard: the clock stands at the end, as the unstretched one does.
    if (mixed == 0 && stream.finalFed) stream.stretchedMusic = static_cast<double>(stream.length);
    const int64_t first = stretchedFrame(stream);
    int64_t done = 0;
    while (done < mixed) {
        if (stream.rateChangeIn == 0) {
            const double newRate = stream.stretcher->rate();
            stream.stretchedMusic += TtimeStretcher::lagFramesAt(stream.trackedRate) * stream.trackedRate -
                                     stream.stretcher->lagFrames() * newRate;
            stream.trackedRate = newRate;
            stream.rateChangeIn = -1;
        }
        const int64_t piece = stream.rateChangeIn > 0 ? std::min(mixed - done, stream.rateChangeIn) : mixed - done;
        const int64_t start = stretchedFrame(stream);
        stream.stretchedMusic += static_cast<double>(piece) * stream.trackedRate;
        const int64_t end = stretchedFrame(stream);
        recordSegment(TframeSegment{outputStart + done, piece, stream.id, start, end - start, -1, stream.trackedRate});
        if (stream.rateChangeIn > 0) stream.rateChangeIn -= piece;
        done += piece;
    }
    const int64_t last = stretchedFrame(stream);
    if (done < static_cast<int64_t>(frameCount))
        recordSegment(TframeSegment{outputStart + done, static_cast<int64_t>(frameCount) - done, stream.id, last, 0,
                                      -1, stream.trackedRate});
    return last - first;
}

void TaudioMixer::mixEffects(int32_t* mix, size_t frameCount, int64_t outputStart) {
    for (TeffectChannel& channel : effects) {
        if (!channel.sample || channel.paused) continue;
        // An effect due later in this piece starts there; one due past it waits.
        const int64_t due = std::clamp<int64_t>(channel.startFrame - outputStart, 0, static_cast<int64_t>(frameCount));
        const auto silentFrames = static_cast<size_t>(due);
        const std::vector<int16_t>& samples = channel.sample->samples;
        const size_t total = samples.size() / audioChannels;
        const size_t count = std::min(frameCount - silentFrames, total - channel.nextFrame);
        const int16_t* from = samples.data() + channel.nextFrame * audioChannels;
        int32_t* into = mix + silentFrames * audioChannels;
        for (size_t i = 0; i < count * audioChannels; ++i) into[i] += from[i];
        channel.nextFrame += count;
        if (channel.nextFrame >= total) channel.sample.reset();
    }
}

bool TaudioMixer::fillOnce(const std::shared_ptr<TstreamHandle>& stream) {
    std::lock_guard<std::mutex> decoding(stream->decodeLock);
    bool looping = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (stream->ring.freeSpace() < decodePiece) return false;
        looping = stream->looping;
    }
    const TdecodedPiece piece = decodePieceOf(*stream, looping);
    std::lock_guard<std::mutex> guard(lock);
    queuePiece(*stream, piece);
    return piece.frames > 0;
}

void TaudioMixer::decodeAhead() {
    std::shared_ptr<TstreamHandle> stream;
    {
        std::lock_guard<std::mutex> guard(lock);
        stream = music;
    }
    if (!stream) return;
    while (fillOnce(stream)) {
    }
}

void TaudioMixer::decodeLoop() {
    std::unique_lock<std::mutex> guard(lock);
    while (!stopping) {
        guard.unlock();
        decodeAhead();
        guard.lock();
        decodeWanted.wait_for(guard, decodePollPeriod);
    }
}

// The caller holds the mixer's lock.
void TaudioMixer::recordSegment(const TframeSegment& segment) {
    frameMap.record(segment);
    if (segmentLog.size() < segmentLogCapacity && segment.frames > 0) segmentLog.push_back(segment);
}

void TaudioMixer::startSegmentLog(size_t capacity) {
    std::lock_guard<std::mutex> guard(lock);
    segmentLog.clear();
    segmentLog.reserve(capacity);
    segmentLogCapacity = capacity;
}

std::vector<TframeSegment> TaudioMixer::takeSegmentLog() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<TframeSegment> taken = std::move(segmentLog);
    segmentLog.clear();
    segmentLogCapacity = 0;
    return taken;
}

void TaudioMixer::startBlockLog(size_t capacity) {
    std::lock_guard<std::mutex> guard(lock);
    blockLog.clear();
    blockLog.reserve(capacity);
    blockLogCapacity = capacity;
}

size_t TaudioMixer::loggedBlockCount() {
    std::lock_guard<std::mutex> guard(lock);
    return blockLog.size();
}

std::vector<TblockRecord> TaudioMixer::takeBlockLog() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<TblockRecord> taken = std::move(blockLog);
    blockLog.clear();
    blockLogCapacity = 0;
    return taken;
}

int32_t framesToMs(int64_t frames) {
    const int64_t milliseconds = (frames * 1000 + audioRate / 2) / audioRate;
    return static_cast<int32_t>(std::clamp<int64_t>(milliseconds, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

int64_t msToFrames(int32_t milliseconds) {
    return (static_cast<int64_t>(milliseconds) * audioRate + 500) / 1000;
}
