// What the sound server really plays: its default source (the null sink's monitor) recorded with
// each captured frame's playback time, and the music time heard at any moment found from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

// A straight line y = intercept + slope * (x - origin), fitted by least squares.
struct TfittedLine {
    double origin = 0.0;
    double intercept = 0.0;
    double slope = 0.0;
    size_t points = 0;

    double at(double x) const { return intercept + slope * (x - origin); }
};

TfittedLine fitLine(const std::vector<double>& xs, const std::vector<double>& ys);
// Fitted again to the points that lie within tolerance of the given line.
TfittedLine refitNear(const std::vector<double>& xs, const std::vector<double>& ys, const TfittedLine& line,
                      double tolerance);

// One moment the record stream delivered: frames captured so far, and when (monotonic ms, the
// clock of systemHighResolutionMs) the frame after the last captured one was played.
struct TcaptureRead {
    int64_t frames = 0;
    double playedMs = 0.0;
};

// Records the server's default source on a threaded main loop of its own, left channel only.
class TsoundCapture {
public:
    TsoundCapture() = default;
    ~TsoundCapture();
    TsoundCapture(const TsoundCapture&) = delete;
    TsoundCapture& operator=(const TsoundCapture&) = delete;

    // Connects and starts recording; false with a reason when the server does not take it.
    bool start(std::string& error);
    void stop();

    // Valid once stopped.
    const std::vector<int16_t>& samples() const { return captured; }
    const std::vector<TcaptureRead>& reads() const { return timing; }
    // The playback time (ms) of a captured frame index, fitted over every read.
    TfittedLine frameTimes() const;

    // For the library's callbacks.
    void onStateChange();
    void onReadable();

private:
    bool waitUntilReady(std::string& error);

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::vector<int16_t> captured;
    std::vector<TcaptureRead> timing;
};

// Indices where |sample| reaches threshold after at least quietFrames below it.
std::vector<size_t> findOnsets(const std::vector<int16_t>& mono, int threshold, size_t quietFrames);

// The left channel of interleaved stereo.
std::vector<int16_t> leftChannel(const std::vector<int16_t>& stereo);

// A moment heard: when (monotonic ms) the music's frame was played.
struct TheardPoint {
    double heardMs = 0.0;
    double musicMs = 0.0;
};

// The loudest sample (absolute) of the first frames from onset on.
int clickPeak(const std::vector<int16_t>& mono, size_t onset);

// Click onsets found in a mono recording or track.
struct TclickOnsets {
    const std::vector<int16_t>& samples;
    std::vector<size_t> onsets;
};

// Pairs each captured click with the next click of the track (after the last one paired) that
// peaks alike: a track whose clicks peak differently over any stretch longer than an output
// stall is told apart click by click, as the server passes the samples on unchanged.
std::vector<TheardPoint> pairClicks(const TclickOnsets& captured, const TclickOnsets& music, const TfittedLine& frameTimes);

// Where stretches of the recording lie in the music (left channel): every stepMs of heard time
// from fromMs to toMs, a stretch that is not quiet is matched against the music from backMs
// before to aheadMs after where guessMusicMs puts it; close matches become points.
struct TmusicSearch {
    double fromMs = 0.0;
    double toMs = 0.0;
    double stepMs = 250.0;
    double backMs = 150.0;
    double aheadMs = 30.0;
    std::function<double(double)> guessMusicMs;
};
std::vector<TheardPoint> alignWithMusic(const std::vector<int16_t>& captured, const TfittedLine& frameTimes,
                                        const std::vector<int16_t>& music, const TmusicSearch& search);

// The music time heard at each moment, straight between neighbouring points, so a stall of the
// output (an underrun) stays where it happened; before the first or after the last point the
// nearest stretch is extended. Needs two points or more.
class TheardMusic {
public:
    explicit TheardMusic(std::vector<TheardPoint> points);
    double musicMsAt(double heardMs) const;
    // False between two points around which the music advanced unlike the time heard (a stall
    // of the output lies between them, and where the music stood then is not known).
    bool steadyAt(double heardMs) const;
    const std::vector<TheardPoint>& points() const { return heard; }

private:
    std::pair<TheardPoint, TheardPoint> pointsAround(double heardMs) const;

    std::vector<TheardPoint> heard;
};
