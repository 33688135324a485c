// Recording the sound server's default source with the playback time of every captured frame.
#include "bench/support/soundCapture.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "platform/sound/audioDecoder.h"
#include "platform/clockSeam.h"

namespace {

// About 5 ms per delivery, so the timing reads are dense.
constexpr uint32_t fragmentFrames = 256;
constexpr size_t bytesPerFrame = sizeof(int16_t) * audioChannels;
// A click's peak lies this close to its start.
constexpr size_t clickPeakFrames = 64;
// Peaks that differ this little are the same click's.
constexpr int samePeak = 8;
// Music and heard time that advance this close between two points ran together.
constexpr double steadyMs = 1.0;
// How far a read may lie from the line fitted to the steady reads and still count.
constexpr double nearReadMs = 2.0;

void stateChanged(pa_context*, void* capture) {
    static_cast<TsoundCapture*>(capture)->onStateChange();
}

void streamStateChanged(pa_stream*, void* capture) {
    static_cast<TsoundCapture*>(capture)->onStateChange();
}

void readable(pa_stream*, size_t, void* capture) {
    static_cast<TsoundCapture*>(capture)->onReadable();
}

}  // namespace

TfittedLine fitLine(const std::vector<double>& xs, const std::vector<double>& ys) {
    TfittedLine line;
    line.points = std::min(xs.size(), ys.size());
    if (line.points < 2) return line;
    const double n = static_cast<double>(line.points);
    double sumX = 0, sumY = 0;
    for (size_t i = 0; i < line.points; ++i) {
        sumX += xs[i];
        sumY += ys[i];
    }
    line.origin = sumX / n;
    line.intercept = sumY / n;
    double sumXX = 0, sumXY = 0;
    for (size_t i = 0; i < line.points; ++i) {
        const double x = xs[i] - line.origin;
        sumXX += x * x;
        sumXY += x * (ys[i] - line.intercept);
    }
    line.slope = sumXX > 0 ? sumXY / sumXX : 0.0;
    return line;
}

TfittedLine refitNear(const std::vector<double>& xs, const std::vector<double>& ys, const TfittedLine& line,
                      double tolerance) {
    std::vector<double> nearXs;
    std::vector<double> nearYs;
    for (size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
        if (std::fabs(ys[i] - line.at(xs[i])) > tolerance) continue;
        nearXs.push_back(xs[i]);
        nearYs.push_back(ys[i]);
    }
    return fitLine(nearXs, nearYs);
}

TsoundCapture::~TsoundCapture() {
    stop();
}

bool TsoundCapture::start(std::string& error) {
    captured.reserve(size_t{600} * audioRate);
    timing.reserve(200000);
    loop = pa_threaded_mainloop_new();
    if (!loop) {
        error = "no main loop";
        return false;
    }
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "trellik capture");
    pa_context_set_state_callback(context, &stateChanged, this);
    pa_threaded_mainloop_lock(loop);
    const bool started = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                         pa_threaded_mainloop_start(loop) >= 0 && waitUntilReady(error);
    pa_threaded_mainloop_unlock(loop);
    if (!started && error.empty()) error = pa_strerror(pa_context_errno(context));
    return started;
}

// Runs with the loop locked; connects the record stream once the context is ready.
bool TsoundCapture::waitUntilReady(std::string& error) {
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(state)) {
            error = std::string("the server did not answer: ") + pa_strerror(pa_context_errno(context));
            return false;
        }
        if (state == PA_CONTEXT_READY) break;
        pa_threaded_mainloop_wait(loop);
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(audioRate), static_cast<uint8_t>(audioChannels)};
    stream = pa_stream_new(context, "trellik capture", &format, nullptr);
    pa_stream_set_state_callback(stream, &streamStateChanged, this);
    pa_stream_set_read_callback(stream, &readable, this);
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.fragsize = static_cast<uint32_t>(fragmentFrames * bytesPerFrame);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                      PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(stream, nullptr, &buffer, flags) < 0) {
        error = std::string("no record stream: ") + pa_strerror(pa_context_errno(context));
        return false;
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) return true;
        if (!PA_STREAM_IS_GOOD(state)) {
            error = std::string("the record stream failed: ") + pa_strerror(pa_context_errno(context));
            return false;
        }
        pa_threaded_mainloop_wait(loop);
    }
}

void TsoundCapture::stop() {
    if (!loop) return;
    pa_threaded_mainloop_lock(loop);
    if (stream) {
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}

void TsoundCapture::onStateChange() {
    pa_threaded_mainloop_signal(loop, 0);
}

// On the loop's thread: takes every fragment, holes as silence so indices keep their time, then
// notes when the next frame to come was played.
void TsoundCapture::onReadable() {
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        const size_t frames = bytes / bytesPerFrame;
        const auto* samples = static_cast<const int16_t*>(data);
        for (size_t i = 0; i < frames; ++i) captured.push_back(samples ? samples[i * audioChannels] : int16_t{0});
        pa_stream_drop(stream);
    }
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) != 0) return;
    // A monitor's latency is negative when the captured frames are still to be played.
    const double latencyMs = (negative ? -1.0 : 1.0) * static_cast<double>(latency) / 1000.0;
    timing.push_back({static_cast<int64_t>(captured.size()), systemHighResolutionMs() - latencyMs});
}

// The interpolated timing ramps towards the truth for a while after the stream starts, so the
// line is fitted to the later half first, and then to every read that lies near it.
TfittedLine TsoundCapture::frameTimes() const {
    std::vector<double> frames;
    std::vector<double> times;
    for (const TcaptureRead& read : timing) {
        frames.push_back(static_cast<double>(read.frames));
        times.push_back(read.playedMs);
    }
    const size_t half = frames.size() / 2;
    const TfittedLine later = fitLine(std::vector<double>(frames.begin() + static_cast<std::ptrdiff_t>(half), frames.end()),
                                      std::vector<double>(times.begin() + static_cast<std::ptrdiff_t>(half), times.end()));
    return refitNear(frames, times, later, nearReadMs);
}

std::vector<size_t> findOnsets(const std::vector<int16_t>& mono, int threshold, size_t quietFrames) {
    std::vector<size_t> onsets;
    size_t quiet = quietFrames;
    for (size_t i = 0; i < mono.size(); ++i) {
        if (std::abs(static_cast<int>(mono[i])) < threshold) {
            ++quiet;
            continue;
        }
        if (quiet >= quietFrames) onsets.push_back(i);
        quiet = 0;
    }
    return onsets;
}

std::vector<int16_t> leftChannel(const std::vector<int16_t>& stereo) {
    std::vector<int16_t> left(stereo.size() / audioChannels);
    for (size_t i = 0; i < left.size(); ++i) left[i] = stereo[i * audioChannels];
    return left;
}

int clickPeak(const std::vector<int16_t>& mono, size_t onset) {
    int peak = 0;
    for (size_t i = onset; i < mono.size() && i < onset + clickPeakFrames; ++i)
        peak = std::max(peak, std::abs(static_cast<int>(mono[i])));
    return peak;
}

std::vector<TheardPoint> pairClicks(const TclickOnsets& captured, const TclickOnsets& music, const TfittedLine& frameTimes) {
    std::vector<TheardPoint> points;
    size_t nextMusic = 0;
    for (const size_t capturedOnset : captured.onsets) {
        const int peak = clickPeak(captured.samples, capturedOnset);
        for (size_t m = nextMusic; m < music.onsets.size(); ++m) {
            if (std::abs(clickPeak(music.samples, music.onsets[m]) - peak) > samePeak) continue;
            points.push_back({frameTimes.at(static_cast<double>(capturedOnset)),
                              static_cast<double>(music.onsets[m]) * 1000.0 / audioRate});
            nextMusic = m + 1;
            break;
        }
    }
    return points;
}

namespace {

constexpr size_t stretchFrames = 512;
// Quieter stretches (RMS) match too loosely to tell where they are.
constexpr double quietLevel = 300.0;
// The recording carries the music's samples unchanged, so its true place correlates fully; a
// nearby place of a held tone correlates almost as well and must not pass.
constexpr double matchingCorrelation = 0.999;

// The music frame whose stretch correlates best with the captured one, within [first, last];
// -1 when none correlates closely.
int64_t bestMatch(const float* stretch, const std::vector<float>& music, int64_t first, int64_t last) {
    double stretchEnergy = 0.0;
    for (size_t i = 0; i < stretchFrames; ++i) stretchEnergy += double{stretch[i]} * stretch[i];
    double windowEnergy = 0.0;
    for (size_t i = 0; i < stretchFrames; ++i) windowEnergy += double{music[first + i]} * music[first + i];
    double best = matchingCorrelation;
    int64_t bestFrame = -1;
    for (int64_t frame = first; frame <= last; ++frame) {
        if (frame > first) {
            const float leaving = music[frame - 1];
            const float entering = music[frame + stretchFrames - 1];
            windowEnergy += double{entering} * entering - double{leaving} * leaving;
        }
        float dot = 0.0f;
        for (size_t i = 0; i < stretchFrames; ++i) dot += stretch[i] * music[frame + i];
        const double correlation = dot / std::sqrt(std::max(1.0, stretchEnergy * windowEnergy));
        if (correlation > best) {
            best = correlation;
            bestFrame = frame;
        }
    }
    return bestFrame;
}

}  // namespace

std::vector<TheardPoint> alignWithMusic(const std::vector<int16_t>& captured, const TfittedLine& frameTimes,
                                        const std::vector<int16_t>& music, const TmusicSearch& search) {
    std::vector<TheardPoint> points;
    if (frameTimes.slope <= 0.0 || music.size() < stretchFrames) return points;
    const std::vector<float> musicSamples(music.begin(), music.end());
    const double framesPerMs = audioRate / 1000.0;
    std::vector<float> stretch(stretchFrames);
    for (double heardMs = search.fromMs; heardMs < search.toMs; heardMs += search.stepMs) {
        const auto start = static_cast<int64_t>(std::llround((heardMs - frameTimes.intercept) / frameTimes.slope + frameTimes.origin));
        if (start < 0 || static_cast<size_t>(start) + stretchFrames > captured.size()) continue;
        double energy = 0.0;
        for (size_t i = 0; i < stretchFrames; ++i) {
            stretch[i] = captured[static_cast<size_t>(start) + i];
            energy += double{stretch[i]} * stretch[i];
        }
        if (std::sqrt(energy / stretchFrames) < quietLevel) continue;
        const double startMs = frameTimes.at(static_cast<double>(start));
        const double guess = search.guessMusicMs(startMs) * framesPerMs;
        const auto first = std::max<int64_t>(0, std::llround(guess - search.backMs * framesPerMs));
        const auto last = std::min<int64_t>(static_cast<int64_t>(music.size() - stretchFrames),
                                            std::llround(guess + search.aheadMs * framesPerMs));
        const int64_t frame = first > last ? -1 : bestMatch(stretch.data(), musicSamples, first, last);
        if (frame >= 0)
            points.push_back({startMs, static_cast<double>(frame) / framesPerMs});
    }
    return points;
}

TheardMusic::TheardMusic(std::vector<TheardPoint> points) : heard(std::move(points)) {
    std::sort(heard.begin(), heard.end(), [](const TheardPoint& a, const TheardPoint& b) { return a.heardMs < b.heardMs; });
}

std::pair<TheardPoint, TheardPoint> TheardMusic::pointsAround(double heardMs) const {
    const auto after = std::upper_bound(heard.begin() + 1, heard.end() - 1, heardMs,
                                        [](double ms, const TheardPoint& point) { return ms < point.heardMs; });
    return {*(after - 1), *after};
}

bool TheardMusic::steadyAt(double heardMs) const {
    if (heard.size() < 2) return false;
    const auto [before, after] = pointsAround(heardMs);
    return std::fabs((after.heardMs - before.heardMs) - (after.musicMs - before.musicMs)) <= steadyMs;
}

double TheardMusic::musicMsAt(double heardMs) const {
    if (heard.size() < 2) return 0.0;
    const auto [before, after] = pointsAround(heardMs);
    const double span = after.heardMs - before.heardMs;
    const double share = span > 0 ? (heardMs - before.heardMs) / span : 0.0;
    return before.musicMs + share * (after.musicMs - before.musicMs);
}
