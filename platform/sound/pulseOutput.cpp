// The sound server output: the mixer renders into the server's write requests, and the server's
// timing tells which frame is played now.
#include "platform/sound/pulseOutput.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cmath>
#include <cstdio>

#include "platform/sound/audioMixer.h"
#include "platform/sound/audioOutput.h"
#include "platform/clockSeam.h"
#include "platform/sound/playbackTimer.h"

namespace {

constexpr pa_usec_t connectTimeoutUs = 2 * PA_USEC_PER_SEC;
// Asked for, not assumed: the server may grant another size (and PULSE_LATENCY_MSEC overrides it).
constexpr pa_usec_t wantedLatencyUs = 20 * PA_USEC_PER_MSEC;
constexpr size_t bytesPerFrame = sizeof(int16_t) * audioChannels;

class TpulseOutput : public TaudioOutput, public TplaybackTimer {
public:
    explicit TpulseOutput(TaudioMixer& mixer) : mixer(mixer) {}
    ~TpulseOutput() override;
    bool isSilent() const override { return serverLost.load(); }
    ToutputReport report() const override;
    int64_t playingOutputFrame(double nowMs) override;

    bool open(std::string& failure);

private:
    // Everything below runs in the main loop's thread or under its lock.
    bool connectContext(std::string& failure);
    bool connectStream(std::string& failure);
    bool waitUntil(bool (TpulseOutput::*done)() const);
    bool contextSettled() const;
    bool streamSettled() const;
    bool timingKnown() const { return timingUpdated; }
    double steadyLatencyMs() const;
    pa_usec_t sinkSetLatencyUs() const;
    void write(size_t bytes);
    void noticeLoss();
    std::string contextError() const { return pa_strerror(pa_context_errno(context)); }

    static void signal(void* self);
    static void onContextState(pa_context*, void* self);
    static void onStreamState(pa_stream*, void* self);
    static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onTimingUpdate(pa_stream*, int, void* self);
    static void onWrite(pa_stream*, size_t bytes, void* self) { static_cast<TpulseOutput*>(self)->write(bytes); }
    static void onUnderflow(pa_stream*, void* self) { ++static_cast<TpulseOutput*>(self)->underruns; }
    static void onSinkInfo(pa_context*, const pa_sink_info* info, int endOfList, void* query);

    TaudioMixer& mixer;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    bool timedOut = false;
    bool timingUpdated = false;
    int64_t firstOutputFrame = -1;  // the output frame of the stream's first byte
    int64_t lastPlayingFrame = 0;
    std::atomic<int64_t> underruns{0};
    bool playing = false;  // connected, and not yet being closed
    bool punctual = false;  // the main loop's thread asked for real-time scheduling
    // Once the server went away, the silent output takes the mixer's blocks and its pace is the clock.
    std::unique_ptr<TaudioOutput> standIn;
    std::atomic<bool> serverLost{false};
};

void TpulseOutput::signal(void* self) {
    pa_threaded_mainloop_signal(static_cast<TpulseOutput*>(self)->loop, 0);
}

void TpulseOutput::onContextState(pa_context*, void* self) {
    static_cast<TpulseOutput*>(self)->noticeLoss();
    signal(self);
}

void TpulseOutput::onStreamState(pa_stream*, void* self) {
    static_cast<TpulseOutput*>(self)->noticeLoss();
    signal(self);
}

// A server that dies or drops the stream mid-song must not stop the music clock: the song goes
// on, silent, and ends when its music ends.
void TpulseOutput::noticeLoss() {
    if (!playing || serverLost.load()) return;
    const bool contextGood = PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
    const bool streamGood = stream && PA_STREAM_IS_GOOD(pa_stream_get_state(stream));
    if (contextGood && streamGood) return;
    std::fprintf(stderr, "Sound: the sound server went away (%s); playing on the silent clock.\n",
                 contextError().c_str());
    standIn = openSilentOutput(mixer);
    serverLost.store(true);
}

void TpulseOutput::onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    static_cast<TpulseOutput*>(self)->timedOut = true;
    signal(self);
}

void TpulseOutput::onTimingUpdate(pa_stream*, int, void* self) {
    static_cast<TpulseOutput*>(self)->timingUpdated = true;
    signal(self);
}

TpulseOutput::~TpulseOutput() {
    mixer.setPlaybackTimer(nullptr);
    if (!loop) return;
    pa_threaded_mainloop_lock(loop);
    playing = false;
    if (stream) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

bool TpulseOutput::open(std::string& failure) {
    loop = pa_threaded_mainloop_new();
    if (!loop) {
        failure = "no main loop";
        return false;
    }
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Trellik");
    if (!context || pa_threaded_mainloop_start(loop) < 0) {
        failure = "no connection could be made";
        return false;
    }
    pa_threaded_mainloop_lock(loop);
    pa_time_event* timeout = pa_context_rttime_new(context, pa_rtclock_now() + connectTimeoutUs, &onTimeout, this);
    const bool opened = connectContext(failure) && connectStream(failure);
    pa_threaded_mainloop_get_api(loop)->time_free(timeout);
    playing = opened;
    pa_threaded_mainloop_unlock(loop);
    if (opened) mixer.setPlaybackTimer(this);
    return opened;
}

bool TpulseOutput::waitUntil(bool (TpulseOutput::*done)() const) {
    while (!(this->*done)() && !timedOut) pa_threaded_mainloop_wait(loop);
    return (this->*done)();
}

bool TpulseOutput::contextSettled() const {
    return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || pa_context_get_state(context) == PA_CONTEXT_READY;
}

bool TpulseOutput::streamSettled() const {
    return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) || pa_stream_get_state(stream) == PA_STREAM_READY;
}

bool TpulseOutput::connectContext(std::string& failure) {
    pa_context_set_state_callback(context, &onContextState, this);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        failure = contextError();
        return false;
    }
    waitUntil(&TpulseOutput::contextSettled);
    if (pa_context_get_state(context) == PA_CONTEXT_READY) return true;
    failure = timedOut ? "the sound server did not answer" : contextError();
    return false;
}

bool TpulseOutput::connectStream(std::string& failure) {
    const pa_sample_spec format{PA_SAMPLE_S16LE, audioRate, audioChannels};
    stream = pa_stream_new(context, "Music", &format, nullptr);
    if (!stream) {
        failure = contextError();
        return false;
    }
    pa_stream_set_state_callback(stream, &onStreamState, this);
    pa_stream_set_write_callback(stream, &onWrite, this);
    pa_stream_set_underflow_callback(stream, &onUnderflow, this);
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength = static_cast<uint32_t>(pa_usec_to_bytes(wantedLatencyUs, &format));
    buffer.prebuf = static_cast<uint32_t>(-1);
    buffer.minreq = static_cast<uint32_t>(-1);
    buffer.fragsize = static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(stream, nullptr, &buffer, flags, nullptr, nullptr) < 0) {
        failure = contextError();
        return false;
    }
    waitUntil(&TpulseOutput::streamSettled);
    if (pa_stream_get_state(stream) != PA_STREAM_READY) {
        failure = timedOut ? "the sound server did not open a stream" : contextError();
        return false;
    }
    // The first latency report should be a measured one.
    if (pa_operation* update = pa_stream_update_timing_info(stream, &onTimingUpdate, this)) {
        waitUntil(&TpulseOutput::timingKnown);
        pa_operation_unref(update);
    }
    return true;
}

void TpulseOutput::write(size_t bytes) {
    // The first request comes on the main loop's thread, which renders every block from then on.
    if (!punctual) askForPunctualScheduling();
    punctual = true;
    while (bytes >= bytesPerFrame) {
        void* data = nullptr;
        size_t granted = bytes;
        if (pa_stream_begin_write(stream, &data, &granted) < 0 || !data) return;
        const size_t frames = std::min(granted, bytes) / bytesPerFrame;
        if (frames == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        const int64_t start = mixer.render(static_cast<int16_t*>(data), frames, systemHighResolutionMs());
        if (firstOutputFrame < 0) firstOutputFrame = start;
        if (pa_stream_write(stream, data, frames * bytesPerFrame, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= frames * bytesPerFrame;
    }
}

int64_t TpulseOutput::playingOutputFrame(double nowMs) {
    pa_usec_t played = 0;
    pa_threaded_mainloop_lock(loop);
    int64_t frame = std::max<int64_t>(firstOutputFrame, 0);
    if (serverLost.load()) {
        // Until the stand-in's first block, the last frame the server was known to play holds.
        frame = std::max(lastPlayingFrame, standIn->paceTimer()->playingOutputFrame(nowMs));
    } else if (firstOutputFrame >= 0 && pa_stream_get_time(stream, &played) >= 0) {
        frame += static_cast<int64_t>(played * audioRate / PA_USEC_PER_SEC);
    } else {
        frame = std::max(frame, lastPlayingFrame);
    }
    lastPlayingFrame = frame;
    pa_threaded_mainloop_unlock(loop);
    return frame;
}

// One question to the server about the stream's sink.
struct TsinkQuery {
    pa_threaded_mainloop* loop = nullptr;
    pa_usec_t setLatency = 0;
};

void TpulseOutput::onSinkInfo(pa_context*, const pa_sink_info* info, int endOfList, void* query) {
    auto& asked = *static_cast<TsinkQuery*>(query);
    if (!endOfList && info) asked.setLatency = info->configured_latency;
    pa_threaded_mainloop_signal(asked.loop, 0);
}

// The latency the stream's sink is set to now (lower than ours asked when another stream asked
// for less), or 0 where the sink keeps none. The caller holds the loop's lock.
pa_usec_t TpulseOutput::sinkSetLatencyUs() const {
    TsinkQuery query;
    query.loop = loop;
    pa_operation* asking =
        pa_context_get_sink_info_by_index(context, pa_stream_get_device_index(stream), &onSinkInfo, &query);
    if (!asking) return 0;
    // A server that goes away cancels the question, and its state change wakes this wait.
    while (pa_operation_get_state(asking) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop);
    pa_operation_unref(asking);
    return query.setLatency;
}

// What a frame handed over waits before it is heard once the stream runs steady: the buffer the
// server keeps filled for the stream, then the latency its sink is set to. Readings of the moment
// say less: just after the stream opened its buffer is still empty, and a sink that was idle may
// take a second to come down to its latency. The caller holds the loop's lock.
double TpulseOutput::steadyLatencyMs() const {
    const pa_buffer_attr* buffer = pa_stream_get_buffer_attr(stream);
    const pa_timing_info* timing = pa_stream_get_timing_info(stream);
    const pa_usec_t bufferUs = buffer ? pa_bytes_to_usec(buffer->tlength, pa_stream_get_sample_spec(stream)) : 0;
    pa_usec_t sinkUs = sinkSetLatencyUs();
    if (sinkUs == 0 && timing)
        sinkUs = timing->configured_sink_usec > 0 ? timing->configured_sink_usec : timing->sink_usec;
    return static_cast<double>(bufferUs + sinkUs) / PA_USEC_PER_MSEC;
}

ToutputReport TpulseOutput::report() const {
    if (serverLost.load()) return standIn->report();
    pa_threaded_mainloop_lock(loop);
    const double latencyMs = steadyLatencyMs();
    pa_threaded_mainloop_unlock(loop);
    ToutputReport report;
    report.silent = false;
    report.latencyMs = latencyMs;
    report.underruns = underruns.load();
    report.line = "Sound: PulseAudio server, latency " + std::to_string(static_cast<int64_t>(std::lround(latencyMs))) +
                  " ms";
    return report;
}

}  // namespace

std::unique_ptr<TaudioOutput> openPulseOutput(TaudioMixer& mixer, std::string& failure) {
    auto output = std::make_unique<TpulseOutput>(mixer);
    if (!output->open(failure)) return nullptr;
    return output;
}
